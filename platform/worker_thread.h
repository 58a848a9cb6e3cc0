// Starting a thread that runs on its own until its routine returns; nobody
// waits for it. Tests put a starter of their own in place with
// SetThreadStarter, so that they can wait for the thread's end.
#pragma once

#include <cstdint>

namespace kalvora {

using ThreadRoutine = void (*)(void* argument);

class ThreadStarter {
 public:
  virtual ~ThreadStarter() = default;

  // Starts routine(argument) on a new thread with the default stack size.
  // 0 when the thread runs, -1 when it cannot be started.
  virtual int32_t start(ThreadRoutine routine, void* argument);
};

// The starter in use: the system's own unless a test set another.
ThreadStarter& Threads();

// Puts a starter in place; null puts the system's own back.
void SetThreadStarter(ThreadStarter* starter);

}  // namespace kalvora
