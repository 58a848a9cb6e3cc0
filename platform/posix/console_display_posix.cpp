// Linux stand-in only: the console is the terminal. The worker's texts are
// written out whenever the window is repainted, converted from code page 932
// to UTF-8, with the buttons' states; the main thread's message loop reads
// standard input and turns each line into a press of a button: an empty line
// or "o" is OK, "c" is Cancel, and a disabled button is refused.
//
// From a terminal, a line is a press at the moment it is typed, as a click
// is. From a pipe or a file, lines are taken one at a time when a prompt or a
// file-open question waits for them, so that a script of answers keeps step
// with the tool; once the input has ended, every prompt is answered with OK
// and every file-open question is cancelled. A run with no input at all
// (</dev/null) therefore goes through the whole pass answering OK.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "platform/console_display.h"
#include "platform/posix/terminal.h"
#include "platform/text_encoding.h"

namespace kalvora {

namespace {

struct QueuedMessage {
  bool quit = false;
  int32_t exitCode = 0;
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

// The one console window, its message queue and the terminal's input.
struct TerminalConsole {
  std::mutex lock;
  std::condition_variable questionSettled;

  DialogProcedure procedure = nullptr;
  std::string text;
  bool okEnabled = true;
  bool cancelEnabled = true;
  // A prompt is on screen and no enabled button has been pressed for it.
  bool promptWaiting = false;

  std::deque<QueuedMessage> queue;
  int wakeRead = -1;
  int wakeWrite = -1;
  bool looping = false;

  bool interactive = false;
  bool inputEnded = false;
  std::string partialLine;
  std::deque<std::string> lines;  // typed and not yet used

