#include "stream/text_buffer.h"

#include <cstdint>
#include <cstring>

#include "stream/allocation.h"

namespace kalvora {

TextBuffer::~TextBuffer() {
  release();
}

void TextBuffer::release() {
  ReleaseMemory(chars);
  chars = nullptr;
  capacity = 0;
}

int32_t TextBuffer::reset(int32_t size) {
  if (size > capacity) {
    release();
    char* storage = static_cast<char*>(TryAllocate(static_cast<std::size_t>(size)));
    if (storage == nullptr) return -1;
    chars = storage;
    chars[0] = '\0';
    capacity = size;
    return 0;
  }
  if (chars != nullptr) chars[0] = '\0';
  return 0;
}

int32_t TextBuffer::reserve(int32_t size) {
  if (size <= capacity) return 0;
  if (capacity == 0) return reset(size);
  char* storage = static_cast<char*>(TryAllocate(static_cast<std::size_t>(size)));
  if (storage == nullptr) return -1;
  std::memcpy(storage, chars, std::strlen(chars) + 1);
  ReleaseMemory(chars);
  chars = storage;
  capacity = size;
  return 0;
}

int32_t TextBuffer::append(const char* text) {
  std::size_t added = std::strlen(text);
  std::size_t length = capacity == 0 ? 0 : std::strlen(chars);
  // The capacity is a signed 32-bit count; a longer string cannot be held.
  if (added + length >= static_cast<std::size_t>(INT32_MAX)) return -1;
  if (capacity == 0) {
    if (reset(static_cast<int32_t>(added + 1)) != 0) return -1;
    std::memcpy(chars, text, added + 1);
    return 0;
  }
  if (reserve(static_cast<int32_t>(length + added + 1)) != 0) return -1;
  std::memcpy(chars + length, text, added + 1);
  return 0;
}

}  // namespace kalvora
