// updkit make, inspect and book check: update files made from two releases
// apply to give the new release, what an update cannot express falls back
// to a whole-file replace, and broken files are reported where they break.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "package/package_applier.h"
#include "package/update_record.h"
#include "support/book_builder.h"
#include "support/package_builder.h"
#include "support/run_program.h"
#include "support/temp_folder.h"
#include "tools/updkit/package_writer.h"
#include "tools/updkit/release_diff.h"

namespace kalvora {
namespace {

namespace fs = std::filesystem;
using test::BookModel;
using test::Bytes;
using test::FolderSnapshot;

test::ProgramRun Updkit(const std::vector<std::string>& arguments) {
  return test::RunProgram(UPDKIT_PATH, arguments);
}

// Two releases of an install folder under one temporary folder.
struct Releases {
  test::TempFolder folder;
  fs::path oldFolder = folder.path() / "old";
  fs::path newFolder = folder.path() / "new";

  Releases(const FolderSnapshot& before, const FolderSnapshot& after) {
    fs::create_directory(oldFolder);
    fs::create_directory(newFolder);
    test::Populate(oldFolder, before);
    test::Populate(newFolder, after);
  }

  // Plans the update, writes its package, applies it to a copy of the old
  // release and gives that folder's snapshot.
  FolderSnapshot applyPlan(const updkit::ReleasePlan& plan) {
    Bytes package;
    for (const auto& record : plan.records) {
      updkit::AppendRecord(package, record.kind, record.oldCopyName, record.targetName,
                           record.payload);
    }
    fs::path copy = folder.path() / "applied";
    fs::remove_all(copy);
    fs::copy(oldFolder, copy, fs::copy_options::recursive);
    EXPECT_EQ(
        ApplyPackage(package.data(), static_cast<uint32_t>(package.size()), copy.string().c_str()),
        kApplied);
    return test::Snapshot(copy);
  }
};

// A random change of a book: some moves deleted, some changed, some added,
// a few keys gone and a few new.
BookModel Change(BookModel book, std::mt19937& rng) {
  std::vector<uint64_t> keys;
  for (const auto& node : book.nodes) keys.push_back(node.first);
  for (uint64_t key : keys) {
    uint32_t low = static_cast<uint32_t>(key);
    uint32_t high = static_cast<uint32_t>(key >> 32);
    switch (rng() % 12) {
      case 0:
        book.remove(low, high, MoveCode(book.nodes[key].front()));
        break;
      case 1:
        book.nodes[key].back().second ^= 0x5A5A;
        break;
      case 2:
        book.put(low, high, {static_cast<uint32_t>(rng() & 0x7FFFFFFF), 3});
        break;
      case 3:
        book.nodes.erase(key);
        break;
      default:
        break;
    }
  }
  for (int i = 0; i < 5; ++i) {
    book.put(static_cast<uint32_t>(64 + rng() % 100000), static_cast<uint32_t>(rng()),
             {static_cast<uint32_t>(rng() % 4000), 1});
  }
  book.sortEntries();
  return book;
}

TEST(UpdkitMake, RoundTripsOverRandomReleases) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    BookModel book = test::RandomBook(rng, 1 + rng() % 300, 200 + rng() % 300, 3);
    std::vector<BookModel> parts;
    for (int i = 0; i < 64; ++i)
      parts.push_back(test::RandomBook(rng, 1 + rng() % 9, rng() % 30, 2));
    std::vector<BookModel> newParts;
    for (const auto& part : parts) newParts.push_back(rng() % 3 == 0 ? Change(part, rng) : part);
    Releases releases({{"Data/", {}},
                       {"Data/joseki.bin", test::MakeBookFile(book)},
                       {"Data/div.bin", test::MakeDividedBook(parts)},
                       {"ZentrikB.exe", {1, 2, 3}},
                       {"same.txt", {4}}},
                      {{"Data/", {}},
                       {"Data/joseki.bin", test::MakeBookFile(Change(book, rng))},
                       {"Data/div.bin", test::MakeDividedBook(newParts)},
                       {"ZentrikB.exe", {1, 2, 3, 4}},
                       {"same.txt", {4}},
                       {"Data/new.dat", {5, 6}}});
    updkit::ReleasePlan plan = updkit::PlanRelease(releases.oldFolder, releases.newFolder, {});
    EXPECT_TRUE(plan.errors.empty()) << plan.errors.front();
    EXPECT_TRUE(plan.warnings.empty()) << plan.warnings.front();
    ASSERT_EQ(plan.records.size(), 4u) << "same.txt is unchanged";
    EXPECT_EQ(plan.records[0].kind, kDividedBookMerge);
    EXPECT_EQ(plan.records[1].kind, kBookMerge);
    EXPECT_EQ(plan.records[2].kind, kFileReplace);

