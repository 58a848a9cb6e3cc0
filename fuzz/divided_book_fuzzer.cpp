// Fuzz target: a divided book merge. The input is a byte that says after
// how many allocations memory runs out (0: never), the old file's length (a
// dword), the old file (magic, part directory, parts), then the record's
// payload (a 4-byte value and 64 book update streams). The package always
// ends up after the payload's last stream; a merge that succeeds lays its
// parts out from 264 in part order, each a block that loads, filled with
// zero bytes to a multiple of 4.
#include <cstdint>

#include "book/book_merge.h"
#include "book/divided_book.h"
#include "fuzz_support.h"
#include "stream/allocation.h"
#include "stream/little_endian.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kalvora;
  using namespace kalvora::fuzz;
  if (size < 5 || size > INT32_MAX) return 0;
  long allocations = data[0];
  ++data;
  --size;
  uint64_t oldSize = LoadLE32(data);
  if (oldSize > size - 4) oldSize = size - 4;
  const uint8_t* oldFile = data + 4;
  const uint8_t* payload = oldFile + oldSize;
  std::size_t payloadSize = size - 4 - oldSize;

  // The applier has read past the old copy's magic and written the target's.
  InputStream oldCopy(oldFile, oldSize);
  oldCopy.seek(8, false);
  InputStream package(payload, payloadSize);
  OutputStream target;
  target.seek(8, false);
  BookFault fault = BookFault::None;
  int32_t failedPart = -2;
  FailAllocationsAfter(allocations - 1);
  int32_t result = MergeDividedBook(package, oldCopy, target, &fault, &failedPart);
  FailAllocationsAfter(-1);

  InputStream skipped(payload, payloadSize);
  bool wellFormed = payloadSize >= 4;
  skipped.seek(4, false);  // the value that nothing uses
  for (int32_t part = 0; part < kDividedBookParts; ++part) {
    wellFormed &= SkipBookUpdateStream(skipped) == 0;
  }
  if (wellFormed) {
    Check(package.tell() == skipped.tell(), "the merge leaves the package elsewhere than its end");
  }

  if (result != 0) {
    Check(fault != BookFault::None, "a failed merge without a reason");
    Check(failedPart >= -1 && failedPart < kDividedBookParts, "a failed merge names no part");
    return 0;
  }
  Check(fault == BookFault::None, "a merge with a fault");
  const uint8_t* file = target.block;
  uint32_t expected = kFirstPartOffset;
  for (int32_t part = 0; part < kDividedBookParts; ++part) {
    uint32_t offset = LoadLE32(file + 8 + 4 * part);
    Check(offset == expected, "a part is not where the one before it ends");
    InputStream block(file + offset, target.size - offset);
    Check(ReadBookBlock(block, &fault) != nullptr, "a merged part does not load");
    uint32_t end = offset + static_cast<uint32_t>(block.tell());
    expected = (end + 3) & ~3u;
    for (uint32_t fill = end; fill < expected; ++fill) {
      Check(file[fill] == 0, "a part's fill is not zero bytes");
    }
  }
  return 0;
}
