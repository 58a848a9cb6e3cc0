// A byte stream over a fixed block of the caller's memory. It never
// allocates, frees, grows or shrinks the block, and never goes past its size:
// byte, word and dword operations that do not fit are refused whole, read and
// write move what fits.
#pragma once

#include <cstdint>
#include <memory>

#include "stream/byte_stream.h"

namespace kalvora {

class MemoryStream : public ByteStream {
 public:
  ~MemoryStream() override = default;

  int32_t eof() override;
  int32_t seek(int32_t offset, bool fromEnd) override;
  int32_t tell() override;
  int32_t readByte() override;
  int32_t readWord() override;
  int32_t readDword() override;
  int32_t read(void* buffer, int32_t count) override;
  int32_t writeByte(int32_t value) override;
  int32_t writeWord(int32_t value) override;
  int32_t writeDword(int32_t value) override;
  int32_t write(const void* buffer, int32_t count) override;

  // Attaches the caller's block and rewinds; always 0.
  virtual int32_t attach(void* block, uint32_t size, bool forReading);

  uint8_t* block = nullptr;
  uint32_t position = 0;
  uint32_t size = 0;
  bool reading = true;

 private:
  // Bytes left from position to the end.
  uint32_t left() const { return size - position; }
};

using MemoryStreamOwner = std::unique_ptr<MemoryStream>;

// Creates a MemoryStream attached to the caller's block, which it never owns.
// Null only when memory runs out. The caller deletes it.
MemoryStream* OpenMemoryStream(void* block, uint32_t size, bool forReading);

}  // namespace kalvora
