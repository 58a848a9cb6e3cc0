// The commands of updkit. Each takes the arguments after its name and gives
// the exit code: 0 success, 1 failure, 2 usage error.
#pragma once

namespace kalvora::updkit {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int ApplyCommand(int argc, char** argv);
extern const char* const kApplyHelp;

int MakeCommand(int argc, char** argv);
extern const char* const kMakeHelp;

int InspectCommand(int argc, char** argv);
extern const char* const kInspectHelp;

int BookCommand(int argc, char** argv);
extern const char* const kBookHelp;

}  // namespace kalvora::updkit
