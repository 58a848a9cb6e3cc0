#include "updater/operator_console.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/console_display.h"
#include "platform/manual_reset_event.h"

namespace kalvora {

InstanceHandle AppInstance = nullptr;
WindowHandle ConsoleWindow = nullptr;

namespace {

// The hand-over from the main thread to the worker. The lock keeps the
// order of the two threads (the event is published before the buttons are
// enabled; the choice is stored before the event is set; the choice is read
// after the wait; the event is closed and cleared before the next prompt)
// and makes a command and the closing of the event exclude each other.
std::mutex PromptLock;
int32_t UserChoice = kNoChoice;
EventHandle PromptEvent = nullptr;
// Commands taken since the start, so that a prompt without an event can
// tell a command that came after it began.
uint32_t CommandCount = 0;

// How often a prompt without an event looks for a command.
constexpr auto kCommandPoll = std::chrono::milliseconds(20);

}  // namespace

bool OpenConsole() {
  ConsoleDisplay& display = Display();
  ConsoleWindow = display.createDialog(AppInstance, kConsoleTemplate, ConsoleDialogProc);
  if (ConsoleWindow == nullptr) {
    display.showFatalMessage("ウィンドウの作成に失敗しました", "致命的なエラー");
    return false;
  }
  display.show(ConsoleWindow);
  return true;
}

intptr_t RunMessageLoop() {
  return Display().runMessageLoop();
}

intptr_t ConsoleDialogProc(WindowHandle /*window*/, uint32_t message, uintptr_t wParam,
                           intptr_t /*lParam*/) {
  if (message == kDestroyMessage) {
    Display().postQuit(0);
    return 1;
  }
  // Commands with a notification code other than 0 are no button clicks.
  if (message != kCommandMessage || CommandNotification(wParam) != 0) return 0;
  uint32_t id = CommandId(wParam);
  std::lock_guard<std::mutex> hold(PromptLock);
  UserChoice = id == kOkButton ? kChoseOk : id == kCancelButton ? kChoseCancel : kNoChoice;
  ++CommandCount;
  if (PromptEvent != nullptr) Events().set(PromptEvent);
  return 1;
}

void ClearUserChoice() {
  std::lock_guard<std::mutex> hold(PromptLock);
  UserChoice = kNoChoice;
}

int32_t ShowPrompt(const char* text, PromptMode mode) {
  ConsoleDisplay& display = Display();
  ManualResetEvents& events = Events();
  display.setItemText(ConsoleWindow, kMessageArea, text != nullptr ? text : "");

  // The event is published before the buttons are enabled, so that every
  // click on a button of this prompt finds it.
  EventHandle event = events.create();
  uint32_t commandsBefore;
  {
    std::lock_guard<std::mutex> hold(PromptLock);
    PromptEvent = event;
    commandsBefore = CommandCount;
  }
  display.enableItem(ConsoleWindow, kOkButton, true);
  display.enableItem(ConsoleWindow, kCancelButton, mode == PromptMode::Confirm);
  display.invalidate(ConsoleWindow);

  if (event != nullptr) {
    events.wait(event);
    std::lock_guard<std::mutex> hold(PromptLock);
    events.close(event);
    PromptEvent = nullptr;
  } else {
    // No event could be created. The prompt still waits for a command of
    // its own: a click before it began may have left its choice behind,
    // and that is no answer to this prompt.
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(PromptLock);
        if (CommandCount != commandsBefore) break;
      }
      std::this_thread::sleep_for(kCommandPoll);
    }
  }

  display.setItemText(ConsoleWindow, kMessageArea, "");
  std::lock_guard<std::mutex> hold(PromptLock);
  return UserChoice;
}

}  // namespace kalvora
