// Linux stand-in only: the file-open dialog is a question on the terminal.
// It names the filter, asks for the path of an existing file (an empty line
// cancels, as does the end of the input), and gives the file's full path
// with backslashes between folders, as the dialog of Windows gives it.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/file_open_dialog.h"
#include "platform/posix/terminal.h"

namespace kalvora {

bool FileOpenDialog::pick(const char* filter, char* file, uint32_t fileSize) {
  const char* description = filter;
  const char* pattern = filter + std::strlen(filter) + 1;
  terminal::Write("\nOpen: " + terminal::FromCp932(description) + " (" +
                  terminal::FromCp932(pattern) + ")\n");
  for (;;) {
    std::string typed;
    if (!terminal::AskLine("Path of the file (an empty line cancels): ", &typed)) return false;
    if (typed.empty()) return false;
    // The dialog takes only a file that exists (OFN_FILEMUSTEXIST).
    char resolved[PATH_MAX];
    struct stat info;
    if (realpath(typed.c_str(), resolved) == nullptr || stat(resolved, &info) != 0 ||
        !S_ISREG(info.st_mode)) {
      terminal::Write("No such file: " + typed + "\n");
      continue;
    }
    std::string path = resolved;
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    if (path.size() + 1 > fileSize) {
      terminal::Write("The path is too long.\n");
      return false;
    }
    std::memcpy(file, path.c_str(), path.size() + 1);
    return true;
  }
}

}  // namespace kalvora
