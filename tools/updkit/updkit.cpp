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
    "  apply UPDATE_FILE INSTALL_FOLDER   apply an update file to an install folder\n"
    "\n"
    "updkit COMMAND --help explains a command.\n"
    "Exit codes: 0 success, 1 failure, 2 usage error.\n";

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* const* help;
};

const Command kCommands[] = {
    {"apply", ApplyCommand, &kApplyHelp},
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
