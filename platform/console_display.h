// The operator console's window as the logic sees it: a dialog made from a
// template with a message area and two buttons, whose messages the main
// thread's loop hands to the console's procedure. The worker thread changes
// the text and the buttons from its own thread; the platform carries that
// out on the window's thread. Tests put a scripted console in place with
// SetDisplay.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace kalvora {

// Controls of the console's dialog template.
constexpr int32_t kOkButton = 1;        // IDOK
constexpr int32_t kCancelButton = 2;    // IDCANCEL
constexpr int32_t kMessageArea = 1012;  // the read-only edit that shows the texts

// Window messages that the console's procedure handles or is told of, with
// the numbers the platform gives them.
constexpr uint32_t kDestroyMessage = 0x0002;     // WM_DESTROY
constexpr uint32_t kCloseMessage = 0x0010;       // WM_CLOSE
constexpr uint32_t kInitDialogMessage = 0x0110;  // WM_INITDIALOG
constexpr uint32_t kCommandMessage = 0x0111;     // WM_COMMAND

// The wParam of a command: the control's id in the low word, the
// notification code in the high word (0 for a button click).
inline uintptr_t CommandParam(uint32_t id, uint32_t notification) {
  return static_cast<uintptr_t>(((notification & 0xFFFFu) << 16) | (id & 0xFFFFu));
}
inline uint32_t CommandId(uintptr_t wParam) {
  return static_cast<uint32_t>(wParam & 0xFFFFu);
}
inline uint32_t CommandNotification(uintptr_t wParam) {
  return static_cast<uint32_t>((wParam >> 16) & 0xFFFFu);
}

// The console's procedure: gets every message of the dialog on the main
// thread; nonzero when it handled the message.
using DialogProcedure = intptr_t (*)(WindowHandle window, uint32_t message, uintptr_t wParam,
                                     intptr_t lParam);

class ConsoleDisplay {
 public:
  virtual ~ConsoleDisplay() = default;

  // Main thread. A modeless dialog from the template numbered templateId in
  // instance's resources, with no parent window, not yet visible; null when
  // it cannot be created.
  virtual WindowHandle createDialog(InstanceHandle instance, int32_t templateId,
                                    DialogProcedure procedure);
  // Main thread. A warning box with an OK button and no owner window.
  virtual void showFatalMessage(const char* text, const char* caption);
  // Main thread. Makes the window visible in its normal size and place.
  virtual void show(WindowHandle window);
  // Main thread. Takes and hands out messages until the quit message;
  // gives the exit code that the quit message carries.
  virtual intptr_t runMessageLoop();
  // Main thread, from the procedure. Ends the message loop with exitCode.
  virtual void postQuit(int32_t exitCode);

  // Either thread. The text of a control (a code page 932 string).
  virtual void setItemText(WindowHandle window, int32_t item, const char* text);
  // Either thread. Enables or disables a control.
  virtual void enableItem(WindowHandle window, int32_t item, bool enabled);
  // Either thread. Asks for the whole window to be repainted, without erasing.
  virtual void invalidate(WindowHandle window);
  // Either thread. Queues a message for the window's procedure and returns.
  virtual void postMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam);
};

// The display in use: the system's own unless a test set another.
ConsoleDisplay& Display();

// Puts a display in place; null puts the system's own back.
void SetDisplay(ConsoleDisplay* display);

}  // namespace kalvora
