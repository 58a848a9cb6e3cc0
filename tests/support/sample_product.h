// A sample product for the applier's tests: an install folder with a book,
// a divided book and a program file, and the package of a release for it.
#pragma once

#include <filesystem>
#include <vector>

#include "support/book_builder.h"
#include "support/package_builder.h"

namespace kalvora::test {

// The install folder: Data\joseki.bin (a book), Data\div.bin (a divided
// book) and ZentrikB.exe.
struct Product {
  Product();

  BookModel book;
  std::vector<BookModel> parts;
  FolderSnapshot files;
};

// A release: a put in the book, a delete in part 3 of the divided book, a
// new program file; old copies Data\joseki.old, Data\div.old, ZentrikB.old.
struct Release {
  explicit Release(const Product& product);

  // The install folder after the release was applied to the product.
  FolderSnapshot applied(const Product& product) const;

  Bytes package;
  BookModel book;                // the book afterwards
  std::vector<BookModel> parts;  // the divided book's parts afterwards
  Bytes program = {'M', 'Z', 9, 9, 9, 9};
};

// The pairs of a target and its old copy in the release, as snapshot names.
extern const char* const kReleaseFiles[3][2];

// Checks a folder against the expected one; with a release, the divided
// book is compared part by part, since only the tool writes its layout.
void ExpectFolder(const std::filesystem::path& folder, const FolderSnapshot& expected,
                  const Release* release = nullptr);

}  // namespace kalvora::test
