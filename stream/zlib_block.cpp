#include "stream/zlib_block.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>

namespace kalvora {

namespace {

// The piece of a stream that the stream functions read or write at a time.
constexpr uint32_t kPieceSize = 64 * 1024;

// The buffer an inflation takes: the stated size, but no more than the
// stream can inflate to.
uint32_t InflatedCapacity(uint32_t sourceSize, uint32_t statedSize) {
  uint32_t most = MaxInflatedSize(sourceSize);
  return statedSize < most ? statedSize : most;
}

}  // namespace

uint32_t MaxInflatedSize(uint32_t sourceSize) {
  uint64_t most = static_cast<uint64_t>(sourceSize) * 1032 + 1024;
  return most > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(most);
}

InflateResult InflateWhole(const uint8_t* source, uint32_t sourceSize, uint32_t statedSize,
                           OwnedBuffer* out) {
  uint32_t capacity = InflatedCapacity(sourceSize, statedSize);
  if (!out->reuse(capacity)) return InflateResult::NoMemory;
  uLongf produced = capacity;
  int result = uncompress(out->data(), &produced, source, sourceSize);
  if (result != Z_OK) {
    out->reset();
    return result == Z_MEM_ERROR ? InflateResult::NoMemory : InflateResult::NotInflated;
  }
  out->shrink(static_cast<uint32_t>(produced));
  return InflateResult::Done;
}

InflateResult InflateFromStream(ByteStream& source, uint32_t sourceSize, uint32_t statedSize,
                                OwnedBuffer* out) {
  uint32_t capacity = InflatedCapacity(sourceSize, statedSize);
  OwnedBuffer piece;
  int32_t start = source.tell();
  if (!out->reuse(capacity) || !piece.allocate(kPieceSize)) {
    out->reset();
    return InflateResult::NoMemory;
  }
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (inflateInit(&zs) != Z_OK) {
    out->reset();
    return InflateResult::NoMemory;
  }
  zs.next_out = out->data();
  zs.avail_out = capacity;
  uint32_t left = sourceSize;  // bytes of the source not yet read
  InflateResult result = InflateResult::NotInflated;
  for (;;) {
    if (zs.avail_in == 0 && left > 0) {
      uint32_t count = left < kPieceSize ? left : kPieceSize;
      if (source.read(piece.data(), static_cast<int32_t>(count)) != static_cast<int32_t>(count)) {
        result = InflateResult::ReadFailed;
        break;
      }
      left -= count;
      zs.next_in = piece.data();
      zs.avail_in = count;
    }
    int status = inflate(&zs, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      result = InflateResult::Done;
      break;
    }
    if (status == Z_MEM_ERROR) result = InflateResult::NoMemory;
    // Without progress, zlib wants the next piece of input; when it has
    // input (the output is full: the stream inflates to more than stated)
    // or there is none to come (the stream is cut short), the stream fails.
    if (status != Z_OK && !(status == Z_BUF_ERROR && zs.avail_in == 0 && left > 0)) break;
  }
  uint32_t produced = capacity - zs.avail_out;
  inflateEnd(&zs);
  if (result != InflateResult::Done) {
    out->reset();
    return result;
  }
  // Bytes after the zlib stream's end belong to the block all the same.
  int64_t end = static_cast<int64_t>(start) + sourceSize;
  if (left > 0 &&
      (start < 0 || end > INT32_MAX || source.seek(static_cast<int32_t>(end), false) != 0)) {
    out->reset();
    return InflateResult::ReadFailed;
  }
  out->shrink(produced);
  return InflateResult::Done;
}

DeflateResult WriteDeflatedBlock(const uint8_t* data, uint32_t size, ByteStream& target,
                                 uint32_t* written) {
  *written = 0;
  OwnedBuffer piece;
  if (!piece.allocate(kPieceSize)) return DeflateResult::NoMemory;
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (deflateInit(&zs, Z_DEFAULT_COMPRESSION) != Z_OK) return DeflateResult::NoMemory;
  // The deflated length goes in once it is known.
  int32_t start = target.tell();
  DeflateResult result = DeflateResult::Done;
  if (start < 0 || target.writeDword(0) != 0 ||
      target.writeDword(static_cast<int32_t>(size)) != 0) {
    result = DeflateResult::WriteFailed;
  }
  // The input goes over whole, as compress hands it over.
  zs.next_in = const_cast<uint8_t*>(data);
  zs.avail_in = size;
  uint64_t total = 0;
  while (result == DeflateResult::Done) {
    zs.next_out = piece.data();
    zs.avail_out = kPieceSize;
    int status = deflate(&zs, Z_FINISH);
    uint32_t count = kPieceSize - zs.avail_out;
    total += count;
    if (static_cast<uint64_t>(start) + 8 + total > INT32_MAX) {
      result = DeflateResult::TooLarge;
    } else if (count > 0 && target.write(piece.data(), static_cast<int32_t>(count)) !=
                                static_cast<int32_t>(count)) {
      result = DeflateResult::WriteFailed;
    } else if (status == Z_STREAM_END) {
      break;
    } else if (status != Z_OK) {  // with room for output, deflate always progresses
      result = DeflateResult::Failed;
    }
  }
  deflateEnd(&zs);
  if (result != DeflateResult::Done) return result;
  auto length = static_cast<int32_t>(total);
  if (target.seek(start, false) != 0 || target.writeDword(length) != 0 ||
      target.seek(start + 8 + length, false) != 0) {
    return DeflateResult::WriteFailed;
  }
  *written = 8 + static_cast<uint32_t>(length);
  return DeflateResult::Done;
}

}  // namespace kalvora
