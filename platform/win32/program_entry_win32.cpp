// Windows only: the program's entry point, which hands over to the tool's
// start.
#include <windows.h>

#include "updater/update_driver.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showState) {
  return kalvora::WinMain(instance, previousInstance, commandLine, showState);
}
