// Fuzz target: an update file, loaded from a file as the program loads it.
// A file that loads gives a package no longer than its header's raw length;
// one that does not gives a reason and no package.
#include <cstdint>

#include "fuzz_support.h"
#include "package/update_file.h"
#include "stream/little_endian.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kalvora;
  using namespace kalvora::fuzz;
  const char* path = WriteScratchFile("updb.dat", data, size);

  OwnedBuffer package;
  ApplyFault fault = ApplyFault::None;
  if (LoadUpdateFile(path, &package, &fault) != 0) {
    Check(fault != ApplyFault::None, "a refused update file without a reason");
    Check(package.data() == nullptr && package.size() == 0, "a refused update file gave a package");
    return 0;
  }
  Check(fault == ApplyFault::None, "a loaded update file with a fault");
  Check(size >= 8 && package.size() <= LoadLE32(data + 4),
        "the package is longer than the update file says");
  return 0;
}
