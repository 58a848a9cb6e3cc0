#include "stream/zlib_block.h"

#include <zlib.h>

namespace kalvora {

uint32_t MaxInflatedSize(uint32_t sourceSize) {
  uint64_t most = static_cast<uint64_t>(sourceSize) * 1032 + 1024;
  return most > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(most);
}

InflateResult InflateWhole(const uint8_t* source, uint32_t sourceSize, uint32_t statedSize,
                           OwnedBuffer* out) {
  uint32_t capacity =
      statedSize < MaxInflatedSize(sourceSize) ? statedSize : MaxInflatedSize(sourceSize);
  if (!out->reuse(capacity)) return InflateResult::NoMemory;
  uLongf produced = capacity;
  int result = uncompress(out->data(), &produced, source, sourceSize);
  if (result != Z_OK) {
    out->reset();
    return result == Z_MEM_ERROR ? InflateResult::NoMemory : InflateResult::NotInflated;
  }
  out->shrink(static_cast<uint32_t>(produced));
  return InflateResult::Done;
}

}  // namespace kalvora
