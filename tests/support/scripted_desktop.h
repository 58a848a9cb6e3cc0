// A desktop for the tool's tests: a scripted console that records every
// prompt with its buttons and answers it from a script, a registry and a
// file-open dialog that the test fills, a fixed platform version and
// program path, events that catch misuse, and a thread starter whose
// threads the test waits for. ScriptedDesktop puts them all in place and
// runs the tool (or any work of the worker) against them, with the test's
// own thread as the main thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/console_display.h"
#include "platform/file_open_dialog.h"
#include "platform/manual_reset_event.h"
#include "platform/platform_version.h"
#include "platform/program_path.h"
#include "platform/registry.h"
#include "platform/worker_thread.h"
#include "updater/operator_console.h"

namespace kalvora::test {

// One thing that the user saw or did, in order.
struct Seen {
  enum class Kind {
    Prompt,   // a text with at least one button to press
    Busy,     // a text with both buttons disabled
    Dialog,   // the file-open dialog, with its filter
    Refused,  // the script pressed a disabled button, which did nothing
  };
  Kind kind;
  std::string text;  // the message area; the dialog's filter with its NULs; the button
  bool okEnabled = false;
  bool cancelEnabled = false;

  bool operator==(const Seen& other) const {
    return kind == other.kind && text == other.text && okEnabled == other.okEnabled &&
           cancelEnabled == other.cancelEnabled;
  }
};
void PrintTo(const Seen& seen, std::ostream* out);

Seen PromptSeen(const std::string& text, PromptMode mode);
Seen BusySeen(const std::string& text);
Seen DialogSeen(const std::string& filter);
Seen RefusedSeen(int32_t button);

// Bytes with everything outside printable ASCII as \xNN, for messages.
std::string Escaped(const std::string& bytes);

// A command that the script sends: a click on a button, or a command of any
// control with any notification code.
struct Press {
  uint32_t id;
  uint32_t notification = 0;
};
constexpr Press kPressOk{1, 0};
constexpr Press kPressCancel{2, 0};

class Journal {
 public:
  void add(const Seen& seen);
  std::vector<Seen> entries() const;

 private:
  mutable std::mutex lock_;
  std::vector<Seen> entries_;
};

class ScriptedConsole : public ConsoleDisplay {
 public:
  explicit ScriptedConsole(Journal& journal) : journal_(journal) {}

  // Presses for the prompts, in order. When a prompt comes up, presses are
  // sent until one would answer it: a press of a disabled button is refused
  // and a command whose notification code is not 0 answers nothing, so the
  // next press goes to the same prompt. A prompt with no press left is a
  // test failure; it is answered with OK so that the pass ends.
  void script(std::vector<Press> presses);
  // A click that the main thread takes after prompt number `prompt` (from
  // 0) has returned, before the worker shows its next text.
  void clickBetweenPrompts(int prompt, Press press);
  // Makes the dialog impossible to create.
  void failCreation() { failCreation_ = true; }

  bool shown() const { return shown_; }
  // The message boxes shown: text and caption.
  std::vector<std::pair<std::string, std::string>> fatalMessages() const;
  // Every text the message area was given, in order.
  std::vector<std::string> areaTexts() const;
  // Prompts whose presses ran out.
  int unscriptedPrompts() const;

  WindowHandle createDialog(InstanceHandle instance, int32_t templateId,
                            DialogProcedure procedure) override;
  void showFatalMessage(const char* text, const char* caption) override;
  void show(WindowHandle window) override;
  intptr_t runMessageLoop() override;
  void postQuit(int32_t exitCode) override;
  void setItemText(WindowHandle window, int32_t item, const char* text) override;
  void enableItem(WindowHandle window, int32_t item, bool enabled) override;
  void invalidate(WindowHandle window) override;
  void postMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                   intptr_t lParam) override;

 private:
  struct Message {
    bool quit = false;
    int32_t exitCode = 0;
    uint32_t message = 0;
    uintptr_t wParam = 0;
    bool* handled = nullptr;  // set by the loop when a waiting sender may go on
  };
  void queue(const Message& message);

  Journal& journal_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Message> queue_;
  DialogProcedure procedure_ = nullptr;
  bool failCreation_ = false;
  bool shown_ = false;
  std::vector<std::pair<std::string, std::string>> fatalMessages_;
  std::string text_;
  std::vector<std::string> areaTexts_;
  bool okEnabled_ = true;
  bool cancelEnabled_ = true;
  std::deque<Press> presses_;
  std::map<int, Press> betweenPrompts_;
  int prompts_ = 0;  // prompts that came up so far
  bool promptUp_ = false;
  bool clickDone_ = false;  // the click after the last prompt was taken
  int unscripted_ = 0;
};

