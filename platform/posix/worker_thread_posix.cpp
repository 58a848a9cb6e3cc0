// Linux stand-in only: a detached POSIX thread.
#include <pthread.h>

#include <new>

#include "platform/worker_thread.h"

namespace kalvora {

namespace {

struct Start {
  ThreadRoutine routine;
  void* argument;
};

void* RunStart(void* start) {
  Start copy = *static_cast<Start*>(start);
  delete static_cast<Start*>(start);
  copy.routine(copy.argument);
  return nullptr;
}

}  // namespace

int32_t ThreadStarter::start(ThreadRoutine routine, void* argument) {
  auto* start = new (std::nothrow) Start{routine, argument};
  if (start == nullptr) return -1;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, RunStart, start) != 0) {
    delete start;
    return -1;
  }
  pthread_detach(thread);
  return 0;
}

}  // namespace kalvora
