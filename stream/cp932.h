// Code page 932 byte strings. The second byte of a double-byte character may
// be 0x5C, the byte of a backslash ("表" is 95 5C, "ソ" is 83 5C), so every
// scan for a backslash steps over double-byte characters with these helpers.
#pragma once

#include <cstddef>

namespace kalvora {

// Lead bytes of double-byte characters: 0x81-0x9F and 0xE0-0xFC.
inline bool IsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Length of the character that starts at text: 2 for a lead byte followed by
// a trail byte, otherwise 1. A lead byte at the very end counts alone.
inline std::size_t CharLength(const char* text) {
  return IsLeadByte(static_cast<unsigned char>(text[0])) && text[1] != '\0' ? 2 : 1;
}

// The last backslash of a NUL-terminated string that is a backslash and not
// the trail byte of a double-byte character; null when there is none.
inline const char* FindLastBackslash(const char* text) {
  const char* found = nullptr;
  for (const char* p = text; *p != '\0'; p += CharLength(p)) {
    if (*p == '\\') found = p;
  }
  return found;
}

inline char* FindLastBackslash(char* text) {
  return const_cast<char*>(FindLastBackslash(static_cast<const char*>(text)));
}

// True when the string's last character is a backslash.
inline bool EndsWithBackslash(const char* text) {
  const char* last = nullptr;
  for (const char* p = text; *p != '\0'; p += CharLength(p)) last = p;
  return last != nullptr && *last == '\\';
}

}  // namespace kalvora
