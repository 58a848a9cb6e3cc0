// One product of the family, as the tool knows it: four read-only,
// NUL-terminated code page 932 strings.
#pragma once

namespace kalvora {

struct ProductEntry {
  const char* displayName;       // the product's name for the user (messages, browse filter)
  const char* updateFileName;    // its update file, in the tool's own folder
  const char* appPathsKey;       // its program file: the key under App Paths, the browse pattern
  const char* upperProgramName;  // the program file name in upper case, for a picked file
};

}  // namespace kalvora