// The value "Path" of one App Paths key, as stored, and the errors its two
// reads give.
struct RegisteredPath {
  std::string bytes;  // ends with a NUL only when the test puts one in
  int32_t sizeError = 0;
  int32_t readError = 0;
};

class FakeRegistry : public MachineRegistry {
 public:
  // The product registered under App Paths with its program file name.
  void registerPath(const std::string& programFile, const RegisteredPath& path);
  // Every key opening fails with this code (0: keys open when registered).
  void failOpening(int32_t code) { openError_ = code; }

  int openKeys() const { return openKeys_; }
  int keysOpened() const { return keysOpened_; }
  int textsHeld() const { return textsHeld_; }
  // The key paths asked for, and the value names read.
  std::vector<std::string> keyPaths() const;
  std::vector<std::string> valueNames() const;

  int32_t openKey(const char* keyPath, RegistryKey* key) override;
  int32_t queryValue(RegistryKey key, const char* valueName, char* data, uint32_t* size) override;
  void closeKey(RegistryKey key) override;
  char* errorText(int32_t code) override;
  void releaseErrorText(char* text) override;

 private:
  mutable std::mutex lock_;
  std::map<std::string, RegisteredPath> keys_;
  int32_t openError_ = 0;
  int openKeys_ = 0;
  int keysOpened_ = 0;
  int textsHeld_ = 0;
  std::vector<std::string> keyPaths_;
  std::vector<std::string> valueNames_;
};

// The registry's error texts of FakeRegistry: "E" and the code, then CR LF.
std::string FakeErrorText(int32_t code);

class ScriptedDialog : public FileOpenDialog {
 public:
  explicit ScriptedDialog(Journal& journal) : journal_(journal) {}

  // What the user does in the dialogs, in order: a path picked, or none for
  // Cancel. A dialog with nothing left is a test failure, and cancelled.
  void script(std::vector<std::optional<std::string>> picks);
  // The file buffer sizes that the dialogs were given.
  std::vector<uint32_t> fileSizes() const;

  bool pick(const char* filter, char* file, uint32_t fileSize) override;

 private:
  Journal& journal_;
  mutable std::mutex lock_;
  std::deque<std::optional<std::string>> picks_;
  std::vector<uint32_t> fileSizes_;
};

class FixedVersion : public PlatformVersion {
 public:
  uint32_t id = kPlatformNt;
  uint32_t platformId() override { return id; }
};

class FixedProgramPath : public ProgramPath {
 public:
  std::string path;
  void get(InstanceHandle instance, char* buffer, uint32_t size) override;
};

// Starts real threads and keeps them, so that the test can wait for them.
class JoiningThreads : public ThreadStarter {
 public:
  ~JoiningThreads() override { joinAll(); }
  void failStarts() { fail_ = true; }
  int started() const { return static_cast<int>(threads_.size()); }
  void joinAll();

  int32_t start(ThreadRoutine routine, void* argument) override;

 private:
  bool fail_ = false;
  std::vector<std::thread> threads_;
};

// Events that count what is done to them. An event is never freed before
// the test ends, so that a set after its close is seen, not undefined. A
// set holds on for a moment after it has woken the waiter, so that a close
// that does not wait for the set to end is caught within it.
class RecordingEvents : public ManualResetEvents {
 public:
  // The next `count` creations fail; -1 makes every one fail.
  void failCreations(int count) { failing_ = count; }
  int created() const;
  int setsOfClosed() const;  // sets of an event that was closed before or during the set
  int openEvents() const;

  EventHandle create() override;
  void set(EventHandle event) override;
  void wait(EventHandle event) override;
  void close(EventHandle event) override;

 private:
  struct Event {
    bool isSet = false;
    bool closed = false;
  };
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<Event>> events_;
  int failing_ = 0;
  int setsOfClosed_ = 0;
};

class ScriptedDesktop {
 public:
  ScriptedDesktop();
  ~ScriptedDesktop();
  ScriptedDesktop(const ScriptedDesktop&) = delete;
  ScriptedDesktop& operator=(const ScriptedDesktop&) = delete;

  // Events that count what is done to them, instead of the system's.
  void useRecordingEvents();

  // Runs the tool from its start; gives WinMain's result once the worker
  // has ended.
  int32_t runTool();
  // Opens the console and runs work on a worker thread while this thread
  // runs the message loop, as the tool does with its update pass.
  void runOnWorker(const std::function<void()>& work);

  std::vector<Seen> seen() const { return journal.entries(); }

  Journal journal;
  ScriptedConsole console{journal};
  ScriptedDialog dialog{journal};
  FakeRegistry registry;
  FixedVersion version;
  FixedProgramPath programPath;
  JoiningThreads threads;
  RecordingEvents events;
};

// A path of the system with backslashes between folders, as the tool takes
// paths (the file layer of the Linux stand-in turns them into '/').
std::string BackslashPath(const std::string& path);

}  // namespace kalvora::test
