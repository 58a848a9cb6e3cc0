// Writes two releases of the sample product "Kalvora Beta" for the demo:
//
//   make_sample_release OLD_FOLDER NEW_FOLDER
//
// Each holds ZentrikB.exe, readme.txt, Data\joseki.bin (a book of 30,000
// positions) and Data\joseki64.bin (a divided book of 64 parts, 128,000
// positions in all). The new release changes 1% of each book's positions
// (changed, added and deleted moves, new positions), the program and the
// readme.
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "tools/sample/sample_books.h"

using namespace kalvora;
using namespace kalvora::sample;
namespace fs = std::filesystem;

namespace {

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_sample_release OLD_FOLDER NEW_FOLDER\n");
    return 2;
  }
  fs::path oldFolder = argv[1];
  fs::path newFolder = argv[2];
  std::error_code error;
  fs::create_directories(oldFolder / "Data", error);
  fs::create_directories(newFolder / "Data", error);
  std::mt19937 rng(1041);

  // The books, and updates that touch 1% of them; the new books are what
  // the engine's merge makes of the two.
  Book book = MakeBook(rng, 30000);
  Bytes bookFile = BookFile(book);
  Bytes newBook = MergedFile(bookFile, MakeUpdate(rng, book), false);
  DividedSample divided = MakeDividedSample(rng, 2000);
  Bytes newDivided = MergedFile(divided.file, divided.payload, true);
  if (newBook.empty() || newDivided.empty()) {
    std::fprintf(stderr, "make_sample_release: the new books could not be made\n");
    return 1;
  }
  bool written =
      WriteFile((oldFolder / "ZentrikB.exe").string(), Text("MZ sample program, release 1.00\n")) &&
      WriteFile((oldFolder / "readme.txt").string(), Text("Kalvora Beta 1.00\r\n")) &&
      WriteFile((oldFolder / "Data" / "joseki.bin").string(), bookFile) &&
      WriteFile((oldFolder / "Data" / "joseki64.bin").string(), divided.file) &&
      WriteFile((newFolder / "ZentrikB.exe").string(), Text("MZ sample program, release 1.01\n")) &&
      WriteFile((newFolder / "readme.txt").string(), Text("Kalvora Beta 1.01\r\n")) &&
      WriteFile((newFolder / "Data" / "joseki.bin").string(), newBook) &&
      WriteFile((newFolder / "Data" / "joseki64.bin").string(), newDivided);
  return written ? 0 : 1;
}
