// Windows only: code page 932 to UTF-8 through UTF-16.
#include <windows.h>

#include <cstring>

#include "platform/text_encoding.h"

namespace kalvora {

std::string Cp932ToUtf8(const char* text) {
  int length = static_cast<int>(std::strlen(text));
  if (length == 0) return std::string();
  // A zero result of either call is a failure; bytes that are no character
  // become the default character, as the system decides.
  int wide = MultiByteToWideChar(932, 0, text, length, nullptr, 0);
  if (wide == 0) return std::string(text);
  std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(932, 0, text, length, &utf16[0], wide);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes == 0) return std::string(text);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, &out[0], bytes, nullptr, nullptr);
  return out;
}

}  // namespace kalvora
