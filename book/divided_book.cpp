#include "book/divided_book.h"

#include "book/book_merge.h"

namespace kalvora {

namespace {

// Reads past the book update streams of the parts from `first` on.
void SkipPartStreams(ByteStream& package, int32_t first) {
  for (int32_t part = first; part < kDividedBookParts; ++part) SkipBookUpdateStream(package);
}

int32_t Fail(BookFault* fault, BookFault reason, int32_t* failedPart, int32_t part) {
  if (fault != nullptr) *fault = reason;
  if (failedPart != nullptr) *failedPart = part;
  return -1;
}

}  // namespace

int32_t MergeDividedBook(ByteStream& package, ByteStream& oldCopy, ByteStream& target,
                         BookFault* fault, int32_t* failedPart) {
  int64_t oldEnd = RemainingBytes(oldCopy);
  if (oldEnd >= 0) oldEnd += oldCopy.tell();

  // The old part directory; the target gets zero placeholders for its own.
  uint32_t oldOffsets[kDividedBookParts];
  bool directoryValid = oldEnd >= 0;
  bool targetRefused = false;
  for (int32_t part = 0; part < kDividedBookParts; ++part) {
    oldOffsets[part] = static_cast<uint32_t>(oldCopy.readDword());
    targetRefused |= target.writeDword(0) != 0;
    // A part must lie after the directory and hold at least a block header.
    if (oldOffsets[part] < static_cast<uint32_t>(kFirstPartOffset) ||
        static_cast<int64_t>(oldOffsets[part]) + 8 > oldEnd) {
      directoryValid = false;
    }
  }
  package.readDword();  // a 4-byte value that nothing uses
  if (!directoryValid) {
    SkipPartStreams(package, 0);
    return Fail(fault, BookFault::BadPartOffset, failedPart, -1);
  }
  if (targetRefused) {
    SkipPartStreams(package, 0);
    return Fail(fault, BookFault::WriteFailed, failedPart, -1);
  }

  // The new file always lays its parts out from 264, in part order.
  uint32_t newOffsets[kDividedBookParts + 1];
  newOffsets[0] = kFirstPartOffset;
  for (int32_t part = 0; part < kDividedBookParts; ++part) {
    if (oldCopy.seek(static_cast<int32_t>(oldOffsets[part]), false) != 0) {
      SkipPartStreams(package, part);
      return Fail(fault, BookFault::BlockTruncated, failedPart, part);
    }
    if (target.seek(static_cast<int32_t>(newOffsets[part]), false) != 0) {
      SkipPartStreams(package, part);
      return Fail(fault, BookFault::WriteFailed, failedPart, part);
    }
    BookFault reason = BookFault::None;
    uint32_t written = MergeBook(package, oldCopy, target, &reason);
    if (written == kMergeFailed) {
      SkipPartStreams(package, part + 1);
      return Fail(fault, reason, failedPart, part);
    }
    // Fill with zero bytes to a multiple of 4.
    uint32_t length = (written + 3) & ~3u;
    for (uint32_t fill = written; fill < length; ++fill) targetRefused |= target.writeByte(0) != 0;
    uint64_t next = static_cast<uint64_t>(newOffsets[part]) + length;
    if (targetRefused || next > INT32_MAX) {
      SkipPartStreams(package, part + 1);
      return Fail(fault, targetRefused ? BookFault::WriteFailed : BookFault::TableTooLarge,
                  failedPart, part);
    }
    newOffsets[part + 1] = static_cast<uint32_t>(next);
  }

  // The part directory, written last over the placeholders.
  if (target.seek(8, false) != 0) return Fail(fault, BookFault::WriteFailed, failedPart, -1);
  for (int32_t part = 0; part < kDividedBookParts; ++part) {
    targetRefused |= target.writeDword(static_cast<int32_t>(newOffsets[part])) != 0;
  }
  if (targetRefused) return Fail(fault, BookFault::WriteFailed, failedPart, -1);
  if (fault != nullptr) *fault = BookFault::None;
  return 0;
}

}  // namespace kalvora
