// Windows only: manual-reset events of the kernel.
#include <windows.h>

#include "platform/manual_reset_event.h"

namespace kalvora {

EventHandle ManualResetEvents::create() {
  // Null on failure (not INVALID_HANDLE_VALUE).
  return CreateEventA(NULL,   // no security attributes
                      TRUE,   // manual reset
                      FALSE,  // not signalled
                      NULL);  // no name
}

void ManualResetEvents::set(EventHandle event) {
  SetEvent(static_cast<HANDLE>(event));
}

void ManualResetEvents::wait(EventHandle event) {
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
}

void ManualResetEvents::close(EventHandle event) {
  CloseHandle(static_cast<HANDLE>(event));
}

}  // namespace kalvora
