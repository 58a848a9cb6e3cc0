#include "tools/sample/sample_books.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "book/book_merge.h"
#include "book/divided_book.h"
#include "stream/little_endian.h"
#include "stream/memory_stream.h"

namespace kalvora::sample {

uint32_t Next(std::mt19937& rng) {
  return static_cast<uint32_t>(rng());
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Put32(Bytes& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

long StatusKb(const char* field) {
  FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  long value = -1;
  while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, field, std::strlen(field)) == 0)
      value = std::atol(line + std::strlen(field));
  }
  if (status != nullptr) std::fclose(status);
  return value;
}

void ResetPeak() {
  FILE* refs = std::fopen("/proc/self/clear_refs", "w");
  if (refs != nullptr) {
    std::fputs("5", refs);
    std::fclose(refs);
  }
}

BookEntry RandomEntry(std::mt19937& rng) {
  uint32_t from = 1 + Next(rng) % 81, to = 1 + Next(rng) % 81;
  uint32_t code = (from << 7) | to;
  uint32_t games = Next(rng) % 1000;
  uint32_t weight = Next(rng) % 100;
  return {code | (weight << 16), games | ((Next(rng) % 16) << 16)};
}

Book MakeBook(std::mt19937& rng, std::size_t nodes) {
  Book book;
  book.buckets = static_cast<uint32_t>(nodes / 3 + 1);
  std::vector<uint64_t> keys(nodes);
  for (auto& key : keys) {
    do key = (uint64_t{Next(rng)} << 32) | Next(rng);
    while (static_cast<uint32_t>(key) < 64 || static_cast<uint32_t>(key) == 0xFFFFFFFF);
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  for (uint64_t key : keys) {
    std::vector<BookEntry> entries;
    int count = 1 + Next(rng) % 5;
    while (static_cast<int>(entries.size()) < count) {
      BookEntry entry = RandomEntry(rng);
      bool taken = false;
      for (const auto& e : entries) taken |= MoveCode(e) == MoveCode(entry);
      if (!taken) entries.push_back(entry);
    }
    std::sort(entries.begin(), entries.end(),
              [](const BookEntry& a, const BookEntry& b) { return MoveCode(a) < MoveCode(b); });
    book.nodes.emplace_back(key, entries);
  }
  return book;
}

Bytes Serialize(const Book& book) {
  std::vector<std::vector<std::size_t>> chains(book.buckets);
  for (std::size_t i = book.nodes.size(); i-- > 0;) {
    uint64_t key = book.nodes[i].first;
    chains[(static_cast<uint32_t>(key) ^ static_cast<uint32_t>(key >> 32)) % book.buckets]
        .push_back(i);
  }
  std::size_t entries = 0;
  for (const auto& node : book.nodes) entries += node.second.size();
  Bytes out;
  out.reserve(12 + 6 * book.buckets + 13 * book.nodes.size() + 8 * entries);
  Put32(out, book.buckets);
  Put32(out, static_cast<uint32_t>(book.nodes.size()));
  Put32(out, static_cast<uint32_t>(entries));
  uint32_t first = 0;
  for (const auto& chain : chains) {
    Put32(out, first);
    out.push_back(static_cast<uint8_t>(chain.size()));
    out.push_back(static_cast<uint8_t>(chain.size() >> 8));
    first += static_cast<uint32_t>(chain.size());
  }
  first = 0;
  for (const auto& chain : chains) {
    for (std::size_t i : chain) {
      Put32(out, static_cast<uint32_t>(book.nodes[i].first));
      Put32(out, static_cast<uint32_t>(book.nodes[i].first >> 32));
      Put32(out, first);
      out.push_back(static_cast<uint8_t>(book.nodes[i].second.size()));
      first += static_cast<uint32_t>(book.nodes[i].second.size());
    }
  }
  for (const auto& chain : chains) {
    for (std::size_t i : chain) {
      for (const auto& entry : book.nodes[i].second) {
        Put32(out, entry.first);
        Put32(out, entry.second);
      }
    }
  }
  return out;
}

Bytes Block(const Bytes& table) {
  uLongf size = compressBound(static_cast<uLong>(table.size()));
  Bytes out(8 + size);
  compress(out.data() + 8, &size, table.data(), static_cast<uLong>(table.size()));
  out.resize(8 + size);
  Bytes header;
  Put32(header, static_cast<uint32_t>(size));
  Put32(header, static_cast<uint32_t>(table.size()));
  std::copy(header.begin(), header.end(), out.begin());
  return out;
}

Bytes MakeUpdate(std::mt19937& rng, const Book& book) {
  Bytes out;
  std::size_t touched = book.nodes.size() / 100 + 1;
  for (std::size_t i = 0; i < touched; ++i) {
    const auto& node = book.nodes[Next(rng) % book.nodes.size()];
    uint64_t key = node.first;
    BookEntry item = RandomEntry(rng);
    switch (i % 4) {
      case 0:
        item.first = (item.first & 0xFFFF0000u) | MoveCode(node.second[0]);
        break;
      case 1:
        break;
      case 2:
        item = {0xFFFF0000u | MoveCode(node.second[0]), 0xFFFFFFFFu};
        break;
      case 3:
        do key = (uint64_t{Next(rng)} << 32) | Next(rng);
        while (static_cast<uint32_t>(key) < 64 || static_cast<uint32_t>(key) == 0xFFFFFFFF);
        break;
    }
    Put32(out, static_cast<uint32_t>(key));
    Put32(out, static_cast<uint32_t>(key >> 32));
    out.push_back(1);
    Put32(out, item.first);
    Put32(out, item.second);
  }
  Put32(out, 0);
  return out;
}

Bytes BookFile(const Book& book) {
  Bytes file = {'Z', 'u', 'D', 'a', 'V', 'o', '5', 0};
  Bytes block = Block(Serialize(book));
  file.insert(file.end(), block.begin(), block.end());
  return file;
}

DividedSample MakeDividedSample(std::mt19937& rng, std::size_t nodesPerPart) {
  DividedSample sample;
  sample.file = {'J', 'S', 'K', 'D', 'I', 'V', '1', 0};
  sample.file.resize(kFirstPartOffset);
  Put32(sample.payload, 0);
  for (int part = 0; part < kDividedBookParts; ++part) {
    Book book = MakeBook(rng, nodesPerPart);
    Bytes table = Serialize(book);
    sample.largestTable = std::max(sample.largestTable, table.size());
    Bytes block = Block(table);
    uint32_t offset = static_cast<uint32_t>(sample.file.size());
    StoreLE32(sample.file.data() + 8 + 4 * part, offset);
    sample.file.insert(sample.file.end(), block.begin(), block.end());
    sample.file.resize((sample.file.size() + 3) & ~std::size_t{3});
    Bytes update = MakeUpdate(rng, book);
    sample.payload.insert(sample.payload.end(), update.begin(), update.end());
  }
  return sample;
}

Bytes MergedFile(const Bytes& oldFile, const Bytes& payload, bool divided) {
  Bytes newFile(oldFile.size() * 2 + 4096);
  Bytes package = payload;
  Bytes old = oldFile;
  std::copy(old.begin(), old.begin() + 8, newFile.begin());
  MemoryStream packageStream, oldStream, newStream;
  packageStream.attach(package.data(), static_cast<uint32_t>(package.size()), true);
  oldStream.attach(old.data(), static_cast<uint32_t>(old.size()), true);
  newStream.attach(newFile.data(), static_cast<uint32_t>(newFile.size()), false);
  oldStream.seek(8, false);
  newStream.seek(8, false);
  if (divided) {
    if (MergeDividedBook(packageStream, oldStream, newStream) != 0) return {};
    // The file ends with the fill of part 63.
    uint32_t last = LoadLE32(newFile.data() + 8 + 4 * 63);
    newFile.resize((last + 8 + LoadLE32(newFile.data() + last) + 3) & ~3u);
  } else {
    uint32_t written = MergeBook(packageStream, oldStream, newStream);
    if (written == kMergeFailed) return {};
    newFile.resize(8 + written);
  }
  return newFile;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  bool written =
      file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file != nullptr && std::fclose(file) != 0) written = false;
  if (!written) std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return written;
}

}  // namespace kalvora::sample
