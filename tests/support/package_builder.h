// Update packages and update files for tests, built record by record, and
// whole-folder snapshots to compare install folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/bytes.h"

namespace kalvora::test {

class PackageBuilder {
 public:
  // A record with any kind and payload bytes; name fields are written as
  // given (with their 0 byte when the name has none of its own).
  PackageBuilder& record(uint32_t kind, const std::string& oldCopyName,
                         const std::string& targetName, const Bytes& payload);
  PackageBuilder& book(const std::string& oldCopyName, const std::string& targetName,
                       const Bytes& updateStream);
  // A divided book record: the head value, then the 64 streams.
  PackageBuilder& dividedBook(const std::string& oldCopyName, const std::string& targetName,
                              const std::vector<Bytes>& streams, uint32_t head = 0);
  PackageBuilder& replace(const std::string& oldCopyName, const std::string& targetName,
                          const Bytes& content);
  PackageBuilder& raw(const Bytes& bytes);

  const Bytes& bytes() const { return writer_.bytes(); }

 private:
  ByteWriter writer_;
};

// An update file: compressed length, raw length, the deflated package.
Bytes MakeUpdateFile(const Bytes& package);

// Every file under a folder, by its path relative to the folder with '/'.
using FolderSnapshot = std::map<std::string, Bytes>;
FolderSnapshot Snapshot(const std::filesystem::path& folder);

// Writes the files of a snapshot under a folder.
void Populate(const std::filesystem::path& folder, const FolderSnapshot& files);

// Makes a folder that holds `now` hold `wanted` again, touching only what
// differs: cheaper than making it afresh, for tests that apply thousands of
// updates to one folder.
void Restore(const std::filesystem::path& folder, const FolderSnapshot& now,
             const FolderSnapshot& wanted);

}  // namespace kalvora::test
