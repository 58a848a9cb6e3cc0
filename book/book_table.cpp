#include "book/book_table.h"

#include <cstring>
#include <functional>
#include <new>

#include "stream/allocation.h"
#include "stream/little_endian.h"
#include "stream/memory_stream.h"

namespace kalvora {

namespace {

// Keys order as the unsigned 64-bit number high * 2^32 + low.
uint64_t KeyValue(uint32_t low, uint32_t high) {
  return (static_cast<uint64_t>(high) << 32) | low;
}

// The chain walk: the link that points at the key's node, or at the node
// before which the key belongs (the chain's end when it belongs last).
// Chains are in descending key order, so the walk stops at the first smaller key.
BookNode** FindLink(BookTable& table, BookKey key, bool* found) {
  uint32_t bucket = BucketOf(key, static_cast<uint32_t>(table.bucketCount));
  BookNode** link = &table.chainHeads[bucket];
  uint64_t wanted = KeyValue(key.low, key.high);
  while (*link != nullptr) {
    uint64_t here = KeyValue((*link)->keyLow, (*link)->keyHigh);
    if (here == wanted) {
      *found = true;
      return link;
    }
    if (here < wanted) break;
    link = &(*link)->next;
  }
  *found = false;
  return link;
}

// True when p points into the block of count elements at base.
template <class T>
bool InBlock(const T* p, const T* base, uint32_t count) {
  std::less<const T*> before;
  return base != nullptr && !before(p, base) && before(p, base + count);
}

BookTableOwner Refuse(BookFault* fault, BookFault reason) {
  if (fault != nullptr) *fault = reason;
  return nullptr;
}

// Marks move codes seen in one node; cleared after each node, so a check
// costs as much as the node has entries.
class MoveCodeSet {
 public:
  bool insert(uint16_t code) {
    uint64_t& word = bits_[code >> 6];
    uint64_t bit = uint64_t{1} << (code & 63);
    if ((word & bit) != 0) return false;
    word |= bit;
    return true;
  }
  void erase(uint16_t code) { bits_[code >> 6] &= ~(uint64_t{1} << (code & 63)); }

 private:
  uint64_t bits_[65536 / 64] = {};
};

// Little-endian fields gathered into blocks for a stream's write.
class BlockWriter {
 public:
  explicit BlockWriter(ByteStream& stream) : stream_(stream) {}

  void put8(uint8_t value) {
    if (used_ + 1 > sizeof buffer_) flush();
    buffer_[used_++] = value;
  }
  void put16(uint16_t value) {
    if (used_ + 2 > sizeof buffer_) flush();
    StoreLE16(buffer_ + used_, value);
    used_ += 2;
  }
  void put32(uint32_t value) {
    if (used_ + 4 > sizeof buffer_) flush();
    StoreLE32(buffer_ + used_, value);
    used_ += 4;
  }
  // Hands over the rest; false when the stream refused any of it.
  bool finish() {
    flush();
    return !refused_;
  }

 private:
  void flush() {
    if (used_ == 0) return;
    if (stream_.write(buffer_, static_cast<int32_t>(used_)) != static_cast<int32_t>(used_)) {
      refused_ = true;
    }
    used_ = 0;
  }

