// Damaged update files: every single-bit flip and every truncation of a
// small valid update file (a book, a divided book and a replaced file),
// both of the file as stored and of the package inside it (re-deflated, as
// a file damaged before it was packed), either applies or fails, never
// leaving a record half-applied or a former content lost.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "package/package_applier.h"
#include "package/package_check.h"
#include "package/update_file.h"
#include "package/update_record.h"
#include "stream/memory_stream.h"
#include "support/apply_recorder.h"
#include "support/sample_product.h"
#include "support/temp_folder.h"

namespace kalvora {
namespace {

using test::Bytes;
using test::FolderSnapshot;

// Under wine, applying a divided book (64 merges, each with its own zlib
// state) takes tens of milliseconds, and trying every flip would take
// minutes. There the update file's flips are those of its header (the zlib
// stream's bytes reach the same portable code on every system), and the
// package's flips are those of the release without its divided book record,
// whose names reach the Windows file layer through the same calls as the
// other records' names. Linux tries every bit of the whole release.
#ifdef _WIN32
constexpr bool kWholeRelease = false;
#else
constexpr bool kWholeRelease = true;
#endif

// The package without its record number `index` (from 0).
Bytes WithoutRecord(const Bytes& package, int32_t index) {
  struct Offsets : PackageVisitor {
    std::vector<uint32_t> starts;
    void visit(const RecordSummary& summary) override { starts.push_back(summary.offset); }
  } records;
  MemoryStream stream;
  stream.attach(const_cast<uint8_t*>(package.data()), static_cast<uint32_t>(package.size()), true);
  EXPECT_EQ(CheckPackage(stream, &records).fault, ApplyFault::None);
  records.starts.push_back(static_cast<uint32_t>(package.size()));
  Bytes rest(package.begin(), package.begin() + records.starts.at(index));
  rest.insert(rest.end(), package.begin() + records.starts.at(index + 1), package.end());
  return rest;
}

// What became of the damaged update files.
struct Tally {
  long notLoaded = 0;  // the update file was refused
  long refused = 0;    // the package was refused before anything was touched
  long failed = 0;     // a record failed; the records before it stay applied
  long applied = 0;

  long total() const { return notLoaded + refused + failed + applied; }
};

class DamagedUpdate : public testing::Test {
 protected:
  DamagedUpdate() : product_(test::ProductSize::Tiny), release_(product_) {
    install_ = work_.path() / "install";
    updateFile_ = work_.file("updb.dat");
    std::filesystem::create_directory(install_);
  }

  // Applies the update file to a fresh install folder and checks what it
  // left there; gives the outcome, or the folder's state through `folder`.
  void Apply(const Bytes& updateFile, Tally& tally, FolderSnapshot* folder = nullptr) {
    // Only what the update before changed is put back.
    test::Restore(install_, current_, product_.files);
    // A new file each time: rewriting one in place makes some file systems
    // (ext4) write it out at once, which costs more than the whole update.
    std::filesystem::remove(updateFile_);
    test::WriteFileBytes(updateFile_, updateFile);
    OwnedBuffer package;
    if (LoadUpdateFile(updateFile_.c_str(), &package) != 0) {
      ++tally.notLoaded;
      current_ = test::Snapshot(install_);
      EXPECT_TRUE(current_ == product_.files) << "a refused update file changed the folder";
      if (folder != nullptr) *folder = current_;
      return;
    }
    test::ApplyRecorder recorder(install_, product_.files);
    int32_t result =
        ApplyPackage(package.data(), package.size(), install_.string().c_str(), &recorder);
    test::ExpectNothingHalfApplied(install_, result, recorder);
    FolderSnapshot after = test::Snapshot(install_);
    current_ = after;
    // A damaged name may give an old copy another name, so a former content
    // is looked for under every name.
    for (const auto& [name, bytes] : product_.files) {
      if (name.back() == '/') continue;
      bool kept = false;
      for (const auto& entry : after) kept |= entry.first.back() != '/' && entry.second == bytes;
      EXPECT_TRUE(kept) << name << " lost its former content";
    }
    if (result == kApplied) {
      ++tally.applied;
    } else if (recorder.outcomes.back().packageRefused) {
      ++tally.refused;
    } else {
      ++tally.failed;
    }
    if (folder != nullptr) *folder = after;
  }

  static void Print(const char* what, const Tally& tally) {
    std::printf(
        "%-28s %5ld: %5ld not loaded, %5ld refused, %5ld failed at a record, %5ld applied\n", what,
        tally.total(), tally.notLoaded, tally.refused, tally.failed, tally.applied);
  }

