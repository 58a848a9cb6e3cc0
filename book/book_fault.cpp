#include "book/book_fault.h"

namespace kalvora {

const char* DescribeBookFault(BookFault fault) {
  switch (fault) {
    case BookFault::None:
      return "no fault";
    case BookFault::NoMemory:
      return "out of memory";
    case BookFault::BadBucketCount:
      return "the bucket count is 0";
    case BookFault::TableTruncated:
      return "the table ends before its records or entries";
    case BookFault::CountsDisagree:
      return "the header counts disagree with the records";
    case BookFault::EmptyNode:
      return "a node record has no entries";
    case BookFault::NodeMisplaced:
      return "a node lies outside its key's bucket";
    case BookFault::NodeOutOfOrder:
      return "a chain is not in descending key order";
    case BookFault::DuplicateMove:
      return "a node holds one move code twice";
    case BookFault::BlockTruncated:
      return "the book block is cut short";
    case BookFault::BlockNotInflated:
      return "the book block does not inflate";
    case BookFault::EntryLimit:
      return "a node would hold more than 255 entries";
    case BookFault::ChainLimit:
      return "a bucket would hold more than 65535 nodes";
    case BookFault::TableTooLarge:
      return "the merged table is too large for the format";
    case BookFault::CompressFailed:
      return "the merged table could not be compressed";
    case BookFault::WriteFailed:
      return "the new book block could not be written";
    case BookFault::BadPartOffset:
      return "a part offset points outside the divided book";
  }
  return "unknown fault";
}

}  // namespace kalvora
