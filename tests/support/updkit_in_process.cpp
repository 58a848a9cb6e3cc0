#include "support/updkit_in_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "tools/updkit/commands.h"

namespace kalvora::test {

UpdkitRun RunUpdkitApply(const std::string& updateFile, const std::string& folder) {
  std::vector<char> file(updateFile.begin(), updateFile.end());
  std::vector<char> install(folder.begin(), folder.end());
  file.push_back('\0');
  install.push_back('\0');
  char* arguments[] = {file.data(), install.data()};
  UpdkitRun run;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  run.exitCode = updkit::ApplyCommand(2, arguments);
  std::fflush(stdout);
  std::fflush(stderr);
  run.out = testing::internal::GetCapturedStdout();
  run.err = testing::internal::GetCapturedStderr();
  return run;
}

}  // namespace kalvora::test
