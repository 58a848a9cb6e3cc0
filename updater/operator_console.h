// The operator console: the tool's one window, the main thread's message
// loop, the window's procedure, and ShowPrompt, the rendezvous through which
// the worker thread puts a message in front of the user and waits for a
// button.
//
// The main thread and the worker share four words. AppInstance and
// ConsoleWindow are written before the worker starts and only read
// afterwards. UserChoice and PromptEvent carry the answer from the main
// thread to the worker; they live in operator_console.cpp under one lock,
// so that a command never sets an event that the worker has closed.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace kalvora {

// The buttons that a prompt offers. Both prompts wait for a button.
enum class PromptMode : int32_t {
  Acknowledge = 0,  // OK enabled, Cancel disabled
  Confirm = 4,      // OK and Cancel enabled
};

// Values of UserChoice, the answer that ShowPrompt gives.
constexpr int32_t kNoChoice = 0;  // no button, or a command of another control
constexpr int32_t kChoseOk = 1;
constexpr int32_t kChoseCancel = 2;

// The dialog template of the console (resources/kalvora_update.rc).
constexpr int32_t kConsoleTemplate = 102;

// The module instance given to WinMain.
extern InstanceHandle AppInstance;
// The console's dialog, once OpenConsole created it.
extern WindowHandle ConsoleWindow;

// Main thread. Creates the console from its template and shows it. False,
// after a message box, when it cannot be created. AppInstance must be set.
bool OpenConsole();

// Main thread. Hands the window's messages to their procedures until the
// quit message; gives the exit code that it carries (0 after the normal end).
intptr_t RunMessageLoop();

// Main thread. The console's procedure: a button's command stores the choice
// and wakes the prompt that waits; WM_DESTROY ends the message loop.
// Nonzero when it handled the message.
intptr_t ConsoleDialogProc(WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam);

// Main thread, before the worker starts. UserChoice becomes kNoChoice.
void ClearUserChoice();

// Worker thread. Shows text (a NUL-terminated code page 932 string, or null
// for none) in the message area with the buttons of mode, waits for a
// command that comes after the prompt began, empties the message area and
// gives UserChoice: the choice of that command or of a later one.
int32_t ShowPrompt(const char* text, PromptMode mode);

}  // namespace kalvora
