// Byte streams (memory and file), the text buffer, the code page 932
// backslash helpers and the whole-buffer inflate.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "stream/allocation.h"
#include "stream/cp932.h"
#include "stream/file_stream.h"
#include "stream/memory_stream.h"
#include "stream/text_buffer.h"
#include "stream/zlib_block.h"
#include "support/bytes.h"
#include "support/temp_folder.h"

namespace kalvora {
namespace {

using test::Bytes;

// Clears any planned allocation failure when a test ends.
struct AllocationGuard {
  ~AllocationGuard() { FailAllocationsAfter(-1); }
};

TEST(MemoryStream, ReadsLittleEndianAndRefusesWhatDoesNotFit) {
  uint8_t block[] = {0x01, 0x02, 0x03, 0x04, 0x05};
  MemoryStream stream;
  stream.attach(block, 5, true);
  EXPECT_EQ(stream.readDword(), 0x04030201);
  EXPECT_EQ(stream.position, 4u);
  EXPECT_EQ(stream.readDword(), -1);  // one byte left: refused whole
  EXPECT_EQ(stream.position, 4u);
  EXPECT_EQ(stream.readWord(), -1);
  EXPECT_EQ(stream.eof(), 0);
  EXPECT_EQ(stream.readByte(), 0x05);
  EXPECT_EQ(stream.eof(), 1);
  EXPECT_EQ(stream.readByte(), -1);
}

TEST(MemoryStream, AllOnesReadsAsMinusOneLikeTheEnd) {
  uint8_t block[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x34, 0x12};
  MemoryStream stream;
  stream.attach(block, sizeof block, true);
  EXPECT_EQ(stream.readDword(), -1);
  EXPECT_EQ(stream.readWord(), 0x1234);
  EXPECT_EQ(stream.readDword(), -1);
}

TEST(MemoryStream, BlockReadsAndWritesMoveWhatFits) {
  uint8_t block[100] = {};
  MemoryStream reader;
  reader.attach(block, 30, true);
  uint8_t buffer[100];
  EXPECT_EQ(reader.read(buffer, 100), 30);
  EXPECT_EQ(reader.position, 30u);
  EXPECT_EQ(reader.read(buffer, 100), 0);
  reader.seek(0, false);
  EXPECT_EQ(reader.read(buffer, 0), 0);

  uint8_t target[10] = {};
  MemoryStream writer;
  writer.attach(target, 10, false);
  writer.seek(8, false);
  const uint8_t five[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(writer.write(five, 5), 2);
  EXPECT_EQ(target[8], 1);
  EXPECT_EQ(target[9], 2);
  EXPECT_EQ(writer.writeByte(7), -1);
}

TEST(MemoryStream, SeekClampsToTheEndIncludingWrapsBelowZero) {
  struct Case {
    int32_t offset;
    bool fromEnd;
    uint32_t position;
  } cases[] = {{10, false, 4}, {-1, true, 3}, {-5, false, 4},
               {-5, true, 4},  {2, false, 2}, {0, true, 4}};
  uint8_t block[4] = {};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << (c.fromEnd ? " from end" : ""));
    MemoryStream stream;
    stream.attach(block, 4, true);
    EXPECT_EQ(stream.seek(c.offset, c.fromEnd), 0);
    EXPECT_EQ(stream.position, c.position);
    EXPECT_EQ(stream.tell(), static_cast<int32_t>(c.position));
  }
}

TEST(MemoryStream, OperationsAgainstTheModeAreRefusedEvenAtTheEnd) {
  uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t buffer[8];
  for (uint32_t at : {0u, 8u}) {
    SCOPED_TRACE(at);
    MemoryStream reader;
    reader.attach(block, 8, true);
    reader.seek(static_cast<int32_t>(at), false);
    EXPECT_EQ(reader.writeByte(1), -1);
    EXPECT_EQ(reader.writeWord(1), -1);
    EXPECT_EQ(reader.writeDword(1), -1);
    EXPECT_EQ(reader.write(buffer, 1), -1);
    MemoryStream writer;
    writer.attach(block, 8, false);
    writer.seek(static_cast<int32_t>(at), false);
    EXPECT_EQ(writer.readByte(), -1);
    EXPECT_EQ(writer.readWord(), -1);
    EXPECT_EQ(writer.readDword(), -1);
    EXPECT_EQ(writer.read(buffer, 1), -1);
  }
  EXPECT_EQ(block[0], 1);
}

TEST(MemoryStream, WithoutBlock) {
  MemoryStream stream;
  uint8_t buffer[4];
  EXPECT_EQ(stream.eof(), -1);
  EXPECT_EQ(stream.tell(), 0);
  EXPECT_EQ(stream.readByte(), -1);
  EXPECT_EQ(stream.read(buffer, 4), 0);
  EXPECT_EQ(stream.seek(3, false), 0);
  EXPECT_EQ(stream.tell(), 0);
}

TEST(MemoryStream, WritesLittleEndianAndRefusesWholeIntegersThatDoNotFit) {
  uint8_t block[7] = {};
  MemoryStream stream;
  stream.attach(block, 7, false);
  EXPECT_EQ(stream.writeWord(258), 0);
  EXPECT_EQ(stream.writeDword(-2), 0);
  EXPECT_EQ(stream.writeWord(0x7777), -1);  // one byte left
  EXPECT_EQ(stream.writeDword(0x7777), -1);
  EXPECT_EQ(stream.writeByte(0x1AB), 0);  // the low 8 bits
  EXPECT_EQ(Bytes(block, block + 7), (Bytes{0x02, 0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0xAB}));
}

TEST(MemoryStream, DeletingItLeavesTheBlockAlone) {
  Bytes block = {9, 8, 7};
  MemoryStream* stream = OpenMemoryStream(block.data(), 3, false);
  ASSERT_NE(stream, nullptr);
  stream->writeByte(1);
  delete static_cast<ByteStream*>(stream);
  EXPECT_EQ(block, (Bytes{1, 8, 7}));
}

TEST(FileStream, ReadsAtTheEndFillWithOnesAndSetEofOnlyAfterARead) {
  test::TempFolder folder;
  std::string path = folder.file("six.bin");
  test::WriteFileBytes(path, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66});
  FileStreamOwner stream(OpenFileStream(path.c_str(), true));
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->readDword(), 0x44332211);
  EXPECT_EQ(stream->readWord(), 0x6655);
  EXPECT_EQ(stream->eof(), 0);
  EXPECT_EQ(stream->readByte(), -1);
  EXPECT_NE(stream->eof(), 0);
  EXPECT_EQ(stream->readWord(), 0xFFFF);
  EXPECT_EQ(stream->readDword(), -1);
  EXPECT_EQ(stream->seek(0, false), 0);
  EXPECT_EQ(stream->eof(), 0);
  stream->seek(4, false);
  EXPECT_EQ(static_cast<uint32_t>(stream->readDword()), 0xFFFF6655u);  // two bytes left
  EXPECT_EQ(stream->tell(), 6);
  uint8_t buffer[10];
  stream->seek(2, false);
  EXPECT_EQ(stream->read(buffer, 10), 4);
  EXPECT_EQ(stream->writeByte(1), -1);
  EXPECT_EQ(stream->write(buffer, 1), -1);
}

