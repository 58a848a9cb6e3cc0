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

// Whole-file read and write; a missing file reads as empty and sets *exists false.
Bytes ReadFileBytes(const std::string& path, bool* exists = nullptr);
void WriteFileBytes(const std::string& path, const Bytes& bytes);

}  // namespace kalvora::test
