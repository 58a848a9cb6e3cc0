// Compiled with -fexec-charset=CP932: the filter's text is code page 932.
#include "install/install_folder.h"

#include <cstddef>
#include <cstring>

#include "install/message_catalogue.h"
#include "platform/file_open_dialog.h"
#include "platform/platform_version.h"
#include "platform/registry.h"
#include "stream/cp932.h"
#include "updater/operator_console.h"

namespace kalvora {

namespace {

// The App Paths key; the program file's name follows it.
constexpr char kAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
static_assert(sizeof kAppPathsKey - 1 == 52, "the key path's fixed part");
constexpr std::size_t kKeyPathSize = 256;
constexpr std::size_t kFilterSize = 256;
// Room for the path that the file-open dialog gives.
constexpr int32_t kPickedPathSize = 8192;

// Bytes put one after the other into a buffer of fixed size.
class FixedText {
 public:
  FixedText(char* buffer, std::size_t size) : buffer_(buffer), size_(size) {}

  // Adds text, with its NUL when withNul; false when it does not fit.
  bool put(const char* text, bool withNul) {
    std::size_t length = std::strlen(text) + (withNul ? 1 : 0);
    if (length > size_ - used_) return false;
    std::memcpy(buffer_ + used_, text, length);
    used_ += length;
    return true;
  }

 private:
  char* buffer_;
  std::size_t size_;
  std::size_t used_ = 0;
};

// Reads the "Path" value of the key into folder. On a registry error, the
// system's text for it goes to *errorText.
int32_t ReadRegisteredFolder(TextBuffer& folder, const char* keyPath, char** errorText) {
  MachineRegistry& registry = Registry();
  RegistryKey key = nullptr;
  int32_t error = registry.openKey(keyPath, &key);
  if (error != 0) {
    *errorText = registry.errorText(error);
    return kFolderNotFound;
  }
  int32_t code;
  uint32_t size = 0;
  error = registry.queryValue(key, "Path", nullptr, &size);
  if (error != 0) {
    *errorText = registry.errorText(error);
    code = kFolderNotFound;
  } else if (size >= static_cast<uint32_t>(INT32_MAX) ||
             folder.reset(static_cast<int32_t>(size) + 1) != 0) {
    code = kFolderNoMemory;
  } else {
    uint32_t written = size;
    error = registry.queryValue(key, "Path", folder.chars, &written);
    if (error != 0) {
      *errorText = registry.errorText(error);
      folder.chars[0] = '\0';
      code = kFolderNotFound;
    } else {
      // A value need not end with a NUL of its own. The buffer has one byte
      // more than the value, so the text always ends inside it.
      folder.chars[written < size ? written : size] = '\0';
      code = kFolderFound;
    }
  }
  registry.closeKey(key);
  return code;
}

}  // namespace

int32_t FindInstallFolder(TextBuffer& folder, const ProductEntry& row, bool allowBrowsing) {
  uint32_t platform = Version().platformId();
  if (platform != kPlatformWindows && platform != kPlatformNt) return kUnknownPlatform;

  char keyPath[kKeyPathSize];
  FixedText key(keyPath, sizeof keyPath);
  char* errorText = nullptr;
  int32_t code = kFolderNotFound;  // a name too long for a key is registered nowhere
  if (key.put(kAppPathsKey, false) && key.put(row.appPathsKey, true)) {
    code = ReadRegisteredFolder(folder, keyPath, &errorText);
  }
  // Each wrong pick shows the registry's error text again.
  while (allowBrowsing && code == kFolderNotFound) {
    ReportMessage(kMessageProductNotFound, errorText);
    code = BrowseForProgram(folder, row);
  }
  if (errorText != nullptr) Registry().releaseErrorText(errorText);
  return code;
}

void ReportMessage(int32_t index, const char* detail) {
  // An index outside the catalogue shows its empty last entry.
  if (index < 0 || index >= kMessageCount) index = kMessageCount - 1;
  const char* entry = MessageCatalogue[index];
  TextBuffer message;
  std::size_t size = std::strlen(entry) + 1;
  if (detail != nullptr) size += std::strlen(detail) + 12;  // "\r\nError:" and room to spare
  if (size <= static_cast<std::size_t>(INT32_MAX) &&
      message.reset(static_cast<int32_t>(size)) == 0) {
    message.append(entry);
    if (detail != nullptr) {
      message.append("\r\nError:");
      message.append(detail);
    }
  }
  // Without memory for the whole message the entry is shown alone.
  ShowPrompt(message.chars != nullptr ? message.chars : entry, PromptMode::Acknowledge);
}

int32_t BrowseForProgram(TextBuffer& folder, const ProductEntry& row) {
  // One pair of description and pattern, then the NUL that ends the list.
  char filter[kFilterSize];
  FixedText pairs(filter, sizeof filter);
  if (!pairs.put(row.displayName, false) || !pairs.put("実行ファイル", true) ||
      !pairs.put(row.appPathsKey, true) || !pairs.put("", true)) {
    return kBrowseCancelled;  // no dialog can be shown for this row
  }
  if (folder.reset(kPickedPathSize) != 0) return kFolderNoMemory;
  if (!OpenDialog().pick(filter, folder.chars, static_cast<uint32_t>(folder.capacity))) {
    return kBrowseCancelled;
  }
  folder.chars[folder.capacity - 1] = '\0';

  // The name after the last backslash that is not the second byte of a
  // double-byte character.
  char* backslash = FindLastBackslash(folder.chars);
  if (backslash == nullptr) return kFolderNotFound;
  char* name = backslash + 1;
  for (char* p = name; *p != '\0'; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 0x20);  // bytes of 0x80 and up stay
  }
  if (std::strcmp(name, row.upperProgramName) != 0) return kFolderNotFound;
  *name = '\0';  // the folder with its trailing backslash
  return kFolderFound;
}

}  // namespace kalvora
