// Books as the toolkit reads them: a book file ("ZuDaVo5") or a divided book
// file ("JSKDIV1") held whole in memory, its blocks inflated and loaded with
// the engine's own loader, and the raw serialized tables kept for comparison.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "book/book_table.h"
#include "stream/owned_buffer.h"

namespace kalvora::updkit {

using Bytes = std::vector<uint8_t>;

enum class FileKind { Other, Book, DividedBook };

// The kind of a file by its magic.
FileKind KindOf(const Bytes& content);

// One book block: where it is, what its header says, its inflated table and
// the loaded table, or why it could not be had.
struct LoadedBlock {
  uint32_t offset = 0;            // of the block in its file
  uint32_t compressedLength = 0;  // as the block's header says
  uint32_t rawLength = 0;         // as the block's header says
  OwnedBuffer raw;                // the inflated serialized table
  BookTableOwner table;
  std::string problem;  // empty when the table loaded

  bool ok() const { return problem.empty(); }
};

// Reads the block at offset of the file.
LoadedBlock LoadBlock(const Bytes& file, uint32_t offset);

// The 64 part offsets of a divided book's directory; false when the file is
// shorter than its directory.
bool ReadPartOffsets(const Bytes& file, std::vector<uint32_t>* offsets);

// Reads a whole file; false with a reason when it cannot be read.
bool ReadWholeFile(const std::string& path, Bytes* content, std::string* problem);

// A 64-bit key as sixteen hex digits, high word first.
std::string KeyText(BookKey key);

}  // namespace kalvora::updkit
