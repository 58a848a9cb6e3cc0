// Book merge against zlib's own work. For books of 100,000, 1,000,000 and
// 4,000,000 nodes (about 3 entries a node) and an update that touches about
// 1% of the nodes, prints the merge time beside the time zlib takes to
// uncompress the old block and compress the new table at the default level,
// their ratio, and the merge's peak memory beside the table plus its two
// buffers. Then a divided book of 64 parts holding the largest book.
//
//   build/release/bench/merge_bench [nodes...]
//
// Each size runs in a child process so that its peak memory is its own, and
// each time is the best of three runs.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "book/book_merge.h"
#include "book/book_table.h"
#include "book/divided_book.h"
#include "stream/memory_stream.h"

using namespace kalvora;

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Next(std::mt19937& rng) {
  return static_cast<uint32_t>(rng());
}

constexpr int kRuns = 3;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Put32(Bytes& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Kilobytes of resident memory now and at the peak since the last reset.
long StatusKb(const char* field) {
  FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  long value = -1;
  while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, field, std::strlen(field)) == 0)
      value = std::atol(line + std::strlen(field));
  }
  if (status != nullptr) std::fclose(status);
  return value;
}

void ResetPeak() {
  FILE* refs = std::fopen("/proc/self/clear_refs", "w");
  if (refs != nullptr) {
    std::fputs("5", refs);
    std::fclose(refs);
  }
}

// A book as a real one looks: random 64-bit position keys, 1 to 5 moves a
// node (3 on average), move codes as from/to squares, and move data of
// small counts and weights, which compresses as real books do.
struct Book {
  uint32_t buckets;
  std::vector<std::pair<uint64_t, std::vector<BookEntry>>> nodes;  // sorted by key
};

BookEntry RandomEntry(std::mt19937& rng) {
  uint32_t from = 1 + Next(rng) % 81, to = 1 + Next(rng) % 81;
  uint32_t code = (from << 7) | to;
  uint32_t games = Next(rng) % 1000;
  uint32_t weight = Next(rng) % 100;
  return {code | (weight << 16), games | ((Next(rng) % 16) << 16)};
}

