// Books made as real ones look, for the demo and the benchmarks: random
// 64-bit position keys, 1 to 5 moves a node (3 on average), move codes as
// from/to squares, and move data of small counts and weights, which
// compresses as real books do; and updates that touch 1% of the nodes.
#pragma once

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "book/book_table.h"

namespace kalvora::sample {

using Bytes = std::vector<uint8_t>;

uint32_t Next(std::mt19937& rng);
double Seconds(std::chrono::steady_clock::time_point since);
void Put32(Bytes& out, uint32_t value);

// Kilobytes of resident memory now ("VmRSS:") or at the peak since the last
// ResetPeak ("VmHWM:").
long StatusKb(const char* field);
void ResetPeak();

struct Book {
  uint32_t buckets;
  std::vector<std::pair<uint64_t, std::vector<BookEntry>>> nodes;  // sorted by key
};

BookEntry RandomEntry(std::mt19937& rng);
Book MakeBook(std::mt19937& rng, std::size_t nodes);
// The serialized table of a book, and its book block (zlib's default level).
Bytes Serialize(const Book& book);
Bytes Block(const Bytes& table);
// An update stream touching about 1% of the nodes: changed moves, new
// moves, deleted moves and new positions in equal shares.
Bytes MakeUpdate(std::mt19937& rng, const Book& book);

// A book file: "ZuDaVo5" and the book's block.
Bytes BookFile(const Book& book);

// A divided book of 64 books of nodesPerPart nodes, laid out as the tool
// writes one, and the payload of a divided-book record that touches 1% of
// each part (the 4-byte head value, then 64 update streams).
struct DividedSample {
  Bytes file;
  Bytes payload;
  std::size_t largestTable = 0;  // the largest part's serialized table
};
DividedSample MakeDividedSample(std::mt19937& rng, std::size_t nodesPerPart);

// The file the engine's merge makes of a book file (or a divided book file)
// and a book update stream (or a divided-book payload); empty when the merge
// fails.
Bytes MergedFile(const Bytes& oldFile, const Bytes& payload, bool divided);

// Writes a whole file; false, with a line on stderr, when it cannot.
bool WriteFile(const std::string& path, const Bytes& bytes);

}  // namespace kalvora::sample
