// A reference book for tests: what a book holds, kept in standard
// containers and serialized, parsed and merged by code of its own, so that
// the engine's results can be checked against it.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "book/book_table.h"
#include "support/bytes.h"

namespace kalvora::test {

inline uint64_t KeyOf(uint32_t low, uint32_t high) {
  return (uint64_t{high} << 32) | low;
}

struct BookModel {
  uint32_t buckets = 1;
  // Key value (high << 32 | low) to the node's entries, in stored order.
  std::map<uint64_t, std::vector<BookEntry>> nodes;

  void put(uint32_t low, uint32_t high, BookEntry entry);
  void remove(uint32_t low, uint32_t high, uint16_t moveCode);
  // Orders every node's entries by move code.
  void sortEntries();
  std::size_t entryCount() const;
  bool operator==(const BookModel& other) const;
};

// The serialized table of the model: buckets in order, chains in descending
// key order, entries as stored.
Bytes SerializeModel(const BookModel& model);

// Parses a serialized table, checking every rule of the format with gtest
// assertions (counts, indexes, bucket placement, order).
BookModel ParseSerializedTable(const Bytes& table);

// Book block (compressed length, raw length, zlib stream) of a table.
Bytes MakeBlock(const Bytes& serializedTable);
// Parses the block at offset; blockEnd receives the offset after it.
BookModel ParseBlock(const Bytes& bytes, std::size_t offset, std::size_t* blockEnd = nullptr);

// "ZuDaVo5\0" and one block.
Bytes MakeBookFile(const BookModel& model);

// A divided book. The parts are stored in storeOrder (a permutation of 0..63,
// empty for part order) with gap zero bytes before each part.
Bytes MakeDividedBook(const std::vector<BookModel>& parts, const std::vector<int>& storeOrder = {},
                      std::size_t gap = 0);

// Checks that a divided book written by the tool is laid out from 264 in
// part order with correct fills, and gives its parts.
std::vector<BookModel> ParseDividedBook(const Bytes& file);

// A book update stream, built group by group.
class UpdateStreamBuilder {
 public:
  UpdateStreamBuilder& group(uint32_t low, uint32_t high, const std::vector<BookEntry>& items);
  UpdateStreamBuilder& terminator(uint32_t value = 0);
  const Bytes& bytes() const { return writer_.bytes(); }

 private:
  ByteWriter writer_;
};

// Item that deletes the move code.
inline BookEntry DeleteItem(uint16_t moveCode) {
  return {0xFFFF0000u | moveCode, 0xFFFFFFFFu};
}

// A random book with about entriesPerNode entries a node (1 to 2x-1).
BookModel RandomBook(std::mt19937& rng, uint32_t buckets, std::size_t nodes, int entriesPerNode);

}  // namespace kalvora::test
