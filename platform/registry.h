// Reading string values under HKEY_LOCAL_MACHINE, and the system's text for
// a failed read. Results are the system's error codes: 0 on success. Tests
// put a registry of their own in place with SetRegistry.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace kalvora {

class MachineRegistry {
 public:
  virtual ~MachineRegistry() = default;

  // Opens the key at keyPath under HKEY_LOCAL_MACHINE for reading.
  virtual int32_t openKey(const char* keyPath, RegistryKey* key);
  // Reads the value valueName of an open key. With data null, only its size
  // in bytes goes to *size; otherwise at most *size bytes go to data and
  // *size receives the number written. The value's type is not looked at.
  // The bytes are the value as stored: they need not end with a NUL.
  virtual int32_t queryValue(RegistryKey key, const char* valueName, char* data, uint32_t* size);
  // Closes a key that openKey opened.
  virtual void closeKey(RegistryKey key);

  // The system's text for an error code, in code page 932, which
  // releaseErrorText frees; null when the system has none.
  virtual char* errorText(int32_t code);
  virtual void releaseErrorText(char* text);
};

// The registry in use: the system's own unless a test set another.
MachineRegistry& Registry();

// Puts a registry in place; null puts the system's own back.
void SetRegistry(MachineRegistry* registry);

}  // namespace kalvora
