// Windows only: the test whether a file can be opened for reading.
#include <windows.h>

#include "platform/readable_file.h"

namespace kalvora {

bool CanOpenForReading(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ,
                            NULL,  // no security attributes
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            NULL);  // no template
  // Failure is INVALID_HANDLE_VALUE; a null handle is refused as well.
  if (file == NULL || file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace kalvora
