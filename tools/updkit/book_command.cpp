// updkit book dump and book check: a book or divided book shown, and checked
// for being well formed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "book/book_merge.h"
#include "book/divided_book.h"
#include "stream/little_endian.h"
#include "tools/updkit/book_file.h"
#include "tools/updkit/commands.h"
#include "tools/updkit/output.h"

namespace kalvora::updkit {

const char* const kBookHelp =
    "usage: updkit book dump FILE [--json] [--key KEY]\n"
    "       updkit book check FILE\n"
    "\n"
    "FILE is a book (\"ZuDaVo5\") or a divided book (\"JSKDIV1\").\n"
    "\n"
    "dump shows the file's header, its parts (a divided book) and of each table\n"
    "the bucket count, nodes and entries: every node with its bucket, key (sixteen\n"
    "hex digits, high word first) and entries (move code, first and second word).\n"
    "--key KEY shows only that key's node. --json prints the same for scripts.\n"
    "\n"
    "check reads every block and reports each problem it finds with its place:\n"
    "zlib streams that do not inflate, lengths, the part directory and fills,\n"
    "header counts against the records, directory and entry indexes, nodes\n"
    "outside their key's bucket or out of descending key order, empty nodes and\n"
    "repeated move codes.\n"
    "\n"
    "Exit codes: 0 shown / well formed, 1 cannot be read / has problems, 2 usage.\n";

namespace {

constexpr std::size_t kMostProblemsShown = 20;

struct Block {
  int part;  // -1 for a book file
  LoadedBlock loaded;
};

// The blocks of a book file or a divided book, or why there are none.
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

std::string Hex32(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

bool ParseKey(const char* text, BookKey* key) {
  if (std::strncmp(text, "0x", 2) == 0 || std::strncmp(text, "0X", 2) == 0) text += 2;
  if (std::strlen(text) == 0 || std::strlen(text) > 16) return false;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 16);
  if (*end != '\0') return false;
  key->low = static_cast<uint32_t>(value);
  key->high = static_cast<uint32_t>(value >> 32);
  return true;
}

bool LoadFile(const char* path, Bytes* file, FileKind* kind) {
  std::string problem;
  if (!ReadWholeFile(path, file, &problem)) {
    std::fprintf(stderr, "updkit: %s: %s\n", path, problem.c_str());
    return false;
  }
  *kind = KindOf(*file);
  if (*kind == FileKind::Other) {
    std::fprintf(stderr,
                 "updkit: %s: neither a book (\"ZuDaVo5\") nor a divided book (\"JSKDIV1\")\n",
                 path);
    return false;
  }
  return true;
}

int Dump(const char* path, bool json, bool filtered, BookKey wanted) {
  Bytes file;
  FileKind kind;
  if (!LoadFile(path, &file, &kind)) return kExitFailure;
  std::vector<Block> blocks;
  std::string problem;
  if (!ReadBlocks(file, kind, &blocks, &problem, path)) {
    std::fprintf(stderr, "updkit: %s: %s\n", path, problem.c_str());
    return kExitFailure;
  }
  const char* kindName = kind == FileKind::Book ? "book" : "divided book";
  Json out;
  out.beginObject().key("file").value(path).key("kind").value(kindName);
  out.key("size").value(static_cast<uint64_t>(file.size())).key("blocks").beginArray();
  if (!json) std::printf("%s: %s, %zu bytes\n", path, kindName, file.size());
  bool failed = false;
  for (const Block& block : blocks) {
    const LoadedBlock& loaded = block.loaded;
    std::string where = block.part < 0 ? "block" : "part " + std::to_string(block.part);
    out.beginObject();
    if (block.part >= 0) out.key("part").value(block.part);
    out.key("offset").value(loaded.offset).key("compressedLength").value(loaded.compressedLength);
    out.key("rawLength").value(loaded.rawLength);
    if (!loaded.ok()) {
      failed = true;
      out.key("error").value(loaded.problem).endObject();
      if (!json)
        std::printf("%s at %u: %s\n", where.c_str(), loaded.offset, loaded.problem.c_str());
      continue;
    }
    const BookTable& table = *loaded.table;
    out.key("buckets").value(table.bucketCount).key("nodes").value(table.nodeCount);
    out.key("entries").value(table.entryCount).key("keys").beginArray();
    if (!json) {
      std::printf(
          "%s at %u: compressed %u bytes, table %u bytes: %d buckets, %d nodes, %d entries\n",
          where.c_str(), loaded.offset, loaded.compressedLength, loaded.raw.size(),
          table.bucketCount, table.nodeCount, table.entryCount);
    }
    Table rows;
    rows.row({"bucket", "key", "move", "first", "second"});
    bool anyRow = false;
    for (int32_t bucket = 0; bucket < table.bucketCount; ++bucket) {
      for (const BookNode* node = table.chainHeads[bucket]; node != nullptr; node = node->next) {
        BookKey key{node->keyLow, node->keyHigh};
        if (filtered && (key.low != wanted.low || key.high != wanted.high)) continue;
        out.beginObject().key("bucket").value(bucket).key("key").value(KeyText(key));
        out.key("entries").beginArray();
        for (int32_t e = 0; e < node->entryCount; ++e) {
          const BookEntry& entry = node->entries[e];
          out.beginObject().key("move").value(static_cast<uint32_t>(MoveCode(entry)));
          out.key("first").value(entry.first).key("second").value(entry.second).endObject();
          char move[8];
          std::snprintf(move, sizeof move, "%04X", MoveCode(entry));
          rows.row({e == 0 ? std::to_string(bucket) : "", e == 0 ? KeyText(key) : "", move,
                    Hex32(entry.first), Hex32(entry.second)});
          anyRow = true;
        }
        out.endArray().endObject();
      }
    }
    out.endArray().endObject();
    if (!json && anyRow) rows.print(stdout, "  ");
  }
  out.endArray().endObject();
  if (json) std::printf("%s\n", out.text().c_str());
  return failed ? kExitFailure : kExitSuccess;
}

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

int Check(const char* path) {
  Bytes file;
  FileKind kind;
  if (!LoadFile(path, &file, &kind)) return kExitFailure;
  std::vector<std::string> problems;
  std::vector<std::string> notes;
  std::vector<Block> blocks;
  std::string problem;
  if (!ReadBlocks(file, kind, &blocks, &problem, path)) {
    std::fprintf(stderr, "updkit: %s: %s\n", path, problem.c_str());
    return kExitFailure;
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

  for (const std::string& note : notes) std::printf("%s: note: %s\n", path, note.c_str());
  for (std::size_t i = 0; i < problems.size() && i < kMostProblemsShown; ++i) {
    std::printf("%s: %s\n", path, problems[i].c_str());
  }
  if (problems.size() > kMostProblemsShown) {
    std::printf("%s: ... and %zu more problems\n", path, problems.size() - kMostProblemsShown);
  }
  const char* kindName = kind == FileKind::Book ? "book" : "divided book";
  if (!problems.empty()) {
    std::printf("%s: %s with %zu problem%s\n", path, kindName, problems.size(),
                problems.size() == 1 ? "" : "s");
    return kExitFailure;
  }
  std::printf("%s: well-formed %s: %zu block%s, %llu nodes, %llu entries\n", path, kindName,
              blocks.size(), blocks.size() == 1 ? "" : "s", static_cast<unsigned long long>(nodes),
              static_cast<unsigned long long>(entries));
  return kExitSuccess;
}

}  // namespace

int BookCommand(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "updkit book: expected dump or check, and FILE\n\n%s", kBookHelp);
    return kExitUsage;
  }
  const char* path = nullptr;
  bool json = false;
  bool filtered = false;
  BookKey key{0, 0};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--key") == 0) {
      if (++i == argc || !ParseKey(argv[i], &key)) {
        std::fprintf(stderr, "updkit book: --key needs up to 16 hex digits\n");
        return kExitUsage;
      }
      filtered = true;
    } else if (argv[i][0] == '-' || path != nullptr) {
      std::fprintf(stderr, "updkit book: unexpected \"%s\"\n\n%s", argv[i], kBookHelp);
      return kExitUsage;
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr) {
    std::fprintf(stderr, "updkit book: expected FILE\n\n%s", kBookHelp);
    return kExitUsage;
  }
  if (std::strcmp(argv[0], "dump") == 0) return Dump(path, json, filtered, key);
  if (std::strcmp(argv[0], "check") == 0 && !json && !filtered) return Check(path);
  std::fprintf(stderr, "updkit book: expected dump or check\n\n%s", kBookHelp);
  return kExitUsage;
}

}  // namespace kalvora::updkit
