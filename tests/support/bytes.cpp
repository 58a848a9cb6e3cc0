#include "support/bytes.h"

#include <zlib.h>

#include <cstdio>

namespace kalvora::test {

ByteWriter& ByteWriter::u8(uint32_t value) {
  bytes_.push_back(static_cast<uint8_t>(value));
  return *this;
}

ByteWriter& ByteWriter::u16(uint32_t value) {
  for (int i = 0; i < 2; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return *this;
}

ByteWriter& ByteWriter::u32(uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return *this;
}

ByteWriter& ByteWriter::raw(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

ByteWriter& ByteWriter::raw(const std::string& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

ByteWriter& ByteWriter::zeros(std::size_t count) {
  bytes_.insert(bytes_.end(), count, 0);
  return *this;
}

uint32_t Dword(const Bytes& bytes, std::size_t offset) {
  return static_cast<uint32_t>(bytes.at(offset)) |
         (static_cast<uint32_t>(bytes.at(offset + 1)) << 8) |
         (static_cast<uint32_t>(bytes.at(offset + 2)) << 16) |
         (static_cast<uint32_t>(bytes.at(offset + 3)) << 24);
}

Bytes Deflate(const Bytes& bytes) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  Bytes out(size);
  if (compress(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size())) != Z_OK)
    return {};
  out.resize(size);
  return out;
}

Bytes Inflate(const uint8_t* data, std::size_t size, std::size_t rawSize) {
  Bytes out(rawSize == 0 ? 1 : rawSize);
  uLongf produced = static_cast<uLongf>(out.size());
  if (uncompress(out.data(), &produced, data, static_cast<uLong>(size)) != Z_OK) return {};
  out.resize(produced);
  return out;
}

std::string Hex(const Bytes& bytes) {
  std::string text;
  char digits[4];
  for (uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, text.empty() ? "%02X" : " %02X", byte);
    text += digits;
  }
  return text;
}

std::string Hex(const std::string& bytes) {
  return Hex(Bytes(bytes.begin(), bytes.end()));
}

}  // namespace kalvora::test
