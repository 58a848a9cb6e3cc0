// Windows only: the platform's version (GetVersionExA).
#include <windows.h>

#include "platform/platform_version.h"

namespace kalvora {

static_assert(sizeof(OSVERSIONINFOA) == 148, "the form of OSVERSIONINFOA that every Windows takes");
static_assert(kPlatformWindows == VER_PLATFORM_WIN32_WINDOWS &&
                  kPlatformNt == VER_PLATFORM_WIN32_NT,
              "platform ids");

uint32_t PlatformVersion::platformId() {
  OSVERSIONINFOA info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  // The call's own result is not needed: when it fails the id stays 0,
  // which no supported platform has.
  GetVersionExA(&info);
  return info.dwPlatformId;
}

}  // namespace kalvora
