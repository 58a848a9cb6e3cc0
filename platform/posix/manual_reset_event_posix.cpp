// Linux stand-in only: a manual-reset event as a flag under a mutex with a
// condition variable.
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/manual_reset_event.h"

namespace kalvora {

namespace {

struct Event {
  std::mutex lock;
  std::condition_variable changed;
  bool isSet = false;
};

}  // namespace

EventHandle ManualResetEvents::create() {
  return new (std::nothrow) Event();
}

void ManualResetEvents::set(EventHandle handle) {
  auto* event = static_cast<Event*>(handle);
  std::lock_guard<std::mutex> hold(event->lock);
  event->isSet = true;
  event->changed.notify_all();
}

void ManualResetEvents::wait(EventHandle handle) {
  auto* event = static_cast<Event*>(handle);
  std::unique_lock<std::mutex> hold(event->lock);
  event->changed.wait(hold, [event] { return event->isSet; });
}

void ManualResetEvents::close(EventHandle handle) {
  delete static_cast<Event*>(handle);
}

}  // namespace kalvora
