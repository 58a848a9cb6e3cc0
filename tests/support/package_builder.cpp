#include "support/package_builder.h"

#include <gtest/gtest.h>

#include <set>
#include <system_error>
#include <vector>

#include "support/temp_folder.h"

namespace kalvora::test {

namespace {
// A name field: the name's bytes, then its 0 byte unless it carries one.
Bytes NameField(const std::string& name) {
  Bytes field(name.begin(), name.end());
  if (name.find('\0') == std::string::npos) field.push_back(0);
  return field;
}
}  // namespace

PackageBuilder& PackageBuilder::record(uint32_t kind, const std::string& oldCopyName,
                                       const std::string& targetName, const Bytes& payload) {
  Bytes oldField = NameField(oldCopyName);
  Bytes targetField = NameField(targetName);
  writer_.u32(kind).u8(static_cast<uint32_t>(oldField.size())).raw(oldField);
  writer_.u8(static_cast<uint32_t>(targetField.size())).raw(targetField).raw(payload);
  return *this;
}

PackageBuilder& PackageBuilder::book(const std::string& oldCopyName, const std::string& targetName,
                                     const Bytes& updateStream) {
  return record(0, oldCopyName, targetName, updateStream);
}

PackageBuilder& PackageBuilder::dividedBook(const std::string& oldCopyName,
                                            const std::string& targetName,
                                            const std::vector<Bytes>& streams, uint32_t head) {
  ByteWriter payload;
  payload.u32(head);
  for (const Bytes& stream : streams) payload.raw(stream);
  return record(1, oldCopyName, targetName, payload.bytes());
}

PackageBuilder& PackageBuilder::replace(const std::string& oldCopyName,
                                        const std::string& targetName, const Bytes& content) {
  return record(2, oldCopyName, targetName,
                ByteWriter().u32(static_cast<uint32_t>(content.size())).raw(content).bytes());
}

PackageBuilder& PackageBuilder::raw(const Bytes& bytes) {
  writer_.raw(bytes);
  return *this;
}

Bytes MakeUpdateFile(const Bytes& package) {
  Bytes compressed = Deflate(package);
  return ByteWriter()
      .u32(static_cast<uint32_t>(compressed.size()))
      .u32(static_cast<uint32_t>(package.size()))
      .raw(compressed)
      .bytes();
}

FolderSnapshot Snapshot(const std::filesystem::path& folder) {
  FolderSnapshot files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    std::string relative = entry.path().lexically_relative(folder).generic_string();
    if (entry.is_directory()) {
      files[relative + "/"] = {};
    } else {
      files[relative] = ReadFileBytes(entry.path());
    }
  }
  return files;
}

void Populate(const std::filesystem::path& folder, const FolderSnapshot& files) {
  for (const auto& [name, bytes] : files) {
    std::filesystem::path path = folder / std::filesystem::path(name);
    if (!name.empty() && name.back() == '/') {
      std::filesystem::create_directories(path);
      continue;
    }
    std::filesystem::create_directories(path.parent_path());
    WriteFileBytes(path.string(), bytes);
  }
}

void Restore(const std::filesystem::path& folder, const FolderSnapshot& now,
             const FolderSnapshot& wanted) {
  if (now == wanted) return;
  // What is there goes unless it is wanted as it is; the folder's own
  // listing names it, whatever its name's characters.
  std::vector<std::filesystem::path> extra;
  std::set<std::string> kept;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    std::string name = entry.path().lexically_relative(folder).generic_string();
    if (entry.is_directory()) name += "/";
    auto want = wanted.find(name);
    auto was = now.find(name);
    if (want != wanted.end() && was != now.end() && was->second == want->second) {
      kept.insert(name);
    } else {
      extra.push_back(entry.path());
    }
  }
  // The deepest first, so that a folder's content has gone before it does.
  // A rewritten file is removed too: some file systems (ext4) write a file
  // rewritten in place out at once, but not a new one.
  for (auto path = extra.rbegin(); path != extra.rend(); ++path) {
    std::error_code error;
    std::filesystem::remove_all(*path, error);
  }
  FolderSnapshot missing;
  for (const auto& [name, bytes] : wanted) {
    if (kept.count(name) == 0) missing[name] = bytes;
  }
  Populate(folder, missing);
}

}  // namespace kalvora::test
