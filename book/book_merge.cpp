#include "book/book_merge.h"

#include <zlib.h>

#include "stream/little_endian.h"
#include "stream/owned_buffer.h"
#include "stream/zlib_block.h"

namespace kalvora {

namespace {

// The largest serialized table whose compress buffer (size x 1.002 + 12)
// still fits the streams' signed 32-bit counts.
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

// Reads one book block into compressed, inflates it into raw and loads the
// table. Both buffers stay with the caller, whose merge reuses their memory
// for the new table and its compressed form, so that no more than the table
// and two buffers are ever held.
BookTableOwner LoadOldBlock(ByteStream& oldCopy, OwnedBuffer& compressed, OwnedBuffer& raw,
                            BookFault* fault) {
  BookFault reason = BookFault::BlockTruncated;
  int64_t left = RemainingBytes(oldCopy);
  if (left >= 8) {
    uint32_t compressedLength = static_cast<uint32_t>(oldCopy.readDword());
    uint32_t rawLength = static_cast<uint32_t>(oldCopy.readDword());
    if (compressedLength > left - 8) {
      reason = BookFault::BlockTruncated;
    } else if (!compressed.reuse(compressedLength)) {
      reason = BookFault::NoMemory;
    } else if (oldCopy.read(compressed.data(), static_cast<int32_t>(compressedLength)) !=
               static_cast<int32_t>(compressedLength)) {
      reason = BookFault::BlockTruncated;
    } else {
      InflateResult inflated = InflateWhole(compressed.data(), compressedLength, rawLength, &raw);
      if (inflated == InflateResult::Done) return LoadBookTable(raw.data(), raw.size(), fault);
      reason =
          inflated == InflateResult::NoMemory ? BookFault::NoMemory : BookFault::BlockNotInflated;
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
  OwnedBuffer compressed;
  OwnedBuffer raw;
  return LoadOldBlock(oldCopy, compressed, raw, fault);
}

uint32_t MergeBook(ByteStream& package, ByteStream& oldCopy, ByteStream& target, BookFault* fault) {
  BookFault reason = BookFault::None;
  OwnedBuffer compressed;
  OwnedBuffer raw;
  BookTableOwner table = LoadOldBlock(oldCopy, compressed, raw, &reason);
  if (table == nullptr) {
    SkipBookUpdateStream(package);
    return Fail(fault, reason);
  }
  if (!ApplyUpdateStream(package, *table, &reason)) return Fail(fault, reason);

  uint64_t serializedSize = SerializedTableSize(*table);
  if (serializedSize > kMaxSerializedSize) return Fail(fault, BookFault::TableTooLarge);
  // zlib documents 0.1% more than the input plus 12 bytes as enough for
  // compress; this allows 0.2%.
  auto capacity = static_cast<uint32_t>(static_cast<double>(serializedSize) * 1.002 + 12.0);
  // The inflated old table's memory takes the new table, the old block's
  // memory its compressed form.
  OwnedBuffer& serialized = raw;
  OwnedBuffer& output = compressed;
  if (!serialized.reuse(static_cast<uint32_t>(serializedSize)) || !output.reuse(capacity)) {
    return Fail(fault, BookFault::NoMemory);
  }
  SortBookEntries(*table);
  if (SaveBookTable(*table, serialized.data(), serialized.size()) != 0) {
    return Fail(fault, BookFault::NoMemory);
  }
  table.reset();

  uLongf compressedLength = capacity;
  int deflated = compress(output.data(), &compressedLength, serialized.data(), serialized.size());
  serialized.reset();
  if (deflated != Z_OK) {
    return Fail(fault, deflated == Z_MEM_ERROR ? BookFault::NoMemory : BookFault::CompressFailed);
  }

  auto length = static_cast<int32_t>(compressedLength);
  if (target.writeDword(length) != 0 ||
      target.writeDword(static_cast<int32_t>(serializedSize)) != 0 ||
      target.write(output.data(), length) != length) {
    return Fail(fault, BookFault::WriteFailed);
  }
  if (fault != nullptr) *fault = BookFault::None;
  return 8 + static_cast<uint32_t>(compressedLength);
}

}  // namespace kalvora
