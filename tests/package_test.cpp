// The update file and the package applier: loading, the package's end
// conditions, paths, names that must be refused before anything is touched,
// and what a failing record leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "book/book_merge.h"
#include "package/package_applier.h"
#include "package/update_file.h"
#include "stream/allocation.h"
#include "stream/memory_stream.h"
#include "support/book_builder.h"
#include "support/package_builder.h"
#include "support/sample_product.h"
#include "support/temp_folder.h"

namespace kalvora {
namespace {

using test::BookModel;
using test::Bytes;
using test::ByteWriter;
using test::FolderSnapshot;
using test::PackageBuilder;
using test::Product;
using test::Release;
using test::UpdateStreamBuilder;

int32_t Apply(const Bytes& package, const std::string& folder, ApplyObserver* observer = nullptr) {
  return ApplyPackage(package.data(), static_cast<uint32_t>(package.size()), folder.c_str(),
                      observer);
}

struct Recorder : ApplyObserver {
  std::vector<RecordOutcome> outcomes;
  void recordDone(const RecordOutcome& outcome) override { outcomes.push_back(outcome); }
};

TEST(LoadUpdateFile, RefusesWhatCannotBeReadWhole) {
  test::TempFolder folder;
  Bytes package = PackageBuilder().replace("a.old", "a", {1, 2, 3}).bytes();
  Bytes good = test::MakeUpdateFile(package);
  struct Case {
    const char* name;
    Bytes file;
    bool create;
    ApplyFault fault;
  } cases[] = {
      {"missing", {}, false, ApplyFault::UpdateFileMissing},
      {"empty", {}, true, ApplyFault::UpdateFileShort},
      {"header cut", Bytes(good.begin(), good.begin() + 7), true, ApplyFault::UpdateFileShort},
      {"package cut", Bytes(good.begin(), good.end() - 1), true, ApplyFault::UpdateFileShort},
      {"compressed length huge",
       [&] {
         Bytes b = good;
         b[3] = 0xFF;
         return b;
       }(),
       true, ApplyFault::UpdateFileShort},
      {"raw length too small",
       [&] {
         Bytes b = good;
         b[4] = 1;
         return b;
       }(),
       true, ApplyFault::PackageNotInflated},
      {"zlib damaged",
       [&] {
         Bytes b = good;
         b[10] ^= 0x55;
         return b;
       }(),
       true, ApplyFault::PackageNotInflated},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = folder.file(std::string(c.name) + ".dat");
    if (c.create) test::WriteFileBytes(path, c.file);
    OwnedBuffer loaded;
    ApplyFault fault = ApplyFault::None;
    EXPECT_EQ(LoadUpdateFile(path.c_str(), &loaded, &fault), -1);
    EXPECT_EQ(fault, c.fault) << DescribeApplyFault(fault);
    EXPECT_EQ(loaded.data(), nullptr);
  }

  std::string path = folder.file("good.dat");
  test::WriteFileBytes(path,
                       ByteWriter().raw(good).u32(0xEEEEEEEE).bytes());  // trailing bytes unread
  OwnedBuffer loaded;
  ASSERT_EQ(LoadUpdateFile(path.c_str(), &loaded), 0);
  EXPECT_EQ(Bytes(loaded.data(), loaded.data() + loaded.size()), package);

  // A stated raw length above the package is no fault: the package is what inflates.
  Bytes roomy = good;
  roomy[5] = 0x10;
  test::WriteFileBytes(path, roomy);
  ASSERT_EQ(LoadUpdateFile(path.c_str(), &loaded), 0);
  EXPECT_EQ(loaded.size(), package.size());

  test::WriteFileBytes(path, test::MakeUpdateFile({}));
  ASSERT_EQ(LoadUpdateFile(path.c_str(), &loaded), 0);
  EXPECT_EQ(loaded.size(), 0u);
}

TEST(LoadUpdateFile, RunningOutOfMemoryIsAFailure) {
  test::TempFolder folder;
  std::string path = folder.file("u.dat");
  test::WriteFileBytes(path,
                       test::MakeUpdateFile(PackageBuilder().replace("a.old", "a", {1}).bytes()));
  for (long allowed = 0; allowed < 3; ++allowed) {
    FailAllocationsAfter(allowed);
    OwnedBuffer loaded;
    ApplyFault fault = ApplyFault::None;
    int32_t result = LoadUpdateFile(path.c_str(), &loaded, &fault);
    FailAllocationsAfter(-1);
    if (result == 0) break;
    EXPECT_EQ(fault, ApplyFault::NoMemory);
  }
}

TEST(ApplyPackage, AppliesABookADividedBookAndAFile) {
  test::TempFolder folder;
  Product product;
  Release release(product);
  test::Populate(folder.path(), product.files);
  Recorder recorder;
  EXPECT_EQ(Apply(release.package, folder.path().string(), &recorder), kApplied);
  test::ExpectFolder(folder.path(), release.applied(product), &release);
  ASSERT_EQ(recorder.outcomes.size(), 3u);
  for (const auto& outcome : recorder.outcomes) EXPECT_EQ(outcome.result, kApplied);
  EXPECT_STREQ(recorder.outcomes[2].record.targetName, "ZentrikB.exe");

  // The same update again: the old copies stay as they are, the books are
  // rebuilt from them, the file written again; the folder ends the same.
  FolderSnapshot once = test::Snapshot(folder.path());
  EXPECT_EQ(Apply(release.package, folder.path().string()), kApplied);
  EXPECT_EQ(test::Snapshot(folder.path()), once);
}

TEST(ApplyPackage, EndConditionsAndPaths) {
  Bytes file = {'n', 'e', 'w'};
  Bytes anyRecord = PackageBuilder().replace("late.old", "late.txt", {1}).bytes();
  struct Case {
    const char* name;
    Bytes package;
    FolderSnapshot before;
    FolderSnapshot after;
  } cases[] = {
      {"empty package", {}, {{"a.txt", {1}}}, {{"a.txt", {1}}}},
      {"ends right after a record",
       PackageBuilder().replace("a.old", "a.txt", file).bytes(),
       {{"a.txt", {1}}},
       {{"a.old", {1}}, {"a.txt", file}}},
      {"kind 3 ends it", PackageBuilder().record(3, "x", "y", {}).raw(anyRecord).bytes(), {}, {}},
      {"kind FFFFFFFF ends it",
       PackageBuilder().record(0xFFFFFFFF, "x", "y", {}).raw(anyRecord).bytes(),
       {},
       {}},
      {"old-copy name length 0",
       ByteWriter().u32(2).u8(0).raw(anyRecord).bytes(),
       {{"a.txt", {1}}},
       {{"a.txt", {1}}}},
      {"target name length 0",
       ByteWriter().u32(2).u8(6).raw(std::string("a.old", 6)).u8(0).raw(anyRecord).bytes(),
       {{"a.txt", {1}}},
       {{"a.txt", {1}}}},
      {"a 0 byte inside the name field ends the name",
       PackageBuilder()
           .replace(std::string("a.old\0junk", 10), std::string("a.txt\0zz", 8), file)
           .bytes(),
       {{"a.txt", {1}}},
       {{"a.old", {1}}, {"a.txt", file}}},
      {"a name field without a 0 byte is taken whole",
       ByteWriter()
           .u32(2)
           .u8(5)
           .raw(std::string("a.old"))
           .u8(5)
           .raw(std::string("a.txt"))
           .u32(3)
           .raw(file)
           .bytes(),
       {{"a.txt", {1}}},
       {{"a.old", {1}}, {"a.txt", file}}},
      {"no former file",
       PackageBuilder().replace("a.old", "a.txt", file).bytes(),
       {},
       {{"a.txt", file}}},
      {"empty content",
       PackageBuilder().replace("a.old", "a.txt", {}).bytes(),
       {{"a.txt", {1}}},
       {{"a.old", {1}}, {"a.txt", {}}}},
      {"into a subfolder",
       PackageBuilder().replace("Sub\\a.old", "Sub\\a.txt", file).bytes(),
       {{"Sub/a.txt", {1}}},
       {{"Sub/", {}}, {"Sub/a.old", {1}}, {"Sub/a.txt", file}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempFolder folder;
    test::Populate(folder.path(), c.before);
    EXPECT_EQ(Apply(c.package, folder.path().string()), kApplied);
    EXPECT_EQ(test::Snapshot(folder.path()), c.after);
  }
}

TEST(ApplyPackage, TheFolderWithOrWithoutItsBackslashOrNoneAtAll) {
  Bytes package = PackageBuilder().replace("a.old", "a.txt", {7}).bytes();
  FolderSnapshot after = {{"a.old", {1}}, {"a.txt", {7}}};
  for (const char* ending : {"", "\\"}) {
    SCOPED_TRACE(ending);
    test::TempFolder folder;
    test::Populate(folder.path(), {{"a.txt", {1}}});
    EXPECT_EQ(Apply(package, folder.path().string() + ending), kApplied);
    EXPECT_EQ(test::Snapshot(folder.path()), after);
  }
  // Without a folder the names stand alone, relative to the current folder.
  for (const char* none : {static_cast<const char*>(nullptr), ""}) {
    test::TempFolder folder;
    test::Populate(folder.path(), {{"a.txt", {1}}});
    auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    EXPECT_EQ(ApplyPackage(package.data(), static_cast<uint32_t>(package.size()), none), kApplied);
    std::filesystem::current_path(previous);
    EXPECT_EQ(test::Snapshot(folder.path()), after);
  }
}

// A package that could reach outside the folder, or that ends inside a
// record, is refused whole: even the good records before the bad one are
// not applied.
TEST(ApplyPackage, RefusesBadPackagesBeforeTouchingAnything) {
  Bytes good = PackageBuilder().replace("a.old", "a.txt", {9}).bytes();
  auto withRecord = [&](const std::string& oldName, const std::string& target) {
    return PackageBuilder().raw(good).replace(oldName, target, {1}).bytes();
  };
  Bytes cut = PackageBuilder().raw(good).replace("b.old", "b.txt", {1, 2, 3, 4}).bytes();
  Bytes bookRecord =
      PackageBuilder()
          .raw(good)
          .book("j.old", "j.bin", UpdateStreamBuilder().group(64, 0, {{1, 1}}).terminator().bytes())
          .bytes();
  struct Case {
    const char* name;
    Bytes package;
    ApplyFault fault;
  } cases[] = {
      {"parent folder", withRecord("x.old", "..\\x.txt"), ApplyFault::NameOutside},
      {"parent inside the name", withRecord("x.old", "Data\\..\\..\\x"), ApplyFault::NameOutside},
      {"parent with a slash", withRecord("x.old", "Data/../../x"), ApplyFault::NameOutside},
      {"dots and spaces", withRecord("x.old", ". .\\x"), ApplyFault::NameOutside},
      {"three dots", withRecord("...\\x.old", "x"), ApplyFault::NameOutside},
      {"drive letter", withRecord("x.old", "C:\\Windows\\x"), ApplyFault::NameOutside},
      {"drive-relative", withRecord("x.old", "C:x"), ApplyFault::NameOutside},
      {"stream colon", withRecord("x.old:s", "x"), ApplyFault::NameOutside},
      {"leading backslash", withRecord("x.old", "\\x"), ApplyFault::NameOutside},
      {"network path", withRecord("x.old", "\\\\server\\x"), ApplyFault::NameOutside},
      {"leading slash", withRecord("/tmp/x.old", "x"), ApplyFault::NameOutside},
      {"empty name", withRecord(std::string("\0x", 2), "x"), ApplyFault::NameOutside},
      {"empty folder part", withRecord("x.old", "Data\\\\x"), ApplyFault::NameOutside},
      {"trailing backslash", withRecord("x.old", "Data\\"), ApplyFault::NameOutside},
      {"temporary ending", withRecord("x.old", "x.KVNEW"), ApplyFault::NameReserved},
      {"old copy is the target", withRecord("Data\\X.bin", "data\\x.BIN"), ApplyFault::NamesEqual},
      {"cut inside the content", Bytes(cut.begin(), cut.end() - 1), ApplyFault::PayloadCutShort},
      {"cut inside the content length", Bytes(cut.begin(), cut.end() - 6),
       ApplyFault::PayloadCutShort},
      {"cut inside the target name", Bytes(cut.begin(), cut.end() - 12),
       ApplyFault::RecordCutShort},
      {"cut before the target name length", Bytes(cut.begin(), cut.end() - 15),
       ApplyFault::RecordCutShort},
      {"cut inside the old-copy name", Bytes(cut.begin(), cut.end() - 17),
       ApplyFault::RecordCutShort},
      {"cut inside the kind", Bytes(cut.begin(), cut.end() - 24), ApplyFault::RecordCutShort},
      {"cut inside a book group", Bytes(bookRecord.begin(), bookRecord.end() - 6),
       ApplyFault::PayloadCutShort},
      {"cut inside the divided book's head value",
       PackageBuilder().raw(good).record(1, "d.old", "d.bin", {0, 0}).bytes(),
       ApplyFault::PayloadCutShort},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempFolder folder;
    FolderSnapshot before = {{"a.txt", {1}}, {"x", {2}}, {"Data/", {}}};
    test::Populate(folder.path(), before);
    Recorder recorder;
    EXPECT_EQ(Apply(c.package, folder.path().string(), &recorder), kApplyRefused);
    EXPECT_EQ(test::Snapshot(folder.path()), before);
    ASSERT_EQ(recorder.outcomes.size(), 1u);
    EXPECT_EQ(recorder.outcomes[0].fault, c.fault)
        << DescribeApplyFault(recorder.outcomes[0].fault);
    EXPECT_EQ(recorder.outcomes[0].index, 1);
  }
}

// A record that fails leaves its target as it was; the records before it
// stay applied.
TEST(ApplyPackage, AFailingRecordLeavesItsTargetAsItWas) {
  Product product;
  Bytes brokenBook = product.files["Data/joseki.bin"];
  brokenBook[20] ^= 0xFF;  // inside the zlib stream
  Bytes first = PackageBuilder().replace("ZentrikB.old", "ZentrikB.exe", {5}).bytes();
  Bytes bookUpdate = UpdateStreamBuilder().group(99, 9, {{1, 1}}).terminator().bytes();
  struct Case {
    const char* name;
    FolderSnapshot before;
    Bytes second;  // the record that fails
    int32_t result;
    ApplyFault fault;
  } cases[] = {
      {"book that does not inflate",
       {{"Data/", {}}, {"Data/joseki.bin", brokenBook}},
       PackageBuilder().book("Data\\joseki.old", "Data\\joseki.bin", bookUpdate).bytes(),
       kApplyRefused,
       ApplyFault::BookFailed},
      {"book without target or old copy",
       {{"Data/", {}}},
       PackageBuilder().book("Data\\joseki.old", "Data\\joseki.bin", bookUpdate).bytes(),
       kApplyRefused,
       ApplyFault::OldCopyUnreadable},
      {"target is read-only",
       {{"r.txt", {3}}},
       PackageBuilder().replace("r.old", "r.txt", {4}).bytes(),
       kTargetFailed,
       ApplyFault::TargetReadOnly},
      {"target is a folder",
       {{"f.txt/", {}}},
       PackageBuilder().replace("f.old", "f.txt", {4}).bytes(),
       kTargetFailed,
       ApplyFault::TargetNotAFile},
      {"old-copy name is a folder",
       {{"g.txt", {3}}, {"g.old/", {}}},
       PackageBuilder().replace("g.old", "g.txt", {4}).bytes(),
       kApplyRefused,
       ApplyFault::OldCopyNotAFile},
      {"new file cannot be created",
       {{"h.txt", {3}}, {"h.txt.kvnew/", {}}},
       PackageBuilder().replace("h.old", "h.txt", {4}).bytes(),
       kTargetFailed,
       ApplyFault::TargetNotWritable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempFolder folder;
    FolderSnapshot before = c.before;
    before["ZentrikB.exe"] = {1};
    test::Populate(folder.path(), before);
    if (std::string(c.name) == "target is read-only") {
      std::filesystem::permissions(folder.path() / "r.txt", std::filesystem::perms::owner_read |
                                                                std::filesystem::perms::group_read);
    }
    Recorder recorder;
    Bytes package = PackageBuilder().raw(first).raw(c.second).bytes();
    EXPECT_EQ(Apply(package, folder.path().string(), &recorder), c.result);
    FolderSnapshot expected = before;
    expected["ZentrikB.old"] = {1};
    expected["ZentrikB.exe"] = {5};
    EXPECT_EQ(test::Snapshot(folder.path()), expected);
    ASSERT_EQ(recorder.outcomes.size(), 2u);
    EXPECT_EQ(recorder.outcomes[1].fault, c.fault)
        << DescribeApplyFault(recorder.outcomes[1].fault);
  }
}

TEST(ApplyPackage, OldCopyWithAnotherMagicIsStillMerged) {
  Product product;
  Release release(product);
  test::TempFolder folder;
  FolderSnapshot files = product.files;
  files["Data/joseki.bin"][0] = 'X';  // not "ZuDaVo5"
  files["Data/div.bin"][3] = 'X';     // not "JSKDIV1"
  test::Populate(folder.path(), files);
  ASSERT_EQ(Apply(release.package, folder.path().string()), kApplied);
  FolderSnapshot after = test::Snapshot(folder.path());
  EXPECT_EQ(Bytes(after["Data/joseki.bin"].begin(), after["Data/joseki.bin"].begin() + 8),
            Bytes(std::begin("ZuDaVo5"), std::end("ZuDaVo5")));
  EXPECT_EQ(test::ParseBlock(after["Data/joseki.bin"], 8), release.book);
  EXPECT_EQ(test::ParseDividedBook(after["Data/div.bin"]).size(), 64u);
}

TEST(ApplyPackage, AFolderEndingInADoubleByteCharacterGetsItsBackslash) {
  // "表" is 95 5C: its second byte looks like a backslash but is none.
  test::TempFolder temp;
  if (!test::SystemUsesCodePage932()) GTEST_SKIP() << "the system's ANSI code page is not 932";
  std::string folder = temp.path().string() + std::string(1, '\\') + "\x95\x5C";
  std::filesystem::create_directory(test::NativePath(folder));
  test::Populate(test::NativePath(folder), {{"a.txt", {1}}});
  Bytes package = PackageBuilder().replace("a.old", "a.txt", {2}).bytes();
  EXPECT_EQ(Apply(package, folder), kApplied);
  EXPECT_EQ(test::Snapshot(test::NativePath(folder)),
            (FolderSnapshot{{"a.old", {1}}, {"a.txt", {2}}}));
}

TEST(ReplaceFile, WritesTheContentOrRefusesAShortPayload) {
  Bytes payload = ByteWriter().u32(3).raw(Bytes{7, 8, 9}).u32(0xAAAA).bytes();
  Bytes target(10, 0);
  MemoryStream package, out;
  package.attach(payload.data(), static_cast<uint32_t>(payload.size()), true);
  out.attach(target.data(), 10, false);
  EXPECT_EQ(ReplaceFile(package, nullptr, out), 0);
  EXPECT_EQ(package.position, 7u);
  EXPECT_EQ(out.position, 3u);
  Bytes shortPayload = ByteWriter().u32(5).raw(Bytes{1, 2}).bytes();
  package.attach(shortPayload.data(), static_cast<uint32_t>(shortPayload.size()), true);
  EXPECT_EQ(ReplaceFile(package, nullptr, out), -1);
}

}  // namespace
}  // namespace kalvora
