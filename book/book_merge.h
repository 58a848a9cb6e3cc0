// The merge of a book update stream into a book block.
//
// Book update stream: groups, ended by a terminator.
//   group       key low (dword, 64 to 0xFFFFFFFE), key high (dword),
//               item count n (byte), n items of 8 bytes laid out as entries
//   terminator  one dword below 64 or equal to 0xFFFFFFFF where the next
//               group's key low would stand; the end of the data ends the
//               stream as a terminator would
// An item whose first word is 0xFFFF0000 or more and whose second word is
// 0xFFFFFFFF deletes the entry with its move code; any other item is put.
#pragma once

#include <cstdint>

#include "book/book_fault.h"
#include "book/book_table.h"
#include "stream/byte_stream.h"

namespace kalvora {

constexpr uint32_t kMergeFailed = 0xFFFFFFFF;

// True when low can begin an update group rather than end the stream.
inline bool IsGroupKeyLow(uint32_t low) {
  return low >= 64 && low != 0xFFFFFFFF;
}

// True for an item that deletes rather than puts.
inline bool IsDeleteItem(const BookEntry& item) {
  return item.first >= 0xFFFF0000u && item.second == 0xFFFFFFFFu;
}

// What one book update stream holds.
struct UpdateStreamSummary {
  uint32_t groups = 0;
  uint32_t puts = 0;
  uint32_t deletes = 0;
};

// Applies one book update stream to the table, item by item, up to and
// including its terminator. Once the table refuses an item the rest of the
// stream is still read, so that the package stands after the terminator,
// but nothing more is applied: false, with the reason in fault.
bool ApplyUpdateStream(ByteStream& package, BookTable& table, BookFault* fault = nullptr);

// Reads past one book update stream, up to and including its terminator,
// without applying it. 0, or -1 when the data ends inside a group (a key,
// its item count or its items cut off); the stream is then at its end.
int32_t SkipBookUpdateStream(ByteStream& package, UpdateStreamSummary* summary = nullptr);

// Reads the old book block from oldCopy, applies the book update stream
// from package, and writes the sorted, deflated table as a new block to
// target. Gives the bytes written (8 + new compressed length), or
// kMergeFailed with the reason in fault when the old block cannot be read
// whole, does not inflate or load, the update cannot be held by the table,
// memory runs out, compress fails or the target refuses the block. In every
// case the package is left just after this stream's terminator.
uint32_t MergeBook(ByteStream& package, ByteStream& oldCopy, ByteStream& target,
                   BookFault* fault = nullptr);

// Reads one book block at oldCopy's position and loads its table, leaving
// the stream after the block. Null with the reason in fault.
BookTableOwner ReadBookBlock(ByteStream& oldCopy, BookFault* fault = nullptr);

}  // namespace kalvora
