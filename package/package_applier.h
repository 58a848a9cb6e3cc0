// Applying an update package to an install folder.
//
// For each record the target's present content is set aside under the
// record's old-copy name, and the new content is made (a book merged from
// the old copy, or the record's payload) under a temporary name beside the
// target, then put in place by a rename once it is whole. When the old copy
// is there already (the update was applied before), the target is rebuilt
// from it, and the target there is kept under a second name beside it until
// the new one is in place. A record that fails leaves the target as it was
// before that record; records before it stay applied.
#pragma once

#include <cstdint>

#include "book/book_fault.h"
#include "package/apply_fault.h"
#include "package/update_record.h"
#include "platform/file_system.h"
#include "stream/byte_stream.h"

namespace kalvora {

// Results of ApplyPackage and ApplyRecords.
constexpr int32_t kApplied = 0;        // applied up to the package's end condition
constexpr int32_t kApplyRefused = -1;  // refused, or a book record's old copy is unreadable
constexpr int32_t kTargetFailed = -2;  // a record's target could not be written

// What became of one record.
struct RecordOutcome {
  int32_t index = 0;
  UpdateRecord record;
  int32_t result = kApplied;
  ApplyFault fault = ApplyFault::None;
  BookFault bookFault = BookFault::None;  // with ApplyFault::BookFailed
  int32_t part = -1;                      // the divided book's part at fault, -1 for none
  FileError fileError = FileError::None;  // with the faults of file operations
  bool packageRefused = false;            // the check before applying refused the
                                          // package at this record; nothing was applied
};

// Told of each record as it is applied, and of a package refused before
// anything was applied (with the record at fault).
class ApplyObserver {
 public:
  virtual ~ApplyObserver() = default;
  virtual void recordDone(const RecordOutcome& outcome) = 0;
};

// Applies the package (the inflated bytes) to the install folder, which may
// end with a backslash or not, or be null or empty (names then stand alone).
int32_t ApplyPackage(const uint8_t* package, uint32_t size, const char* installFolder,
                     ApplyObserver* observer = nullptr);

// The record loop: walks the package from the stream's position once
// without touching anything, refusing it whole when a name could reach
// outside the folder or the data ends inside a record, then applies the
// records one after the other. The stream must be able to seek back.
int32_t ApplyRecords(ByteStream& package, const char* baseFolder,
                     ApplyObserver* observer = nullptr);

// Writes a kind 2 payload (length, then the content) to target. The old
// copy is not used. 0, or -1 when the payload is cut short, memory runs out
// or the target refuses a byte.
int32_t ReplaceFile(ByteStream& package, ByteStream* oldCopy, ByteStream& target);

}  // namespace kalvora
