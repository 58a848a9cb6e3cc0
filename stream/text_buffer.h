// An owning, NUL-terminated byte string with an explicit capacity that grows
// to exactly the size asked for. Other code may write up to capacity bytes at
// chars directly (a registry read, a file-open dialog), ending with a NUL.
#pragma once

#include <cstdint>

namespace kalvora {

class TextBuffer {
 public:
  TextBuffer() = default;
  ~TextBuffer();
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  // Room for size bytes and an empty string; the old content is discarded.
  // -1 when memory runs out: the buffer is then empty. A size below 1 on a
  // buffer without storage does nothing.
  int32_t reset(int32_t size);
  // Room for size bytes, keeping the string (not the bytes after its NUL).
  // -1 when memory runs out: the buffer is then unchanged.
  int32_t reserve(int32_t size);
  // Frees the storage and returns to the new state.
  void release();
  // Adds text at the end. -1 when memory runs out: the string is unchanged.
  int32_t append(const char* text);

  int32_t capacity = 0;
  char* chars = nullptr;
};

}  // namespace kalvora
