// The book merge: the update stream's groups, items and terminators, the new
// block, its failures, and a reference check against random updates.
#include <gtest/gtest.h>

#include <random>

#include "book/book_merge.h"
#include "stream/allocation.h"
#include "stream/memory_stream.h"
#include "support/book_builder.h"

namespace kalvora {
namespace {

using test::BookModel;
using test::Bytes;
using test::ByteWriter;
using test::UpdateStreamBuilder;

// A marker after the update stream shows where the merge left the package.
const Bytes kMarker = {0xA5, 0xA5, 0xA5};

struct MergeRun {
  uint32_t result = 0;
  BookFault fault = BookFault::None;
  uint32_t packageUsed = 0;  // bytes of the package read
  uint32_t oldUsed = 0;      // bytes of the old copy read
  Bytes written;             // what the target received
};

MergeRun RunMerge(Bytes oldCopy, const Bytes& update, uint32_t targetCapacity = 1u << 20) {
  Bytes package = ByteWriter().raw(update).raw(kMarker).bytes();
  Bytes target(targetCapacity, 0xCC);
  MemoryStream packageStream, oldStream, targetStream;
  packageStream.attach(package.data(), static_cast<uint32_t>(package.size()), true);
  oldStream.attach(oldCopy.data(), static_cast<uint32_t>(oldCopy.size()), true);
  targetStream.attach(target.data(), targetCapacity, false);
  MergeRun run;
  run.result = MergeBook(packageStream, oldStream, targetStream, &run.fault);
  run.packageUsed = packageStream.position;
  run.oldUsed = oldStream.position;
  target.resize(targetStream.position);
  run.written = target;
  return run;
}

BookModel SmallBook() {
  BookModel model;
  model.buckets = 7;
  model.put(1000, 1, {0x0000'0020, 5});
  model.put(1000, 1, {0x0000'0010, 6});  // stored out of move-code order
  model.put(2000, 2, {0x0001'0123, 7});
  return model;
}

// The model as the merge must write it: entries sorted.
BookModel Sorted(BookModel model) {
  model.sortEntries();
  return model;
}

TEST(BookMerge, OnlyATerminatorStillRebuildsTheBlock) {
  Bytes old = test::MakeBlock(test::SerializeModel(SmallBook()));
  MergeRun run = RunMerge(old, UpdateStreamBuilder().terminator(0).bytes());
  EXPECT_EQ(run.fault, BookFault::None);
  EXPECT_EQ(run.packageUsed, 4u);
  EXPECT_EQ(run.oldUsed, old.size());
  ASSERT_EQ(run.result, run.written.size());
  EXPECT_EQ(run.result, 8 + test::Dword(run.written, 0));
  std::size_t end = 0;
  EXPECT_EQ(test::ParseBlock(run.written, 0, &end), Sorted(SmallBook()));
  EXPECT_EQ(end, run.written.size());
}

TEST(BookMerge, TerminatorsEndTheStreamAndGroupKeysBeginAGroup) {
  struct Case {
    uint32_t value;
    bool beginsGroup;
  } cases[] = {{0, false},          {1, false}, {63, false},
               {0xFFFFFFFF, false}, {64, true}, {0xFFFFFFFE, true}};
  Bytes old = test::MakeBlock(test::SerializeModel(SmallBook()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    // A group under this key low with one put item, then terminator 0.
    Bytes update = UpdateStreamBuilder().group(c.value, 9, {{0x77, 1}}).terminator(0).bytes();
    MergeRun run = RunMerge(old, update);
    ASSERT_NE(run.result, kMergeFailed);
    BookModel expected = SmallBook();
    if (c.beginsGroup) expected.put(c.value, 9, {0x77, 1});
    EXPECT_EQ(test::ParseBlock(run.written, 0), Sorted(expected));
    EXPECT_EQ(run.packageUsed, c.beginsGroup ? update.size() : 4u);
  }
}

TEST(BookMerge, ItemsPutReplaceAndDelete) {
  struct Case {
    const char* name;
    std::vector<BookEntry> items;  // for key (1000, 1)
    std::vector<BookEntry> after;  // the node afterwards, sorted; empty: no node
  } cases[] = {
      {"no items", {}, {{0x10, 6}, {0x20, 5}}},
      {"delete item", {test::DeleteItem(0x10)}, {{0x20, 5}}},
      {"second word FFFFFFFE puts",
       {{0xFFFF0010, 0xFFFFFFFE}},
       {{0xFFFF0010, 0xFFFFFFFE}, {0x20, 5}}},
      {"upper half not all set puts",
       {{0xFFFE0010, 0xFFFFFFFF}},
       {{0xFFFE0010, 0xFFFFFFFF}, {0x20, 5}}},
      {"replace keeps all 8 bytes", {{0x1234'0020, 42}}, {{0x10, 6}, {0x1234'0020, 42}}},
      {"add then sorted", {{0x15, 1}}, {{0x10, 6}, {0x15, 1}, {0x20, 5}}},
      {"delete a move the node lacks", {test::DeleteItem(0x99)}, {{0x10, 6}, {0x20, 5}}},
      {"delete all", {test::DeleteItem(0x10), test::DeleteItem(0x20)}, {}},
      {"put after delete adds again", {test::DeleteItem(0x10), {0x10, 8}}, {{0x10, 8}, {0x20, 5}}},
  };
  Bytes old = test::MakeBlock(test::SerializeModel(SmallBook()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes update = UpdateStreamBuilder().group(1000, 1, c.items).terminator(0).bytes();
    MergeRun run = RunMerge(old, update);
    ASSERT_NE(run.result, kMergeFailed);
    EXPECT_EQ(run.packageUsed, update.size());
    BookModel written = test::ParseBlock(run.written, 0);
    auto node = written.nodes.find(test::KeyOf(1000, 1));
    if (c.after.empty()) {
      EXPECT_EQ(node, written.nodes.end());
      continue;
    }
    ASSERT_NE(node, written.nodes.end());
    ASSERT_EQ(node->second.size(), c.after.size());
    for (std::size_t i = 0; i < c.after.size(); ++i) {
      EXPECT_EQ(node->second[i].first, c.after[i].first);
      EXPECT_EQ(node->second[i].second, c.after[i].second);
    }
  }
}

TEST(BookMerge, KeysWithoutANode) {
  Bytes old = test::MakeBlock(test::SerializeModel(SmallBook()));
  // Put then delete on a new key leaves no node; a delete alone changes nothing.
  Bytes update = UpdateStreamBuilder()
                     .group(5000, 5, {{5, 1}})
                     .group(5000, 5, {test::DeleteItem(5)})
                     .group(6000, 6, {test::DeleteItem(5)})
                     .terminator(1)
                     .bytes();
  MergeRun run = RunMerge(old, update);
  EXPECT_EQ(test::ParseBlock(run.written, 0), Sorted(SmallBook()));
  EXPECT_EQ(run.packageUsed, update.size());
}

TEST(BookMerge, EndOfPackageEndsTheStream) {
  Bytes old = test::MakeBlock(test::SerializeModel(SmallBook()));
  struct Case {
    const char* name;
    Bytes package;  // no marker: the package ends where the bytes do
    std::size_t entriesAdded;
  } cases[] = {
      {"at a group boundary", UpdateStreamBuilder().group(3000, 3, {{1, 1}}).bytes(), 1},
      {"in the item count", ByteWriter().u32(3000).u32(3).bytes(), 0},
      {"inside an item", ByteWriter().u32(3000).u32(3).u8(2).u32(1).u32(1).u32(2).bytes(), 1},
      {"empty package", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes package = c.package;
    Bytes target(1 << 16);
    Bytes oldCopy = old;
    MemoryStream p, o, t;
    p.attach(package.data(), static_cast<uint32_t>(package.size()), true);
    o.attach(oldCopy.data(), static_cast<uint32_t>(oldCopy.size()), true);
    t.attach(target.data(), static_cast<uint32_t>(target.size()), false);
    ASSERT_NE(MergeBook(p, o, t), kMergeFailed);
    EXPECT_EQ(p.position, package.size());
    EXPECT_EQ(test::ParseBlock(target, 0).entryCount(), SmallBook().entryCount() + c.entriesAdded);
  }
}

TEST(BookMerge, ResultCountsTheBytesWrittenAndRawLengthIsTheSerializedSize) {
  std::mt19937 rng(11);
  BookModel book = test::RandomBook(rng, 31, 300, 3);
  MergeRun run = RunMerge(test::MakeBlock(test::SerializeModel(book)),
                          UpdateStreamBuilder().group(77, 88, {{1, 2}}).terminator().bytes());
  book.put(77, 88, {1, 2});
  book.sortEntries();
  ASSERT_NE(run.result, kMergeFailed);
  EXPECT_EQ(run.result, 8 + test::Dword(run.written, 0));
  EXPECT_EQ(run.result, run.written.size());
  EXPECT_EQ(test::Dword(run.written, 4),
            12 + 6 * 31 + 13 * book.nodes.size() + 8 * book.entryCount());
  EXPECT_EQ(test::ParseBlock(run.written, 0), book);
}

TEST(BookMerge, StatedRawLengthLargerThanTheTableStillLoads) {
  Bytes table = test::SerializeModel(SmallBook());
  Bytes old = test::MakeBlock(table);
  old[4] = static_cast<uint8_t>(table.size() + 100);  // raw length, low byte
  MergeRun run = RunMerge(old, UpdateStreamBuilder().terminator().bytes());
  ASSERT_NE(run.result, kMergeFailed);
  EXPECT_EQ(test::ParseBlock(run.written, 0), Sorted(SmallBook()));
}

TEST(BookMerge, MatchesTheReferenceOnRandomUpdates) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    uint32_t buckets = 1 + rng() % 200;
    BookModel book = test::RandomBook(rng, buckets, 1 + rng() % 400, 3);
    std::vector<uint64_t> keys;
    for (const auto& node : book.nodes) keys.push_back(node.first);
    BookModel expected = book;
    UpdateStreamBuilder update;
    for (int g = 0; g < 60; ++g) {
      // Half the groups name an existing key, half a new or repeated one.
      uint64_t key =
          (g % 2 == 0) ? keys[rng() % keys.size()] : test::KeyOf(64 + rng() % 50, rng() % 3);
      uint32_t low = static_cast<uint32_t>(key);
      uint32_t high = static_cast<uint32_t>(key >> 32);
      std::vector<BookEntry> items;
      for (int i = rng() % 6; i > 0; --i) {
        uint16_t code = static_cast<uint16_t>(rng() % 8);
        if (rng() % 3 == 0) {
          items.push_back(test::DeleteItem(code));
          expected.remove(low, high, code);
        } else {
          BookEntry item{static_cast<uint32_t>(rng() & 0x7FFF0000u) | code,
                         static_cast<uint32_t>(rng())};
          items.push_back(item);
          expected.put(low, high, item);
        }
      }
      update.group(low, high, items);
    }
    update.terminator(rng() % 64);
    expected.sortEntries();
    MergeRun run = RunMerge(test::MakeBlock(test::SerializeModel(book)), update.bytes());
    ASSERT_NE(run.result, kMergeFailed) << DescribeBookFault(run.fault);
    EXPECT_EQ(run.packageUsed, update.bytes().size());
    EXPECT_TRUE(test::ParseBlock(run.written, 0) == expected);
  }
}

// Every failure: kMergeFailed with its reason, the package read past the
// terminator all the same, and nothing written to the target.
TEST(BookMerge, FailuresReadPastTheStreamAndWriteNothing) {
  Bytes table = test::SerializeModel(SmallBook());
  Bytes good = test::MakeBlock(table);
  Bytes update =
      UpdateStreamBuilder().group(1000, 1, {{0x30, 1}}).group(70, 0, {}).terminator().bytes();
  Bytes fullNode = [] {
    BookModel model;
    for (uint32_t code = 1000; code < 1255; ++code) model.put(1000, 1, {code, 0});
    return test::MakeBlock(test::SerializeModel(model));
  }();
  struct Case {
    const char* name;
    Bytes old;
    BookFault fault;
  } cases[] = {
      {"old copy empty", {}, BookFault::BlockTruncated},
      {"header cut short", Bytes(good.begin(), good.begin() + 6), BookFault::BlockTruncated},
      {"block cut short", Bytes(good.begin(), good.end() - 1), BookFault::BlockTruncated},
      {"compressed length huge",
       [&] {
         Bytes b = good;
         b[3] = 0x7F;
         return b;
       }(),
       BookFault::BlockTruncated},
      {"zlib stream damaged",
       [&] {
         Bytes b = good;
         b[b.size() - 2] ^= 0xFF;
         return b;
       }(),
       BookFault::BlockNotInflated},
      {"raw length too small",
       [&] {
         Bytes b = good;
         b[4] = 10;
         b[5] = 0;
         return b;
       }(),
       BookFault::BlockNotInflated},
      {"table with no buckets", test::MakeBlock(ByteWriter().u32(0).u32(0).u32(0).bytes()),
       BookFault::BadBucketCount},
      {"a node would get a 256th entry", fullNode, BookFault::EntryLimit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MergeRun run = RunMerge(c.old, update);
    EXPECT_EQ(run.result, kMergeFailed);
    EXPECT_EQ(run.fault, c.fault) << DescribeBookFault(run.fault);
    EXPECT_EQ(run.packageUsed, update.size());
    EXPECT_TRUE(run.written.empty());
  }
}

TEST(BookMerge, TargetThatRefusesTheBlockIsAFailure) {
  Bytes old = test::MakeBlock(test::SerializeModel(SmallBook()));
  MergeRun run = RunMerge(old, UpdateStreamBuilder().terminator().bytes(), 20);
  EXPECT_EQ(run.result, kMergeFailed);
  EXPECT_EQ(run.fault, BookFault::WriteFailed);
  EXPECT_EQ(run.packageUsed, 4u);
}

TEST(BookMerge, RunningOutOfMemoryAtAnyStepFailsCleanly) {
  std::mt19937 rng(5);
  Bytes old = test::MakeBlock(test::SerializeModel(test::RandomBook(rng, 5, 12, 2)));
  Bytes update = UpdateStreamBuilder().group(100, 1, {{1, 1}, {2, 2}}).terminator().bytes();
  for (long allowed = 0;; ++allowed) {
    SCOPED_TRACE(allowed);
    ASSERT_LT(allowed, 1000);
    FailAllocationsAfter(allowed);
    MergeRun run = RunMerge(old, update);
    FailAllocationsAfter(-1);
    EXPECT_EQ(run.packageUsed, update.size());
    if (run.result != kMergeFailed) break;
    EXPECT_EQ(run.fault, BookFault::NoMemory);
    EXPECT_TRUE(run.written.empty());
  }
}

TEST(SkipBookUpdateStream, CountsGroupsAndRefusesCutGroups) {
  struct Case {
    const char* name;
    Bytes bytes;
    int32_t result;
    uint32_t groups, puts, deletes;
  } cases[] = {
      {"terminator only", UpdateStreamBuilder().terminator(5).bytes(), 0, 0, 0, 0},
      {"groups",
       UpdateStreamBuilder()
           .group(64, 0, {{1, 1}, test::DeleteItem(3)})
           .group(99, 1, {})
           .terminator()
           .bytes(),
       0, 2, 1, 1},
      {"clean end of data", UpdateStreamBuilder().group(64, 0, {{1, 1}}).bytes(), 0, 1, 1, 0},
      {"empty", {}, 0, 0, 0, 0},
      {"cut key", Bytes{0x40, 0, 0}, -1, 0, 0, 0},
      {"cut count", ByteWriter().u32(64).u32(0).bytes(), -1, 0, 0, 0},
      {"cut item", ByteWriter().u32(64).u32(0).u8(1).u32(1).bytes(), -1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = c.bytes;
    MemoryStream stream;
    stream.attach(bytes.data(), static_cast<uint32_t>(bytes.size()), true);
    UpdateStreamSummary summary;
    EXPECT_EQ(SkipBookUpdateStream(stream, &summary), c.result);
    EXPECT_EQ(stream.position, bytes.size());
    EXPECT_EQ(summary.groups, c.groups);
    EXPECT_EQ(summary.puts, c.puts);
    EXPECT_EQ(summary.deletes, c.deletes);
  }
}

}  // namespace
}  // namespace kalvora
