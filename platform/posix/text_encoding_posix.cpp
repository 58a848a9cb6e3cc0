// Linux only: code page 932 to UTF-8 with the C library's iconv.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/text_encoding.h"

namespace kalvora {

std::string Cp932ToUtf8(const char* text) {
  std::string out;
  iconv_t converter = iconv_open("UTF-8", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    // Without the converter, ASCII still reads right.
    for (const char* p = text; *p != '\0'; ++p) out += (*p & 0x80) != 0 ? '?' : *p;
    return out;
  }
  char* in = const_cast<char*>(text);
  std::size_t inLeft = std::strlen(text);
  char buffer[256];
  while (inLeft > 0) {
    char* outPointer = buffer;
    std::size_t outLeft = sizeof buffer;
    std::size_t result = iconv(converter, &in, &inLeft, &outPointer, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPointer - buffer));
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // EILSEQ or EINVAL: a byte that starts no character here.
      out += '?';
      ++in;
      --inLeft;
    }
  }
  iconv_close(converter);
  return out;
}

}  // namespace kalvora
