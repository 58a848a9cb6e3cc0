// Which family of the platform the tool runs on. Tests put a version of
// their own in place with SetPlatformVersion.
#pragma once

#include <cstdint>

namespace kalvora {

// Platform ids as the system reports them.
constexpr uint32_t kPlatformWin32s = 0;   // VER_PLATFORM_WIN32s
constexpr uint32_t kPlatformWindows = 1;  // VER_PLATFORM_WIN32_WINDOWS, the 9x family
constexpr uint32_t kPlatformNt = 2;       // VER_PLATFORM_WIN32_NT

class PlatformVersion {
 public:
  virtual ~PlatformVersion() = default;

  // The platform id; 0 when the system does not tell it.
  virtual uint32_t platformId();
};

// The version in use: the system's own unless a test set another.
PlatformVersion& Version();

// Puts a version in place; null puts the system's own back.
void SetPlatformVersion(PlatformVersion* version);

}  // namespace kalvora