    // The folder the update leaves: the new release, its books compared as
    // tables, plus the old copies.
    FolderSnapshot applied = releases.applyPlan(plan);
    FolderSnapshot wanted = test::Snapshot(releases.newFolder);
    for (const auto& [name, bytes] : wanted) {
      SCOPED_TRACE(name);
      ASSERT_EQ(applied.count(name), 1u);
      if (name == "Data/joseki.bin") {
        EXPECT_EQ(test::ParseBlock(applied[name], 8), test::ParseBlock(bytes, 8));
      } else if (name == "Data/div.bin") {
        EXPECT_TRUE(test::ParseDividedBook(applied[name]) == newParts);
      } else {
        EXPECT_EQ(applied[name], bytes);
      }
    }
    EXPECT_EQ(applied.size(), wanted.size() + 3) << "old copies of the three files that were there";
  }
}

// Changes an update cannot express become whole-file replaces with a warning
// naming the file and the reason, and the update still gives the new release.
TEST(UpdkitMake, WhatAnUpdateCannotExpressFallsBackToAReplace) {
  BookModel book;
  book.buckets = 13;
  for (uint32_t i = 0; i < 40; ++i) book.put(100 + 7 * i, i, {i + 1, i});
  book.put(10, 77, {5, 5});  // a low word below 64: fine while unchanged
  auto table = [](const BookModel& model) { return test::SerializeModel(model); };
  auto bookFile = [](const Bytes& serialized) {
    return test::ByteWriter()
        .raw(std::string("ZuDaVo5", 8))
        .raw(test::MakeBlock(serialized))
        .bytes();
  };
  struct Case {
    const char* name;
    std::function<Bytes()> newBook;
    const char* reason;
  } cases[] = {
      {"bucket count",
       [&] {
         BookModel b = book;
         b.buckets = 14;
         return bookFile(table(b));
       },
       "the bucket count changed from 13 to 14"},
      {"low word below 64",
       [&] {
         BookModel b = book;
         b.put(10, 77, {6, 6});
         return bookFile(table(b));
       },
       "key 0000004D0000000A changes"},
      {"low word all ones",
       [&] {
         BookModel b = book;
         b.put(0xFFFFFFFF, 1, {6, 6});
         return bookFile(table(b));
       },
       "low word is below 64 or 0xFFFFFFFF"},
      {"entry that reads as a delete",
       [&] {
         BookModel b = book;
         b.put(100, 0, {0xFFFF0009, 0xFFFFFFFF});
         b.sortEntries();
         return bookFile(table(b));
       },
       "reads as a delete item"},
      {"moves out of order",
       [&] {
         BookModel b = book;
         b.put(107, 1, {0, 9});
         return bookFile(table(b));
       },
       "not in move-code order"},
      {"bytes after the table",
       [&] {
         Bytes t = table(book);
         t.push_back(0);
         return bookFile(t);
       },
       "cannot give the new table byte for byte"},
      {"new book that does not load",
       [&] {
         Bytes t = table(book);
         t[0] = 0;
         return bookFile(t);
       },
       "the new book does not load"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes newBook = c.newBook();
    Releases releases({{"j.bin", test::MakeBookFile(book)}}, {{"j.bin", newBook}});
    updkit::ReleasePlan plan = updkit::PlanRelease(releases.oldFolder, releases.newFolder, {});
    ASSERT_EQ(plan.records.size(), 1u);
    EXPECT_EQ(plan.records[0].kind, kFileReplace);
    ASSERT_EQ(plan.warnings.size(), 1u);
    EXPECT_TRUE(test::Has(plan.warnings[0], "j.bin: replaced whole: ")) << plan.warnings[0];
    EXPECT_TRUE(test::Has(plan.warnings[0], c.reason)) << plan.warnings[0];
    EXPECT_EQ(releases.applyPlan(plan)["j.bin"], newBook);
  }

  // In a divided book, one part that cannot be expressed makes the whole
  // file a replace, and the warning names the part.
  std::vector<BookModel> parts(64, book);
  std::vector<BookModel> changed = parts;
  changed[9].buckets = 5;
  Releases divided({{"d.bin", test::MakeDividedBook(parts)}},
                   {{"d.bin", test::MakeDividedBook(changed)}});
  updkit::ReleasePlan plan = updkit::PlanRelease(divided.oldFolder, divided.newFolder, {});
  ASSERT_EQ(plan.warnings.size(), 1u);
  EXPECT_TRUE(
      test::Has(plan.warnings[0], "d.bin: replaced whole: part 9: the bucket count changed"))
      << plan.warnings[0];
  EXPECT_EQ(plan.records.at(0).kind, kFileReplace);
}

TEST(UpdkitMake, RefusesWhatCannotBeDelivered) {
  struct Case {
    const char* name;
    FolderSnapshot before, after;
    updkit::MakeOptions options;
    const char* error;  // empty: no error
  } cases[] = {
      {"deleted file",
       {{"a.txt", {1}}, {"b.txt", {2}}},
       {{"a.txt", {1}}},
       {},
       "b.txt: deleted in the new release"},
      {"deleted file, ignored",
       {{"a.txt", {1}}, {"b.txt", {2}}},
       {{"a.txt", {1}}},
       {"{name}.{crc}.old", true},
       ""},
      {"new folder",
       {{"a.txt", {1}}},
       {{"a.txt", {1}}, {"Sub/b.txt", {2}}},
       {},
       "Sub/b.txt: its folder is new"},
      {"old-copy name taken",
       {{"a.txt", {1}}, {"a.txt.bak", {9}}},
       {{"a.txt", {2}}, {"a.txt.bak", {9}}},
       {"{name}.bak", false},
       "is taken by a file"},
      {"old-copy names of two records alike",
       {{"a.txt", {1}}, {"A.TXT", {1}}},
       {{"a.txt", {2}}, {"A.TXT", {2}}},
       {"{name}.old", false},
       "is the old-copy name of"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Releases releases(c.before, c.after);
    updkit::ReleasePlan plan =
        updkit::PlanRelease(releases.oldFolder, releases.newFolder, c.options);
    if (std::string(c.error).empty()) {
      EXPECT_TRUE(plan.errors.empty()) << plan.errors.front();
    } else {
      ASSERT_EQ(plan.errors.size(), 1u);
      EXPECT_TRUE(test::Has(plan.errors[0], c.error)) << plan.errors[0];
    }
  }
}

TEST(UpdkitMake, CommandWritesTheSameBytesEveryTimeAndChecksItsWork) {
  std::mt19937 rng(77);
  BookModel book = test::RandomBook(rng, 31, 100, 3);
  Releases releases({{"j.bin", test::MakeBookFile(book)}, {"x.exe", {1}}},
                    {{"j.bin", test::MakeBookFile(Change(book, rng))}, {"x.exe", {2}}});
  std::string first = releases.folder.file("first.dat");
  std::string second = releases.folder.file("second.dat");
  test::ProgramRun run =
      Updkit({"make", releases.oldFolder.string(), releases.newFolder.string(), "-o", first});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(test::Has(run.out, "checked: the update applied to a copy of")) << run.out;
  EXPECT_TRUE(test::Has(run.out, "j.bin.")) << run.out;
  Updkit({"make", releases.oldFolder.string(), releases.newFolder.string(), "-o", second});
  EXPECT_EQ(test::ReadFileBytes(first), test::ReadFileBytes(second));

  // The update file applies with apply to give the new release.
  fs::path copy = releases.folder.path() / "copy";
  fs::copy(releases.oldFolder, copy, fs::copy_options::recursive);
  EXPECT_EQ(Updkit({"apply", first, copy.string()}).exitCode, 0);
  EXPECT_EQ(test::Snapshot(copy)["x.exe"], Bytes{2});

  // A failure leaves no update file behind.
  fs::remove(releases.newFolder / "x.exe");
  std::string third = releases.folder.file("third.dat");
  run = Updkit({"make", releases.oldFolder.string(), releases.newFolder.string(), "-o", third});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(test::Has(run.err, "x.exe: deleted in the new release")) << run.err;
  bool exists = true;
  test::ReadFileBytes(third, &exists);
  EXPECT_FALSE(exists);

  struct Case {
    std::vector<std::string> arguments;
    const char* says;
  } usage[] = {
      {{"make", "a"}, "expected OLD_FOLDER and NEW_FOLDER"},
      {{"make", "a", "b"}, "expected -o UPDATE_FILE"},
      {{"make", "a", "b", "-o"}, "-o needs a file name"},
      {{"make", "a", "b", "-o", "u", "--old-copy", "x"}, "needs {name}"},
      {{"make", "a", "b", "-o", "u", "--frob"}, "unknown option --frob"},
  };
  for (const Case& c : usage) {
    SCOPED_TRACE(c.says);
    test::ProgramRun bad = Updkit(c.arguments);
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(test::Has(bad.err, c.says)) << bad.err;
  }
}

TEST(UpdkitInspect, ListsRecordsAndNamesWhereAFileBreaks) {
  test::Bytes package = test::PackageBuilder()
                            .book("j.old", "j.bin",
                                  test::UpdateStreamBuilder()
                                      .group(64, 0, {{1, 1}, test::DeleteItem(2)})
                                      .terminator()
                                      .bytes())
                            .replace("x.old", "x.exe", {1, 2, 3})
                            .bytes();
  test::TempFolder folder;
  std::string good = folder.file("good.dat");
  test::WriteFileBytes(good, test::MakeUpdateFile(package));
  test::ProgramRun run = Updkit({"inspect", good});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(test::Has(run.out, "2 records")) << run.out;
  EXPECT_TRUE(test::Has(run.out, "1  book  j.bin   j.old     1 group, 1 put, 1 delete")) << run.out;
  EXPECT_TRUE(test::Has(run.out, "2  file  x.exe   x.old     3 bytes")) << run.out;
  run = Updkit({"inspect", good, "--json"});
  EXPECT_TRUE(test::Has(run.out,
                        "\"kind\":\"book\",\"target\":\"j.bin\",\"oldCopy\":\"j.old\","
                        "\"groups\":1,\"puts\":1,\"deletes\":1"))
      << run.out;

  struct Case {
    const char* name;
    Bytes file;
    std::string says;
  } broken[] = {
      {"not an update file", {1, 2, 3}, "the update file is cut short"},
      {"damaged zlib stream",
       [&] {
         Bytes b = test::MakeUpdateFile(package);
         b[12] ^= 0xFF;
         return b;
       }(),
       "does not inflate"},
      {"name outside",
       test::MakeUpdateFile(test::PackageBuilder().raw(package).replace("a", "..\\b", {}).bytes()),
       "record 3, at byte " + std::to_string(package.size()) +
           " of the package (target \"..\\b\"): "
           "a name reaches outside the install folder"},
      {"cut payload", test::MakeUpdateFile(test::Bytes(package.begin(), package.end() - 1)),
       "record 2, at byte 47 of the package (target \"x.exe\"): the package ends inside a record's "
       "payload"},
  };
  for (const Case& c : broken) {
    SCOPED_TRACE(c.name);
    std::string path = folder.file("broken.dat");
    test::WriteFileBytes(path, c.file);
    test::ProgramRun bad = Updkit({"inspect", path});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(test::Has(bad.err, c.says)) << bad.err;
  }
}

TEST(UpdkitBookCheck, ReportsEachProblemWithItsPlace) {
  BookModel book;
  book.buckets = 2;
  book.put(257, 256, {0x10, 7});
  book.put(257, 256, {0x20, 9});
  book.put(101, 100, {0x30, 1});
  book.put(100, 100, {0x40, 1});
  Bytes table = test::SerializeModel(book);  // node records at 24
  auto bookFile = [](const Bytes& serialized) {
    return test::ByteWriter()
        .raw(std::string("ZuDaVo5", 8))
        .raw(test::MakeBlock(serialized))
        .bytes();
  };
  // The book file of the table with one byte changed.
  auto bookFileWith = [&](std::size_t at, uint8_t value) {
    Bytes changed = table;
    changed[at] = value;
    return bookFile(changed);
  };
  struct Case {
    const char* name;
    std::function<Bytes()> file;
    const char* says;  // empty: well formed
  } cases[] = {
      {"good book", [&] { return bookFile(table); }, ""},
      {"good divided book", [&] { return test::MakeDividedBook(std::vector<BookModel>(64, book)); },
       ""},
      {"node count", [&] { return bookFileWith(4, 9); },
       "the header counts 9 nodes, the directory 3"},
      {"node index", [&] { return bookFileWith(18, 5); },
       "bucket 1: first node index 5, should be 1"},
      {"wrong bucket", [&] { return bookFileWith(24, 101); },
       "bucket 0, node 0 (key 0000006400000065): belongs in bucket 1"},
      {"out of order",
       [&] {
         Bytes t = table;
         for (int i = 0; i < 8; ++i) std::swap(t[37 + i], t[50 + i]);
         return bookFile(t);
       },
       "out of descending key order"},
      {"empty node", [&] { return bookFileWith(36, 0); }, "no entries"},
      {"repeated move", [&] { return bookFileWith(71, 0x20); }, "repeats the move code of entry"},
      {"trailing bytes",
       [&] {
         Bytes t = table;
         t.push_back(1);
         return bookFile(t);
       },
       "1 bytes after the last entry"},
      {"cut block",
       [&] {
         Bytes f = bookFile(table);
         f.pop_back();
         return f;
       },
       "the block is cut short"},
      {"damaged stream",
       [&] {
         Bytes f = bookFile(table);
         f[20] ^= 0xFF;
         return f;
       },
       "does not inflate"},
      {"part inside the directory",
       [&] {
         Bytes f = test::MakeDividedBook(std::vector<BookModel>(64, book));
         f[8 + 4 * 5] = 100;
         f[9 + 4 * 5] = 0;
         return f;
       },
       "part 5 at 100: lies inside the part directory"},
      {"nonzero fill",
       [&] {
         // Parts of growing size: some of them end in fill bytes.
         std::vector<BookModel> parts;
         for (uint32_t i = 0; i < 64; ++i) {
           parts.push_back(book);
           parts.back().put(1000 + i, 0, {i, i});
         }
         Bytes f = test::MakeDividedBook(parts);
         for (int part = 0; part < 63; ++part) {
           uint32_t offset = test::Dword(f, 8 + 4 * part);
           uint32_t end = offset + 8 + test::Dword(f, offset);
           if (test::Dword(f, 12 + 4 * part) > end) {
             f[end] = 7;
             break;
           }
         }
         return f;
       },
       "is not 0"},
  };
  test::TempFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = folder.file("book.bin");
    test::WriteFileBytes(path, c.file());
    test::ProgramRun run = Updkit({"book", "check", path});
    if (std::string(c.says).empty()) {
      EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
      EXPECT_TRUE(test::Has(run.out, "well-formed")) << run.out;
    } else {
      EXPECT_EQ(run.exitCode, 1) << run.out;
      EXPECT_TRUE(test::Has(run.out + run.err, c.says)) << run.out << run.err;
    }
  }
}

}  // namespace
}  // namespace kalvora
