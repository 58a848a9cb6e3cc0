#include "book/book_merge.h"

#include "stream/little_endian.h"
#include "stream/owned_buffer.h"
#include "stream/zlib_block.h"

namespace kalvora {

namespace {

// The largest serialized table whose deflated form (at most a thousandth
// larger, plus a few bytes) still fits the streams' signed 32-bit counts.
constexpr uint64_t kMaxSerializedSize = 2143197000;

// One 8-byte update item; false when fewer than 8 bytes are left.
bool ReadItem(ByteStream& package, BookEntry* item) {
  uint8_t bytes[8];
  if (package.read(bytes, 8) != 8) return false;
  *item = {LoadLE32(bytes), LoadLE32(bytes + 4)};
  return true;
}

uint32_t Fail(BookFault* fault, BookFault reason) {
  if (fault != nullptr) *fault = reason;
  return kMergeFailed;
}

// Reads one book block, inflating it straight from the stream into raw, and
// loads the table. raw stays with the caller, whose merge reuses its memory
// for the new serialized table, so that no more than the table and one
// buffer are ever held.
BookTableOwner LoadOldBlock(ByteStream& oldCopy, OwnedBuffer& raw, BookFault* fault) {
  BookFault reason = BookFault::BlockTruncated;
  int64_t left = RemainingBytes(oldCopy);
  if (left >= 8) {
    uint32_t compressedLength = static_cast<uint32_t>(oldCopy.readDword());
    uint32_t rawLength = static_cast<uint32_t>(oldCopy.readDword());
    if (compressedLength <= left - 8) {
      switch (InflateFromStream(oldCopy, compressedLength, rawLength, &raw)) {
        case InflateResult::Done:
          return LoadBookTable(raw.data(), raw.size(), fault);
        case InflateResult::NoMemory:
          reason = BookFault::NoMemory;
          break;
        case InflateResult::NotInflated:
          reason = BookFault::BlockNotInflated;
          break;
        case InflateResult::ReadFailed:
          reason = BookFault::BlockTruncated;
          break;
      }
    }
  }
  if (fault != nullptr) *fault = reason;
  return nullptr;
}

}  // namespace

bool ApplyUpdateStream(ByteStream& package, BookTable& table, BookFault* fault) {
  bool refused = false;
  for (;;) {
    uint32_t low = static_cast<uint32_t>(package.readDword());  // key low, or the terminator
    if (!IsGroupKeyLow(low)) break;
    BookKey key{low, static_cast<uint32_t>(package.readDword())};  // key high
    int32_t count = package.readByte();  // item count; -1 at the end: no items
    for (int32_t i = 0; i < count; ++i) {
      BookEntry item{};
      if (!ReadItem(package, &item)) break;  // no item past the end of the package
      if (refused) continue;
      if (IsDeleteItem(item)) {
        RemoveBookEntry(table, key, item);
      } else if (PutBookEntry(table, key, item, fault) == kPutRefused) {
        refused = true;
      }
    }
  }
  return !refused;
}

int32_t SkipBookUpdateStream(ByteStream& package, UpdateStreamSummary* summary) {
  UpdateStreamSummary counted;
  int32_t result = 0;
  for (;;) {
    int64_t left = RemainingBytes(package);
    if (left < 4) {
      // The end of the data where a group would begin ends the stream; a
      // few bytes that cannot make a dword are a cut-off key.
      if (left != 0) result = -1;
      package.seek(0, true);
      break;
    }
    uint32_t low = static_cast<uint32_t>(package.readDword());  // key low, or the terminator
    if (!IsGroupKeyLow(low)) break;
    if (left < 9) {
      result = -1;
      package.seek(0, true);
      break;
    }
    package.readDword();                 // key high
    int32_t count = package.readByte();  // item count
    if (left - 9 < static_cast<int64_t>(count) * 8) {
      result = -1;
      package.seek(0, true);
      break;
    }
    for (int32_t i = 0; i < count; ++i) {
      BookEntry item{};
      ReadItem(package, &item);
      if (IsDeleteItem(item)) {
        counted.deletes += 1;
      } else {
        counted.puts += 1;
      }
    }
    counted.groups += 1;
  }
  if (summary != nullptr) *summary = counted;
  return result;
}

BookTableOwner ReadBookBlock(ByteStream& oldCopy, BookFault* fault) {
  OwnedBuffer raw;
  return LoadOldBlock(oldCopy, raw, fault);
}

uint32_t MergeBook(ByteStream& package, ByteStream& oldCopy, ByteStream& target, BookFault* fault) {
  BookFault reason = BookFault::None;
  OwnedBuffer serialized;  // the inflated old table, then the new one
  BookTableOwner table = LoadOldBlock(oldCopy, serialized, &reason);
  if (table == nullptr) {
    SkipBookUpdateStream(package);
    return Fail(fault, reason);
  }
  if (!ApplyUpdateStream(package, *table, &reason)) return Fail(fault, reason);

  uint64_t serializedSize = SerializedTableSize(*table);
  if (serializedSize > kMaxSerializedSize) return Fail(fault, BookFault::TableTooLarge);
  if (!serialized.reuse(static_cast<uint32_t>(serializedSize))) {
    return Fail(fault, BookFault::NoMemory);
  }
  SortBookEntries(*table);
  if (SaveBookTable(*table, serialized.data(), serialized.size()) != 0) {
    return Fail(fault, BookFault::NoMemory);
  }
  table.reset();

  uint32_t written = 0;
  switch (WriteDeflatedBlock(serialized.data(), serialized.size(), target, &written)) {
    case DeflateResult::Done:
      break;
    case DeflateResult::NoMemory:
      return Fail(fault, BookFault::NoMemory);
    case DeflateResult::WriteFailed:
      return Fail(fault, BookFault::WriteFailed);
    case DeflateResult::TooLarge:
      return Fail(fault, BookFault::TableTooLarge);
    case DeflateResult::Failed:
      return Fail(fault, BookFault::CompressFailed);
  }
  if (fault != nullptr) *fault = BookFault::None;
  return written;
}

}  // namespace kalvora
