// Writing what the applier reads: book update streams, package records and
// update files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "book/book_table.h"

namespace kalvora::updkit {

using Bytes = std::vector<uint8_t>;

void AppendDword(Bytes& out, uint32_t value);

// A book update stream, group by group. Groups hold at most 255 items; a
// longer list for one key becomes several groups.
class UpdateStreamWriter {
 public:
  void group(BookKey key, const std::vector<BookEntry>& items);
  // Ends the stream with its terminator and gives it.
  Bytes finish();

 private:
  Bytes bytes_;
};

// Appends one record: kind, the two names with their 0 bytes, the payload.
// Names are at most 254 bytes long (the caller checks).
void AppendRecord(Bytes& package, int32_t kind, const std::string& oldCopyName,
                  const std::string& targetName, const Bytes& payload);

// The payload of a replaced file: its length, then its content.
Bytes FilePayload(const Bytes& content);

// The update file of a package: compressed length, raw length, and the
// package deflated at zlib's best level. Empty when zlib fails.
Bytes MakeUpdateFile(const Bytes& package);

}  // namespace kalvora::updkit
