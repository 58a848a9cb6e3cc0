// Fuzz target: updkit book check and book dump on a book or divided book
// file. Each command either succeeds or fails (never a usage error), check
// and the report it prints come to the same verdict, and a file that check
// calls well formed is one the program merges: with an update that changes
// nothing, every block loads and the merge succeeds.
#include <cstdint>
#include <string>

#include "book/book_merge.h"
#include "book/divided_book.h"
#include "fuzz_support.h"
#include "tools/updkit/book_check.h"
#include "tools/updkit/commands.h"

namespace kalvora::fuzz {
namespace {

// Merges the file with updates that change nothing (one terminator per
// stream); true unless the merge refused the book itself.
bool MergesUnchanged(const uint8_t* data, size_t size, updkit::FileKind kind) {
  static const uint8_t nothing[4 + 4 * kDividedBookParts] = {};
  InputStream oldCopy(data, size);
  oldCopy.seek(8, false);
  OutputStream target;
  target.seek(8, false);
  BookFault fault = BookFault::None;
  if (kind == updkit::FileKind::Book) {
    InputStream package(nothing, 4);
    if (MergeBook(package, oldCopy, target, &fault) != kMergeFailed) return true;
  } else {
    InputStream package(nothing, sizeof nothing);
    if (MergeDividedBook(package, oldCopy, target, &fault) == 0) return true;
  }
  // A table that outgrows the fuzz target's output block says nothing of
  // the book.
  return fault == BookFault::WriteFailed;
}

}  // namespace
}  // namespace kalvora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kalvora;
  using namespace kalvora::fuzz;
  if (size > INT32_MAX) return 0;
  std::string path = WriteScratchFile("checked.bin", data, size);

  char check[] = "check";
  char dump[] = "dump";
  char json[] = "--json";
  char* checkArgs[] = {check, &path[0]};
  char* dumpArgs[] = {dump, &path[0]};
  char* jsonArgs[] = {dump, json, &path[0]};
  int checked = RunQuietly([&] { return updkit::BookCommand(2, checkArgs); });
  int dumped = RunQuietly([&] { return updkit::BookCommand(2, dumpArgs); });
  int dumpedJson = RunQuietly([&] { return updkit::BookCommand(3, jsonArgs); });
  for (int result : {checked, dumped, dumpedJson}) {
    Check(result == updkit::kExitSuccess || result == updkit::kExitFailure,
          "a book command ends otherwise than with success or failure");
  }
  Check(dumped == dumpedJson, "book dump --json comes to another verdict");

  updkit::Bytes bytes(data, data + size);
  updkit::BookCheck report = updkit::CheckBook(bytes, path);
  bool wellFormed = report.unreadable.empty() && report.problems.empty();
  Check(wellFormed == (checked == updkit::kExitSuccess),
        "book check's exit code says otherwise than its report");
  if (wellFormed) {
    updkit::FileKind kind = updkit::KindOf(bytes);
    Check(kind != updkit::FileKind::Other, "book check passed a file that is not a book");
    Check(MergesUnchanged(data, size, kind), "book check passed a book the merge refuses");
  }
  return 0;
}
