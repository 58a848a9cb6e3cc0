// An observer of the applier for tests: keeps what became of each record
// and, when it watches a folder, the folder as each record left it.
#pragma once

#include <filesystem>
#include <vector>

#include "package/package_applier.h"
#include "support/package_builder.h"

namespace kalvora::test {

class ApplyRecorder : public ApplyObserver {
 public:
  ApplyRecorder() = default;
  // Takes a snapshot of folder now and after each record.
  explicit ApplyRecorder(std::filesystem::path folder);
  // The same, for a folder known to hold start.
  ApplyRecorder(std::filesystem::path folder, FolderSnapshot start);

  void recordDone(const RecordOutcome& outcome) override;

  // The folder as the last record that was applied left it: as it was at
  // the start when none was.
  const FolderSnapshot& lastApplied() const;

  std::vector<RecordOutcome> outcomes;
  FolderSnapshot start;
  std::vector<FolderSnapshot> after;  // the folder after each record

 private:
  std::filesystem::path folder_;
};

// Checks what an application left behind, whatever it was given: when it
// failed, the folder is as the last applied record left it (the failing
// record was undone whole), and none of the applier's own files (new
// content, a set-aside target) is left.
void ExpectNothingHalfApplied(const std::filesystem::path& folder, int32_t result,
                              const ApplyRecorder& recorder);

}  // namespace kalvora::test
