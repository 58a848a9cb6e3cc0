// Fuzz target: updkit inspect on an update file, in its table and its JSON
// form. A file either passes or gets a failure (never a usage error), the
// same in both forms, and passes exactly when the program would load it
// and find every record sound.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "package/package_check.h"
#include "package/update_file.h"
#include "tools/updkit/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kalvora;
  using namespace kalvora::fuzz;
  std::string path = WriteScratchFile("inspected.upd", data, size);

  char json[] = "--json";
  char* table[] = {&path[0]};
  char* scripted[] = {&path[0], json};
  int tableResult = RunQuietly([&] { return updkit::InspectCommand(1, table); });
  int jsonResult = RunQuietly([&] { return updkit::InspectCommand(2, scripted); });
  Check(tableResult == updkit::kExitSuccess || tableResult == updkit::kExitFailure,
        "inspect ends otherwise than with success or failure");
  Check(jsonResult == tableResult, "inspect --json comes to another verdict");

  OwnedBuffer package;
  ApplyFault fault = ApplyFault::None;
  bool sound = LoadUpdateFile(path.c_str(), &package, &fault) == 0;
  if (sound) {
    MemoryStream stream;
    stream.attach(package.data(), package.size(), true);
    sound = CheckPackage(stream).fault == ApplyFault::None;
  }
  Check(sound == (tableResult == updkit::kExitSuccess),
        "inspect passes a file the program refuses, or refuses one it takes");
  return 0;
}
