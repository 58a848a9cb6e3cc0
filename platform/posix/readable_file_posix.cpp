// Linux stand-in only: the test whether a file can be opened for reading,
// through the file layer, which takes the same paths as the rest of the tool.
#include "platform/file_system.h"
#include "platform/readable_file.h"

namespace kalvora {

bool CanOpenForReading(const char* path) {
  std::FILE* file = Files().open(path, true);
  if (file == nullptr) return false;
  Files().close(file);
  return true;
}

}  // namespace kalvora
