#include "package/package_check.h"

#include <initializer_list>

#include "book/divided_book.h"

namespace kalvora {

namespace {

PackageCheck Refuse(PackageCheck check, ApplyFault fault, const RecordSummary& summary) {
  check.fault = fault;
  check.faultIndex = summary.index;
  check.faultOffset = summary.offset;
  check.faultRecord = summary.record;
  return check;
}

// Reads past a record's payload; false when the data ends inside it.
bool SkipPayload(ByteStream& package, RecordSummary& summary) {
  switch (summary.record.kind) {
    case kBookMerge:
      return SkipBookUpdateStream(package, &summary.streams[0]) == 0;
    case kDividedBookMerge:
      if (RemainingBytes(package) < 4) return false;
      package.readDword();  // the value that nothing uses
      for (int32_t part = 0; part < kDividedBookParts; ++part) {
        if (SkipBookUpdateStream(package, &summary.streams[part]) != 0) return false;
      }
      return true;
    default: {  // kFileReplace
      int64_t left = RemainingBytes(package);
      if (left < 4) return false;
      summary.contentSize = static_cast<uint32_t>(package.readDword());  // content length
      if (summary.contentSize > left - 4) return false;
      return package.seek(package.tell() + static_cast<int32_t>(summary.contentSize), false) == 0;
    }
  }
}

}  // namespace

PackageCheck CheckPackage(ByteStream& package, PackageVisitor* visitor) {
  PackageCheck check;
  for (int32_t index = 0;; ++index) {
    RecordSummary summary;
    summary.index = index;
    summary.offset = static_cast<uint32_t>(package.tell());
    RecordStart start = ReadRecordStart(package, &summary.record);
    if (start == RecordStart::End) return check;
    if (start == RecordStart::CutShort) return Refuse(check, ApplyFault::RecordCutShort, summary);
    for (const char* name : {summary.record.oldCopyName, summary.record.targetName}) {
      ApplyFault fault = CheckRecordName(name);
      if (fault != ApplyFault::None) return Refuse(check, fault, summary);
    }
    if (SameName(summary.record.oldCopyName, summary.record.targetName)) {
      return Refuse(check, ApplyFault::NamesEqual, summary);
    }
    if (!SkipPayload(package, summary)) return Refuse(check, ApplyFault::PayloadCutShort, summary);
    check.records = index + 1;
    if (visitor != nullptr) visitor->visit(summary);
  }
}

}  // namespace kalvora
