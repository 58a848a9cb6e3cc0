// An install folder that stands in the update's way: a read-only target, a
// folder under the target's name, the old copy's, or the names the applier
// writes the new content to and sets an earlier target aside under, and (on
// Windows) a target another program holds open. For every record kind the
// record fails cleanly, through the applier and through updkit apply, and
// nothing in the folder is lost; the records before it stay applied.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "package/package_applier.h"
#include "package/update_record.h"
#include "support/apply_recorder.h"
#include "support/sample_product.h"
#include "support/temp_folder.h"
#include "support/updkit_in_process.h"

namespace kalvora {
namespace {

using test::FolderSnapshot;

enum class Load {
  ReadOnlyTarget,
  FolderAsTarget,
  FolderAsOldCopy,
  FolderAsNewContent,  // where the new content is written
  FolderAsSetAside,    // where a target written before is set aside
  TargetInUse,         // open in another program, without sharing (Windows only)
};

struct Case {
  const char* name;
  Load load;
  bool updatedBefore;  // the update was applied once already
  int32_t result;
  ApplyFault fault;
  FileError error;
};

const Case kCases[] = {
    {"target is read-only", Load::ReadOnlyTarget, false, kTargetFailed, ApplyFault::TargetReadOnly,
     FileError::None},
    {"target is a folder", Load::FolderAsTarget, false, kTargetFailed, ApplyFault::TargetNotAFile,
     FileError::None},
    {"old-copy name is a folder", Load::FolderAsOldCopy, false, kApplyRefused,
     ApplyFault::OldCopyNotAFile, FileError::None},
    {"a folder under the new content's name", Load::FolderAsNewContent, false, kTargetFailed,
     ApplyFault::TargetNotWritable, FileError::IsFolder},
    {"a folder under the set-aside name", Load::FolderAsSetAside, true, kTargetFailed,
     ApplyFault::TargetNotReplaced, FileError::Exists},
    {"target in use", Load::TargetInUse, false, kTargetFailed, ApplyFault::TargetNotMoved,
     FileError::InUse},
};

const char* const kKinds[] = {"book", "divided book", "file"};

// Another program's hold on a file, for as long as it lives: open for
// reading, sharing it for reading only, so that it cannot be renamed.
class Hold {
 public:
#ifdef _WIN32
  explicit Hold(const std::filesystem::path& file)
      : handle_(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
  }
  ~Hold() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

 private:
  HANDLE handle_;
#else
  explicit Hold(const std::filesystem::path&) {}
#endif
};

// Builds the loaded folder for the record `record` of the release.
FolderSnapshot Loaded(const Case& c, int record, const FolderSnapshot& installed,
                      const FolderSnapshot& updated) {
  FolderSnapshot files = c.updatedBefore ? updated : installed;
  std::string target = test::kReleaseFiles[record][0];
  std::string oldCopy = test::kReleaseFiles[record][1];
  auto folderAt = [&](const std::string& name) {
    files[name + "/"] = {};
    files[name + "/inside.txt"] = {'i', 'n'};
  };
  switch (c.load) {
    case Load::FolderAsTarget:
      files.erase(target);
      folderAt(target);
      break;
    case Load::FolderAsOldCopy:
      folderAt(oldCopy);
      break;
    case Load::FolderAsNewContent:
      folderAt(target + kTemporarySuffix);
      break;
    case Load::FolderAsSetAside:
      folderAt(target + kSetAsideSuffix);
      break;
    case Load::ReadOnlyTarget:
    case Load::TargetInUse:
      break;
  }
  return files;
}

// Populates the folder and applies the update one way or the other, with
// the target read-only or held while it runs.
template <class Run>
void WithLoad(const Case& c, const std::filesystem::path& folder, const FolderSnapshot& files,
              int record, Run run) {
  test::Populate(folder, files);
  std::filesystem::path target = folder / test::kReleaseFiles[record][0];
  auto writable = std::filesystem::status(target).permissions();
  if (c.load == Load::ReadOnlyTarget) {
    std::filesystem::permissions(target, std::filesystem::perms::owner_read);
  }
  if (c.load == Load::TargetInUse) {
    Hold hold(target);
    run();
  } else {
    run();
  }
  // A read-only file cannot be removed on Windows; the temporary folder goes.
  if (c.load == Load::ReadOnlyTarget) std::filesystem::permissions(target, writable);
}

TEST(LoadedFolder, ARecordInTheWayFailsCleanlyForEveryKind) {
  test::Product product(test::ProductSize::Tiny);
  test::Release release(product);
  FolderSnapshot updated;
  {
    test::TempFolder folder;
    test::Populate(folder.path(), product.files);
    ASSERT_EQ(ApplyPackage(release.package.data(), static_cast<uint32_t>(release.package.size()),
                           folder.path().string().c_str()),
              kApplied);
    updated = test::Snapshot(folder.path());
  }
  test::TempFolder work;
  std::string updateFile = work.file("updb.dat");
  test::WriteFileBytes(updateFile, test::MakeUpdateFile(release.package));

  for (const Case& c : kCases) {
#ifndef _WIN32
    if (c.load == Load::TargetInUse) continue;  // Linux has no sharing modes
#endif
    for (int record = 0; record < 3; ++record) {
      SCOPED_TRACE(testing::Message() << c.name << ", " << kKinds[record] << " record");
      FolderSnapshot files = Loaded(c, record, product.files, updated);

      // The applier.
      test::TempFolder folder;
      test::ApplyRecorder recorder;
      int32_t result = kApplied;
      FolderSnapshot before;
      WithLoad(c, folder.path(), files, record, [&] {
        recorder = test::ApplyRecorder(folder.path());
        before = recorder.start;
        result = ApplyPackage(release.package.data(), static_cast<uint32_t>(release.package.size()),
                              folder.path().string().c_str(), &recorder);
      });
      EXPECT_EQ(result, c.result);
      test::ExpectNothingHalfApplied(folder.path(), result, recorder);
      ASSERT_EQ(recorder.outcomes.size(), static_cast<std::size_t>(record + 1));
      const RecordOutcome& failed = recorder.outcomes.back();
      EXPECT_FALSE(failed.packageRefused);
      EXPECT_EQ(failed.fault, c.fault) << DescribeApplyFault(failed.fault);
      EXPECT_EQ(failed.fileError, c.error) << DescribeFileError(failed.fileError);
      FolderSnapshot after = test::Snapshot(folder.path());
      test::ExpectFormerContentKept(before, after);
      for (const auto& [name, bytes] : files) {
        if (name.find("inside.txt") != std::string::npos) {
          EXPECT_EQ(after[name], bytes) << name;
        }
      }

      // updkit apply: the same folder afterwards, and the record and the
      // reason in its one line on stderr.
      test::TempFolder again;
      test::UpdkitRun run;
      WithLoad(c, again.path(), files, record,
               [&] { run = test::RunUpdkitApply(updateFile, again.path().string()); });
      EXPECT_EQ(run.exitCode, 1);
      std::string target = test::kReleaseFiles[record][0];
      for (char& ch : target) ch = ch == '/' ? '\\' : ch;
      std::string says = "updkit: " + updateFile + ": record " + std::to_string(record + 1) + " (" +
                         kKinds[record] + " \"" + target + "\"): " + DescribeApplyFault(c.fault);
      if (c.error != FileError::None) says += std::string(": ") + DescribeFileError(c.error);
      EXPECT_EQ(run.err, says + "\n");
      EXPECT_TRUE(test::Snapshot(again.path()) == after);
    }
  }
}

}  // namespace
}  // namespace kalvora
