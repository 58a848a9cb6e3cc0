// Crash safety of the applier: whichever file operation the program stops
// at, no former content is lost, and applying the same update again gives
// the folder a clean run gives.
#include <gtest/gtest.h>

#include <cstdio>

#include "package/package_applier.h"
#include "support/faulty_files.h"
#include "support/sample_product.h"
#include "support/temp_folder.h"

namespace kalvora {
namespace {

using test::FaultyFiles;
using test::FolderSnapshot;

int32_t Apply(const test::Bytes& package, const std::string& folder) {
  return ApplyPackage(package.data(), static_cast<uint32_t>(package.size()), folder.c_str());
}

TEST(CrashSafety, EveryStopIsRecoveredByApplyingAgain) {
  test::Product product;
  test::Release release(product);
  FolderSnapshot clean;
  {
    test::TempFolder folder;
    test::Populate(folder.path(), product.files);
    ASSERT_EQ(Apply(release.package, folder.path().string()), kApplied);
    clean = test::Snapshot(folder.path());
  }
  long stops = 0;
  for (long at = 0;; ++at) {
    SCOPED_TRACE(testing::Message() << "stopped at file operation " << at);
    test::TempFolder folder;
    test::Populate(folder.path(), product.files);
    bool stopped = false;
    {
      FaultyFiles files(at, FaultyFiles::Mode::Crash);
      files.install();
      Apply(release.package, folder.path().string());  // whatever it says, the program stopped
      stopped = files.failed();
    }
    if (!stopped) break;
    ++stops;

    // Each file's former content is under its own name or its old copy's.
    FolderSnapshot after = test::Snapshot(folder.path());
    for (const auto& pair : test::kReleaseFiles) {
      const test::Bytes& former = product.files.at(pair[0]);
      bool kept = (after.count(pair[0]) != 0 && after[pair[0]] == former) ||
                  (after.count(pair[1]) != 0 && after[pair[1]] == former);
      EXPECT_TRUE(kept) << pair[0] << " lost its former content";
    }

    ASSERT_EQ(Apply(release.package, folder.path().string()), kApplied);
    EXPECT_EQ(test::Snapshot(folder.path()), clean);
    if (HasFailure()) break;
  }
  std::printf("stopped at each of %ld file operations\n", stops);
  EXPECT_GT(stops, 20) << "the package takes more file operations than that";
}

}  // namespace
}  // namespace kalvora
