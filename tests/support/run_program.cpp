#include "support/run_program.h"

#include <sys/wait.h>

#include <cstdlib>

#include "support/temp_folder.h"

namespace kalvora::test {

namespace {
// The argument in single quotes for the shell.
std::string Quoted(const std::string& argument) {
  std::string quoted = "'";
  for (char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}
}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
  TempFolder capture;
  std::string command = Quoted(program);
  for (const std::string& argument : arguments) command += " " + Quoted(argument);
  command +=
      " >" + Quoted(capture.file("out")) + " 2>" + Quoted(capture.file("err")) + " </dev/null";
  ProgramRun run;
  int status = std::system(command.c_str());
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  Bytes out = ReadFileBytes(capture.file("out"));
  Bytes err = ReadFileBytes(capture.file("err"));
  run.out.assign(out.begin(), out.end());
  run.err.assign(err.begin(), err.end());
  return run;
}

}  // namespace kalvora::test
