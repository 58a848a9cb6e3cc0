// What the fuzz targets share: the check that stops a run when a property
// of the code under test does not hold, streams over the fuzzer's bytes, and
// a scratch folder for the targets that need files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "stream/memory_stream.h"

namespace kalvora::fuzz {

// Reports the broken property and aborts, which the fuzzer (or the corpus
// replay) takes for a crash. Bad input never gets here: only a wrong result.
[[noreturn]] void PropertyBroken(const char* what);

inline void Check(bool holds, const char* what) {
  if (!holds) PropertyBroken(what);
}

// A MemoryStream for reading over bytes the fuzzer owns.
class InputStream : public MemoryStream {
 public:
  InputStream(const uint8_t* data, std::size_t size) {
    attach(const_cast<uint8_t*>(data), static_cast<uint32_t>(size), true);
  }
};

// A MemoryStream for writing over a block of this process, large enough for
// anything a small input can make (8 MB); what does not fit is refused as a
// full disk would refuse it.
class OutputStream : public MemoryStream {
 public:
  OutputStream();
};

// Runs work with the standard output and error going nowhere, for the
// toolkit's commands, which print for people. Sanitizer reports and broken
// properties still reach the error output. On Windows the work just runs.
int RunQuietly(const std::function<int()>& work);

// A folder of this process's own under the system's temporary folder,
// removed when the process ends normally.
const std::filesystem::path& ScratchFolder();

// Writes the fuzzer's bytes as the file name in the scratch folder and
// gives its path. A new file each time: some file systems write a file
// rewritten in place out to the disk at once.
const char* WriteScratchFile(const char* name, const uint8_t* data, std::size_t size);

}  // namespace kalvora::fuzz
