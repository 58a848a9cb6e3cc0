// A temporary folder that is removed with everything in it when the test
// ends, and whole-file helpers.
#pragma once

#include <filesystem>
#include <string>

#include "support/bytes.h"

namespace kalvora::test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of a file in the folder, as the system's ANSI path string.
  std::string file(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// True when the system reads ANSI paths in code page 932, so that a
// double-byte character whose second byte is 0x5C is no separator.
bool SystemUsesCodePage932();

// A system path (backslashes between folders, as the core takes it) as a
// path the test's own file functions take.
std::filesystem::path NativePath(const std::string& systemPath);

// Whole-file read and write; a missing file reads as empty and sets *exists false.
// A path from a folder listing names any file, whatever its name's characters.
Bytes ReadFileBytes(const std::filesystem::path& path, bool* exists = nullptr);
void WriteFileBytes(const std::string& path, const Bytes& bytes);

}  // namespace kalvora::test
