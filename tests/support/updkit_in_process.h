// updkit apply run inside the test program, so that a file layer the test
// puts in place is beneath it, with its standard output and error captured.
#pragma once

#include <string>

namespace kalvora::test {

struct UpdkitRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

UpdkitRun RunUpdkitApply(const std::string& updateFile, const std::string& folder);

}  // namespace kalvora::test
