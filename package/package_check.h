// The walk over a package before anything is applied: every record's names
// are checked and every payload is read past, so that a package that could
// reach outside the install folder, or that ends inside a record, is
// refused whole before the first file is touched.
#pragma once

#include <cstdint>

#include "book/book_merge.h"
#include "package/apply_fault.h"
#include "package/update_record.h"
#include "stream/byte_stream.h"

namespace kalvora {

// What the walk learnt of one record.
struct RecordSummary {
  int32_t index = 0;    // 0 for the first record
  uint32_t offset = 0;  // where the record begins in the package
  UpdateRecord record;
  // Book records: what each update stream holds (one stream for kind 0,
  // one per part for kind 1).
  UpdateStreamSummary streams[64];
  uint32_t contentSize = 0;  // kind 2: the size of the new content
};

// Told of each record as the walk passes it.
class PackageVisitor {
 public:
  virtual ~PackageVisitor() = default;
  virtual void visit(const RecordSummary& summary) = 0;
};

// The result of a walk.
struct PackageCheck {
  ApplyFault fault = ApplyFault::None;  // None when the package may be applied
  int32_t records = 0;                  // records before the end, or before the fault
  int32_t faultIndex = -1;              // the record at fault
  uint32_t faultOffset = 0;             // where that record begins
  UpdateRecord faultRecord;             // its kind and names as far as they were read
};

// Walks the package from the stream's position to its end condition. The
// stream is left where it stopped.
PackageCheck CheckPackage(ByteStream& package, PackageVisitor* visitor = nullptr);

}  // namespace kalvora
