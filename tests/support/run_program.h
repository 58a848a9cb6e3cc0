// Runs a program of the project as a user would, from a shell, and keeps
// what it printed and its exit code (Linux only).
#pragma once

#include <string>
#include <vector>

namespace kalvora::test {

struct ProgramRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs program with the arguments, each passed as it is.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments);

// True when text holds part.
inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace kalvora::test
