#include "support/book_builder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kalvora::test {

namespace {
uint32_t Low(uint64_t key) {
  return static_cast<uint32_t>(key);
}
uint32_t High(uint64_t key) {
  return static_cast<uint32_t>(key >> 32);
}
uint32_t Bucket(uint64_t key, uint32_t buckets) {
  return (Low(key) ^ High(key)) % buckets;
}
}  // namespace

void BookModel::put(uint32_t low, uint32_t high, BookEntry entry) {
  auto& entries = nodes[KeyOf(low, high)];
  for (auto& existing : entries) {
    if (MoveCode(existing) == MoveCode(entry)) {
      existing = entry;
      return;
    }
  }
  entries.push_back(entry);
}

void BookModel::remove(uint32_t low, uint32_t high, uint16_t moveCode) {
  auto node = nodes.find(KeyOf(low, high));
  if (node == nodes.end()) return;
  auto& entries = node->second;
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const BookEntry& e) { return MoveCode(e) == moveCode; }),
                entries.end());
  if (entries.empty()) nodes.erase(node);
}

void BookModel::sortEntries() {
  for (auto& [key, entries] : nodes) {
    std::stable_sort(entries.begin(), entries.end(), [](const BookEntry& a, const BookEntry& b) {
      return MoveCode(a) < MoveCode(b);
    });
  }
}

std::size_t BookModel::entryCount() const {
  std::size_t count = 0;
  for (const auto& [key, entries] : nodes) count += entries.size();
  return count;
}

bool BookModel::operator==(const BookModel& other) const {
  if (buckets != other.buckets || nodes.size() != other.nodes.size()) return false;
  for (auto a = nodes.begin(), b = other.nodes.begin(); a != nodes.end(); ++a, ++b) {
    if (a->first != b->first || a->second.size() != b->second.size()) return false;
    for (std::size_t i = 0; i < a->second.size(); ++i) {
      if (a->second[i].first != b->second[i].first || a->second[i].second != b->second[i].second)
        return false;
    }
  }
  return true;
}

Bytes SerializeModel(const BookModel& model) {
  std::vector<std::vector<uint64_t>> chains(model.buckets);
  // std::map is ascending; walking it backwards gives descending chains.
  for (auto it = model.nodes.rbegin(); it != model.nodes.rend(); ++it) {
    chains[Bucket(it->first, model.buckets)].push_back(it->first);
  }
  ByteWriter out;
  out.u32(model.buckets).u32(static_cast<uint32_t>(model.nodes.size()));
  out.u32(static_cast<uint32_t>(model.entryCount()));
  uint32_t firstNode = 0;
  for (const auto& chain : chains) {
    out.u32(firstNode).u16(static_cast<uint32_t>(chain.size()));
    firstNode += static_cast<uint32_t>(chain.size());
  }
  uint32_t firstEntry = 0;
  for (const auto& chain : chains) {
    for (uint64_t key : chain) {
      const auto& entries = model.nodes.at(key);
      out.u32(Low(key)).u32(High(key)).u32(firstEntry).u8(static_cast<uint32_t>(entries.size()));
      firstEntry += static_cast<uint32_t>(entries.size());
    }
  }
  for (const auto& chain : chains) {
    for (uint64_t key : chain) {
      for (const auto& entry : model.nodes.at(key)) out.u32(entry.first).u32(entry.second);
    }
  }
  return out.bytes();
}

BookModel ParseSerializedTable(const Bytes& table) {
  BookModel model;
  EXPECT_GE(table.size(), 12u);
  if (table.size() < 12) return model;
  model.buckets = Dword(table, 0);
  uint32_t nodes = Dword(table, 4);
  uint32_t entries = Dword(table, 8);
  EXPECT_EQ(table.size(), 12 + 6ull * model.buckets + 13ull * nodes + 8ull * entries)
      << "serialized size";
  if (table.size() != 12 + 6ull * model.buckets + 13ull * nodes + 8ull * entries) return model;
  std::size_t record = 12 + 6ull * model.buckets;
  std::size_t entryArea = record + 13ull * nodes;
  uint32_t nodeIndex = 0;
  uint32_t entryIndex = 0;
  for (uint32_t bucket = 0; bucket < model.buckets; ++bucket) {
    std::size_t dir = 12 + 6ull * bucket;
    EXPECT_EQ(Dword(table, dir), nodeIndex) << "first node index of bucket " << bucket;
    uint32_t length = table[dir + 4] | (table[dir + 5] << 8);
    uint64_t previous = 0;
    for (uint32_t i = 0; i < length; ++i, ++nodeIndex) {
      std::size_t at = record + 13ull * nodeIndex;
      uint64_t key = KeyOf(Dword(table, at), Dword(table, at + 4));
      EXPECT_EQ(Dword(table, at + 8), entryIndex) << "first entry index of node " << nodeIndex;
      uint32_t count = table[at + 12];
      EXPECT_GE(count, 1u);
      EXPECT_EQ(Bucket(key, model.buckets), bucket) << "node in its key's bucket";
      if (i > 0) {
        EXPECT_LT(key, previous) << "chain in descending key order";
      }
      previous = key;
      auto& stored = model.nodes[key];
      for (uint32_t e = 0; e < count; ++e, ++entryIndex) {
        std::size_t entry = entryArea + 8ull * entryIndex;
        stored.push_back({Dword(table, entry), Dword(table, entry + 4)});
      }
    }
  }
  EXPECT_EQ(nodeIndex, nodes);
  EXPECT_EQ(entryIndex, entries);
  return model;
}

