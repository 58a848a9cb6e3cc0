// Little-endian byte building and reading for tests: books, update streams
// and packages are made in code, field by field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kalvora::test {

using Bytes = std::vector<uint8_t>;

class ByteWriter {
 public:
  ByteWriter& u8(uint32_t value);
  ByteWriter& u16(uint32_t value);
  ByteWriter& u32(uint32_t value);
  ByteWriter& raw(const Bytes& bytes);
  ByteWriter& raw(const std::string& bytes);
  ByteWriter& zeros(std::size_t count);

  const Bytes& bytes() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }

 private:
  Bytes bytes_;
};

// Little-endian dword at offset.
uint32_t Dword(const Bytes& bytes, std::size_t offset);

// zlib stream of the bytes at the default level, and its inverse.
Bytes Deflate(const Bytes& bytes);
Bytes Inflate(const uint8_t* data, std::size_t size, std::size_t rawSize);

// The bytes in hex, two capital digits each, separated by spaces ("8D 58"),
// for comparing code page 932 texts and for failure messages.
std::string Hex(const Bytes& bytes);
std::string Hex(const std::string& bytes);

}  // namespace kalvora::test
