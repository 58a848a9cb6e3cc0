// Book merge against zlib's own work. For books of 100,000, 1,000,000 and
// 4,000,000 nodes (about 3 entries a node) and an update that touches about
// 1% of the nodes, prints the merge time beside the time zlib takes to
// uncompress the old block and compress the new table at the default level,
// their ratio, and the merge's peak memory beside the table plus its
// buffer. Then a divided book of 64 parts holding the largest book.
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
#include "tools/sample/sample_books.h"

using namespace kalvora;
using namespace kalvora::sample;

namespace {

constexpr int kRuns = 3;

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
  // the buffer: the serialized table (the old one, then the new one). The
  // compressed blocks go through pieces of 64 KiB.
  double tableMb = (static_cast<double>(nodes) * sizeof(BookNode) + entries * 8.0 +
                    book.buckets * (4.0 + sizeof(void*))) /
                   1048576.0;
  double buffersMb = table.size() / 1048576.0;
  std::printf("%10zu %9.1f %9.3f %9.3f %7.3f %11.1f %11.1f\n", nodes, table.size() / 1048576.0,
              merge.seconds, zlibSeconds, merge.seconds / zlibSeconds, merge.peakKb / 1024.0,
              tableMb + buffersMb);
  std::fflush(stdout);
}

void RunDivided(std::size_t nodes) {
  std::mt19937 rng(77);
  DividedSample sample = MakeDividedSample(rng, nodes / kDividedBookParts);
  Bytes& file = sample.file;
  Bytes& payload = sample.payload;
  std::size_t largestTable = sample.largestTable;
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
              "peak", "table+buf");
  for (std::size_t nodes : sizes) InChild([nodes] { RunSize(nodes); });
  InChild([&] { RunDivided(sizes.back()); });
  return 0;
}
