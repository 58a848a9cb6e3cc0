// Checking a book or divided book for being well formed, reporting every
// problem found with its place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/updkit/book_file.h"

namespace kalvora::updkit {

struct Block {
  int part;  // -1 for a book file
  LoadedBlock loaded;
};

// The blocks of a book file or a divided book; false, with the reason, when
// a divided book is shorter than its part directory. Progress of a divided
// book shows on a terminal, under name.
bool ReadBlocks(const Bytes& file, FileKind kind, std::vector<Block>* blocks, std::string* problem,
                const std::string& name);

struct BookCheck {
  std::string unreadable;             // set when the file cannot be read as a book at all
  std::vector<std::string> problems;  // each with its place
  std::vector<std::string> notes;     // what the format allows but the tool does not write
  std::size_t blocks = 0;
  uint64_t nodes = 0;
  uint64_t entries = 0;
};

// Checks every block: that it lies in the file and inflates, its table's
// header counts against the records, the directory and entry indexes, each
// node's bucket and order, empty nodes, repeated move codes, bytes after
// the table; and the parts' layout and fills.
BookCheck CheckBook(const Bytes& file, const std::string& name);

}  // namespace kalvora::updkit
