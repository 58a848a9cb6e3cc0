// A block of bytes owned by one holder and freed when it goes; moves, never
// copies. Allocation failure is a result, as everywhere in the core.
#pragma once

#include <cstdint>
#include <utility>

#include "stream/allocation.h"

namespace kalvora {

class OwnedBuffer {
 public:
  OwnedBuffer() = default;
  ~OwnedBuffer() { ReleaseMemory(bytes_); }
  OwnedBuffer(OwnedBuffer&& other) noexcept
      : bytes_(std::exchange(other.bytes_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  OwnedBuffer& operator=(OwnedBuffer&& other) noexcept {
    if (this != &other) {
      ReleaseMemory(bytes_);
      bytes_ = std::exchange(other.bytes_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  OwnedBuffer(const OwnedBuffer&) = delete;
  OwnedBuffer& operator=(const OwnedBuffer&) = delete;

  // Replaces the content with size new, uninitialised bytes; false (and
  // empty) when memory runs out.
  bool allocate(uint32_t size) {
    reset();
    bytes_ = static_cast<uint8_t*>(TryAllocate(size));
    if (bytes_ == nullptr) return false;
    size_ = size;
    capacity_ = size;
    return true;
  }

  // Makes the buffer size bytes long, reusing its memory when it has room
  // (its pages are then already the process's) and growing it otherwise.
  // The content is not kept. False when memory runs out; the buffer is then
  // as it was.
  bool reuse(uint32_t size) {
    if (bytes_ != nullptr && size <= capacity_) {
      size_ = size;
      return true;
    }
    auto* grown = static_cast<uint8_t*>(TryReallocate(bytes_, size));
    if (grown == nullptr) return false;
    bytes_ = grown;
    size_ = size;
    capacity_ = size;
    return true;
  }

  // Frees the bytes.
  void reset() {
    ReleaseMemory(bytes_);
    bytes_ = nullptr;
    size_ = 0;
    capacity_ = 0;
  }

  // Keeps the first size bytes only (the memory stays allocated).
  void shrink(uint32_t size) {
    if (size < size_) size_ = size;
  }

  uint8_t* data() { return bytes_; }
  const uint8_t* data() const { return bytes_; }
  uint32_t size() const { return size_; }

 private:
  uint8_t* bytes_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
};

}  // namespace kalvora
