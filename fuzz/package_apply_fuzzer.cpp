// Fuzz target: a package applied to a small install folder (a book, a
// divided book, a program file, a read-only file and an empty folder), which
// is put back as it was after each input. The input's first byte says after
// how many allocations memory runs out (0: never); the package follows.
// Whatever the package, and wherever memory runs out: no path
// outside the install folder is ever named to the file layer, a record that
// fails leaves the folder as the records before it left it, and none of the
// applier's own files (new content, a set-aside target) stays behind.
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "fuzz_support.h"
#include "package/package_applier.h"
#include "package/update_record.h"
#include "platform/file_system.h"
#include "stream/allocation.h"
#include "support/apply_recorder.h"
#include "support/sample_product.h"
#include "support/temp_folder.h"

namespace kalvora::fuzz {
namespace {

using test::FolderSnapshot;

// The file layer of the system, refusing to go on when the applier names a
// path outside the install folder.
class ConfinedFiles : public FileSystem {
 public:
  explicit ConfinedFiles(const std::filesystem::path& folder)
      : folder_(folder.lexically_normal()) {}

  std::FILE* open(const char* path, bool forReading) override {
    confine(path);
    return FileSystem::open(path, forReading);
  }
  int renameNoReplace(const char* existingName, const char* newName) override {
    confine(existingName);
    confine(newName);
    return FileSystem::renameNoReplace(existingName, newName);
  }
  int remove(const char* path) override {
    confine(path);
    return FileSystem::remove(path);
  }
  PathKind pathKind(const char* path) override {
    confine(path);
    return FileSystem::pathKind(path);
  }

 private:
  void confine(const char* path) const {
    std::filesystem::path native = test::NativePath(path).lexically_normal();
    auto inside = folder_.begin();
    auto part = native.begin();
    for (; inside != folder_.end() && part != native.end(); ++inside, ++part) {
      Check(*inside == *part, "a path outside the install folder");
    }
    Check(inside == folder_.end() && part != native.end(), "a path outside the install folder");
  }

  std::filesystem::path folder_;
};

struct InstallFolder {
  InstallFolder()
      : path(ScratchFolder() / "install"), files(test::Product(test::ProductSize::Tiny).files) {
    files["Readme.txt"] = {'r', 'e', 'a', 'd'};
    files["Data/old/"] = {};
    std::filesystem::create_directory(path);
    test::Populate(path, files);
    std::filesystem::permissions(path / "Readme.txt", std::filesystem::perms::owner_read);
    now = files;
  }
  ~InstallFolder() {
    // Windows removes no read-only file with the scratch folder.
    std::error_code error;
    std::filesystem::permissions(path / "Readme.txt", std::filesystem::perms::owner_all, error);
  }

  std::filesystem::path path;
  FolderSnapshot files;  // as it is before each input
  FolderSnapshot now;    // as the last input left it
};

bool EndsWith(const std::string& name, const char* ending) {
  std::string suffix = ending;
  return name.size() >= suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace
}  // namespace kalvora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kalvora;
  using namespace kalvora::fuzz;
  if (size < 1 || size > UINT32_MAX) return 0;
  long allocations = data[0];
  ++data;
  --size;
  static InstallFolder install;
  static const std::string folder = install.path.string();
  test::Restore(install.path, install.now, install.files);

  test::ApplyRecorder recorder(install.path, install.files);
  int32_t result = kApplied;
  {
    ConfinedFiles confined(install.path);
    SetFileSystem(&confined);
    FailAllocationsAfter(allocations - 1);
    result = ApplyPackage(data, static_cast<uint32_t>(size), folder.c_str(), &recorder);
    FailAllocationsAfter(-1);
    SetFileSystem(nullptr);
  }
  install.now = test::Snapshot(install.path);

  for (const auto& entry : install.now) {
    Check(!EndsWith(entry.first, kTemporarySuffix) && !EndsWith(entry.first, kSetAsideSuffix),
          "the applier's own file stayed behind");
  }
  if (result == kApplied) {
    for (const RecordOutcome& outcome : recorder.outcomes) {
      Check(outcome.result == kApplied, "a failed record in an applied package");
    }
    return 0;
  }
  Check(!recorder.outcomes.empty(), "a failure that no record reported");
  const RecordOutcome& failed = recorder.outcomes.back();
  Check(failed.result == result && failed.fault != ApplyFault::None,
        "a failure reported without its reason");
  Check(install.now == recorder.lastApplied(), "a failing record changed the folder");
  if (failed.packageRefused) {
    Check(install.now == install.files, "a refused package changed the folder");
  }
  return 0;
}