Book MakeBook(std::mt19937& rng, std::size_t nodes) {
  Book book;
  book.buckets = static_cast<uint32_t>(nodes / 3 + 1);
  std::vector<uint64_t> keys(nodes);
  for (auto& key : keys) {
    do key = (uint64_t{Next(rng)} << 32) | Next(rng);
    while (static_cast<uint32_t>(key) < 64 || static_cast<uint32_t>(key) == 0xFFFFFFFF);
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  for (uint64_t key : keys) {
    std::vector<BookEntry> entries;
    int count = 1 + Next(rng) % 5;
    while (static_cast<int>(entries.size()) < count) {
      BookEntry entry = RandomEntry(rng);
      bool taken = false;
      for (const auto& e : entries) taken |= MoveCode(e) == MoveCode(entry);
      if (!taken) entries.push_back(entry);
    }
    std::sort(entries.begin(), entries.end(),
              [](const BookEntry& a, const BookEntry& b) { return MoveCode(a) < MoveCode(b); });
    book.nodes.emplace_back(key, entries);
  }
  return book;
}

Bytes Serialize(const Book& book) {
  std::vector<std::vector<std::size_t>> chains(book.buckets);
  for (std::size_t i = book.nodes.size(); i-- > 0;) {
    uint64_t key = book.nodes[i].first;
    chains[(static_cast<uint32_t>(key) ^ static_cast<uint32_t>(key >> 32)) % book.buckets]
        .push_back(i);
  }
  std::size_t entries = 0;
  for (const auto& node : book.nodes) entries += node.second.size();
  Bytes out;
  out.reserve(12 + 6 * book.buckets + 13 * book.nodes.size() + 8 * entries);
  Put32(out, book.buckets);
  Put32(out, static_cast<uint32_t>(book.nodes.size()));
  Put32(out, static_cast<uint32_t>(entries));
  uint32_t first = 0;
  for (const auto& chain : chains) {
    Put32(out, first);
    out.push_back(static_cast<uint8_t>(chain.size()));
    out.push_back(static_cast<uint8_t>(chain.size() >> 8));
    first += static_cast<uint32_t>(chain.size());
  }
  first = 0;
  for (const auto& chain : chains) {
    for (std::size_t i : chain) {
      Put32(out, static_cast<uint32_t>(book.nodes[i].first));
      Put32(out, static_cast<uint32_t>(book.nodes[i].first >> 32));
      Put32(out, first);
      out.push_back(static_cast<uint8_t>(book.nodes[i].second.size()));
      first += static_cast<uint32_t>(book.nodes[i].second.size());
    }
  }
  for (const auto& chain : chains) {
    for (std::size_t i : chain) {
      for (const auto& entry : book.nodes[i].second) {
        Put32(out, entry.first);
        Put32(out, entry.second);
      }
    }
  }
  return out;
}

Bytes Block(const Bytes& table) {
  uLongf size = compressBound(static_cast<uLong>(table.size()));
  Bytes out(8 + size);
  compress(out.data() + 8, &size, table.data(), static_cast<uLong>(table.size()));
  out.resize(8 + size);
  Bytes header;
  Put32(header, static_cast<uint32_t>(size));
  Put32(header, static_cast<uint32_t>(table.size()));
  std::copy(header.begin(), header.end(), out.begin());
  return out;
}

// An update stream touching about 1% of the nodes: changed moves, new
// moves, deleted moves and new positions in equal shares.
Bytes MakeUpdate(std::mt19937& rng, const Book& book) {
  Bytes out;
  std::size_t touched = book.nodes.size() / 100 + 1;
  for (std::size_t i = 0; i < touched; ++i) {
    const auto& node = book.nodes[Next(rng) % book.nodes.size()];
    uint64_t key = node.first;
    BookEntry item = RandomEntry(rng);
    switch (i % 4) {
      case 0:
        item.first = (item.first & 0xFFFF0000u) | MoveCode(node.second[0]);
        break;
      case 1:
        break;
      case 2:
        item = {0xFFFF0000u | MoveCode(node.second[0]), 0xFFFFFFFFu};
        break;
      case 3:
        do key = (uint64_t{Next(rng)} << 32) | Next(rng);
        while (static_cast<uint32_t>(key) < 64 || static_cast<uint32_t>(key) == 0xFFFFFFFF);
        break;
    }
    Put32(out, static_cast<uint32_t>(key));
    Put32(out, static_cast<uint32_t>(key >> 32));
    out.push_back(1);
    Put32(out, item.first);
    Put32(out, item.second);
  }
  Put32(out, 0);
  return out;
}

struct MergeFigures {
  double seconds = 0;
  uint32_t written = 0;
  long peakKb = 0;
};

MergeFigures TimeMerge(Bytes& oldBlock, Bytes& update, Bytes& target) {
  MemoryStream package, old, out;
  package.attach(update.data(), static_cast<uint32_t>(update.size()), true);
  old.attach(oldBlock.data(), static_cast<uint32_t>(oldBlock.size()), true);
  out.attach(target.data(), static_cast<uint32_t>(target.size()), false);
  long before = StatusKb("VmRSS:");
  ResetPeak();
  auto start = std::chrono::steady_clock::now();
  MergeFigures figures;
  figures.written = MergeBook(package, old, out);
  figures.seconds = Seconds(start);
  figures.peakKb = StatusKb("VmHWM:") - before;
  return figures;
}

void RunSize(std::size_t nodes) {
  std::mt19937 rng(static_cast<uint32_t>(nodes));
  Book book = MakeBook(rng, nodes);
  Bytes table = Serialize(book);
  Bytes oldBlock = Block(table);
  Bytes update = MakeUpdate(rng, book);
  std::size_t entries = 0;
  for (const auto& node : book.nodes) entries += node.second.size();
  book.nodes.clear();
  book.nodes.shrink_to_fit();

  // zlib's own work on the same bytes: inflate the old block and deflate
  // the table, each into a buffer it gets at that moment, as the merge does.
  // This machine's timings vary by several percent from run to run, so each
  // side runs kRuns times, alternating, and the best time of each counts.
  Bytes target(oldBlock.size() * 2 + (1 << 20));
  std::memset(target.data(), 0, target.size());
  double zlibSeconds = 1e9;
  MergeFigures merge;
  merge.seconds = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    auto start = std::chrono::steady_clock::now();
    auto* inflated = static_cast<uint8_t*>(std::malloc(table.size()));
    uLongf size = static_cast<uLongf>(table.size());
    uncompress(inflated, &size, oldBlock.data() + 8, static_cast<uLong>(oldBlock.size() - 8));
    uLongf packed = static_cast<uLongf>(table.size() * 1.002 + 12);
    auto* deflated = static_cast<uint8_t*>(std::malloc(packed));
    compress(deflated, &packed, inflated, size);
    zlibSeconds = std::min(zlibSeconds, Seconds(start));
    std::free(inflated);
    std::free(deflated);

    MergeFigures figures = TimeMerge(oldBlock, update, target);
    if (figures.written == kMergeFailed) {
      std::printf("%10zu  merge failed\n", nodes);
      return;
    }
    merge.seconds = std::min(merge.seconds, figures.seconds);
    if (run == 0) merge.peakKb = figures.peakKb;  // the first run starts from a cold heap
  }
  // The table: its nodes and entries in two blocks, and the bucket arrays;
  // the two buffers: the serialized table and the compress buffer.
  double tableMb = (static_cast<double>(nodes) * sizeof(BookNode) + entries * 8.0 +
                    book.buckets * (4.0 + sizeof(void*))) /
                   1048576.0;
  double buffersMb = table.size() * 2.002 / 1048576.0;
  std::printf("%10zu %9.1f %9.3f %9.3f %7.3f %11.1f %11.1f\n", nodes, table.size() / 1048576.0,
              merge.seconds, zlibSeconds, merge.seconds / zlibSeconds, merge.peakKb / 1024.0,
              tableMb + buffersMb);
  std::fflush(stdout);
}

