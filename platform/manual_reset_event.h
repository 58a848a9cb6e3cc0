// Manual-reset events: one thread waits on an event until another sets it,
// and it stays set until it is closed. Tests put events of their own in
// place with SetEvents.
#pragma once

#include "platform/handles.h"

namespace kalvora {

class ManualResetEvents {
 public:
  virtual ~ManualResetEvents() = default;

  // A new event, not set; null when it cannot be created.
  virtual EventHandle create();
  // Sets the event and wakes whoever waits on it.
  virtual void set(EventHandle event);
  // Waits without time limit until the event is set.
  virtual void wait(EventHandle event);
  // Ends the event; it must not be used afterwards.
  virtual void close(EventHandle event);
};

// The events in use: the system's own unless a test set others.
ManualResetEvents& Events();

// Puts events in place; null puts the system's own back.
void SetEvents(ManualResetEvents* events);

}  // namespace kalvora
