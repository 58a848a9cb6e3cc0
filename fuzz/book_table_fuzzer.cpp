// Fuzz target: a serialized book table, as an inflated book block holds it.
// The loader refuses what is not well formed; what it accepts saves back to
// a table that loads again and saves to the same bytes, with every node's
// entries in order once sorted.
#include <cstdint>
#include <cstring>

#include "book/book_table.h"
#include "fuzz_support.h"
#include "stream/owned_buffer.h"

namespace kalvora::fuzz {
namespace {

void Save(const BookTable& table, OwnedBuffer& block) {
  uint64_t size = SerializedTableSize(table);
  Check(size <= UINT32_MAX, "a loaded table is too large for the format");
  Check(block.allocate(static_cast<uint32_t>(size)), "no memory for the saved table");
  Check(SaveBookTable(table, block.data(), block.size()) == 0, "a loaded table does not save");
}

}  // namespace
}  // namespace kalvora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kalvora;
  using namespace kalvora::fuzz;
  if (size > UINT32_MAX) return 0;
  BookFault fault = BookFault::None;
  BookTableOwner table = LoadBookTable(data, static_cast<uint32_t>(size), &fault);
  if (table == nullptr) {
    Check(fault != BookFault::None, "a refused table without a reason");
    return 0;
  }
  Check(fault == BookFault::None, "an accepted table with a fault");
  Check(SerializedTableSize(*table) <= size, "a table larger than the bytes it came from");

  OwnedBuffer saved;
  Save(*table, saved);
  BookTableOwner again = LoadBookTable(saved.data(), saved.size(), &fault);
  Check(again != nullptr, "a saved table does not load");
  OwnedBuffer resaved;
  Save(*again, resaved);
  Check(resaved.size() == saved.size() &&
            std::memcmp(resaved.data(), saved.data(), saved.size()) == 0,
        "a table does not save to the same bytes twice");

  SortBookEntries(*table);
  for (int32_t bucket = 0; bucket < table->bucketCount; ++bucket) {
    for (const BookNode* node = table->chainHeads[bucket]; node != nullptr; node = node->next) {
      for (int32_t e = 1; e < node->entryCount; ++e) {
        Check(MoveCode(node->entries[e - 1]) < MoveCode(node->entries[e]),
              "a node's entries are not in move-code order after sorting");
      }
    }
  }
  return 0;
}
