// The divided book: one opening book kept as 64 book blocks in one file.
//
//   0     "JSKDIV1\0"
//   8     part directory: 64 offsets (dwords), part 0 first
//   264   the parts, each a book block followed by 0 to 3 zero bytes that
//         make its length a multiple of 4
//
// A file this tool writes holds the parts in part order from offset 264,
// without gaps; an old file's parts are found through its directory only.
#pragma once

#include <cstdint>

#include "book/book_fault.h"
#include "stream/byte_stream.h"

namespace kalvora {

constexpr int32_t kDividedBookParts = 64;
constexpr int32_t kFirstPartOffset = 8 + 4 * kDividedBookParts;  // 264

// Merges every part of the old divided book with its book update stream and
// lays the new parts out from offset 264, writing the part directory last.
// package stands at a divided-book payload (a 4-byte value that is dropped,
// then 64 book update streams); oldCopy and target stand just after their
// magic. 0 on success. -1 with the reason in fault (and the part in
// failedPart, -1 for the directory) when an old directory entry points
// outside the old file's parts or a part fails to merge: the merge stops
// there, and the package is left after the payload's last stream.
int32_t MergeDividedBook(ByteStream& package, ByteStream& oldCopy, ByteStream& target,
                         BookFault* fault = nullptr, int32_t* failedPart = nullptr);

}  // namespace kalvora
