// Linux stand-in only: HKEY_LOCAL_MACHINE is a small text file, named by the
// environment variable KALVORA_REGISTRY, laid out like a .reg file without
// its quoting:
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\ZentrikB.exe]
//   Path=/opt/kalvora/beta
//
// A value is every byte after the '=' up to the end of its line, stored as
// a string value with its NUL. Key and value names match without regard to
// letter case, as the registry's do. Lines that begin with ';' or '#' are
// comments. No variable, or no such file, means that nothing is registered.
// Errors are the system's codes, and their texts are those of a Japanese
// Windows.
#include <errno.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace kalvora {

namespace {

constexpr int32_t kErrorFileNotFound = 2;     // ERROR_FILE_NOT_FOUND
constexpr int32_t kErrorAccessDenied = 5;     // ERROR_ACCESS_DENIED
constexpr int32_t kErrorNotEnoughMemory = 8;  // ERROR_NOT_ENOUGH_MEMORY
constexpr int32_t kErrorMoreData = 234;       // ERROR_MORE_DATA
constexpr char kMachineRoot[] = "HKEY_LOCAL_MACHINE\\";

// The values of one open key, copied from the file when it was opened.
struct OpenKey {
  std::vector<std::pair<std::string, std::string>> values;
};

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 0x20) : a[i];
    char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 0x20) : b[i];
    if (x != y) return false;
  }
  return true;
}

// Reads the values of the key at keyPath from the file; a system error code.
int32_t ReadKey(const char* keyPath, OpenKey* key) {
  const char* fileName = std::getenv("KALVORA_REGISTRY");
  if (fileName == nullptr || *fileName == '\0') return kErrorFileNotFound;
  std::FILE* file = std::fopen(fileName, "rb");
  if (file == nullptr) return errno == ENOENT ? kErrorFileNotFound : kErrorAccessDenied;
  std::string wanted = std::string(kMachineRoot) + keyPath;
  bool inKey = false;
  bool found = false;
  std::string line;
  for (int c = std::fgetc(file);; c = std::fgetc(file)) {
    if (c != EOF && c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[' && line.back() == ']') {
      inKey = SameName(line.substr(1, line.size() - 2), wanted);
      found = found || inKey;
    } else if (inKey && !line.empty() && line.front() != ';' && line.front() != '#') {
      std::size_t equals = line.find('=');
      if (equals != std::string::npos) {
        key->values.emplace_back(line.substr(0, equals), line.substr(equals + 1));
      }
    }
    line.clear();
    if (c == EOF) break;
  }
  std::fclose(file);
  return found ? 0 : kErrorFileNotFound;
}

// A text of static storage in the form the caller frees.
char* CopyText(const char* text) {
  char* copy = static_cast<char*>(std::malloc(std::strlen(text) + 1));
  if (copy != nullptr) std::strcpy(copy, text);
  return copy;
}

}  // namespace

int32_t MachineRegistry::openKey(const char* keyPath, RegistryKey* key) {
  auto* opened = new (std::nothrow) OpenKey();
  if (opened == nullptr) return kErrorNotEnoughMemory;
  int32_t result = ReadKey(keyPath, opened);
  if (result != 0) {
    delete opened;
    return result;
  }
  *key = opened;
  return 0;
}

int32_t MachineRegistry::queryValue(RegistryKey key, const char* valueName, char* data,
                                    uint32_t* size) {
  for (const auto& [name, value] : static_cast<OpenKey*>(key)->values) {
    if (!SameName(name, valueName)) continue;
    auto stored = static_cast<uint32_t>(value.size() + 1);  // with its NUL
    if (data == nullptr) {
      *size = stored;
      return 0;
    }
    if (*size < stored) {
      *size = stored;
      return kErrorMoreData;
    }
    std::memcpy(data, value.c_str(), stored);
    *size = stored;
    return 0;
  }
  return kErrorFileNotFound;
}

void MachineRegistry::closeKey(RegistryKey key) {
  delete static_cast<OpenKey*>(key);
}

char* MachineRegistry::errorText(int32_t code) {
  switch (code) {
    case kErrorFileNotFound:
      return CopyText("指定されたファイルが見つかりません。\r\n");
    case kErrorAccessDenied:
      return CopyText("アクセスが拒否されました。\r\n");
    case kErrorNotEnoughMemory:
      return CopyText("このコマンドを実行するのに十分な記憶域がありません。\r\n");
    case kErrorMoreData:
      return CopyText("データがさらにあります。\r\n");
    default:
      return nullptr;
  }
}

void MachineRegistry::releaseErrorText(char* text) {
  std::free(text);
}

}  // namespace kalvora
