// Linux stand-in only: the program's own file from /proc/self/exe, written
// with backslashes between folders as the logic expects of a path (the file
// layer turns them back into '/').
#include <unistd.h>

#include "platform/program_path.h"

namespace kalvora {

void ProgramPath::get(InstanceHandle /*instance*/, char* buffer, uint32_t size) {
  if (size == 0) return;
  ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
  if (length < 0) length = 0;  // no path: the tool's folder is the current one
  buffer[length] = '\0';
  for (ssize_t i = 0; i < length; ++i) {
    if (buffer[i] == '/') buffer[i] = '\\';
  }
}

}  // namespace kalvora
