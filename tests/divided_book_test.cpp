// The divided book: part layout from offset 264 with fills, the part
// directory written last, parts read wherever the old directory puts them,
// and stopping at the first part that fails.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "book/book_merge.h"
#include "book/divided_book.h"
#include "stream/memory_stream.h"
#include "support/book_builder.h"

namespace kalvora {
namespace {

using test::BookModel;
using test::Bytes;
using test::ByteWriter;
using test::UpdateStreamBuilder;

const Bytes kMarker = {0x5A, 0x5A};

struct DividedRun {
  int32_t result = 0;
  BookFault fault = BookFault::None;
  int32_t failedPart = -2;
  uint32_t packageUsed = 0;
  uint32_t targetPosition = 0;
  Bytes file;  // magic and what MergeDividedBook wrote
};

// Runs the merge as the applier does: both files past their magic.
DividedRun RunDivided(Bytes oldFile, const Bytes& payload) {
  Bytes package = ByteWriter().raw(payload).raw(kMarker).bytes();
  Bytes target(1u << 22, 0xCC);
  std::copy(oldFile.begin(), oldFile.begin() + 8, target.begin());
  MemoryStream packageStream, oldStream, targetStream;
  packageStream.attach(package.data(), static_cast<uint32_t>(package.size()), true);
  oldStream.attach(oldFile.data(), static_cast<uint32_t>(oldFile.size()), true);
  targetStream.attach(target.data(), static_cast<uint32_t>(target.size()), false);
  oldStream.seek(8, false);
  targetStream.seek(8, false);
  DividedRun run;
  run.result =
      MergeDividedBook(packageStream, oldStream, targetStream, &run.fault, &run.failedPart);
  run.packageUsed = packageStream.position;
  run.targetPosition = targetStream.position;
  // A written file ends with the fill of part 63.
  if (run.result == 0) {
    uint32_t last = test::Dword(target, 8 + 4 * 63);
    target.resize(last + ((8 + test::Dword(target, last) + 3) & ~3u));
    run.file = target;
  }
  return run;
}

std::vector<BookModel> RandomParts(std::mt19937& rng) {
  std::vector<BookModel> parts;
  for (int i = 0; i < 64; ++i) parts.push_back(test::RandomBook(rng, 1 + i % 5, 1 + rng() % 12, 2));
  return parts;
}

// A payload: the dropped 4-byte value, then one stream per part.
Bytes Payload(uint32_t head, const std::vector<Bytes>& streams) {
  ByteWriter payload;
  payload.u32(head);
  for (const Bytes& stream : streams) payload.raw(stream);
  return payload.bytes();
}

std::vector<Bytes> EmptyStreams() {
  return std::vector<Bytes>(64, UpdateStreamBuilder().terminator().bytes());
}

TEST(DividedBook, PartsComeOutInOrderFrom264WithFillsWhateverTheOldLayout) {
  struct Case {
    const char* name;
    bool reversed;
    std::size_t gap;
  } cases[] = {{"in order", false, 0},
               {"reversed", true, 0},
               {"with gaps", false, 5},
               {"reversed with gaps", true, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(99);
    std::vector<BookModel> parts = RandomParts(rng);
    std::vector<int> order;
    for (int i = 0; i < 64; ++i) order.push_back(c.reversed ? 63 - i : i);
    std::vector<Bytes> streams = EmptyStreams();
    // Part 5 gets a put, part 40 a delete of an existing entry.
    streams[5] = UpdateStreamBuilder().group(500, 5, {{0x42, 1}}).terminator().bytes();
    parts[5].put(500, 5, {0x42, 1});
    auto victim = parts[40].nodes.begin();
    uint64_t key = victim->first;
    uint16_t code = MoveCode(victim->second.front());
    streams[40] = UpdateStreamBuilder()
                      .group(static_cast<uint32_t>(key), static_cast<uint32_t>(key >> 32),
                             {test::DeleteItem(code)})
                      .terminator(7)
                      .bytes();
    std::vector<BookModel> expected = parts;
    expected[40].remove(static_cast<uint32_t>(key), static_cast<uint32_t>(key >> 32), code);
    for (auto& part : expected) part.sortEntries();

    Bytes payload = Payload(0xDEADBEEF, streams);
    DividedRun run = RunDivided(test::MakeDividedBook(parts, order, c.gap), payload);
    ASSERT_EQ(run.result, 0) << DescribeBookFault(run.fault);
    EXPECT_EQ(run.packageUsed, payload.size());
    EXPECT_EQ(run.targetPosition, 264u) << "left at the end of the part directory";
    std::vector<BookModel> written = test::ParseDividedBook(run.file);
    ASSERT_EQ(written.size(), 64u);
    for (int i = 0; i < 64; ++i) EXPECT_TRUE(written[i] == expected[i]) << "part " << i;
  }
}

TEST(DividedBook, FillMakesEachPartAMultipleOfFour) {
  // Parts of growing size hit every remainder of 4; ParseDividedBook checks
  // each offset, fill byte and the end of the file.
  std::mt19937 rng(1);
  std::vector<BookModel> parts;
  for (int i = 0; i < 64; ++i) parts.push_back(test::RandomBook(rng, 3, 1 + i, 1));
  DividedRun run = RunDivided(test::MakeDividedBook(parts), Payload(0, EmptyStreams()));
  ASSERT_EQ(run.result, 0);
  std::vector<BookModel> written = test::ParseDividedBook(run.file);
  std::set<uint32_t> remainders;
  for (int i = 0; i < 64; ++i) {
    uint32_t offset = test::Dword(run.file, 8 + 4 * i);
    remainders.insert((8 + test::Dword(run.file, offset)) % 4);
  }
  EXPECT_EQ(remainders.size(), 4u) << "blocks of every length modulo 4 were written";
}

TEST(DividedBook, TheHeadValueHasNoEffect) {
  std::mt19937 rng(4);
  Bytes old = test::MakeDividedBook(RandomParts(rng));
  DividedRun a = RunDivided(old, Payload(0, EmptyStreams()));
  DividedRun b = RunDivided(old, Payload(0xFFFFFFFF, EmptyStreams()));
  EXPECT_EQ(a.file, b.file);
}

TEST(DividedBook, StopsAtTheFirstFailingPart) {
  std::mt19937 rng(8);
  std::vector<BookModel> parts = RandomParts(rng);
  Bytes old = test::MakeDividedBook(parts);
  // Damage part 10's zlib stream.
  uint32_t offset10 = test::Dword(old, 8 + 40);
  old[offset10 + 12] ^= 0xFF;
  std::vector<Bytes> streams = EmptyStreams();
  streams[10] = UpdateStreamBuilder().group(64, 0, {{1, 1}}).terminator().bytes();
  streams[11] = UpdateStreamBuilder().group(65, 0, {{1, 1}}).terminator().bytes();
  Bytes payload = Payload(0, streams);
  DividedRun run = RunDivided(old, payload);
  EXPECT_NE(run.result, 0);
  EXPECT_EQ(run.failedPart, 10);
  EXPECT_EQ(run.fault, BookFault::BlockNotInflated);
  EXPECT_EQ(run.packageUsed, payload.size()) << "the whole payload is read past";
}

TEST(DividedBook, RefusesDirectoryEntriesOutsideTheFile) {
  std::mt19937 rng(12);
  Bytes good = test::MakeDividedBook(RandomParts(rng));
  struct Case {
    const char* name;
    int part;
    uint32_t offset;
  } cases[] = {
      {"past the end", 63, static_cast<uint32_t>(good.size())},
      {"header cut by the end", 20, static_cast<uint32_t>(good.size() - 7)},
      {"far past the end", 0, 0xFFFFFFF0u},
      {"inside the directory", 3, 100},
      {"zero", 7, 0},
  };
  Bytes payload = Payload(0, EmptyStreams());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes old = good;
    for (int i = 0; i < 4; ++i) old[8 + 4 * c.part + i] = static_cast<uint8_t>(c.offset >> (8 * i));
    DividedRun run = RunDivided(old, payload);
    EXPECT_NE(run.result, 0);
    EXPECT_EQ(run.fault, BookFault::BadPartOffset);
    EXPECT_EQ(run.packageUsed, payload.size());
  }
}

TEST(DividedBook, PartZeroAnywhereStillLaysTheNewFileOutFrom264) {
  std::mt19937 rng(21);
  std::vector<BookModel> parts = RandomParts(rng);
  // Gap before part 0 moves it past 264.
  Bytes old = test::MakeDividedBook(parts, {}, 16);
  ASSERT_EQ(test::Dword(old, 8), 280u);
  DividedRun run = RunDivided(old, Payload(0, EmptyStreams()));
  ASSERT_EQ(run.result, 0);
  EXPECT_EQ(test::Dword(run.file, 8), 264u);
  EXPECT_EQ(test::ParseDividedBook(run.file).size(), 64u);
}

}  // namespace
}  // namespace kalvora
