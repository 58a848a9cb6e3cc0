// The in-memory opening book: a hash table of position keys, each with a
// short list of move entries, and its serialized form.
//
// Serialized table (little-endian, no padding), B buckets, N nodes, E entries:
//   0             B, N, E                       3 dwords
//   12            bucket directory, B x 6 bytes: first node index (dword),
//                 chain length (word)
//   12+6B         node records, N x 13 bytes: key low, key high, first entry
//                 index (dwords), entry count (byte, 1 to 255); bucket 0
//                 first, each chain in descending key order
//   12+6B+13N     entries, E x 8 bytes, in record order
// Book block: compressed length (dword), raw length (dword), zlib stream.
// Book file: "ZuDaVo5\0", then one book block.
#pragma once

#include <cstdint>
#include <memory>

#include "book/book_fault.h"
#include "stream/byte_stream.h"

namespace kalvora {

// 64-bit position key; keys order as high * 2^32 + low.
struct BookKey {
  uint32_t low;
  uint32_t high;
};

// One move: bits 0-15 of the first word are the move code, the entry's
// identity within its node; the other 48 bits are data the book only carries.
struct BookEntry {
  uint32_t first;
  uint32_t second;
};

inline uint16_t MoveCode(const BookEntry& entry) {
  return static_cast<uint16_t>(entry.first);
}

// A key with its entries.
struct BookNode {
  uint32_t keyLow = 0;
  uint32_t keyHigh = 0;
  int32_t entryCount = 0;
  BookNode* next = nullptr;
  BookEntry* entries = nullptr;
};

// The table; owns both arrays, every node and every entry array.
//
// The nodes and entries that the loader reads are kept in two blocks, in
// record order: a large book is then two allocations instead of two per
// node, and its walks run through memory in order. Nodes and entry arrays
// that changes make later are allocated one by one; a node or array taken
// out of a block stays there until the table goes.
struct BookTable {
  BookTable() = default;
  ~BookTable();
  BookTable(const BookTable&) = delete;
  BookTable& operator=(const BookTable&) = delete;

  int32_t bucketCount = 0;
  int32_t nodeCount = 0;
  int32_t entryCount = 0;
  int32_t* chainLengths = nullptr;
  BookNode** chainHeads = nullptr;

  BookNode* loadedNodes = nullptr;  // the loader's nodes, loadedNodeCount of them
  uint32_t loadedNodeCount = 0;
  BookEntry* loadedEntries = nullptr;  // their entries, loadedEntryCount of them
  uint32_t loadedEntryCount = 0;
};

// Frees a node and its entries, wherever they were allocated; the node must
// be out of its chain.
void DestroyBookNode(BookTable& table, BookNode* node);

using BookTableOwner = std::unique_ptr<BookTable>;

constexpr int32_t kMaxNodeEntries = 255;    // the serialized entry count is a byte
constexpr int32_t kMaxChainLength = 65535;  // the serialized chain length is a word

// Results of PutBookEntry.
constexpr int32_t kEntryReplaced = 1;  // the entry with the same move code was replaced
constexpr int32_t kEntryAdded = 2;     // the entry was added to the key's node
constexpr int32_t kNodeCreated = 3;    // a node was created for the key
constexpr int32_t kPutRefused = -1;    // the table cannot hold it, or memory ran out

// (low XOR high) mod bucketCount, unsigned.
inline uint32_t BucketOf(BookKey key, uint32_t bucketCount) {
  return (key.low ^ key.high) % bucketCount;
}

// 12 + 6B + 13N + 8E, without overflow.
uint64_t SerializedTableSize(const BookTable& table);

// Parses a serialized table. Refuses (null, with the reason in fault) a table
// that is not well formed: no buckets, counts that disagree with the records,
// records or entries cut off, an empty node, a node outside its key's bucket
// or out of descending key order, a move code twice in a node; and null when
// memory runs out. A table it accepts saves back to a well-formed block.
BookTableOwner ReadBookTable(ByteStream& stream, BookFault* fault = nullptr);
BookTableOwner LoadBookTable(const void* block, uint32_t size, BookFault* fault = nullptr);

// Writes the serialized table; 0, or -1 when the stream refused a write.
int32_t WriteBookTable(const BookTable& table, ByteStream& stream);
// Writes the serialized table into the caller's block of SerializedTableSize
// bytes; 0, or -1 when the block is too small or memory runs out.
int32_t SaveBookTable(const BookTable& table, void* block, uint32_t size);

// Puts the entry under the key: kEntryReplaced, kEntryAdded, kNodeCreated,
// or kPutRefused (nothing changed) with the reason in fault.
int32_t PutBookEntry(BookTable& table, BookKey key, BookEntry entry, BookFault* fault = nullptr);

// Removes the key's entry with the entry's move code: 1 when removed, 0 when
// the key has no node or the node no such entry. A node left without entries
// leaves the table.
int32_t RemoveBookEntry(BookTable& table, BookKey key, BookEntry entry);

// Orders the entries of every node by move code, ascending; 0.
int32_t SortBookEntries(BookTable& table);

}  // namespace kalvora
