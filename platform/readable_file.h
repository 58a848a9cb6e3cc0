// Whether a file is there to be read: the test for an update file beside
// the tool.
#pragma once

namespace kalvora {

// True when the file at path (an ANSI path) can be opened for reading now.
// The file is closed again at once.
bool CanOpenForReading(const char* path);

}  // namespace kalvora
