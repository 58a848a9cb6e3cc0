// Windows only: the C runtime's thread start (_beginthread), which sets up
// the runtime for the new thread and closes the thread's handle when it ends.
#include <windows.h>

#include <process.h>

#include "platform/worker_thread.h"

namespace kalvora {

int32_t ThreadStarter::start(ThreadRoutine routine, void* argument) {
  uintptr_t thread = _beginthread(routine,
                                  0,  // the default stack size
                                  argument);
  // -1 on failure; the handle of a running thread is not ours to keep.
  return thread == static_cast<uintptr_t>(-1) ? -1 : 0;
}

}  // namespace kalvora
