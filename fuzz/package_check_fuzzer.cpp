// Fuzz target: the walk over a package before anything is applied. A
// package it passes has records whose names all stay inside the install
// folder; the walk stops inside the data and comes out the same each time.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "package/package_check.h"
#include "package/update_record.h"

namespace kalvora::fuzz {
namespace {

class Names : public PackageVisitor {
 public:
  void visit(const RecordSummary& summary) override {
    Check(summary.index == records, "records visited out of order");
    Check(CheckRecordName(summary.record.oldCopyName) == ApplyFault::None &&
              CheckRecordName(summary.record.targetName) == ApplyFault::None,
          "a record with a refused name passed");
    Check(!SameName(summary.record.oldCopyName, summary.record.targetName),
          "a record whose old copy is its target passed");
    ++records;
  }
  int32_t records = 0;
};

}  // namespace
}  // namespace kalvora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kalvora;
  using namespace kalvora::fuzz;
  if (size > INT32_MAX) return 0;
  InputStream package(data, size);
  Names names;
  PackageCheck check = CheckPackage(package, &names);
  Check(package.tell() >= 0 && static_cast<size_t>(package.tell()) <= size,
        "the walk stopped outside the data");
  Check(names.records == check.records, "the walk counted other records than it visited");
  if (check.fault != ApplyFault::None) {
    Check(check.faultIndex == check.records, "the record at fault is not the one after the last");
    Check(check.faultOffset <= size, "the record at fault begins outside the data");
  }

  InputStream again(data, size);
  PackageCheck second = CheckPackage(again);
  Check(second.fault == check.fault && second.records == check.records &&
            second.faultOffset == check.faultOffset && again.tell() == package.tell(),
        "the walk comes out otherwise the second time");
  return 0;
}