  ByteStream& stream_;
  uint8_t buffer_[8192];
  std::size_t used_ = 0;
  bool refused_ = false;
};

}  // namespace

void DestroyBookNode(BookTable& table, BookNode* node) {
  if (!InBlock(node->entries, table.loadedEntries, table.loadedEntryCount)) {
    ReleaseMemory(node->entries);
  }
  if (!InBlock(node, table.loadedNodes, table.loadedNodeCount)) delete node;
}

BookTable::~BookTable() {
  ReleaseMemory(chainLengths);
  if (chainHeads != nullptr) {
    for (int32_t bucket = 0; bucket < bucketCount; ++bucket) {
      // Iteratively: a chain may hold 65535 nodes.
      for (BookNode* node = chainHeads[bucket]; node != nullptr;) {
        BookNode* next = node->next;
        DestroyBookNode(*this, node);
        node = next;
      }
    }
  }
  ReleaseMemory(chainHeads);
  ReleaseMemory(loadedNodes);
  ReleaseMemory(loadedEntries);
}

uint64_t SerializedTableSize(const BookTable& table) {
  return 12 + 6 * static_cast<uint64_t>(table.bucketCount) +
         13 * static_cast<uint64_t>(table.nodeCount) + 8 * static_cast<uint64_t>(table.entryCount);
}

BookTableOwner ReadBookTable(ByteStream& stream, BookFault* fault) {
  // Every count is checked against the bytes left before anything is
  // allocated for it, so a damaged block cannot ask for more memory than
  // its own size warrants, and no read below runs past the end.
  int64_t left = RemainingBytes(stream);
  if (left < 12) return Refuse(fault, BookFault::TableTruncated);
  uint32_t buckets = static_cast<uint32_t>(stream.readDword());  // B
  uint32_t nodes = static_cast<uint32_t>(stream.readDword());    // N
  uint32_t entries = static_cast<uint32_t>(stream.readDword());  // E
  left -= 12;
  if (buckets == 0) return Refuse(fault, BookFault::BadBucketCount);
  if (static_cast<int64_t>(buckets) * 6 > left) return Refuse(fault, BookFault::TableTruncated);
  left -= static_cast<int64_t>(buckets) * 6;

  BookTableOwner table(TryNew<BookTable>());
  if (table == nullptr) return Refuse(fault, BookFault::NoMemory);
  table->chainLengths = static_cast<int32_t*>(TryAllocate(buckets * sizeof(int32_t)));
  table->chainHeads = static_cast<BookNode**>(TryAllocate(buckets * sizeof(BookNode*)));
  if (table->chainLengths == nullptr || table->chainHeads == nullptr) {
    return Refuse(fault, BookFault::NoMemory);
  }
  std::memset(table->chainHeads, 0, buckets * sizeof(BookNode*));
  table->bucketCount = static_cast<int32_t>(buckets);

  // Bucket directory: the first node index is recomputed on every save and
  // not needed here; the chain length is.
  uint64_t nodeSum = 0;
  for (uint32_t bucket = 0; bucket < buckets; ++bucket) {
    stream.readDword();                               // first node index
    table->chainLengths[bucket] = stream.readWord();  // chain length
    nodeSum += static_cast<uint32_t>(table->chainLengths[bucket]);
  }
  if (nodeSum != nodes) return Refuse(fault, BookFault::CountsDisagree);
  if (static_cast<int64_t>(nodes) * 13 > left) return Refuse(fault, BookFault::TableTruncated);
  left -= static_cast<int64_t>(nodes) * 13;

  // Node records, in one block, each appended to its bucket's chain in
  // record order. Its entries get their place in the entry block at once;
  // they are read after all records.
  table->loadedNodes = static_cast<BookNode*>(TryAllocate(nodes * sizeof(BookNode)));
  if (table->loadedNodes == nullptr) return Refuse(fault, BookFault::NoMemory);
  table->loadedNodeCount = nodes;
  uint64_t entrySum = 0;
  BookNode* node = table->loadedNodes;
  for (uint32_t bucket = 0; bucket < buckets; ++bucket) {
    BookNode** tail = &table->chainHeads[bucket];
    uint64_t previous = 0;
    for (int32_t i = 0; i < table->chainLengths[bucket]; ++i, ++node) {
      new (node) BookNode();
      *tail = node;
      tail = &node->next;
      node->keyLow = static_cast<uint32_t>(stream.readDword());   // key low word
      node->keyHigh = static_cast<uint32_t>(stream.readDword());  // key high word
      stream.readDword();                                         // first entry index
      int32_t count = stream.readByte();                          // entry count
      if (count <= 0) return Refuse(fault, BookFault::EmptyNode);
      if (BucketOf({node->keyLow, node->keyHigh}, buckets) != bucket) {
        return Refuse(fault, BookFault::NodeMisplaced);
      }
      uint64_t key = KeyValue(node->keyLow, node->keyHigh);
      if (i > 0 && key >= previous) return Refuse(fault, BookFault::NodeOutOfOrder);
      previous = key;
      node->entryCount = count;
      entrySum += static_cast<uint32_t>(count);
    }
  }
  if (entrySum != entries) return Refuse(fault, BookFault::CountsDisagree);
  if (static_cast<int64_t>(entries) * 8 > left) return Refuse(fault, BookFault::TableTruncated);
  table->loadedEntries = static_cast<BookEntry*>(TryAllocate(entries * sizeof(BookEntry)));
  if (table->loadedEntries == nullptr) return Refuse(fault, BookFault::NoMemory);
  table->loadedEntryCount = entries;
  BookEntry* place = table->loadedEntries;
  for (uint32_t n = 0; n < nodes; ++n) {
    table->loadedNodes[n].entries = place;
    place += table->loadedNodes[n].entryCount;
  }

  // Entry area, node by node in record order.
  MoveCodeSet seen;
  uint8_t bytes[kMaxNodeEntries * 8];
  for (uint32_t bucket = 0; bucket < buckets; ++bucket) {
    for (BookNode* node = table->chainHeads[bucket]; node != nullptr; node = node->next) {
      int32_t size = node->entryCount * 8;
      if (stream.read(bytes, size) != size) return Refuse(fault, BookFault::TableTruncated);
      bool unique = true;
      for (int32_t e = 0; e < node->entryCount; ++e) {
        node->entries[e] = {LoadLE32(bytes + 8 * e), LoadLE32(bytes + 8 * e + 4)};
        if (!seen.insert(MoveCode(node->entries[e]))) unique = false;
      }
      for (int32_t e = 0; e < node->entryCount; ++e) seen.erase(MoveCode(node->entries[e]));
      if (!unique) return Refuse(fault, BookFault::DuplicateMove);
    }
  }
  table->nodeCount = static_cast<int32_t>(nodes);
  table->entryCount = static_cast<int32_t>(entries);
  if (fault != nullptr) *fault = BookFault::None;
  return table;
}

BookTableOwner LoadBookTable(const void* block, uint32_t size, BookFault* fault) {
  MemoryStreamOwner stream(OpenMemoryStream(const_cast<void*>(block), size, true));
  if (stream == nullptr) return Refuse(fault, BookFault::NoMemory);
  return ReadBookTable(*stream, fault);
}

int32_t WriteBookTable(const BookTable& table, ByteStream& stream) {
  // Fields are gathered in a small buffer and handed to the stream in
  // blocks, not one call per field.
  BlockWriter out(stream);
  out.put32(static_cast<uint32_t>(table.bucketCount));
  out.put32(static_cast<uint32_t>(table.nodeCount));
  out.put32(static_cast<uint32_t>(table.entryCount));

  // Bucket directory: index of each bucket's first node record, chain length.
  uint32_t firstNode = 0;
  for (int32_t bucket = 0; bucket < table.bucketCount; ++bucket) {
    out.put32(firstNode);
    out.put16(static_cast<uint16_t>(table.chainLengths[bucket]));
    firstNode += static_cast<uint32_t>(table.chainLengths[bucket]);
  }

  // Node records: key, index of the node's first entry, entry count.
  uint32_t firstEntry = 0;
  for (int32_t bucket = 0; bucket < table.bucketCount; ++bucket) {
    for (const BookNode* node = table.chainHeads[bucket]; node != nullptr; node = node->next) {
      out.put32(node->keyLow);
      out.put32(node->keyHigh);
      out.put32(firstEntry);
      out.put8(static_cast<uint8_t>(node->entryCount));
      firstEntry += static_cast<uint32_t>(node->entryCount);
    }
  }

  // Entry area.
  for (int32_t bucket = 0; bucket < table.bucketCount; ++bucket) {
    for (const BookNode* node = table.chainHeads[bucket]; node != nullptr; node = node->next) {
      for (int32_t e = 0; e < node->entryCount; ++e) {
        out.put32(node->entries[e].first);
        out.put32(node->entries[e].second);
      }
    }
  }
  return out.finish() ? 0 : -1;
}

int32_t SaveBookTable(const BookTable& table, void* block, uint32_t size) {
  if (size < SerializedTableSize(table)) return -1;
  MemoryStreamOwner stream(OpenMemoryStream(block, size, false));
  if (stream == nullptr) return -1;
  return WriteBookTable(table, *stream);
}

int32_t PutBookEntry(BookTable& table, BookKey key, BookEntry entry, BookFault* fault) {
  bool found = false;
  BookNode** link = FindLink(table, key, &found);
  if (found) {
    BookNode* node = *link;
    for (int32_t e = 0; e < node->entryCount; ++e) {
      if (MoveCode(node->entries[e]) == MoveCode(entry)) {
        node->entries[e] = entry;
        return kEntryReplaced;
      }
    }
    if (node->entryCount >= kMaxNodeEntries) {
      if (fault != nullptr) *fault = BookFault::EntryLimit;
      return kPutRefused;
    }
    // The entry array grows by exactly one entry: allocate, copy, free.
    auto* grown = static_cast<BookEntry*>(TryAllocate((node->entryCount + 1) * sizeof(BookEntry)));
    if (grown == nullptr || table.entryCount == INT32_MAX) {
      ReleaseMemory(grown);
      if (fault != nullptr) *fault = BookFault::NoMemory;
      return kPutRefused;
    }
    std::memcpy(grown, node->entries, node->entryCount * sizeof(BookEntry));
    grown[node->entryCount] = entry;
    if (!InBlock(node->entries, table.loadedEntries, table.loadedEntryCount)) {
      ReleaseMemory(node->entries);
    }
    node->entries = grown;
    node->entryCount += 1;
    table.entryCount += 1;
    return kEntryAdded;
  }

  uint32_t bucket = BucketOf(key, static_cast<uint32_t>(table.bucketCount));
  if (table.chainLengths[bucket] >= kMaxChainLength) {
    if (fault != nullptr) *fault = BookFault::ChainLimit;
    return kPutRefused;
  }
  BookNode* node = TryNew<BookNode>();
  BookEntry* entries = static_cast<BookEntry*>(TryAllocate(sizeof(BookEntry)));
  if (node == nullptr || entries == nullptr || table.nodeCount == INT32_MAX ||
      table.entryCount == INT32_MAX) {
    delete node;
    ReleaseMemory(entries);
    if (fault != nullptr) *fault = BookFault::NoMemory;
    return kPutRefused;
  }
  node->keyLow = key.low;
  node->keyHigh = key.high;
  node->entryCount = 1;
  node->entries = entries;
  node->entries[0] = entry;
  node->next = *link;
  *link = node;
  table.nodeCount += 1;
  table.chainLengths[bucket] += 1;
  table.entryCount += 1;
  return kNodeCreated;
}

int32_t RemoveBookEntry(BookTable& table, BookKey key, BookEntry entry) {
  bool found = false;
  BookNode** link = FindLink(table, key, &found);
  if (!found) return 0;
  BookNode* node = *link;
  int32_t at = 0;
  while (at < node->entryCount && MoveCode(node->entries[at]) != MoveCode(entry)) ++at;
  if (at == node->entryCount) return 0;
  // Later entries move one place forward and keep their order; the array
  // keeps its allocation.
  std::memmove(node->entries + at, node->entries + at + 1,
               (node->entryCount - at - 1) * sizeof(BookEntry));
  node->entryCount -= 1;
  table.entryCount -= 1;
  if (node->entryCount == 0) {
    *link = node->next;
    node->next = nullptr;
    DestroyBookNode(table, node);
    table.nodeCount -= 1;
    table.chainLengths[BucketOf(key, static_cast<uint32_t>(table.bucketCount))] -= 1;
  }
  return 1;
}

int32_t SortBookEntries(BookTable& table) {
  for (int32_t bucket = 0; bucket < table.bucketCount; ++bucket) {
    for (BookNode* node = table.chainHeads[bucket]; node != nullptr; node = node->next) {
      // Selection sort by move code; of equal codes the earliest is taken.
      BookEntry* entries = node->entries;
      for (int32_t j = 0; j + 1 < node->entryCount; ++j) {
        int32_t smallest = j;
        for (int32_t k = j + 1; k < node->entryCount; ++k) {
          if (MoveCode(entries[k]) < MoveCode(entries[smallest])) smallest = k;
        }
        if (smallest != j) {
          BookEntry swap = entries[j];
          entries[j] = entries[smallest];
          entries[smallest] = swap;
        }
      }
    }
  }
  return 0;
}

}  // namespace kalvora
