// Why a book could not be loaded, changed, merged or written.
#pragma once

namespace kalvora {

enum class BookFault {
  None,
  NoMemory,          // an allocation failed
  BadBucketCount,    // the table's bucket count is 0
  TableTruncated,    // the serialized table ends before its records or entries do
  CountsDisagree,    // the header's node or entry count differs from the records
  EmptyNode,         // a node record holds no entries
  NodeMisplaced,     // a node lies outside its key's bucket
  NodeOutOfOrder,    // a chain is not in strictly descending key order
  DuplicateMove,     // two entries of one node have the same move code
  BlockTruncated,    // the book block ends before its stated compressed length
  BlockNotInflated,  // the block's zlib stream does not inflate
  EntryLimit,        // a node would get a 256th entry
  ChainLimit,        // a bucket's chain would get a 65536th node
  TableTooLarge,     // the merged table does not fit the format's 32-bit lengths
  CompressFailed,    // zlib could not deflate the merged table
  WriteFailed,       // the new block could not be written whole
  BadPartOffset,     // a divided book's part directory points outside its parts
};

// One line of English naming the fault, for the toolkit's reports.
const char* DescribeBookFault(BookFault fault);

}  // namespace kalvora
