// updkit from the command line: usage, exit codes, and apply's report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/package_builder.h"
#include "support/run_program.h"
#include "support/sample_product.h"
#include "support/temp_folder.h"

namespace kalvora {
namespace {

using test::Bytes;
using test::FolderSnapshot;
using test::PackageBuilder;

test::ProgramRun Updkit(const std::vector<std::string>& arguments) {
  return test::RunProgram(UPDKIT_PATH, arguments);
}

TEST(Updkit, UsageAndHelp) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    const char* says;  // in stdout or stderr
  } cases[] = {
      {{}, 2, "usage: updkit COMMAND"},
      {{"--help"}, 0, "apply UPDATE_FILE INSTALL_FOLDER"},
      {{"apply", "--help"}, 0, "old-copy name"},
      {{"apply"}, 2, "expected UPDATE_FILE and INSTALL_FOLDER"},
      {{"apply", "a", "b", "c"}, 2, "expected UPDATE_FILE and INSTALL_FOLDER"},
      {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    test::ProgramRun run = Updkit(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
  }
}

TEST(Updkit, ApplyReportsEachRecordAndUpdatesTheFolder) {
  test::Product product;
  test::Release release(product);
  test::TempFolder work;
  std::filesystem::create_directory(work.path() / "install");
  test::Populate(work.path() / "install", product.files);
  test::WriteFileBytes(work.file("updb.dat"), test::MakeUpdateFile(release.package));
  test::ProgramRun run =
      Updkit({"apply", work.file("updb.dat"), (work.path() / "install").string()});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  for (const char* line : {"book          Data\\joseki.bin", "divided book  Data\\div.bin",
                           "file          ZentrikB.exe", "applied 3 records to "}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
  }
  test::ExpectFolder(work.path() / "install", release.applied(product), &release);
}

TEST(Updkit, ApplyFailuresNameTheFileOrRecordAndTheReason) {
  Bytes outside =
      PackageBuilder().replace("a.old", "a.txt", {1}).replace("b.old", "..\\b.txt", {2}).bytes();
  Bytes readOnly =
      PackageBuilder().replace("a.old", "a.txt", {1}).replace("r.old", "r.txt", {2}).bytes();
  struct Case {
    const char* name;
    Bytes updateFile;  // empty: no update file at all
    bool folder;
    std::string stdoutHas;
    std::string stderrHas;
    FolderSnapshot after;
  } cases[] = {
      {"missing update file",
       {},
       true,
       "",
       "updb.dat: the update file cannot be opened",
       {{"a.txt", {0}}, {"r.txt", {0}}}},
      {"damaged update file",
       Bytes{1, 2, 3},
       true,
       "",
       "updb.dat: the update file is cut short",
       {{"a.txt", {0}}, {"r.txt", {0}}}},
      {"missing folder", test::MakeUpdateFile(outside), false, "", "no such folder", {}},
      {"name outside the folder",
       test::MakeUpdateFile(outside),
       true,
       "",
       "record 2 (file \"..\\b.txt\"): a name reaches outside the install folder; nothing was "
       "applied",
       {{"a.txt", {0}}, {"r.txt", {0}}}},
      {"read-only target",
       test::MakeUpdateFile(readOnly),
       true,
       "r.txt                                    FAILED",
       "record 2 (file \"r.txt\"): the target is read-only",
       {{"a.txt", {1}}, {"a.old", {0}}, {"r.txt", {0}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempFolder work;
    std::filesystem::path install = work.path() / "install";
    if (c.folder) {
      std::filesystem::create_directory(install);
      test::Populate(install, {{"a.txt", {0}}, {"r.txt", {0}}});
      std::filesystem::permissions(install / "r.txt", std::filesystem::perms::owner_read);
    }
    if (!c.updateFile.empty()) test::WriteFileBytes(work.file("updb.dat"), c.updateFile);
    test::ProgramRun run = Updkit({"apply", work.file("updb.dat"), install.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find(c.stdoutHas), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.stderrHas), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line on stderr";
    if (c.folder) {
      EXPECT_EQ(test::Snapshot(install), c.after);
    }
  }
}

}  // namespace
}  // namespace kalvora
