// Fuzz target: a book block (compressed length, raw length, zlib stream) as
// the merge reads it from an old copy. A block that loads leaves the stream
// just after itself.
#include <cstdint>

#include "book/book_merge.h"
#include "fuzz_support.h"
#include "stream/little_endian.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kalvora;
  using namespace kalvora::fuzz;
  if (size > INT32_MAX) return 0;
  InputStream block(data, size);
  BookFault fault = BookFault::None;
  BookTableOwner table = ReadBookBlock(block, &fault);
  if (table == nullptr) {
    Check(fault != BookFault::None, "a refused block without a reason");
    return 0;
  }
  Check(fault == BookFault::None, "an accepted block with a fault");
  Check(size >= 8 && block.tell() == static_cast<int32_t>(8 + LoadLE32(data)),
        "the stream does not stand after the block");
  return 0;
}
