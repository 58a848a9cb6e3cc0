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

#include "book/book_merge.h"
#include "book/divided_book.h"
#include "stream/memory_stream.h"
#include "tools/sample/sample_books.h"

using namespace kalvora;
using namespace kalvora::sample;
namespace fs = std::filesystem;

namespace {

bool WriteFile(const fs::path& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  bool written =
      file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file != nullptr && std::fclose(file) != 0) written = false;
  if (!written)
    std::fprintf(stderr, "make_sample_release: cannot write %s\n", path.string().c_str());
  return written;
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// The file a merge of update into the book file writes, magic first.
Bytes Merged(const Bytes& oldFile, Bytes& update, bool divided) {
  Bytes newFile(oldFile.size() * 2 + 4096);
  std::copy(oldFile.begin(), oldFile.begin() + 8, newFile.begin());
  MemoryStream package, old, out;
  package.attach(update.data(), static_cast<uint32_t>(update.size()), true);
  old.attach(const_cast<uint8_t*>(oldFile.data()), static_cast<uint32_t>(oldFile.size()), true);
  out.attach(newFile.data(), static_cast<uint32_t>(newFile.size()), false);
  old.seek(8, false);
  out.seek(8, false);
  uint32_t end = 0;
  if (divided) {
    if (MergeDividedBook(package, old, out) != 0) return {};
    uint32_t last = 0;
    for (int i = 0; i < 4; ++i) last |= static_cast<uint32_t>(newFile[8 + 4 * 63 + i]) << (8 * i);
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(newFile[last + i]) << (8 * i);
    end = (last + 8 + length + 3) & ~3u;
  } else {
    uint32_t written = MergeBook(package, old, out);
    if (written == kMergeFailed) return {};
    end = 8 + written;
  }
  newFile.resize(end);
  return newFile;
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

  // The book and its update.
  Book book = MakeBook(rng, 30000);
  Bytes bookFile = {'Z', 'u', 'D', 'a', 'V', 'o', '5', 0};
  Bytes block = Block(Serialize(book));
  bookFile.insert(bookFile.end(), block.begin(), block.end());
  Bytes bookUpdate = MakeUpdate(rng, book);

  // The divided book and its 64 updates.
  Bytes dividedFile = {'J', 'S', 'K', 'D', 'I', 'V', '1', 0};
  dividedFile.resize(kFirstPartOffset);
  Bytes dividedUpdate;
  Put32(dividedUpdate, 0);
  for (int part = 0; part < kDividedBookParts; ++part) {
    Book partBook = MakeBook(rng, 2000);
    Bytes partBlock = Block(Serialize(partBook));
    uint32_t offset = static_cast<uint32_t>(dividedFile.size());
    for (int i = 0; i < 4; ++i)
      dividedFile[8 + 4 * part + i] = static_cast<uint8_t>(offset >> (8 * i));
    dividedFile.insert(dividedFile.end(), partBlock.begin(), partBlock.end());
    dividedFile.resize((dividedFile.size() + 3) & ~std::size_t{3});
    Bytes update = MakeUpdate(rng, partBook);
    dividedUpdate.insert(dividedUpdate.end(), update.begin(), update.end());
  }

  Bytes newBook = Merged(bookFile, bookUpdate, false);
  Bytes newDivided = Merged(dividedFile, dividedUpdate, true);
  if (newBook.empty() || newDivided.empty()) {
    std::fprintf(stderr, "make_sample_release: the new books could not be made\n");
    return 1;
  }
  bool written = WriteFile(oldFolder / "ZentrikB.exe", Text("MZ sample program, release 1.00\n")) &&
                 WriteFile(oldFolder / "readme.txt", Text("Kalvora Beta 1.00\r\n")) &&
                 WriteFile(oldFolder / "Data" / "joseki.bin", bookFile) &&
                 WriteFile(oldFolder / "Data" / "joseki64.bin", dividedFile) &&
                 WriteFile(newFolder / "ZentrikB.exe", Text("MZ sample program, release 1.01\n")) &&
                 WriteFile(newFolder / "readme.txt", Text("Kalvora Beta 1.01\r\n")) &&
                 WriteFile(newFolder / "Data" / "joseki.bin", newBook) &&
                 WriteFile(newFolder / "Data" / "joseki64.bin", newDivided);
  return written ? 0 : 1;
}