TEST(FileStream, WritesLittleEndianAndEmptiesAnExistingFile) {
  test::TempFolder folder;
  std::string path = folder.file("out.bin");
  test::WriteFileBytes(path, Bytes(50, 0xEE));
  FileStreamOwner stream(OpenFileStream(path.c_str(), false));
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->writeWord(258), 0);
  EXPECT_EQ(stream->writeDword(-2), 0);
  EXPECT_EQ(stream->writeByte(0x1AB), 0);
  const uint8_t tail[] = {7, 8};
  EXPECT_EQ(stream->write(tail, 2), 2);
  EXPECT_EQ(stream->readByte(), -1);
  EXPECT_EQ(stream->close(), 0);
  EXPECT_EQ(test::ReadFileBytes(path), (Bytes{0x02, 0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0xAB, 7, 8}));
}

TEST(FileStream, WithoutAFileEveryOperationIsRefused) {
  FileStream stream;
  uint8_t buffer[4];
  EXPECT_EQ(stream.tell(), 0);  // not -1
  EXPECT_EQ(stream.eof(), -1);
  EXPECT_EQ(stream.seek(0, false), -1);
  EXPECT_EQ(stream.readByte(), -1);
  EXPECT_EQ(stream.readWord(), -1);
  EXPECT_EQ(stream.readDword(), -1);
  EXPECT_EQ(stream.read(buffer, 4), -1);
  EXPECT_EQ(stream.writeByte(1), -1);
  EXPECT_EQ(stream.writeWord(1), -1);
  EXPECT_EQ(stream.writeDword(1), -1);
  EXPECT_EQ(stream.write(buffer, 4), -1);
  EXPECT_EQ(stream.close(), -1);
}

