// Windows only: the console as a modeless dialog of user32, and the main
// thread's message loop.
#include <windows.h>

#include "platform/console_display.h"

namespace kalvora {

static_assert(kOkButton == IDOK && kCancelButton == IDCANCEL, "button ids");
static_assert(kDestroyMessage == WM_DESTROY && kCloseMessage == WM_CLOSE &&
                  kInitDialogMessage == WM_INITDIALOG && kCommandMessage == WM_COMMAND,
              "message numbers");

namespace {

// The console's procedure. There is one console in the process.
DialogProcedure consoleProcedure = nullptr;

// The dialog procedure that user32 calls (stdcall on 32-bit x86), handing
// every message to the console's own procedure.
INT_PTR CALLBACK ForwardToConsole(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (consoleProcedure == nullptr) return FALSE;
  return consoleProcedure(window, message, wParam, lParam);
}

HWND AsWindow(WindowHandle window) {
  return static_cast<HWND>(window);
}

}  // namespace

WindowHandle ConsoleDisplay::createDialog(InstanceHandle instance, int32_t templateId,
                                          DialogProcedure procedure) {
  consoleProcedure = procedure;
  return CreateDialogParamA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(templateId),
                            NULL,  // no parent window
                            ForwardToConsole,
                            0);  // initial parameter
}

void ConsoleDisplay::showFatalMessage(const char* text, const char* caption) {
  MessageBoxA(NULL,  // no owner window
              text, caption, MB_ICONWARNING | MB_OK);
}

void ConsoleDisplay::show(WindowHandle window) {
  ShowWindow(AsWindow(window), SW_SHOWNORMAL);
}

intptr_t ConsoleDisplay::runMessageLoop() {
  MSG message = {};
  // Every window of the thread, no filter. GetMessageA gives -1 only for a
  // bad window handle or message pointer, which cannot happen here, and 0
  // for WM_QUIT. No IsDialogMessage: Tab, Enter and Esc make no commands.
  while (GetMessageA(&message, NULL, 0, 0) != 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<intptr_t>(message.wParam);
}

void ConsoleDisplay::postQuit(int32_t exitCode) {
  PostQuitMessage(exitCode);
}

// The next two change a window of the main thread. Called from the worker,
// user32 sends them to the main thread and waits until its message loop has
// carried them out.
void ConsoleDisplay::setItemText(WindowHandle window, int32_t item, const char* text) {
  SetWindowTextA(GetDlgItem(AsWindow(window), item), text);
}

void ConsoleDisplay::enableItem(WindowHandle window, int32_t item, bool enabled) {
  EnableWindow(GetDlgItem(AsWindow(window), item), enabled ? TRUE : FALSE);
}

void ConsoleDisplay::invalidate(WindowHandle window) {
  InvalidateRect(AsWindow(window),
                 NULL,    // the whole window
                 FALSE);  // no erase
}

void ConsoleDisplay::postMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam) {
  PostMessageA(AsWindow(window), message, wParam, lParam);
}

}  // namespace kalvora
