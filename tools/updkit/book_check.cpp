#include "tools/updkit/book_check.h"

#include <algorithm>

#include "book/divided_book.h"
#include "stream/little_endian.h"
#include "tools/updkit/output.h"

namespace kalvora::updkit {

namespace {

// Checks a serialized table field by field and tells every problem found.
void CheckTable(const uint8_t* raw, uint32_t size, std::vector<std::string>* problems,
                uint64_t* nodesSeen, uint64_t* entriesSeen) {
  if (size < 12) {
    problems->push_back("the table is shorter than its 12-byte header");
    return;
  }
  uint32_t buckets = LoadLE32(raw);
  uint32_t nodes = LoadLE32(raw + 4);
  uint32_t entries = LoadLE32(raw + 8);
  if (buckets == 0) {
    problems->push_back("the bucket count is 0");
    return;
  }
  uint64_t directoryEnd = 12 + 6ull * buckets;
  if (directoryEnd > size) {
    problems->push_back("the bucket directory of " + std::to_string(buckets) +
                        " buckets runs past the table's end");
    return;
  }
  uint64_t nodeSum = 0;
  for (uint32_t bucket = 0; bucket < buckets; ++bucket) {
    const uint8_t* entry = raw + 12 + 6ull * bucket;
    if (LoadLE32(entry) != nodeSum) {
      problems->push_back("bucket " + std::to_string(bucket) + ": first node index " +
                          std::to_string(LoadLE32(entry)) + ", should be " +
                          std::to_string(nodeSum));
    }
    nodeSum += LoadLE16(entry + 4);
  }
  if (nodeSum != nodes) {
    problems->push_back("the header counts " + std::to_string(nodes) + " nodes, the directory " +
                        std::to_string(nodeSum));
  }
  uint64_t recordsEnd = directoryEnd + 13 * nodeSum;
  if (recordsEnd > size) {
    problems->push_back("the node records run past the table's end");
    return;
  }
  uint64_t entrySum = 0;
  const uint8_t* record = raw + directoryEnd;
  std::vector<std::pair<uint64_t, uint32_t>> counts;  // entry index, count per node
  for (uint32_t bucket = 0; bucket < buckets; ++bucket) {
    uint32_t length = LoadLE16(raw + 12 + 6ull * bucket + 4);
    uint64_t previous = 0;
    for (uint32_t i = 0; i < length; ++i, record += 13) {
      BookKey key{LoadLE32(record), LoadLE32(record + 4)};
      uint64_t value = (uint64_t{key.high} << 32) | key.low;
      std::string where = "bucket " + std::to_string(bucket) + ", node " + std::to_string(i) +
                          " (key " + KeyText(key) + ")";
      if (LoadLE32(record + 8) != entrySum) {
        problems->push_back(where + ": first entry index " + std::to_string(LoadLE32(record + 8)) +
                            ", should be " + std::to_string(entrySum));
      }
      if (record[12] == 0) problems->push_back(where + ": no entries");
      if (BucketOf(key, buckets) != bucket) {
        problems->push_back(where + ": belongs in bucket " +
                            std::to_string(BucketOf(key, buckets)));
      }
      if (i > 0 && value >= previous) problems->push_back(where + ": out of descending key order");
      previous = value;
      counts.emplace_back(entrySum, record[12]);
      entrySum += record[12];
    }
  }
  if (entrySum != entries) {
    problems->push_back("the header counts " + std::to_string(entries) + " entries, the nodes " +
                        std::to_string(entrySum));
  }
  uint64_t end = recordsEnd + 8 * entrySum;
  if (end > size) {
    problems->push_back("the entries run past the table's end");
    return;
  }
  for (const auto& [first, count] : counts) {
    for (uint32_t a = 0; a < count; ++a) {
      for (uint32_t b = a + 1; b < count; ++b) {
        if (LoadLE16(raw + recordsEnd + 8 * (first + a)) ==
            LoadLE16(raw + recordsEnd + 8 * (first + b))) {
          problems->push_back("entry " + std::to_string(first + b) +
                              " repeats the move code of entry " + std::to_string(first + a));
        }
      }
    }
  }
  if (end < size) {
    problems->push_back(std::to_string(size - end) + " bytes after the last entry");
  }
  *nodesSeen += nodeSum;
  *entriesSeen += entrySum;
}

}  // namespace

bool ReadBlocks(const Bytes& file, FileKind kind, std::vector<Block>* blocks, std::string* problem,
                const std::string& name) {
  if (kind == FileKind::Book) {
    blocks->push_back({-1, LoadBlock(file, 8)});
    return true;
  }
  std::vector<uint32_t> offsets;
  if (!ReadPartOffsets(file, &offsets)) {
    *problem = "the file is shorter than its part directory";
    return false;
  }
  Progress progress;
  for (int part = 0; part < kDividedBookParts; ++part) {
    blocks->push_back({part, LoadBlock(file, offsets[part])});
    progress.show(name + ": part " + std::to_string(part + 1) + " of 64");
  }
  return true;
}

BookCheck CheckBook(const Bytes& file, const std::string& name) {
  BookCheck report;
  FileKind kind = KindOf(file);
  if (kind == FileKind::Other) {
    report.unreadable = "neither a book nor a divided book";
    return report;
  }
  std::vector<std::string>& problems = report.problems;
  std::vector<std::string>& notes = report.notes;
  std::vector<Block> blocks;
  std::string problem;
  if (!ReadBlocks(file, kind, &blocks, &problem, name)) {
    report.unreadable = problem;
    return report;
  }
  uint64_t nodes = 0;
  uint64_t entries = 0;
  uint64_t expected = kind == FileKind::Book ? 8 : static_cast<uint64_t>(kFirstPartOffset);
  uint64_t end = 0;
  for (const Block& block : blocks) {
    const LoadedBlock& loaded = block.loaded;
    std::string where = block.part < 0 ? "block" : "part " + std::to_string(block.part);
    where += " at " + std::to_string(loaded.offset) + ": ";
    if (block.part >= 0 && loaded.offset < static_cast<uint32_t>(kFirstPartOffset)) {
      problems.push_back(where + "lies inside the part directory");
      continue;
    }
    if (loaded.raw.data() == nullptr) {
      problems.push_back(where + loaded.problem);
      continue;
    }
    if (loaded.raw.size() != loaded.rawLength) {
      notes.push_back(where + "the raw length says " + std::to_string(loaded.rawLength) +
                      " bytes, the table has " + std::to_string(loaded.raw.size()));
    }
    std::vector<std::string> found;
    CheckTable(loaded.raw.data(), loaded.raw.size(), &found, &nodes, &entries);
    if (found.empty() && !loaded.ok()) found.push_back(loaded.problem);
    for (const std::string& text : found) problems.push_back(where + text);
    // Layout as the tool writes it: parts in order, each after the one
    // before, filled with zero bytes to a multiple of 4.
    uint64_t blockEnd = loaded.offset + 8ull + loaded.compressedLength;
    uint64_t padded = kind == FileKind::Book ? blockEnd : (blockEnd + 3) & ~uint64_t{3};
    if (loaded.offset != expected) {
      notes.push_back(where + "not where the part before ends (" + std::to_string(expected) + ")");
    }
    for (uint64_t fill = blockEnd; fill < padded && fill < file.size(); ++fill) {
      if (file[fill] != 0) {
        problems.push_back(where + "fill byte at " + std::to_string(fill) + " is not 0");
        break;
      }
    }
    expected = padded;
    end = std::max(end, padded);
  }
  if (end < file.size()) {
    (kind == FileKind::Book ? problems : notes)
        .push_back(std::to_string(file.size() - end) + " bytes after the last block");
  }

  report.blocks = blocks.size();
  report.nodes = nodes;
  report.entries = entries;
  return report;
}

}  // namespace kalvora::updkit