TEST(FileStream, OpenFailsCleanlyAndWritingCreatesTheFile) {
  test::TempFolder folder;
  std::string missing = folder.file("missing.bin");
  EXPECT_EQ(OpenFileStream(missing.c_str(), true), nullptr);
  FileStream stream;
  EXPECT_EQ(stream.open(missing.c_str(), true), -1);
  EXPECT_TRUE(stream.reading);
  EXPECT_EQ(stream.file, nullptr);
  // A folder is not a file, also for reading.
  EXPECT_EQ(OpenFileStream(folder.path().string().c_str(), true), nullptr);

  FileStreamOwner created(OpenFileStream(missing.c_str(), false));
  ASSERT_NE(created, nullptr);
  EXPECT_FALSE(created->reading);
  created.reset();
  bool exists = false;
  EXPECT_TRUE(test::ReadFileBytes(missing, &exists).empty());
  EXPECT_TRUE(exists);
}

TEST(Factories, ReturnNullWhenMemoryRunsOut) {
  AllocationGuard guard;
  test::TempFolder folder;
  std::string path = folder.file("never.bin");
  uint8_t block[4];
  FailAllocationsAfter(0);
  EXPECT_EQ(OpenMemoryStream(block, 4, true), nullptr);
  EXPECT_EQ(OpenFileStream(path.c_str(), false), nullptr);
  FailAllocationsAfter(-1);
  bool exists = true;
  test::ReadFileBytes(path, &exists);
  EXPECT_FALSE(exists) << "no file is created when the stream cannot be had";
}

TEST(RemainingBytes, CountsFromThePositionAndKeepsIt) {
  uint8_t block[10] = {};
  MemoryStream stream;
  stream.attach(block, 10, true);
  stream.seek(3, false);
  EXPECT_EQ(RemainingBytes(stream), 7);
  EXPECT_EQ(stream.tell(), 3);
}

TEST(TextBuffer, GrowsToExactlyTheSizeAsked) {
  TextBuffer buffer;
  EXPECT_EQ(buffer.capacity, 0);
  EXPECT_EQ(buffer.chars, nullptr);
  EXPECT_EQ(buffer.append("abc"), 0);
  EXPECT_EQ(buffer.capacity, 4);
  EXPECT_STREQ(buffer.chars, "abc");
  EXPECT_EQ(buffer.append("de"), 0);
  EXPECT_EQ(buffer.capacity, 6);
  EXPECT_STREQ(buffer.chars, "abcde");
  EXPECT_EQ(buffer.append(""), 0);  // fits already
  EXPECT_EQ(buffer.capacity, 6);

  TextBuffer ones;
  for (int expected : {2, 3, 4}) {
    ones.append("x");
    EXPECT_EQ(ones.capacity, expected);
  }
  TextBuffer empty;
  EXPECT_EQ(empty.append(""), 0);
  EXPECT_EQ(empty.capacity, 1);
  EXPECT_STREQ(empty.chars, "");
}

