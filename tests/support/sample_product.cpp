#include "support/sample_product.h"

#include <gtest/gtest.h>

#include <random>

namespace kalvora::test {

const char* const kReleaseFiles[3][2] = {{"Data/joseki.bin", "Data/joseki.old"},
                                         {"Data/div.bin", "Data/div.old"},
                                         {"ZentrikB.exe", "ZentrikB.old"}};

Product::Product(ProductSize size) {
  std::mt19937 rng(42);
  if (size == ProductSize::Tiny) {
    book = RandomBook(rng, 2, 3, 1);
    // The release deletes a move of part 3.
    for (int i = 0; i < 64; ++i) parts.push_back(RandomBook(rng, 1, i == 3 ? 1 : 0, 1));
  } else {
    book = RandomBook(rng, 17, 60, 3);
    for (int i = 0; i < 64; ++i) parts.push_back(RandomBook(rng, 3, 1 + i % 7, 2));
  }
  files["Data/"] = {};
  files["Data/joseki.bin"] = MakeBookFile(book);
  files["Data/div.bin"] = MakeDividedBook(parts);
  files["ZentrikB.exe"] = Bytes{'M', 'Z', 1, 2, 3};
}

Release::Release(const Product& product) : book(product.book), parts(product.parts) {
  std::vector<Bytes> streams(64, UpdateStreamBuilder().terminator().bytes());
  auto victim = parts[3].nodes.begin();
  uint32_t low = static_cast<uint32_t>(victim->first);
  uint32_t high = static_cast<uint32_t>(victim->first >> 32);
  uint16_t code = MoveCode(victim->second.front());
  streams[3] = UpdateStreamBuilder().group(low, high, {DeleteItem(code)}).terminator().bytes();
  parts[3].remove(low, high, code);
  book.put(1234, 5678, {0x0042, 7});
  book.sortEntries();
  for (auto& part : parts) part.sortEntries();
  package = PackageBuilder()
                .book("Data\\joseki.old", "Data\\joseki.bin",
                      UpdateStreamBuilder().group(1234, 5678, {{0x0042, 7}}).terminator().bytes())
                .dividedBook("Data\\div.old", "Data\\div.bin", streams)
                .replace("ZentrikB.old", "ZentrikB.exe", program)
                .bytes();
}

FolderSnapshot Release::applied(const Product& product) const {
  FolderSnapshot files = product.files;
  files["Data/joseki.old"] = files["Data/joseki.bin"];
  files["Data/div.old"] = files["Data/div.bin"];
  files["ZentrikB.old"] = files["ZentrikB.exe"];
  files["Data/joseki.bin"] = MakeBookFile(book);
  files["ZentrikB.exe"] = program;
  return files;
}

void ExpectFormerContentKept(const FolderSnapshot& before, const FolderSnapshot& after) {
  for (const auto& pair : kReleaseFiles) {
    auto former = before.find(pair[0]);
    if (former == before.end()) continue;
    auto target = after.find(pair[0]);
    auto oldCopy = after.find(pair[1]);
    bool kept = (target != after.end() && target->second == former->second) ||
                (oldCopy != after.end() && oldCopy->second == former->second);
    EXPECT_TRUE(kept) << pair[0] << " lost its former content";
  }
}

void ExpectFolder(const std::filesystem::path& folder, const FolderSnapshot& expected,
                  const Release* release) {
  FolderSnapshot actual = Snapshot(folder);
  FolderSnapshot wanted = expected;
  if (release != nullptr) {
    ASSERT_EQ(actual.count("Data/div.bin"), 1u);
    std::vector<BookModel> parts = ParseDividedBook(actual["Data/div.bin"]);
    EXPECT_TRUE(parts == release->parts);
    actual.erase("Data/div.bin");
    wanted.erase("Data/div.bin");
  }
  for (const auto& [name, bytes] : wanted) {
    auto found = actual.find(name);
    if (found == actual.end()) {
      ADD_FAILURE() << "missing " << name;
    } else {
      EXPECT_TRUE(found->second == bytes) << name << " differs";
    }
  }
  for (const auto& [name, bytes] : actual) {
    if (wanted.count(name) == 0) ADD_FAILURE() << "unexpected " << name;
  }
}

}  // namespace kalvora::test
