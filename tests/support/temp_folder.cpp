#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#endif

#include "stream/cp932.h"

namespace kalvora::test {

TempFolder::TempFolder() {
  static std::atomic<int> serial{0};
  auto base = std::filesystem::temp_directory_path();
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("kalvora-test-" + std::to_string(stamp) + "-" +
                             std::to_string(serial.fetch_add(1)));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
  }
  ADD_FAILURE() << "cannot create a temporary folder under " << base.string();
}

TempFolder::~TempFolder() {
  std::error_code error;
  if (!path_.empty()) std::filesystem::remove_all(path_, error);
}

std::string TempFolder::file(const std::string& name) const {
  return (path_ / name).string();
}

bool SystemUsesCodePage932() {
#ifdef _WIN32
  return GetACP() == 932;
#else
  return true;  // the Linux stand-in reads names as code page 932 bytes
#endif
}

std::filesystem::path NativePath(const std::string& systemPath) {
#ifdef _WIN32
  return std::filesystem::path(systemPath);
#else
  std::string native;
  for (const char* p = systemPath.c_str(); *p != '\0';) {
    std::size_t length = CharLength(p);
    native += (length == 1 && *p == '\\') ? std::string("/") : std::string(p, length);
    p += length;
  }
  return std::filesystem::path(native);
#endif
}

Bytes ReadFileBytes(const std::filesystem::path& path, bool* exists) {
  std::ifstream in(path, std::ios::binary);
  if (exists != nullptr) *exists = static_cast<bool>(in);
  if (!in) return {};
  // Read in blocks: the tests that try every damaged update file read many
  // snapshots, and a byte-wise iterator is slow under the sanitizers.
  Bytes bytes;
  char block[4096];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    bytes.insert(bytes.end(), block, block + in.gcount());
  }
  return bytes;
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(static_cast<bool>(out)) << "cannot write " << path;
}

}  // namespace kalvora::test