TEST(TextBuffer, ResetReserveAndRelease) {
  TextBuffer buffer;
  buffer.append("abcde");
  EXPECT_EQ(buffer.reset(4), 0);
  EXPECT_EQ(buffer.capacity, 6);  // never shrinks
  EXPECT_STREQ(buffer.chars, "");
  EXPECT_EQ(buffer.reset(10), 0);
  EXPECT_EQ(buffer.capacity, 10);
  EXPECT_STREQ(buffer.chars, "");

  TextBuffer kept;
  kept.append("abcde");
  EXPECT_EQ(kept.reserve(3), 0);
  EXPECT_EQ(kept.capacity, 6);
  std::memcpy(kept.chars, "ab\0zz", 6);  // bytes after the NUL, written from outside
  EXPECT_EQ(kept.reserve(10), 0);
  EXPECT_EQ(kept.capacity, 10);
  EXPECT_STREQ(kept.chars, "ab");
  EXPECT_NE(kept.chars[3], 'z');

  kept.release();
  EXPECT_EQ(kept.capacity, 0);
  EXPECT_EQ(kept.chars, nullptr);
  EXPECT_EQ(kept.append("xy"), 0);
  EXPECT_EQ(kept.capacity, 3);

  TextBuffer fresh;
  EXPECT_EQ(fresh.reset(0), 0);  // nothing to write into: nothing happens
  EXPECT_EQ(fresh.chars, nullptr);
}

TEST(TextBuffer, RunningOutOfMemory) {
  AllocationGuard guard;
  TextBuffer fresh;
  FailAllocationsAfter(0);
  EXPECT_EQ(fresh.append("abc"), -1);
  EXPECT_EQ(fresh.capacity, 0);
  EXPECT_EQ(fresh.chars, nullptr);

  FailAllocationsAfter(-1);
  TextBuffer held;
  held.append("abc");
  FailAllocationsAfter(0);
  EXPECT_EQ(held.append("def"), -1);
  EXPECT_STREQ(held.chars, "abc");
  EXPECT_EQ(held.reserve(50), -1);
  EXPECT_EQ(held.capacity, 4);
  EXPECT_EQ(held.reset(50), -1);  // the old storage is already gone
  EXPECT_EQ(held.capacity, 0);
  EXPECT_EQ(held.chars, nullptr);
}

TEST(Cp932, BackslashScansStepOverDoubleByteCharacters) {
  // "表" is 95 5C and "ソ" is 83 5C: their second byte is not a backslash.
  struct Case {
    const char* text;
    int lastBackslash;  // -1: none
    bool endsWithBackslash;
  } cases[] = {
      {"C:\\Kalvora\\ZentrikB.exe", 10, false},
      {"C:\\Kalvora\\", 10, true},
      {"C:\\\x95\x5C", 2, false},       // folder ending in 表
      {"C:\\\x83\x5C\\", 5, true},      // ソ then a real backslash
      {"\x83\x5C\x95\x5C", -1, false},  // only trail bytes
      {"name", -1, false},
      {"", -1, false},
      {"a\\\x95", 1, false},  // a lead byte cut off at the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(test::Hex(Bytes(c.text, c.text + std::strlen(c.text))));
    const char* found = FindLastBackslash(c.text);
    EXPECT_EQ(found == nullptr ? -1 : static_cast<int>(found - c.text), c.lastBackslash);
    EXPECT_EQ(EndsWithBackslash(c.text), c.endsWithBackslash);
  }
}

TEST(InflateWhole, StatedSizeBoundsTheBufferAndMustHoldTheStream) {
  Bytes raw(1000);
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 7);
  Bytes packed = test::Deflate(raw);
  struct Case {
    uint32_t stated;
    InflateResult result;
    uint32_t size;
  } cases[] = {
      {1000, InflateResult::Done, 1000},
      {5000, InflateResult::Done, 1000},  // larger than needed: the bytes inflated count
      {999, InflateResult::NotInflated, 0},
      {0xFFFFFFFF, InflateResult::Done, 1000},  // bounded by what the stream can hold
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stated);
    OwnedBuffer out;
    EXPECT_EQ(InflateWhole(packed.data(), static_cast<uint32_t>(packed.size()), c.stated, &out),
              c.result);
    EXPECT_EQ(out.size(), c.size);
  }
  EXPECT_LT(MaxInflatedSize(static_cast<uint32_t>(packed.size())), 1100u * packed.size());
  Bytes broken = packed;
  broken[broken.size() / 2] ^= 0x10;
  OwnedBuffer out;
  EXPECT_EQ(InflateWhole(broken.data(), static_cast<uint32_t>(broken.size()), 1000, &out),
            InflateResult::NotInflated);
}

// Bytes that deflate to several of the stream functions' 64 KiB pieces.
Bytes PieceSpanningBytes(std::size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(rng() % 16);
  return bytes;
}

