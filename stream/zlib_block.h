// Block-sized zlib work: a stored stream inflated into one buffer sized
// once, from memory or straight from a stream; a buffer deflated straight
// into a stream as a stored block, the bytes that compress would give.
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"
#include "stream/owned_buffer.h"

namespace kalvora {

enum class InflateResult {
  Done,         // out holds the inflated bytes
  NoMemory,     // the output buffer could not be had
  NotInflated,  // zlib refused the stream or it inflates to more than stated
  ReadFailed,   // the source stream gave fewer bytes than asked for
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

// The same for the sourceSize bytes at source's position, read a piece at a
// time, so that the stored stream needs no buffer of its own. The result is
// that of InflateWhole over the same bytes; source is left after them, also
// when the zlib stream ends before them.
InflateResult InflateFromStream(ByteStream& source, uint32_t sourceSize, uint32_t statedSize,
                                OwnedBuffer* out);

enum class DeflateResult {
  Done,         // the block is written
  NoMemory,     // zlib's state could not be had; nothing was written
  WriteFailed,  // the target refused bytes or a move
  TooLarge,     // the deflated bytes would not fit a signed 32-bit length
  Failed,       // zlib refused the work
};

// Writes size bytes at target's position as a stored block: the deflated
// length and size as dwords, then the bytes deflated at the default level
// (the bytes of one compress of the same buffer), made a piece at a time so
// that they need no buffer of their own. target is left after the block;
// *written gives the block's length.
DeflateResult WriteDeflatedBlock(const uint8_t* data, uint32_t size, ByteStream& target,
                                 uint32_t* written);

}  // namespace kalvora
