// Windows only: reading HKEY_LOCAL_MACHINE with advapi32, and the system's
// error texts (FormatMessageA, LocalFree).
#include <windows.h>

#include "platform/registry.h"

namespace kalvora {

int32_t MachineRegistry::openKey(const char* keyPath, RegistryKey* key) {
  HKEY opened = NULL;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath,
                              0,  // options
                              KEY_READ, &opened);
  if (result == ERROR_SUCCESS) *key = opened;
  return static_cast<int32_t>(result);
}

int32_t MachineRegistry::queryValue(RegistryKey key, const char* valueName, char* data,
                                    uint32_t* size) {
  DWORD type = 0;  // asked for, not looked at
  DWORD count = *size;
  LONG result = RegQueryValueExA(static_cast<HKEY>(key), valueName,
                                 NULL,  // reserved
                                 &type, reinterpret_cast<BYTE*>(data), &count);
  *size = count;
  return static_cast<int32_t>(result);
}

void MachineRegistry::closeKey(RegistryKey key) {
  RegCloseKey(static_cast<HKEY>(key));
}

char* MachineRegistry::errorText(int32_t code) {
  char* text = NULL;
  // With FORMAT_MESSAGE_ALLOCATE_BUFFER the text's address goes where the
  // buffer would; the text stays null when the system has none.
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                 NULL,  // no source
                 static_cast<DWORD>(code),
                 0,  // the language of the user's settings
                 reinterpret_cast<LPSTR>(&text),
                 0,      // no minimum size
                 NULL);  // no arguments
  return text;
}

void MachineRegistry::releaseErrorText(char* text) {
  if (text != NULL) LocalFree(text);
}

}  // namespace kalvora