  test::Product product_;
  test::Release release_;
  test::TempFolder work_;
  std::filesystem::path install_;
  std::string updateFile_;
  FolderSnapshot current_;  // what the install folder holds
};

TEST_F(DamagedUpdate, EveryBitFlipAndTruncationOfTheStoredFile) {
  Bytes file = test::MakeUpdateFile(release_.package);
  FolderSnapshot clean;
  Tally intact;
  Apply(file, intact, &clean);
  ASSERT_EQ(intact.applied, 1);

  // The zlib stream's checksum stands guard over the package: a flip either
  // keeps the package as it was or the file is refused.
  Tally flips;
  for (std::size_t bit = 0; bit < file.size() * 8; ++bit) {
    if (!kWholeRelease && bit / 8 >= 8) break;  // past the header
    SCOPED_TRACE(testing::Message() << "bit " << bit % 8 << " of byte " << bit / 8 << " flipped");
    Bytes damaged = file;
    damaged[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    Tally one;
    FolderSnapshot after;
    Apply(damaged, one, &after);
    if (one.applied == 1) {
      EXPECT_TRUE(after == clean);
    }
    flips.notLoaded += one.notLoaded;
    flips.applied += one.applied;
    flips.refused += one.refused;
    flips.failed += one.failed;
    if (HasFailure()) return;
  }
  Print("bit flips of the file", flips);
  EXPECT_EQ(flips.refused + flips.failed, 0);

  Tally cuts;
  for (std::size_t size = 0; size < file.size(); ++size) {
    SCOPED_TRACE(testing::Message() << "cut to " << size << " bytes");
    Apply(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size)), cuts);
    if (HasFailure()) return;
  }
  Print("truncations of the file", cuts);
  EXPECT_EQ(cuts.notLoaded, cuts.total());
}

TEST_F(DamagedUpdate, EveryBitFlipAndTruncationOfThePackage) {
  const Bytes package = kWholeRelease ? release_.package : WithoutRecord(release_.package, 1);
  Tally flips;
  for (std::size_t bit = 0; bit < package.size() * 8; ++bit) {
    SCOPED_TRACE(testing::Message()
                 << "bit " << bit % 8 << " of package byte " << bit / 8 << " flipped");
    Bytes damaged = package;
    damaged[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    Apply(test::MakeUpdateFile(damaged), flips);
    if (HasFailure()) return;
  }
  Print("bit flips of the package", flips);

  Tally cuts;
  for (std::size_t size = 0; size < package.size(); ++size) {
    SCOPED_TRACE(testing::Message() << "package cut to " << size << " bytes");
    Apply(test::MakeUpdateFile(
              Bytes(package.begin(), package.begin() + static_cast<std::ptrdiff_t>(size))),
          cuts);
    if (HasFailure()) return;
  }
  Print("truncations of the package", cuts);
  EXPECT_EQ(cuts.failed, 0) << "a cut package is refused whole or ends at a record";
}

// Windows reads some names as other names: it drops a dot or a space at the
// end of a name or folder part, and takes the device names (NUL, CON, AUX,
// PRN, COM1 to COM9, LPT1 to LPT9, CONOUT$ and the like, with any
// extension) for devices, which look like existing files. An old-copy name
// that is the target, or a device, under another spelling would make the
// applier take the target's content for an old copy made before, and drop
// it. Such names are refused before anything is touched, on every system.
TEST(NamesWindowsReadsOtherwise, AreRefusedWithTheFolderUntouched) {
  struct Case {
    const char* oldCopy;
    const char* target;
  } cases[] = {
      {"ZentrikB.exe.", "ZentrikB.exe"},
      {"ZentrikB.exe ", "ZentrikB.exe"},
      {"ZentrikB.old", "ZentrikB.exe. ."},
      {"Data.\\joseki.bin", "Data\\joseki.bin"},
      {"Data \\joseki.bin", "Data\\joseki.bin"},
      {"NUL", "ZentrikB.exe"},
      {"nul.old", "ZentrikB.exe"},
      {"Data\\Con", "Data\\joseki.bin"},
      {"AUX .old", "ZentrikB.exe"},
      {"ZentrikB.old", "prn"},
      {"COM1", "ZentrikB.exe"},
      {"lpt9.txt", "ZentrikB.exe"},
      {"ZentrikB.old", "conout$"},
  };
  test::Product product(test::ProductSize::Tiny);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "\"" << c.oldCopy << "\" for \"" << c.target << "\"");
    test::TempFolder folder;
    test::Populate(folder.path(), product.files);
    Bytes package = test::PackageBuilder().replace(c.oldCopy, c.target, {'n', 'e', 'w'}).bytes();
    test::ApplyRecorder recorder;
    EXPECT_EQ(ApplyPackage(package.data(), static_cast<uint32_t>(package.size()),
                           folder.path().string().c_str(), &recorder),
              kApplyRefused);
    ASSERT_EQ(recorder.outcomes.size(), 1u);
    EXPECT_TRUE(recorder.outcomes[0].packageRefused);
    EXPECT_EQ(recorder.outcomes[0].fault, ApplyFault::NameUnusable)
        << DescribeApplyFault(recorder.outcomes[0].fault);
    EXPECT_TRUE(test::Snapshot(folder.path()) == product.files);
  }
  // Names that only look alike are no such names.
  for (const char* name : {"NULL", "CONSOLE.txt", "COM10", "LPT", "x.y", "Data\\.z", "a b"}) {
    EXPECT_EQ(CheckRecordName(name), ApplyFault::None) << name;
  }
}

}  // namespace
}  // namespace kalvora
