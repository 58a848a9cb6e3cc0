// The book table: bucket rule, chain order, puts and removes, sorting, the
// serialized form byte for byte, and the loader's refusal of damaged tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "book/book_table.h"
#include "stream/allocation.h"
#include "support/book_builder.h"

namespace kalvora {
namespace {

using test::BookModel;
using test::Bytes;
using test::ByteWriter;

BookTableOwner Load(const Bytes& bytes, BookFault* fault = nullptr) {
  return LoadBookTable(bytes.data(), static_cast<uint32_t>(bytes.size()), fault);
}

Bytes Save(const BookTable& table) {
  Bytes out(SerializedTableSize(table));
  EXPECT_EQ(SaveBookTable(table, out.data(), static_cast<uint32_t>(out.size())), 0);
  return out;
}

BookTableOwner EmptyTable(uint32_t buckets) {
  BookModel model;
  model.buckets = buckets;
  return Load(test::SerializeModel(model));
}

// Keys of one chain, first to last.
std::vector<std::pair<uint32_t, uint32_t>> Chain(const BookTable& table, int32_t bucket) {
  std::vector<std::pair<uint32_t, uint32_t>> keys;
  for (const BookNode* node = table.chainHeads[bucket]; node != nullptr; node = node->next) {
    keys.emplace_back(node->keyLow, node->keyHigh);
  }
  return keys;
}

TEST(BookTable, BucketRuleIsUnsigned) {
  EXPECT_EQ(BucketOf({1234, 1234}, 977), 0u);
  EXPECT_EQ(BucketOf({0xFFFFFFFF, 0}, 1000), 295u);
  EXPECT_EQ(BucketOf({0x80000000, 0}, 3), 2u);
}

TEST(BookTable, SerializesTheTwoBucketExampleByteForByte) {
  BookTableOwner table = EmptyTable(2);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(PutBookEntry(*table, {257, 256}, {0x00050010, 7}), kNodeCreated);
  EXPECT_EQ(PutBookEntry(*table, {257, 256}, {0x00030020, 9}), kEntryAdded);
  Bytes expected = ByteWriter()
                       .raw(Bytes{0x02, 0, 0, 0, 0x01, 0, 0, 0, 0x02, 0, 0, 0})
                       .raw(Bytes{0, 0, 0, 0, 0, 0})
                       .raw(Bytes{0, 0, 0, 0, 1, 0})
                       .raw(Bytes{0x01, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0x02})
                       .raw(Bytes{0x10, 0, 0x05, 0, 0x07, 0, 0, 0})
                       .raw(Bytes{0x20, 0, 0x03, 0, 0x09, 0, 0, 0})
                       .bytes();
  ASSERT_EQ(expected.size(), 53u);
  EXPECT_EQ(SerializedTableSize(*table), 53u);
  EXPECT_EQ(Save(*table), expected) << test::Hex(Save(*table));
}

TEST(BookTable, LoadThenSaveGivesTheSameBytes) {
  std::mt19937 rng(7);
  for (uint32_t buckets : {1u, 3u, 64u, 1000u}) {
    SCOPED_TRACE(buckets);
    Bytes block = test::SerializeModel(test::RandomBook(rng, buckets, 500, 3));
    BookTableOwner table = Load(block);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(Save(*table), block);
  }
}

TEST(BookTable, ChainsStayInDescendingKeyOrder) {
  // In one bucket, (10,7) and (5,7) in that order whichever comes first;
  // (1,8) before both and (12,6) after both.
  for (bool reversed : {false, true}) {
    SCOPED_TRACE(reversed);
    BookTableOwner table = EmptyTable(1);
    std::vector<BookKey> keys = {{5, 7}, {10, 7}, {12, 6}, {1, 8}};
    if (reversed) std::reverse(keys.begin(), keys.end());
    for (BookKey key : keys) EXPECT_EQ(PutBookEntry(*table, key, {1, 0}), kNodeCreated);
    EXPECT_EQ(Chain(*table, 0),
              (std::vector<std::pair<uint32_t, uint32_t>>{{1, 8}, {10, 7}, {5, 7}, {12, 6}}));
    EXPECT_EQ(table->nodeCount, 4);
    EXPECT_EQ(table->chainLengths[0], 4);
  }
}

TEST(BookTable, PutReplacesAddsOrCreates) {
  BookTableOwner table = EmptyTable(4);
  BookKey key{100, 3};
  uint32_t bucket = BucketOf(key, 4);
  EXPECT_EQ(PutBookEntry(*table, key, {0x0001'0005, 1}), kNodeCreated);
  EXPECT_EQ(table->nodeCount, 1);
  EXPECT_EQ(table->entryCount, 1);
  EXPECT_EQ(table->chainLengths[bucket], 1);
  EXPECT_EQ(PutBookEntry(*table, key, {0x0002'0006, 2}), kEntryAdded);
  EXPECT_EQ(table->entryCount, 2);
  // Same move code, other data in bits 16-31: the same move, replaced whole.
  EXPECT_EQ(PutBookEntry(*table, key, {0xABCD'0005, 99}), kEntryReplaced);
  EXPECT_EQ(table->entryCount, 2);
  const BookNode* node = table->chainHeads[bucket];
  ASSERT_EQ(node->entryCount, 2);
  EXPECT_EQ(node->entries[0].first, 0xABCD0005u);
  EXPECT_EQ(node->entries[0].second, 99u);
  EXPECT_EQ(node->entries[1].first, 0x00020006u);
}

TEST(BookTable, RemoveKeepsOrderAndDropsEmptiedNodes) {
  BookTableOwner table = EmptyTable(1);
  BookKey key{300, 0};
  PutBookEntry(*table, {900, 0}, {1, 0});
  for (uint32_t code : {1u, 2u, 3u}) PutBookEntry(*table, key, {code, code});
  PutBookEntry(*table, {100, 0}, {1, 0});

  EXPECT_EQ(RemoveBookEntry(*table, {555, 0}, {1, 0}), 0);  // no node
  EXPECT_EQ(RemoveBookEntry(*table, key, {9, 0}), 0);       // no such move
  EXPECT_EQ(table->entryCount, 5);
  // Only the move code counts, not the other 48 bits.
  EXPECT_EQ(RemoveBookEntry(*table, key, {0xFFFF0002, 0xFFFFFFFF}), 1);
  const BookNode* node = table->chainHeads[0]->next;
  ASSERT_EQ(node->entryCount, 2);
  EXPECT_EQ(node->entries[0].first, 1u);
  EXPECT_EQ(node->entries[1].first, 3u);

  EXPECT_EQ(RemoveBookEntry(*table, key, {1, 0}), 1);
  EXPECT_EQ(RemoveBookEntry(*table, key, {3, 0}), 1);
  EXPECT_EQ(Chain(*table, 0), (std::vector<std::pair<uint32_t, uint32_t>>{{900, 0}, {100, 0}}));
  EXPECT_EQ(table->nodeCount, 2);
  EXPECT_EQ(table->chainLengths[0], 2);
  EXPECT_EQ(table->entryCount, 2);
  BookModel saved = test::ParseSerializedTable(Save(*table));
  EXPECT_EQ(saved.nodes.size(), 2u);
  EXPECT_EQ(saved.nodes.count(test::KeyOf(300, 0)), 0u);
}

TEST(BookTable, SortOrdersByMoveCodeOnly) {
  BookTableOwner table = EmptyTable(1);
  BookKey key{64, 0};
  PutBookEntry(*table, key, {0x0000'0300, 1});
  PutBookEntry(*table, key, {0x0001'0100, 2});
  PutBookEntry(*table, key, {0xFFFF'0200, 3});
  EXPECT_EQ(SortBookEntries(*table), 0);
  const BookNode* node = table->chainHeads[0];
  EXPECT_EQ(node->entries[0].first, 0x00010100u);
  EXPECT_EQ(node->entries[1].first, 0xFFFF0200u);
  EXPECT_EQ(node->entries[2].first, 0x00000300u);
}

TEST(BookTable, RefusesWhatTheFormatCannotHold) {
  BookTableOwner table = EmptyTable(1);
  for (uint32_t code = 0; code < 255; ++code) {
    ASSERT_NE(PutBookEntry(*table, {64, 0}, {code, 0}), kPutRefused);
  }
  BookFault fault = BookFault::None;
  EXPECT_EQ(PutBookEntry(*table, {64, 0}, {255, 0}, &fault), kPutRefused);
  EXPECT_EQ(fault, BookFault::EntryLimit);
  EXPECT_EQ(PutBookEntry(*table, {64, 0}, {7, 1}), kEntryReplaced);  // still replaces
  EXPECT_EQ(table->entryCount, 255);

  for (uint32_t low = 65; table->nodeCount < kMaxChainLength; ++low) {
    ASSERT_EQ(PutBookEntry(*table, {low, 0}, {1, 0}), kNodeCreated);
  }
  fault = BookFault::None;
  EXPECT_EQ(PutBookEntry(*table, {1u << 30, 0}, {1, 0}, &fault), kPutRefused);
  EXPECT_EQ(fault, BookFault::ChainLimit);
  EXPECT_EQ(table->chainLengths[0], kMaxChainLength);
  EXPECT_EQ(test::ParseSerializedTable(Save(*table)).nodes.size(), 65535u);
}

TEST(BookTable, PutWithoutMemoryChangesNothing) {
  BookTableOwner table = EmptyTable(1);
  PutBookEntry(*table, {64, 0}, {1, 0});
  for (BookKey key : {BookKey{64, 0}, BookKey{65, 0}}) {
    FailAllocationsAfter(0);
    BookFault fault = BookFault::None;
    EXPECT_EQ(PutBookEntry(*table, key, {2, 0}, &fault), kPutRefused);
    FailAllocationsAfter(-1);
    EXPECT_EQ(fault, BookFault::NoMemory);
  }
  EXPECT_EQ(table->nodeCount, 1);
  EXPECT_EQ(table->entryCount, 1);
}

// Damaged tables: each is refused with its reason, none crashes or reads
// out of bounds.
TEST(BookTable, LoaderRefusesDamagedTables) {
  // Bucket 0 holds (100,100); bucket 1 holds (257,256) with two entries,
  // then (101,100).
  auto valid = [] {
    BookModel model;
    model.buckets = 2;
    model.put(257, 256, {0x10, 7});
    model.put(257, 256, {0x20, 9});
    model.put(101, 100, {0x30, 1});  // bucket 1 as well, smaller key
    model.put(100, 100, {0x40, 1});  // bucket 0
    return test::SerializeModel(model);
  };
  ASSERT_NE(Load(valid()), nullptr);
  // Layout: header 12, directory 12 (bucket 0 at 12, bucket 1 at 18), node
  // records at 24: bucket 0's (100,100), then bucket 1's (257,256), (101,100).
  const std::size_t records = 24;
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    BookFault fault;
  } cases[] = {
      {"no buckets", [](Bytes& b) { b[0] = 0; }, BookFault::BadBucketCount},
      {"huge bucket count", [](Bytes& b) { b[3] = 0x40; }, BookFault::TableTruncated},
      {"node count too high", [](Bytes& b) { b[4] = 4; }, BookFault::CountsDisagree},
      {"entry count too low", [](Bytes& b) { b[8] = 3; }, BookFault::CountsDisagree},
      {"chain length too high", [](Bytes& b) { b[22] = 3; }, BookFault::CountsDisagree},
      {"empty node", [&](Bytes& b) { b[records + 12] = 0; }, BookFault::EmptyNode},
      {"node in the wrong bucket", [&](Bytes& b) { b[records] = 101; }, BookFault::NodeMisplaced},
      {"chain out of order",
       [&](Bytes& b) {
         for (int i = 0; i < 8; ++i) std::swap(b[records + 13 + i], b[records + 26 + i]);
       },
       BookFault::NodeOutOfOrder},
      {"equal keys in a chain",
       [&](Bytes& b) {
         for (int i = 0; i < 8; ++i) b[records + 26 + i] = b[records + 13 + i];
       },
       BookFault::NodeOutOfOrder},
      {"one move code twice",
       [](Bytes& b) { b[b.size() - 24] = 0x20; },  // first entry of (257,256) becomes 0x20
       BookFault::DuplicateMove},
      {"cut inside the entries", [](Bytes& b) { b.resize(b.size() - 1); },
       BookFault::TableTruncated},
      {"cut inside the records", [&](Bytes& b) { b.resize(records + 20); },
       BookFault::TableTruncated},
      {"cut inside the directory", [](Bytes& b) { b.resize(20); }, BookFault::TableTruncated},
      {"cut inside the header", [](Bytes& b) { b.resize(11); }, BookFault::TableTruncated},
      {"nothing", [](Bytes& b) { b.clear(); }, BookFault::TableTruncated},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = valid();
    c.damage(bytes);
    BookFault fault = BookFault::None;
    EXPECT_EQ(Load(bytes, &fault), nullptr);
    EXPECT_EQ(fault, c.fault) << DescribeBookFault(fault);
  }
}

TEST(BookTable, LoaderIgnoresStoredIndexesAndTrailingBytes) {
  BookModel model;
  model.buckets = 3;
  model.put(70, 0, {1, 2});
  model.put(80, 0, {3, 4});
  Bytes bytes = test::SerializeModel(model);
  Bytes damaged = bytes;
  damaged[12] = 0x55;           // first node index of bucket 0
  damaged[12 + 18 + 8] = 0x66;  // first entry index of the first record
  damaged.push_back(0xAA);
  BookTableOwner table = Load(damaged);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(Save(*table), bytes) << "indexes are written afresh";
}

TEST(BookTable, LoaderRunningOutOfMemoryAtEveryStepLeaksNothing) {
  std::mt19937 rng(3);
  Bytes bytes = test::SerializeModel(test::RandomBook(rng, 8, 20, 2));
  for (long allowed = 0;; ++allowed) {
    SCOPED_TRACE(allowed);
    FailAllocationsAfter(allowed);
    BookFault fault = BookFault::None;
    BookTableOwner table = Load(bytes, &fault);
    FailAllocationsAfter(-1);
    if (table != nullptr) break;
    EXPECT_EQ(fault, BookFault::NoMemory);
    ASSERT_LT(allowed, 1000);
  }
}

}  // namespace
}  // namespace kalvora