void RunDivided(std::size_t nodes) {
  std::mt19937 rng(77);
  Bytes file = {'J', 'S', 'K', 'D', 'I', 'V', '1', 0};
  file.resize(264);
  Bytes payload;
  Put32(payload, 0);
  std::size_t largestTable = 0;
  for (int part = 0; part < 64; ++part) {
    Book book = MakeBook(rng, nodes / 64);
    Bytes table = Serialize(book);
    largestTable = std::max(largestTable, table.size());
    Bytes block = Block(table);
    uint32_t offset = static_cast<uint32_t>(file.size());
    for (int i = 0; i < 4; ++i) file[8 + 4 * part + i] = static_cast<uint8_t>(offset >> (8 * i));
    file.insert(file.end(), block.begin(), block.end());
    file.resize((file.size() + 3) & ~std::size_t{3});
    Bytes update = MakeUpdate(rng, book);
    payload.insert(payload.end(), update.begin(), update.end());
  }
  Bytes target(file.size() * 2);
  std::memset(target.data(), 0, target.size());
  MemoryStream package, old, out;
  package.attach(payload.data(), static_cast<uint32_t>(payload.size()), true);
  old.attach(file.data(), static_cast<uint32_t>(file.size()), true);
  out.attach(target.data(), static_cast<uint32_t>(target.size()), false);
  old.seek(8, false);
  out.seek(8, false);
  long before = StatusKb("VmRSS:");
  ResetPeak();
  auto start = std::chrono::steady_clock::now();
  int32_t result = MergeDividedBook(package, old, out);
  double seconds = Seconds(start);
  long peakKb = StatusKb("VmHWM:") - before;
  std::printf(
      "divided book, 64 parts, %zu nodes in all (%.1f MiB): %s in %.3f s, peak %.1f MiB "
      "(largest part's table serialized: %.1f MiB)\n",
      nodes, file.size() / 1048576.0, result == 0 ? "merged" : "FAILED", seconds, peakKb / 1024.0,
      largestTable / 1048576.0);
}

template <class Work>
void InChild(Work work) {
  std::fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    work();
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
  if (sizes.empty()) sizes = {100000, 1000000, 4000000};
  std::printf("zlib %s, compress at the default level; times in seconds, memory in MiB\n",
              zlibVersion());
  std::printf("%10s %9s %9s %9s %7s %11s %11s\n", "nodes", "table", "merge", "zlib", "ratio",
              "peak", "table+bufs");
  for (std::size_t nodes : sizes) InChild([nodes] { RunSize(nodes); });
  InChild([&] { RunDivided(sizes.back()); });
  return 0;
}
