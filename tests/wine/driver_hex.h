// How the console driver and the end-to-end tests write the bytes of a
// text to each other: two capital hex digits a byte, nothing between them.
#pragma once

#include <cstdio>
#include <string>

inline std::string DriverHex(const std::string& bytes) {
  std::string out;
  char digits[4];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", c);
    out += digits;
  }
  return out;
}
