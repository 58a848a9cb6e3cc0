// Code page 932 texts (the system's messages, names in packages) as UTF-8,
// for terminals and for the toolkit's output.
#pragma once

#include <string>

namespace kalvora {

// The text as UTF-8; a byte sequence that is no code page 932 character
// becomes '?'. CR LF stays as it is.
std::string Cp932ToUtf8(const char* text);

}  // namespace kalvora
