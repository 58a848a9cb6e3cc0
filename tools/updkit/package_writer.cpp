#include "tools/updkit/package_writer.h"

#include <zlib.h>

#include <algorithm>

namespace kalvora::updkit {

void AppendDword(Bytes& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void UpdateStreamWriter::group(BookKey key, const std::vector<BookEntry>& items) {
  std::size_t done = 0;
  do {
    std::size_t count = std::min<std::size_t>(items.size() - done, 255);
    AppendDword(bytes_, key.low);
    AppendDword(bytes_, key.high);
    bytes_.push_back(static_cast<uint8_t>(count));
    for (std::size_t i = done; i < done + count; ++i) {
      AppendDword(bytes_, items[i].first);
      AppendDword(bytes_, items[i].second);
    }
    done += count;
  } while (done < items.size());
}

Bytes UpdateStreamWriter::finish() {
  AppendDword(bytes_, 0);  // terminator
  return std::move(bytes_);
}

void AppendRecord(Bytes& package, int32_t kind, const std::string& oldCopyName,
                  const std::string& targetName, const Bytes& payload) {
  AppendDword(package, static_cast<uint32_t>(kind));
  for (const std::string* name : {&oldCopyName, &targetName}) {
    package.push_back(static_cast<uint8_t>(name->size() + 1));
    package.insert(package.end(), name->begin(), name->end());
    package.push_back(0);
  }
  package.insert(package.end(), payload.begin(), payload.end());
}

Bytes FilePayload(const Bytes& content) {
  Bytes payload;
  AppendDword(payload, static_cast<uint32_t>(content.size()));
  payload.insert(payload.end(), content.begin(), content.end());
  return payload;
}

Bytes MakeUpdateFile(const Bytes& package) {
  uLongf size = compressBound(static_cast<uLong>(package.size()));
  Bytes file(8 + size);
  if (compress2(file.data() + 8, &size, package.data(), static_cast<uLong>(package.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    return {};
  }
  file.resize(8 + size);
  Bytes header;
  AppendDword(header, static_cast<uint32_t>(size));
  AppendDword(header, static_cast<uint32_t>(package.size()));
  std::copy(header.begin(), header.end(), file.begin());
  return file;
}

}  // namespace kalvora::updkit
