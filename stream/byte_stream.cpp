#include "stream/byte_stream.h"

namespace kalvora {

int64_t RemainingBytes(ByteStream& stream) {
  int32_t position = stream.tell();
  if (position < 0 || stream.seek(0, true) != 0) return -1;
  int32_t end = stream.tell();
  if (stream.seek(position, false) != 0 || end < position) return -1;
  return static_cast<int64_t>(end) - position;
}

}  // namespace kalvora
