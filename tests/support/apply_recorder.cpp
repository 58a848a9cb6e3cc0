#include "support/apply_recorder.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "package/update_record.h"

namespace kalvora::test {

ApplyRecorder::ApplyRecorder(std::filesystem::path folder) : folder_(std::move(folder)) {
  start = Snapshot(folder_);
}

ApplyRecorder::ApplyRecorder(std::filesystem::path folder, FolderSnapshot start)
    : start(std::move(start)), folder_(std::move(folder)) {}

void ApplyRecorder::recordDone(const RecordOutcome& outcome) {
  outcomes.push_back(outcome);
  if (!folder_.empty()) after.push_back(Snapshot(folder_));
}

const FolderSnapshot& ApplyRecorder::lastApplied() const {
  for (std::size_t i = outcomes.size(); i > 0; --i) {
    if (outcomes[i - 1].result == kApplied) return after.at(i - 1);
  }
  return start;
}

void ExpectNothingHalfApplied(const std::filesystem::path& folder, int32_t result,
                              const ApplyRecorder& recorder) {
  FolderSnapshot now = Snapshot(folder);
  for (const auto& [name, bytes] : now) {
    for (std::string suffix : {kTemporarySuffix, kSetAsideSuffix}) {
      EXPECT_FALSE(name.size() >= suffix.size() &&
                   name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
          << "the applier's own file left: " << name;
    }
  }
  if (result == kApplied) {
    for (const RecordOutcome& outcome : recorder.outcomes) EXPECT_EQ(outcome.result, kApplied);
    return;
  }
  ASSERT_FALSE(recorder.outcomes.empty()) << "a failure that no record reported";
  EXPECT_NE(recorder.outcomes.back().result, kApplied);
  EXPECT_TRUE(now == recorder.lastApplied())
      << "the failing record " << recorder.outcomes.back().index << " changed the folder";
}

}  // namespace kalvora::test
