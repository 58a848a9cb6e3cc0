#include "stream/memory_stream.h"

#include <cstring>

#include "stream/allocation.h"
#include "stream/little_endian.h"

namespace kalvora {

int32_t MemoryStream::attach(void* newBlock, uint32_t newSize, bool forReading) {
  block = static_cast<uint8_t*>(newBlock);
  size = newSize;
  reading = forReading;
  position = 0;
  return 0;
}

int32_t MemoryStream::eof() {
  if (block == nullptr) return -1;
  return position >= size ? 1 : 0;
}

int32_t MemoryStream::seek(int32_t offset, bool fromEnd) {
  // Unsigned, modulo 2^32: a target below 0 wraps and is clamped to the end.
  uint32_t target = static_cast<uint32_t>(offset) + (fromEnd ? size : 0u);
  position = target > size ? size : target;
  return 0;
}

int32_t MemoryStream::tell() {
  return static_cast<int32_t>(position);
}

int32_t MemoryStream::readByte() {
  if (!reading || position >= size) return -1;
  return block[position++];
}

int32_t MemoryStream::readWord() {
  if (!reading || left() < 2) return -1;
  int32_t value = LoadLE16(block + position);
  position += 2;
  return value;
}

int32_t MemoryStream::readDword() {
  if (!reading || left() < 4) return -1;
  uint32_t value = LoadLE32(block + position);
  position += 4;
  return static_cast<int32_t>(value);
}

int32_t MemoryStream::read(void* buffer, int32_t count) {
  if (!reading) return -1;
  if (position >= size || count <= 0) return 0;
  uint32_t n = static_cast<uint32_t>(count) < left() ? static_cast<uint32_t>(count) : left();
  std::memcpy(buffer, block + position, n);
  position += n;
  return static_cast<int32_t>(n);
}

int32_t MemoryStream::writeByte(int32_t value) {
  if (reading || position >= size) return -1;
  block[position++] = static_cast<uint8_t>(value);
  return 0;
}

int32_t MemoryStream::writeWord(int32_t value) {
  if (reading || left() < 2) return -1;
  StoreLE16(block + position, static_cast<uint16_t>(value));
  position += 2;
  return 0;
}

int32_t MemoryStream::writeDword(int32_t value) {
  if (reading || left() < 4) return -1;
  StoreLE32(block + position, static_cast<uint32_t>(value));
  position += 4;
  return 0;
}

int32_t MemoryStream::write(const void* buffer, int32_t count) {
  if (reading) return -1;
  if (position >= size || count <= 0) return 0;
  uint32_t n = static_cast<uint32_t>(count) < left() ? static_cast<uint32_t>(count) : left();
  std::memcpy(block + position, buffer, n);
  position += n;
  return static_cast<int32_t>(n);
}

MemoryStream* OpenMemoryStream(void* block, uint32_t size, bool forReading) {
  MemoryStream* stream = TryNew<MemoryStream>();
  if (stream == nullptr) return nullptr;
  stream->attach(block, size, forReading);
  return stream;
}

}  // namespace kalvora
