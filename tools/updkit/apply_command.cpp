// updkit apply: applies an update file to an install folder with the code
// the Windows program uses, without any prompt.
#include <cstdio>

#include "package/package_applier.h"
#include "package/update_file.h"
#include "platform/file_system.h"
#include "tools/updkit/commands.h"
#include "tools/updkit/output.h"

namespace kalvora::updkit {

const char* const kApplyHelp =
    "usage: updkit apply UPDATE_FILE INSTALL_FOLDER\n"
    "\n"
    "Applies UPDATE_FILE to the product installed in INSTALL_FOLDER, as the update\n"
    "program does once the user has confirmed, and without any prompt.\n"
    "\n"
    "The whole package is checked first; a package that is damaged or names a\n"
    "file outside the folder is refused before any file is touched. Each rewritten\n"
    "file keeps its former content under the record's old-copy name. A record that\n"
    "fails leaves its file as it was; the records before it stay applied, and\n"
    "applying the same update file again completes the update.\n"
    "\n"
    "Prints one line per record: its kind, its target and what became of it.\n"
    "Exit codes: 0 the update was applied, 1 it was not (the reason on stderr),\n"
    "2 usage error.\n";

namespace {

// The reason of a failed record in one line, with the book's or the file
// system's own reason where there is one.
void PrintReason(std::FILE* out, const RecordOutcome& outcome) {
  std::fputs(DescribeApplyFault(outcome.fault), out);
  if (outcome.fault == ApplyFault::BookFailed || outcome.bookFault != BookFault::None) {
    std::fprintf(out, ": %s", DescribeBookFault(outcome.bookFault));
    if (outcome.part >= 0) std::fprintf(out, " (part %d)", outcome.part);
  }
  if (outcome.fileError != FileError::None) {
    std::fprintf(out, ": %s", DescribeFileError(outcome.fileError));
  }
}

class RecordPrinter : public ApplyObserver {
 public:
  explicit RecordPrinter(const char* updateFile) : updateFile_(updateFile) {}

  void recordDone(const RecordOutcome& outcome) override {
    const UpdateRecord& record = outcome.record;
    if (outcome.result == kApplied) {
      std::printf("%-13s %-40s applied\n", RecordKindName(record.kind), record.targetName);
      ++applied_;
      return;
    }
    if (!outcome.packageRefused) {
      std::printf("%-13s %-40s FAILED\n", RecordKindName(record.kind), record.targetName);
    }
    std::fprintf(stderr, "updkit: %s: record %d", updateFile_, outcome.index + 1);
    if (record.targetName[0] != '\0') {
      std::fprintf(stderr, " (%s \"%s\")", RecordKindName(record.kind), record.targetName);
    }
    std::fputs(": ", stderr);
    PrintReason(stderr, outcome);
    if (outcome.packageRefused) std::fputs("; nothing was applied", stderr);
    std::fputc('\n', stderr);
  }

  int applied() const { return applied_; }

 private:
  const char* updateFile_;
  int applied_ = 0;
};

}  // namespace

int ApplyCommand(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "updkit apply: expected UPDATE_FILE and INSTALL_FOLDER\n\n%s", kApplyHelp);
    return kExitUsage;
  }
  const char* updateFile = argv[0];
  const char* folder = argv[1];
  if (Files().pathKind(folder) != PathKind::Folder) {
    std::fprintf(stderr, "updkit: %s: no such folder\n", folder);
    return kExitFailure;
  }
  OwnedBuffer package;
  ApplyFault fault = ApplyFault::None;
  if (LoadUpdateFile(updateFile, &package, &fault) != 0) {
    std::fprintf(stderr, "updkit: %s: %s\n", updateFile, DescribeApplyFault(fault));
    return kExitFailure;
  }
  RecordPrinter printer(updateFile);
  int32_t result = ApplyPackage(package.data(), package.size(), folder, &printer);
  if (result != kApplied) return kExitFailure;
  std::printf("applied %d record%s to %s\n", printer.applied(), printer.applied() == 1 ? "" : "s",
              folder);
  return kExitSuccess;
}

}  // namespace kalvora::updkit
