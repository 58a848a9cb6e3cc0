// A sample product for the applier's tests: an install folder with a book,
// a divided book and a program file, and the package of a release for it.
#pragma once

#include <filesystem>
#include <vector>

#include "support/book_builder.h"
#include "support/package_builder.h"

namespace kalvora::test {

// How large a product's books are.
enum class ProductSize {
  Sample,  // a book of 60 nodes, divided-book parts of 1 to 7 nodes
  Tiny,    // a book of 3 nodes, divided-book parts empty but part 3 (one
           // node): its update file is a few hundred bytes, for tests that
           // try every change of it
};

// The install folder: Data\joseki.bin (a book), Data\div.bin (a divided
// book) and ZentrikB.exe.
struct Product {
  explicit Product(ProductSize size = ProductSize::Sample);

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

// Checks that the content each release target had in `before` is still in
// `after`, under the target's own name or under its old copy's.
void ExpectFormerContentKept(const FolderSnapshot& before, const FolderSnapshot& after);

// Checks a folder against the expected one; with a release, the divided
// book is compared part by part, since only the tool writes its layout.
void ExpectFolder(const std::filesystem::path& folder, const FolderSnapshot& expected,
                  const Release* release = nullptr);

}  // namespace kalvora::test
