#include "tools/updkit/book_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "book/divided_book.h"
#include "stream/little_endian.h"
#include "stream/zlib_block.h"

namespace kalvora::updkit {

FileKind KindOf(const Bytes& content) {
  if (content.size() >= 8 && std::memcmp(content.data(), "ZuDaVo5", 8) == 0) return FileKind::Book;
  if (content.size() >= 8 && std::memcmp(content.data(), "JSKDIV1", 8) == 0) {
    return FileKind::DividedBook;
  }
  return FileKind::Other;
}

LoadedBlock LoadBlock(const Bytes& file, uint32_t offset) {
  LoadedBlock block;
  block.offset = offset;
  if (offset > file.size() || file.size() - offset < 8) {
    block.problem = "the block header lies outside the file";
    return block;
  }
  block.compressedLength = LoadLE32(file.data() + offset);
  block.rawLength = LoadLE32(file.data() + offset + 4);
  if (block.compressedLength > file.size() - offset - 8) {
    block.problem = "the block is cut short: its compressed length " +
                    std::to_string(block.compressedLength) + " runs past the end of the file";
    return block;
  }
  switch (
      InflateWhole(file.data() + offset + 8, block.compressedLength, block.rawLength, &block.raw)) {
    case InflateResult::Done:
      break;
    case InflateResult::NoMemory:
      block.problem = "out of memory";
      return block;
    case InflateResult::NotInflated:
    case InflateResult::ReadFailed:  // only a stream can fail to read
      block.problem = "the zlib stream does not inflate to at most its raw length";
      return block;
  }
  BookFault fault = BookFault::None;
  block.table = LoadBookTable(block.raw.data(), block.raw.size(), &fault);
  if (block.table == nullptr) block.problem = DescribeBookFault(fault);
  return block;
}

bool ReadPartOffsets(const Bytes& file, std::vector<uint32_t>* offsets) {
  if (file.size() < static_cast<std::size_t>(kFirstPartOffset)) return false;
  offsets->clear();
  for (int32_t part = 0; part < kDividedBookParts; ++part) {
    offsets->push_back(LoadLE32(file.data() + 8 + 4 * part));
  }
  return true;
}

bool ReadWholeFile(const std::string& path, Bytes* content, std::string* problem) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *problem = std::strerror(errno);
    return false;
  }
  content->clear();
  uint8_t buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    content->insert(content->end(), buffer, buffer + got);
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) *problem = "read error";
  return !failed;
}

std::string KeyText(BookKey key) {
  char text[17];
  std::snprintf(text, sizeof text, "%08X%08X", key.high, key.low);
  return text;
}

}  // namespace kalvora::updkit