TEST(InflateFromStream, AgreesWithInflateWholeAndLeavesTheStreamAfterTheBlock) {
  Bytes raw = PieceSpanningBytes(300000, 1);
  Bytes packed = test::Deflate(raw);
  ASSERT_GT(packed.size(), 2u * 65536);
  auto size = static_cast<uint32_t>(packed.size());
  Bytes broken = packed;
  broken[broken.size() / 2] ^= 0x10;
  Bytes trailed = packed;
  trailed.insert(trailed.end(), {1, 2, 3, 4, 5});
  struct Case {
    const char* name;
    const Bytes& block;
    uint32_t sourceSize;  // as the block's header says
    uint32_t stated;
    std::size_t held;  // bytes of the block the stream holds
    InflateResult result;
  } cases[] = {
      {"exact", packed, size, 300000, packed.size(), InflateResult::Done},
      {"stated larger", packed, size, 0xFFFFFFFF, packed.size(), InflateResult::Done},
      {"stated one short", packed, size, 299999, packed.size(), InflateResult::NotInflated},
      {"damaged", broken, size, 300000, broken.size(), InflateResult::NotInflated},
      {"stream cut short", packed, size - 10, 300000, packed.size(), InflateResult::NotInflated},
      {"bytes after the stream", trailed, size + 5, 300000, trailed.size(), InflateResult::Done},
      {"source ends early", packed, size, 300000, packed.size() / 2, InflateResult::ReadFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes stored = {9, 9, 9};  // the block does not start the stream
    stored.insert(stored.end(), c.block.begin(), c.block.begin() + c.held);
    MemoryStream source;
    source.attach(stored.data(), static_cast<uint32_t>(stored.size()), true);
    source.seek(3, false);
    OwnedBuffer streamed;
    EXPECT_EQ(InflateFromStream(source, c.sourceSize, c.stated, &streamed), c.result);
    if (c.result == InflateResult::ReadFailed) continue;
    OwnedBuffer whole;
    EXPECT_EQ(InflateWhole(c.block.data(), c.sourceSize, c.stated, &whole), c.result);
    EXPECT_EQ(Bytes(streamed.data(), streamed.data() + streamed.size()),
              Bytes(whole.data(), whole.data() + whole.size()));
    if (c.result == InflateResult::Done) {
      EXPECT_EQ(source.tell(), 3 + static_cast<int32_t>(c.sourceSize));
    }
  }
}

TEST(WriteDeflatedBlock, WritesTheBytesOfOneCompressAsAStoredBlock) {
  std::mt19937 rng(2);
  Bytes noise(200000);
  for (uint8_t& byte : noise) byte = static_cast<uint8_t>(rng());
  const Bytes inputs[] = {{},
                          {42},
                          PieceSpanningBytes(65535, 3),
                          PieceSpanningBytes(65536, 4),
                          PieceSpanningBytes(300000, 5),
                          noise};
  for (const Bytes& input : inputs) {
    SCOPED_TRACE(input.size());
    Bytes expected = test::ByteWriter()
                         .u8(7)
                         .u8(7)
                         .u32(static_cast<uint32_t>(test::Deflate(input).size()))
                         .u32(static_cast<uint32_t>(input.size()))
                         .raw(test::Deflate(input))
                         .bytes();
    Bytes block(expected.size() + 100, 0xEE);
    MemoryStream target;
    target.attach(block.data(), static_cast<uint32_t>(block.size()), false);
    target.write("\x07\x07", 2);
    uint32_t written = 0;
    ASSERT_EQ(
        WriteDeflatedBlock(input.data(), static_cast<uint32_t>(input.size()), target, &written),
        DeflateResult::Done);
    EXPECT_EQ(written, expected.size() - 2);
    EXPECT_EQ(target.tell(), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(Bytes(block.begin(), block.begin() + expected.size()), expected);

    // A target that takes only part of the block refuses the rest.
    MemoryStream small;
    small.attach(block.data(), written - 1, false);
    EXPECT_EQ(
        WriteDeflatedBlock(input.data(), static_cast<uint32_t>(input.size()), small, &written),
        DeflateResult::WriteFailed);
  }
}

}  // namespace
}  // namespace kalvora