  bool questionAsked = false;
  bool questionAnswered = false;
  std::string answer;
};

TerminalConsole console;
char consoleWindow;  // the window's handle is its address
std::mutex outputLock;

void WriteTo(int fd, const std::string& text) {
  std::lock_guard<std::mutex> hold(outputLock);
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // output gone: nothing to do about it
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

// Wakes the message loop out of poll(); the loop then looks at its queue
// and its input again.
void Wake() {
  if (console.wakeWrite < 0) return;
  char byte = 1;
  ssize_t ignored = ::write(console.wakeWrite, &byte, 1);
  (void)ignored;  // a full pipe already wakes the loop
}

std::string ButtonRow(bool okEnabled, bool cancelEnabled) {
  std::string row = okEnabled ? "[OK: Enter]" : "(OK)";
  row += cancelEnabled ? "  [Cancel: c]" : "  (Cancel)";
  return row;
}

// Presses the button that a line names, on the main thread.
void PressFromLine(const std::string& line) {
  std::string key;
  for (char c : line) {
    if (c != ' ' && c != '\t') key += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
  }
  int32_t id;
  if (key.empty() || key == "o" || key == "ok") {
    id = kOkButton;
  } else if (key == "c" || key == "cancel") {
    id = kCancelButton;
  } else {
    terminal::Write("Enter (or o) presses OK, c presses Cancel.\n");
    return;
  }
  DialogProcedure procedure;
  {
    std::lock_guard<std::mutex> hold(console.lock);
    bool enabled = id == kOkButton ? console.okEnabled : console.cancelEnabled;
    if (!enabled) {
      terminal::Write(id == kOkButton ? "OK is disabled.\n" : "Cancel is disabled.\n");
      return;
    }
    console.promptWaiting = false;
    procedure = console.procedure;
  }
  // A click on a button: its command with notification code 0.
  procedure(&consoleWindow, kCommandMessage, CommandParam(static_cast<uint32_t>(id), 0), 0);
}

// Hands out the lines read so far, and answers for an input that has ended.
void DispatchInput() {
  for (;;) {
    std::string line;
    bool automatic = false;
    {
      std::lock_guard<std::mutex> hold(console.lock);
      if (console.questionAsked && !console.questionAnswered) {
        if (!console.lines.empty()) {
          console.answer = console.lines.front();
          console.lines.pop_front();
          console.questionAnswered = true;
          console.questionSettled.notify_all();
          continue;
        }
        if (console.inputEnded) console.questionSettled.notify_all();
        return;
      }
      if (!console.lines.empty() && (console.interactive || console.promptWaiting)) {
        line = console.lines.front();
        console.lines.pop_front();
      } else if (console.lines.empty() && console.inputEnded && console.promptWaiting &&
                 console.okEnabled) {
        automatic = true;
      } else {
        return;
      }
    }
    if (automatic) terminal::Write("(no more input: OK)\n");
    PressFromLine(line);
  }
}

// Reads what standard input has; false when it has ended.
void ReadInput() {
  char buffer[4096];
  ssize_t count = ::read(0, buffer, sizeof buffer);
  if (count < 0 && (errno == EINTR || errno == EAGAIN)) return;
  std::lock_guard<std::mutex> hold(console.lock);
  if (count <= 0) {
    console.inputEnded = true;
    if (!console.partialLine.empty()) console.lines.push_back(console.partialLine);
    console.partialLine.clear();
    console.questionSettled.notify_all();
    return;
  }
  for (ssize_t i = 0; i < count; ++i) {
    if (buffer[i] == '\n') {
      std::string& line = console.partialLine;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      console.lines.push_back(line);
      line.clear();
    } else {
      console.partialLine += buffer[i];
    }
  }
}

// Reads one line straight from standard input, for a question asked while
// no message loop runs.
bool ReadLineDirectly(std::string* line) {
  line->clear();
  for (;;) {
    char byte;
    ssize_t count = ::read(0, &byte, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return !line->empty();
    if (byte == '\n') break;
    *line += byte;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

}  // namespace

namespace terminal {

std::string FromCp932(const char* text) {
  std::string converted = Cp932ToUtf8(text);
  // CR is never a trail byte, and a terminal wants LF alone.
  std::string lines;
  for (std::size_t i = 0; i < converted.size(); ++i) {
    if (converted[i] == '\r' && i + 1 < converted.size() && converted[i + 1] == '\n') continue;
    lines += converted[i];
  }
  return lines;
}

void Write(const std::string& text) {
  WriteTo(1, text);
}

bool AskLine(const std::string& question, std::string* line) {
  std::unique_lock<std::mutex> hold(console.lock);
  if (!console.looping) {
    hold.unlock();
    Write(question);
    return ReadLineDirectly(line);
  }
  console.questionAsked = true;
  console.questionAnswered = false;
  hold.unlock();
  Write(question);
  Wake();
  hold.lock();
  console.questionSettled.wait(hold, [] {
    return console.questionAnswered || (console.inputEnded && console.lines.empty()) ||
           !console.looping;
  });
  bool answered = console.questionAnswered;
  if (answered) *line = console.answer;
  console.questionAsked = false;
  console.questionAnswered = false;
  if (!answered) {
    hold.unlock();
    Write("(no more input)\n");
  }
  return answered;
}

}  // namespace terminal

WindowHandle ConsoleDisplay::createDialog(InstanceHandle /*instance*/, int32_t /*templateId*/,
                                          DialogProcedure procedure) {
  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
  std::lock_guard<std::mutex> hold(console.lock);
  console.wakeRead = wake[0];
  console.wakeWrite = wake[1];
  console.procedure = procedure;
  // As the template makes them: both buttons enabled, the message area empty.
  console.text.clear();
  console.okEnabled = true;
  console.cancelEnabled = true;
  console.interactive = isatty(0) != 0;
  return &consoleWindow;
}

void ConsoleDisplay::showFatalMessage(const char* text, const char* caption) {
  WriteTo(2, terminal::FromCp932(caption) + ": " + terminal::FromCp932(text) + "\n");
}

void ConsoleDisplay::show(WindowHandle /*window*/) {
  terminal::Write("Kalvora Update on the terminal: Enter (or o) presses OK, c presses Cancel.\n");
}

intptr_t ConsoleDisplay::runMessageLoop() {
  {
    std::lock_guard<std::mutex> hold(console.lock);
    console.looping = true;
  }
  for (;;) {
    QueuedMessage next;
    bool have = false;
    DialogProcedure procedure;
    {
      std::lock_guard<std::mutex> hold(console.lock);
      procedure = console.procedure;
      if (!console.queue.empty()) {
        next = console.queue.front();
        console.queue.pop_front();
        have = true;
        if (next.quit) {
          console.looping = false;
          console.questionSettled.notify_all();
          return next.exitCode;
        }
      }
    }
    if (have) {
      procedure(&consoleWindow, next.message, next.wParam, next.lParam);
      continue;
    }
    DispatchInput();
    bool inputOpen;
    {
      std::lock_guard<std::mutex> hold(console.lock);
      if (!console.queue.empty()) continue;
      inputOpen = !console.inputEnded;
    }
    pollfd waits[2] = {{console.wakeRead, POLLIN, 0}, {0, POLLIN, 0}};
    if (poll(waits, inputOpen ? 2 : 1, -1) < 0) continue;  // EINTR
    if (waits[0].revents != 0) {
      char drained[64];
      while (::read(console.wakeRead, drained, sizeof drained) > 0) {
      }
    }
    if (inputOpen && waits[1].revents != 0) ReadInput();
  }
}

void ConsoleDisplay::postQuit(int32_t exitCode) {
  std::lock_guard<std::mutex> hold(console.lock);
  QueuedMessage quit;
  quit.quit = true;
  quit.exitCode = exitCode;
  console.queue.push_back(quit);
}

void ConsoleDisplay::setItemText(WindowHandle /*window*/, int32_t item, const char* text) {
  if (item != kMessageArea) return;
  std::lock_guard<std::mutex> hold(console.lock);
  console.text = text != nullptr ? text : "";
  if (console.text.empty()) console.promptWaiting = false;
}

void ConsoleDisplay::enableItem(WindowHandle /*window*/, int32_t item, bool enabled) {
  std::lock_guard<std::mutex> hold(console.lock);
  if (item == kOkButton) console.okEnabled = enabled;
  if (item == kCancelButton) console.cancelEnabled = enabled;
}

void ConsoleDisplay::invalidate(WindowHandle /*window*/) {
  std::string screen;
  {
    std::lock_guard<std::mutex> hold(console.lock);
    // The tool repaints for a prompt, whose text may be empty, and for the
    // busy state, whose buttons are both disabled.
    screen = "\n" + terminal::FromCp932(console.text.c_str()) + "\n" +
             ButtonRow(console.okEnabled, console.cancelEnabled) + "\n";
    console.promptWaiting = console.okEnabled || console.cancelEnabled;
  }
  terminal::Write(screen);
  Wake();
}

void ConsoleDisplay::postMessage(WindowHandle /*window*/, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam) {
  {
    std::lock_guard<std::mutex> hold(console.lock);
    QueuedMessage queued;
    queued.message = message;
    queued.wParam = wParam;
    queued.lParam = lParam;
    console.queue.push_back(queued);
  }
  Wake();
}

}  // namespace kalvora
