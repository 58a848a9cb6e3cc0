// updkit make: the update file that turns one release of an install folder
// into the next.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "package/update_record.h"
#include "tools/updkit/commands.h"
#include "tools/updkit/output.h"
#include "tools/updkit/package_writer.h"
#include "tools/updkit/release_diff.h"

namespace kalvora::updkit {

const char* const kMakeHelp =
    "usage: updkit make OLD_FOLDER NEW_FOLDER -o UPDATE_FILE [--old-copy PATTERN]\n"
    "                   [--ignore-deleted]\n"
    "\n"
    "Compares two releases of a product's install folder and writes the update file\n"
    "that turns the old one into the new one:\n"
    "  - a book (\"ZuDaVo5\") in both releases becomes a book merge: its update puts\n"
    "    the new and changed moves and deletes the removed ones, key by key;\n"
    "  - a divided book (\"JSKDIV1\") in both becomes a divided book merge, one update\n"
    "    per part;\n"
    "  - any other new or changed file is replaced whole;\n"
    "  - unchanged files get no record.\n"
    "A book change that an update cannot express (the bucket count changed, a key\n"
    "whose low word is below 64 or 0xFFFFFFFF, an entry that reads as a delete item,\n"
    "moves out of move-code order, a table a merge cannot give byte for byte) makes\n"
    "that file a whole-file replace, with a warning naming the file and the reason.\n"
    "A file deleted in the new release cannot be expressed: make fails, unless\n"
    "--ignore-deleted is given (the file then stays in installed folders). Files in\n"
    "folders that the old release lacks cannot be delivered either.\n"
    "\n"
    "Every rewritten file keeps its former content under its old-copy name,\n"
    "PATTERN with {name} the file's name and {crc} eight hex digits of the CRC-32\n"
    "of its content in the old release. The default, {name}.{crc}.old, keeps the\n"
    "old copies of different releases apart, and ties each name to the content it\n"
    "holds, which is what the applier relies on when an update is applied again.\n"
    "\n"
    "Before writing, make applies the update to a copy of OLD_FOLDER with the\n"
    "applier itself and checks that every file then equals NEW_FOLDER's (books\n"
    "compared as their inflated tables); any difference fails make. The same\n"
    "folders always give the same bytes.\n"
    "\n"
    "Exit codes: 0 written, 1 failure, 2 usage error.\n";

namespace {

int Usage(const char* problem) {
  std::fprintf(stderr, "updkit make: %s\n\n%s", problem, kMakeHelp);
  return kExitUsage;
}

}  // namespace

int MakeCommand(int argc, char** argv) {
  std::vector<std::string> folders;
  std::string output;
  MakeOptions options;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "-o") == 0 || std::strcmp(argv[i], "--output") == 0) {
      if (++i == argc) return Usage("-o needs a file name");
      output = argv[i];
    } else if (std::strcmp(argv[i], "--old-copy") == 0) {
      if (++i == argc) return Usage("--old-copy needs a pattern");
      options.oldCopyPattern = argv[i];
      if (options.oldCopyPattern.find("{name}") == std::string::npos) {
        return Usage("the --old-copy pattern needs {name}");
      }
    } else if (std::strcmp(argv[i], "--ignore-deleted") == 0) {
      options.ignoreDeleted = true;
    } else if (argv[i][0] == '-') {
      return Usage((std::string("unknown option ") + argv[i]).c_str());
    } else {
      folders.push_back(argv[i]);
    }
  }
  if (folders.size() != 2) return Usage("expected OLD_FOLDER and NEW_FOLDER");
  if (output.empty()) return Usage("expected -o UPDATE_FILE");
  for (const std::string& folder : folders) {
    if (!std::filesystem::is_directory(folder)) {
      std::fprintf(stderr, "updkit: %s: no such folder\n", folder.c_str());
      return kExitFailure;
    }
  }

  ReleasePlan plan = PlanRelease(folders[0], folders[1], options);
  for (const std::string& warning : plan.warnings) {
    std::fprintf(stderr, "updkit: warning: %s\n", Display(warning).c_str());
  }
  for (const std::string& error : plan.errors) {
    std::fprintf(stderr, "updkit: %s\n", Display(error).c_str());
  }
  if (!plan.errors.empty()) return kExitFailure;

  Bytes package;
  Table table;
  table.row({"kind", "target", "old copy", "content"});
  for (const PlannedRecord& record : plan.records) {
    AppendRecord(package, record.kind, record.oldCopyName, record.targetName, record.payload);
    table.row({RecordKindName(record.kind), Display(record.targetName), Display(record.oldCopyName),
               record.detail});
  }

  std::vector<std::string> problems;
  if (!VerifyPackage(folders[0], folders[1], plan, package, &problems)) {
    for (const std::string& problem : problems) {
      std::fprintf(stderr, "updkit: check failed: %s\n", Display(problem).c_str());
    }
    std::fprintf(stderr, "updkit: %s was not written\n", output.c_str());
    return kExitFailure;
  }

  Bytes file = MakeUpdateFile(package);
  std::FILE* out = file.empty() ? nullptr : std::fopen(output.c_str(), "wb");
  bool written = out != nullptr && std::fwrite(file.data(), 1, file.size(), out) == file.size();
  if (out != nullptr && std::fclose(out) != 0) written = false;
  if (!written) {
    std::fprintf(stderr, "updkit: %s: cannot be written\n", output.c_str());
    std::remove(output.c_str());
    return kExitFailure;
  }

  std::printf("%zu record%s from %s to %s\n", plan.records.size(),
              plan.records.size() == 1 ? "" : "s", folders[0].c_str(), folders[1].c_str());
  if (!plan.records.empty()) table.print(stdout, "  ");
  std::printf("checked: the update applied to a copy of %s gives %s\n", folders[0].c_str(),
              folders[1].c_str());
  std::printf("wrote %s: %zu bytes (package %zu bytes)\n", output.c_str(), file.size(),
              package.size());
  return kExitSuccess;
}

}  // namespace kalvora::updkit
