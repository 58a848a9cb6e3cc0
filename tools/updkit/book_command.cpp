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
#include "tools/updkit/book_check.h"
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

int Check(const char* path) {
  Bytes file;
  FileKind kind;
  if (!LoadFile(path, &file, &kind)) return kExitFailure;
  BookCheck report = CheckBook(file, path);
  if (!report.unreadable.empty()) {
    std::fprintf(stderr, "updkit: %s: %s\n", path, report.unreadable.c_str());
    return kExitFailure;
  }
  for (const std::string& note : report.notes) std::printf("%s: note: %s\n", path, note.c_str());
  const std::vector<std::string>& problems = report.problems;
  for (std::size_t i = 0; i < problems.size() && i < kMostProblemsShown; ++i) {
    std::printf("%s: %s\n", path, problems[i].c_str());
  }
  if (problems.size() > kMostProblemsShown) {
    std::printf("%s: ... and %zu more problems\n", path, problems.size() - kMostProblemsShown);
  }
  const char* kindName = kind == FileKind::Book ? "book" : "divided book";
  if (!problems.empty()) {
    std::printf("%s: %s with %s\n", path, kindName, Count(problems.size(), "problem").c_str());
    return kExitFailure;
  }
  std::printf("%s: well-formed %s: %s, %s, %s\n", path, kindName,
              Count(report.blocks, "block").c_str(), Count(report.nodes, "node").c_str(),
              Count(report.entries, "entry", "entries").c_str());
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
