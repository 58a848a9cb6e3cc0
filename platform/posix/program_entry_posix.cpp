// Linux stand-in only: the program's entry point, which hands over to the
// tool's start as Windows would: the command line is not looked at.
#include <signal.h>

#include "updater/update_driver.h"

namespace {

// The module instance has no meaning on Linux; any handle that is not null
// stands for it.
char programInstance;

}  // namespace

int main() {
  // A terminal that goes away (output piped into a program that ended) must
  // not end the tool in the middle of an update: its writes just fail.
  signal(SIGPIPE, SIG_IGN);
  char noCommandLine[] = "";
  return kalvora::WinMain(&programInstance, nullptr, noCommandLine,
                          1);  // shown normally
}
