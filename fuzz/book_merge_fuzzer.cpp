// Fuzz target: a book merge. The input's first byte says how the rest is
// read: its lowest bit, whether the old book comes as a stored block or as a
// serialized table that is deflated here (so that the fuzzer can change the
// table itself, not only bytes of a zlib stream that no longer check); its
// other bits, after how many allocations memory runs out (0: never). Then
// come the old block (its compressed length says where it ends) or the
// table (a dword length first), then a book update stream.
//
// Whatever the merge makes of them: the package stands where reading past
// the stream leaves it; a merge that succeeds wrote exactly the bytes it
// reports, as a block that loads again, sorted; one that fails wrote nothing.
#include <cstdint>
#include <vector>

#include "book/book_merge.h"
#include "fuzz_support.h"
#include "stream/allocation.h"
#include "stream/little_endian.h"
#include "support/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kalvora;
  using namespace kalvora::fuzz;
  if (size < 1 || size > INT32_MAX) return 0;
  bool fromTable = (data[0] & 1) != 0;
  long allocations = data[0] >> 1;
  ++data;
  --size;

  std::vector<uint8_t> block;
  const uint8_t* old = data;
  uint64_t oldSize = 0;
  uint64_t split = 0;
  if (fromTable) {
    uint64_t tableSize = size >= 4 ? LoadLE32(data) : 0;
    split = size >= 4 ? 4 + tableSize : size;
    if (split > size) split = size;
    test::Bytes table(data + (size >= 4 ? 4 : size), data + split);
    test::Bytes compressed = test::Deflate(table);
    block = test::ByteWriter()
                .u32(static_cast<uint32_t>(compressed.size()))
                .u32(static_cast<uint32_t>(table.size()))
                .raw(compressed)
                .bytes();
    old = block.data();
    oldSize = block.size();
  } else {
    split = size >= 4 ? 8 + static_cast<uint64_t>(LoadLE32(data)) : size;
    if (split > size) split = size;
    oldSize = split;
  }
  InputStream oldCopy(old, oldSize);
  InputStream package(data + split, size - split);
  OutputStream target;

  BookFault fault = BookFault::None;
  FailAllocationsAfter(allocations - 1);
  uint32_t written = MergeBook(package, oldCopy, target, &fault);
  FailAllocationsAfter(-1);
  // Where the stream ends, read past without the merge.
  InputStream skipped(data + split, size - split);
  bool wellFormed = SkipBookUpdateStream(skipped) == 0;
  if (wellFormed) {
    Check(package.tell() == skipped.tell(), "the merge leaves the package elsewhere than its end");
  }

  if (written == kMergeFailed) {
    Check(fault != BookFault::None, "a failed merge without a reason");
    Check(allocations > 0 || fault != BookFault::NoMemory, "out of memory with memory to spare");
    if (fault != BookFault::WriteFailed) {
      Check(target.tell() == 0, "a failed merge wrote to the target");
    }
    return 0;
  }
  Check(fault == BookFault::None, "a merge with a fault");
  Check(target.tell() == static_cast<int32_t>(written), "the merge wrote other than it reports");
  InputStream merged(target.block, written);
  BookTableOwner table = ReadBookBlock(merged, &fault);
  Check(table != nullptr, "the merged block does not load");
  Check(merged.tell() == static_cast<int32_t>(written), "the merged block is not what was written");
  for (int32_t bucket = 0; bucket < table->bucketCount; ++bucket) {
    for (const BookNode* node = table->chainHeads[bucket]; node != nullptr; node = node->next) {
      for (int32_t e = 1; e < node->entryCount; ++e) {
        Check(MoveCode(node->entries[e - 1]) < MoveCode(node->entries[e]),
              "the merged book's entries are not in move-code order");
      }
    }
  }
  return 0;
}
