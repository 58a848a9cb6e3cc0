// updkit: makes, checks and applies update files.
#include <cstdio>
#include <cstring>

#include "tools/updkit/commands.h"

namespace {

using namespace kalvora::updkit;

const char kUsage[] =
    "usage: updkit COMMAND [ARGUMENTS]\n"
    "\n"
    "commands:\n"
    "  make OLD_FOLDER NEW_FOLDER -o UPDATE_FILE\n"
    "                                     make the update file between two releases\n"
    "  inspect UPDATE_FILE [--json]       check an update file and list its records\n"
    "  apply UPDATE_FILE INSTALL_FOLDER   apply an update file to an install folder\n"
    "  book dump FILE [--json] [--key K]  show a book or divided book\n"
    "  book check FILE                    check that a book or divided book is well formed\n"
    "\n"
    "updkit COMMAND --help explains a command.\n"
    "Exit codes: 0 success, 1 failure, 2 usage error.\n";

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* const* help;
};

const Command kCommands[] = {
    {"make", MakeCommand, &kMakeHelp},
    {"inspect", InspectCommand, &kInspectHelp},
    {"apply", ApplyCommand, &kApplyHelp},
    {"book", BookCommand, &kBookHelp},
};

bool IsHelp(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0 ||
         std::strcmp(argument, "help") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  if (IsHelp(argv[1])) {
    std::fputs(kUsage, stdout);
    return kExitSuccess;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) != 0) continue;
    for (int i = 2; i < argc; ++i) {
      if (IsHelp(argv[i])) {
        std::fputs(*command.help, stdout);
        return kExitSuccess;
      }
    }
    return command.run(argc - 2, argv + 2);
  }
  std::fprintf(stderr, "updkit: unknown command \"%s\"\n\n%s", argv[1], kUsage);
  return kExitUsage;
}