Bytes MakeBlock(const Bytes& serializedTable) {
  Bytes compressed = Deflate(serializedTable);
  return ByteWriter()
      .u32(static_cast<uint32_t>(compressed.size()))
      .u32(static_cast<uint32_t>(serializedTable.size()))
      .raw(compressed)
      .bytes();
}

BookModel ParseBlock(const Bytes& bytes, std::size_t offset, std::size_t* blockEnd) {
  uint32_t compressedLength = Dword(bytes, offset);
  uint32_t rawLength = Dword(bytes, offset + 4);
  EXPECT_LE(offset + 8 + compressedLength, bytes.size());
  if (offset + 8 + compressedLength > bytes.size()) return {};
  Bytes table = Inflate(bytes.data() + offset + 8, compressedLength, rawLength);
  EXPECT_EQ(table.size(), rawLength) << "raw length is the serialized size";
  if (blockEnd != nullptr) *blockEnd = offset + 8 + compressedLength;
  return ParseSerializedTable(table);
}

Bytes MakeBookFile(const BookModel& model) {
  return ByteWriter().raw(std::string("ZuDaVo5", 8)).raw(MakeBlock(SerializeModel(model))).bytes();
}

Bytes MakeDividedBook(const std::vector<BookModel>& parts, const std::vector<int>& storeOrder,
                      std::size_t gap) {
  std::vector<int> order = storeOrder;
  if (order.empty()) {
    for (int i = 0; i < 64; ++i) order.push_back(i);
  }
  std::vector<Bytes> blocks;
  for (const auto& part : parts) blocks.push_back(MakeBlock(SerializeModel(part)));
  std::vector<uint32_t> offsets(64);
  Bytes body;
  for (int part : order) {
    body.insert(body.end(), gap, 0);
    offsets[part] = static_cast<uint32_t>(264 + body.size());
    body.insert(body.end(), blocks[part].begin(), blocks[part].end());
    body.insert(body.end(), (4 - blocks[part].size() % 4) % 4, 0);
  }
  ByteWriter file;
  file.raw(std::string("JSKDIV1", 8));
  for (uint32_t offset : offsets) file.u32(offset);
  return file.raw(body).bytes();
}

std::vector<BookModel> ParseDividedBook(const Bytes& file) {
  std::vector<BookModel> parts;
  EXPECT_GE(file.size(), 264u);
  if (file.size() < 264) return parts;
  EXPECT_EQ(std::string(file.begin(), file.begin() + 8), std::string("JSKDIV1", 8));
  std::size_t expected = 264;
  for (int part = 0; part < 64; ++part) {
    EXPECT_EQ(Dword(file, 8 + 4 * part), expected) << "offset of part " << part;
    std::size_t end = 0;
    parts.push_back(ParseBlock(file, expected, &end));
    std::size_t padded = expected + ((end - expected + 3) & ~std::size_t{3});
    for (std::size_t fill = end; fill < padded; ++fill) {
      EXPECT_EQ(file.at(fill), 0) << "fill byte of part " << part;
    }
    expected = padded;
  }
  EXPECT_EQ(file.size(), expected) << "the file ends with the fill of part 63";
  return parts;
}

UpdateStreamBuilder& UpdateStreamBuilder::group(uint32_t low, uint32_t high,
                                                const std::vector<BookEntry>& items) {
  writer_.u32(low).u32(high).u8(static_cast<uint32_t>(items.size()));
  for (const auto& item : items) writer_.u32(item.first).u32(item.second);
  return *this;
}

UpdateStreamBuilder& UpdateStreamBuilder::terminator(uint32_t value) {
  writer_.u32(value);
  return *this;
}

BookModel RandomBook(std::mt19937& rng, uint32_t buckets, std::size_t nodes, int entriesPerNode) {
  BookModel model;
  model.buckets = buckets;
  std::uniform_int_distribution<uint32_t> word;
  std::uniform_int_distribution<int> count(1, 2 * entriesPerNode - 1);
  while (model.nodes.size() < nodes) {
    uint32_t low = std::max<uint32_t>(word(rng), 64);
    if (low == 0xFFFFFFFF) continue;
    auto& entries = model.nodes[KeyOf(low, word(rng))];
    int wanted = count(rng);
    while (static_cast<int>(entries.size()) < wanted) {
      BookEntry entry{word(rng) & 0x7FFFFFFF, word(rng)};
      bool taken = false;
      for (const auto& e : entries) taken |= MoveCode(e) == MoveCode(entry);
      if (!taken) entries.push_back(entry);
    }
  }
  model.sortEntries();
  return model;
}

}  // namespace kalvora::test
