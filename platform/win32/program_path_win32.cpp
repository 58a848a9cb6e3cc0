// Windows only: the program's own file name (GetModuleFileNameA).
#include <windows.h>

#include "platform/program_path.h"

namespace kalvora {

void ProgramPath::get(InstanceHandle instance, char* buffer, uint32_t size) {
  if (size == 0) return;
  // The count is not needed: the name is NUL-terminated, except on the NT
  // family before Vista, which leaves a name cut short at size bytes without
  // its NUL; the last byte is set for that case.
  GetModuleFileNameA(static_cast<HMODULE>(instance), buffer, size);
  buffer[size - 1] = '\0';
}

}  // namespace kalvora
