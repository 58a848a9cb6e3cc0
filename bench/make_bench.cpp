// updkit make on a divided book of 64 parts holding 4,000,000 nodes in all,
// of which 1% changed: the time make takes (with its check by applying),
// and the size of the update file it writes next to the other ways to ship
// the change: the new divided book file itself (a whole-file update), the
// new file compressed with zlib at its best level, and xdelta3's delta of
// the old and new files (when xdelta3 is installed).
//
//   build/release/bench/make_bench [nodes]
#include <sys/wait.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "book/divided_book.h"
#include "tools/sample/sample_books.h"
#include "tools/updkit/commands.h"

using namespace kalvora;
using namespace kalvora::sample;
namespace fs = std::filesystem;

namespace {

std::uintmax_t SizeOf(const fs::path& path) {
  std::error_code error;
  std::uintmax_t size = fs::file_size(path, error);
  return error ? 0 : size;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t nodes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 4000000;
  fs::path work = fs::temp_directory_path() / "kalvora-make-bench";
  fs::remove_all(work);
  fs::create_directories(work / "old" / "Data");
  fs::create_directories(work / "new" / "Data");

  // The old divided book, and per part an update touching 1% of its nodes;
  // the new book is what the engine makes of the two.
  std::mt19937 rng(2026);
  DividedSample sample = MakeDividedSample(rng, nodes / kDividedBookParts);
  const Bytes& oldFile = sample.file;
  Bytes newFile = MergedFile(sample.file, sample.payload, true);
  if (newFile.empty() || !WriteFile((work / "old" / "Data" / "div.bin").string(), oldFile) ||
      !WriteFile((work / "new" / "Data" / "div.bin").string(), newFile)) {
    std::fprintf(stderr, "make_bench: the books could not be made\n");
    return 1;
  }

  std::string oldFolder = (work / "old").string();
  std::string newFolder = (work / "new").string();
  std::string updateFile = (work / "update.dat").string();
  std::string option = "-o";
  char* arguments[] = {oldFolder.data(), newFolder.data(), option.data(), updateFile.data()};
  auto start = std::chrono::steady_clock::now();
  int made = updkit::MakeCommand(4, arguments);
  double makeSeconds = Seconds(start);
  if (made != 0) return 1;

  // The new file compressed with zlib at its best level.
  uLongf packed = compressBound(static_cast<uLong>(newFile.size()));
  Bytes zipped(packed);
  compress2(zipped.data(), &packed, newFile.data(), static_cast<uLong>(newFile.size()),
            Z_BEST_COMPRESSION);

  // xdelta3's delta of the two files, at its best level.
  std::string delta = (work / "div.xd3").string();
  std::string command = "xdelta3 -e -9 -f -s '" + (work / "old" / "Data" / "div.bin").string() +
                        "' '" + (work / "new" / "Data" / "div.bin").string() + "' '" + delta +
                        "' 2>/dev/null";
  start = std::chrono::steady_clock::now();
  int xdelta = std::system(command.c_str());
  double xdeltaSeconds = Seconds(start);

  std::printf("\ndivided book, 64 parts, %zu nodes in all, 1%% of them changed\n", nodes);
  std::printf("  %-44s %12s\n", "", "bytes");
  std::printf("  %-44s %12zu\n", "old divided book file", oldFile.size());
  std::printf("  %-44s %12zu\n", "new divided book file (a whole-file update)", newFile.size());
  std::printf("  %-44s %12lu\n", "new file compressed with zlib (level 9)",
              static_cast<unsigned long>(packed));
  if (WIFEXITED(xdelta) && WEXITSTATUS(xdelta) == 0) {
    std::printf("  %-44s %12ju   (%.1f s)\n", "xdelta3 -9 delta of old and new", SizeOf(delta),
                xdeltaSeconds);
  } else {
    std::printf("  %-44s %12s\n", "xdelta3 delta of old and new", "(xdelta3 not installed)");
  }
  std::printf("  %-44s %12ju   (%.1f s, with its check)\n", "updkit make: the update file",
              SizeOf(updateFile), makeSeconds);
  fs::remove_all(work);
  return 0;
}
