// Writes the seed corpus of every fuzz target, made with the tests' own
// builders: make_fuzz_corpus FOLDER writes FOLDER/<target>/seed-<what>.
// The seeds are small valid inputs and near misses; the fuzzer mutates them.
// Run it again when a format changes, and check the result in.
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/book_builder.h"
#include "support/package_builder.h"
#include "support/sample_product.h"
#include "support/temp_folder.h"

namespace kalvora::test {
namespace {

std::filesystem::path root;

void Seed(const char* target, const std::string& what, const Bytes& bytes) {
  std::filesystem::path folder = root / target;
  std::filesystem::create_directories(folder);
  WriteFileBytes((folder / ("seed-" + what)).string(), bytes);
}

Bytes Join(std::initializer_list<Bytes> pieces) {
  ByteWriter out;
  for (const Bytes& piece : pieces) out.raw(piece);
  return out.bytes();
}

// A book merge input: the old book as a stored block, then the stream.
void MergeSeed(const std::string& what, const Bytes& blockAndStream) {
  Seed("book_merge", what, Join({{0}, blockAndStream}));
}

// The same with the old book as a serialized table, deflated by the target,
// and memory running out after `allocations` allocations (0: never).
void MergeTableSeed(const std::string& what, const BookModel& old, const Bytes& stream,
                    int allocations = 0) {
  Bytes table = SerializeModel(old);
  Seed("book_merge", what,
       Join({{static_cast<uint8_t>(1 | allocations << 1)},
             ByteWriter().u32(static_cast<uint32_t>(table.size())).bytes(),
             table,
             stream}));
}

BookModel Example53() {
  BookModel model;
  model.buckets = 2;
  model.nodes[KeyOf(257, 256)] = {{0x00050010, 7}, {0x00030020, 9}};
  return model;
}

// One node holding `count` entries, move codes 1 to count.
BookModel OneNode(int count) {
  BookModel model;
  for (int code = 1; code <= count; ++code) model.put(100, 7, {static_cast<uint32_t>(code), 0});
  return model;
}

void Books(std::mt19937& rng) {
  BookModel empty;
  BookModel small = RandomBook(rng, 5, 12, 3);
  struct Named {
    const char* what;
    BookModel model;
  } books[] = {{"empty", empty},
               {"example-53", Example53()},
               {"small", small},
               {"many-buckets", RandomBook(rng, 61, 40, 2)},
               {"full-node", OneNode(255)}};
  for (const Named& book : books) {
    Seed("book_table", book.what, SerializeModel(book.model));
    Seed("book_block", book.what, MakeBlock(SerializeModel(book.model)));
    Seed("book_check", book.what, MakeBookFile(book.model));
  }
  Bytes cut = MakeBookFile(small);
  cut.resize(cut.size() - 3);
  Seed("book_check", "cut-short", cut);

  uint64_t firstKey = small.nodes.begin()->first;
  auto low = static_cast<uint32_t>(firstKey);
  auto high = static_cast<uint32_t>(firstKey >> 32);
  uint16_t code = MoveCode(small.nodes.begin()->second.front());
  Bytes smallBlock = MakeBlock(SerializeModel(small));
  MergeSeed("terminator-only", Join({smallBlock, UpdateStreamBuilder().terminator().bytes()}));
  MergeSeed("put-replace-delete",
            Join({smallBlock, UpdateStreamBuilder()
                                  .group(1234, 5678, {{0x42, 7}, {0x43, 8}})
                                  .group(low, high, {{code, 99}, DeleteItem(code), {0x0007, 1}})
                                  .terminator(63)
                                  .bytes()}));
  MergeSeed("put-then-delete", Join({smallBlock, UpdateStreamBuilder()
                                                     .group(999, 1, {{5, 5}, DeleteItem(5)})
                                                     .group(64, 0, {})
                                                     .terminator(0xFFFFFFFF)
                                                     .bytes()}));
  MergeSeed("end-of-data-ends-it",
            Join({smallBlock, UpdateStreamBuilder().group(0xFFFFFFFE, 3, {{1, 1}}).bytes()}));
  MergeSeed("empty-book",
            Join({MakeBlock(SerializeModel(empty)),
                  UpdateStreamBuilder().group(77, 77, {{1, 2}}).terminator().bytes()}));
  MergeSeed("node-full",
            Join({MakeBlock(SerializeModel(OneNode(254))),
                  UpdateStreamBuilder().group(100, 7, {{300, 0}, {301, 0}}).terminator().bytes()}));
}

void TableMerges(std::mt19937& rng) {
  BookModel small = RandomBook(rng, 3, 6, 2);
  Bytes puts = UpdateStreamBuilder().group(1234, 5678, {{0x42, 7}, {0x43, 8}}).terminator().bytes();
  MergeTableSeed("table-put", small, puts);
  MergeTableSeed("table-full-node", OneNode(255),
                 UpdateStreamBuilder().group(100, 7, {{300, 0}}).terminator().bytes());
  MergeTableSeed("table-out-of-memory", small, puts, 3);
}

void DividedBooks() {
  Product product(ProductSize::Tiny);
  auto seed = [](const char* what, const Bytes& file, const std::vector<Bytes>& streams) {
    ByteWriter payload;
    payload.u32(0);
    for (const Bytes& stream : streams) payload.raw(stream);
    Seed("divided_book", what,
         ByteWriter()
             .u8(0)
             .u32(static_cast<uint32_t>(file.size()))
             .raw(file)
             .raw(payload.bytes())
             .bytes());
  };
  std::vector<Bytes> terminators(64, UpdateStreamBuilder().terminator().bytes());
  Bytes file = MakeDividedBook(product.parts);
  seed("terminators", file, terminators);
  std::vector<Bytes> streams = terminators;
  streams[3] = UpdateStreamBuilder().group(500, 1, {{9, 9}}).terminator().bytes();
  streams[63] = UpdateStreamBuilder().group(70, 70, {{1, 1}, DeleteItem(1)}).terminator().bytes();
  seed("groups", file, streams);
  std::vector<int> reversed;
  for (int i = 63; i >= 0; --i) reversed.push_back(i);
  seed("parts-reversed-with-gaps", MakeDividedBook(product.parts, reversed, 4), terminators);
  Seed("book_check", "divided", file);
  Seed("book_check", "divided-reversed-with-gaps", MakeDividedBook(product.parts, reversed, 4));
}

void Packages() {
  Product product(ProductSize::Tiny);
  Release release(product);
  Bytes replace = PackageBuilder().replace("ZentrikB.old", "ZentrikB.exe", {'M', 'Z', 7}).bytes();
  Bytes book = PackageBuilder()
                   .book("Data\\joseki.old", "Data\\joseki.bin",
                         UpdateStreamBuilder().group(1234, 5678, {{0x42, 7}}).terminator().bytes())
                   .bytes();
  std::vector<Bytes> streams(64, UpdateStreamBuilder().terminator().bytes());
  Bytes divided = PackageBuilder().dividedBook("Data\\div.old", "Data\\div.bin", streams).bytes();

  Seed("update_file", "release", MakeUpdateFile(release.package));
  Seed("update_file", "empty-package", MakeUpdateFile({}));
  Bytes roomy = MakeUpdateFile(replace);
  roomy[5] = 0x10;  // a raw length above the package's
  Seed("update_file", "roomy-raw-length", roomy);

  struct Named {
    const char* what;
    Bytes package;
  } packages[] = {
      {"release", release.package},
      {"book", book},
      {"divided-book", divided},
      {"replace", replace},
      {"end-after-kind-3", PackageBuilder().raw(replace).record(3, "x", "y", {}).raw(book).bytes()},
      {"subfolder-names",
       PackageBuilder().replace("Data\\old\\a.old", "Data\\old\\a", {1}).bytes()},
      {"read-only-target",
       PackageBuilder().raw(replace).replace("Readme.old", "Readme.txt", {1}).bytes()},
      {"old-copy-is-a-folder", PackageBuilder().replace("Data\\old", "ZentrikB.exe", {2}).bytes()},
      {"target-is-a-folder", PackageBuilder().replace("Data.old", "Data", {2}).bytes()},
      {"shared-old-copy",
       PackageBuilder().raw(replace).replace("ZentrikB.old", "Readme2.txt", {3}).bytes()},
      {"outside", PackageBuilder().raw(replace).replace("x.old", "..\\x", {4}).bytes()},
      {"old-copy-a-device", PackageBuilder().replace("NUL", "ZentrikB.exe", {5}).bytes()},
      {"old-copy-the-target-with-a-dot",
       PackageBuilder().replace("ZentrikB.exe.", "ZentrikB.exe", {6}).bytes()},
  };
  for (const Named& package : packages) {
    Seed("package_check", package.what, package.package);
    Seed("package_apply", package.what, Join({{0}, package.package}));
    Seed("update_listing", package.what, MakeUpdateFile(package.package));
  }
  Seed("update_listing", "roomy-raw-length", roomy);
  // Memory runs out part way through the divided book.
  Seed("package_apply", "release-out-of-memory", Join({{60}, release.package}));
}

}  // namespace
}  // namespace kalvora::test

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  kalvora::test::root = argv[1];
  std::mt19937 rng(6);
  kalvora::test::Books(rng);
  kalvora::test::TableMerges(rng);
  kalvora::test::DividedBooks();
  kalvora::test::Packages();
  return 0;
}
