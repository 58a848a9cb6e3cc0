// The byte-stream interface through which every file and memory block of the
// system is read and written. All integers are little-endian, unaligned.
#pragma once

#include <cstdint>

namespace kalvora {

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Nonzero at the end, 0 before it; -1 when there is nothing to read from.
  virtual int32_t eof() = 0;
  // Moves to offset bytes from the start, or from the end when fromEnd.
  virtual int32_t seek(int32_t offset, bool fromEnd) = 0;
  virtual int32_t tell() = 0;
  virtual int32_t readByte() = 0;
  virtual int32_t readWord() = 0;
  // All 32 bits as a signed value: FF FF FF FF and a refusal both read as -1.
  virtual int32_t readDword() = 0;
  // The number of bytes delivered, at most count.
  virtual int32_t read(void* buffer, int32_t count) = 0;
  virtual int32_t writeByte(int32_t value) = 0;
  virtual int32_t writeWord(int32_t value) = 0;
  virtual int32_t writeDword(int32_t value) = 0;
  // The number of bytes accepted, at most count.
  virtual int32_t write(const void* buffer, int32_t count) = 0;
};

// Bytes between the stream's position and its end, found with tell and seek;
// the position is kept. -1 when the stream cannot tell.
int64_t RemainingBytes(ByteStream& stream);

}  // namespace kalvora
