// Whole-buffer zlib work: one uncompress of a stored stream, one compress of
// a new one, each into a buffer sized once.
#pragma once

#include <cstdint>

#include "stream/owned_buffer.h"

namespace kalvora {

enum class InflateResult {
  Done,         // out holds the inflated bytes
  NoMemory,     // the output buffer could not be had
  NotInflated,  // zlib refused the stream or it inflates to more than stated
};

// The most bytes a zlib stream of sourceSize bytes can inflate to; deflate
// reaches at most 1032 to 1. A stated size above it cannot be true, so no
// buffer larger than this is taken for an untrusted stream.
uint32_t MaxInflatedSize(uint32_t sourceSize);

// Inflates source with one uncompress into out, made statedSize bytes long
// (no more than MaxInflatedSize; its memory is reused when it has room);
// out then holds the bytes inflated.
InflateResult InflateWhole(const uint8_t* source, uint32_t sourceSize, uint32_t statedSize,
                           OwnedBuffer* out);

}  // namespace kalvora
