// The full path of the running program's own file, from which the tool
// finds its own folder. Tests put a path of their choice in place with
// SetProgramPath.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace kalvora {

class ProgramPath {
 public:
  virtual ~ProgramPath() = default;

  // Writes the path of the program file of instance to buffer, an ANSI path
  // with backslashes between folders, NUL-terminated within size bytes (cut
  // short when longer).
  virtual void get(InstanceHandle instance, char* buffer, uint32_t size);
};

// The source in use: the system's own unless a test set another.
ProgramPath& OwnProgramPath();

// Puts a source in place; null puts the system's own back.
void SetProgramPath(ProgramPath* source);

}  // namespace kalvora
