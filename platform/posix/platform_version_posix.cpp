// Linux stand-in only: the tool runs as it does on the NT family.
#include "platform/platform_version.h"

namespace kalvora {

uint32_t PlatformVersion::platformId() {
  return kPlatformNt;
}

}  // namespace kalvora
