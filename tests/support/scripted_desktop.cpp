#include "support/scripted_desktop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "updater/update_driver.h"

namespace kalvora::test {

namespace {

// A console that gets no message for this long belongs to a tool that hangs.
constexpr auto kHangTime = std::chrono::seconds(30);

// How long a set of a RecordingEvents event holds on after waking the waiter.
constexpr auto kSetHold = std::chrono::milliseconds(2);

const char* KindName(Seen::Kind kind) {
  switch (kind) {
    case Seen::Kind::Prompt:
      return "prompt";
    case Seen::Kind::Busy:
      return "busy";
    case Seen::Kind::Dialog:
      return "dialog";
    case Seen::Kind::Refused:
      return "refused";
  }
  return "?";
}

}  // namespace

std::string Escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

void PrintTo(const Seen& seen, std::ostream* out) {
  *out << KindName(seen.kind) << " \"" << Escaped(seen.text) << "\"";
  if (seen.kind == Seen::Kind::Prompt || seen.kind == Seen::Kind::Busy) {
    *out << (seen.okEnabled ? " [OK]" : " (OK)")
         << (seen.cancelEnabled ? " [Cancel]" : " (Cancel)");
  }
}

Seen PromptSeen(const std::string& text, PromptMode mode) {
  return {Seen::Kind::Prompt, text, true, mode == PromptMode::Confirm};
}

Seen BusySeen(const std::string& text) {
  return {Seen::Kind::Busy, text, false, false};
}

Seen DialogSeen(const std::string& filter) {
  return {Seen::Kind::Dialog, filter, false, false};
}

Seen RefusedSeen(int32_t button) {
  return {Seen::Kind::Refused, button == kOkButton ? "OK" : "Cancel", false, false};
}

void Journal::add(const Seen& seen) {
  std::lock_guard<std::mutex> hold(lock_);
  entries_.push_back(seen);
}

std::vector<Seen> Journal::entries() const {
  std::lock_guard<std::mutex> hold(lock_);
  return entries_;
}

void ScriptedConsole::script(std::vector<Press> presses) {
  std::lock_guard<std::mutex> hold(lock_);
  presses_.assign(presses.begin(), presses.end());
}

void ScriptedConsole::clickBetweenPrompts(int prompt, Press press) {
  std::lock_guard<std::mutex> hold(lock_);
  betweenPrompts_[prompt] = press;
}

std::vector<std::pair<std::string, std::string>> ScriptedConsole::fatalMessages() const {
  std::lock_guard<std::mutex> hold(lock_);
  return fatalMessages_;
}

std::vector<std::string> ScriptedConsole::areaTexts() const {
  std::lock_guard<std::mutex> hold(lock_);
  return areaTexts_;
}

int ScriptedConsole::unscriptedPrompts() const {
  std::lock_guard<std::mutex> hold(lock_);
  return unscripted_;
}

void ScriptedConsole::queue(const Message& message) {
  std::lock_guard<std::mutex> hold(lock_);
  queue_.push_back(message);
  changed_.notify_all();
}

WindowHandle ScriptedConsole::createDialog(InstanceHandle /*instance*/, int32_t templateId,
                                           DialogProcedure procedure) {
  EXPECT_EQ(templateId, 102);
  if (failCreation_) return nullptr;
  std::lock_guard<std::mutex> hold(lock_);
  procedure_ = procedure;
  text_.clear();
  okEnabled_ = true;
  cancelEnabled_ = true;
  return this;
}

void ScriptedConsole::showFatalMessage(const char* text, const char* caption) {
  std::lock_guard<std::mutex> hold(lock_);
  fatalMessages_.emplace_back(text, caption);
}

void ScriptedConsole::show(WindowHandle window) {
  EXPECT_EQ(window, this);
  shown_ = true;
}

intptr_t ScriptedConsole::runMessageLoop() {
  for (;;) {
    Message next;
    {
      std::unique_lock<std::mutex> hold(lock_);
      if (!changed_.wait_for(hold, kHangTime, [this] { return !queue_.empty(); })) {
        std::fprintf(stderr, "The console got no message for %d s: the tool hangs.\n",
                     static_cast<int>(kHangTime.count()));
        std::fflush(stderr);
        std::_Exit(1);
      }
      next = queue_.front();
      queue_.pop_front();
    }
    if (next.quit) return next.exitCode;
    procedure_(this, next.message, next.wParam, 0);
    if (next.handled != nullptr) {
      std::lock_guard<std::mutex> hold(lock_);
      *next.handled = true;
      changed_.notify_all();
    }
  }
}

void ScriptedConsole::postQuit(int32_t exitCode) {
  Message quit;
  quit.quit = true;
  quit.exitCode = exitCode;
  queue(quit);
}

void ScriptedConsole::setItemText(WindowHandle window, int32_t item, const char* text) {
  EXPECT_EQ(window, this);
  EXPECT_EQ(item, kMessageArea);
  std::unique_lock<std::mutex> hold(lock_);
  if (betweenPrompts_.count(prompts_ - 1) != 0 && !promptUp_ && !clickDone_) {
    // The prompt before has returned and the worker goes on with its next
    // text: the click scripted for this moment is taken by the main thread
    // first, as a text change of a real window waits for it.
    clickDone_ = true;
    Press press = betweenPrompts_[prompts_ - 1];
    bool handled = false;
    Message message;
    message.message = kCommandMessage;
    message.wParam = CommandParam(press.id, press.notification);
    message.handled = &handled;
    queue_.push_back(message);
    changed_.notify_all();
    changed_.wait(hold, [&handled] { return handled; });
  }
  text_ = text;
  areaTexts_.push_back(text_);
  if (text_.empty() && promptUp_) promptUp_ = false;  // the prompt has ended
}

void ScriptedConsole::enableItem(WindowHandle window, int32_t item, bool enabled) {
  EXPECT_EQ(window, this);
  std::lock_guard<std::mutex> hold(lock_);
  if (item == kOkButton) {
    okEnabled_ = enabled;
  } else if (item == kCancelButton) {
    cancelEnabled_ = enabled;
  } else {
    ADD_FAILURE() << "enabled control " << item;
  }
}

void ScriptedConsole::invalidate(WindowHandle window) {
  EXPECT_EQ(window, this);
  std::lock_guard<std::mutex> hold(lock_);
  // The tool repaints for a prompt (even of an empty text) and for the
  // busy state, which has no button to press.
  if (!okEnabled_ && !cancelEnabled_) {
    journal_.add(BusySeen(text_));
    return;
  }
  journal_.add({Seen::Kind::Prompt, text_, okEnabled_, cancelEnabled_});
  ++prompts_;
  promptUp_ = true;
  clickDone_ = false;
  for (;;) {
    Press press = okEnabled_ ? kPressOk : kPressCancel;
    if (presses_.empty()) {
      ++unscripted_;  // answered with OK, so that the pass ends
    } else {
      press = presses_.front();
      presses_.pop_front();
    }
    bool enabled = press.id == static_cast<uint32_t>(kOkButton)       ? okEnabled_
                   : press.id == static_cast<uint32_t>(kCancelButton) ? cancelEnabled_
                                                                      : true;
    if (!enabled) {
      journal_.add(RefusedSeen(static_cast<int32_t>(press.id)));
      continue;
    }
    Message command;
    command.message = kCommandMessage;
    command.wParam = CommandParam(press.id, press.notification);
    queue_.push_back(command);
    changed_.notify_all();
    if (press.notification == 0) return;
  }
}

void ScriptedConsole::postMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                                  intptr_t /*lParam*/) {
  EXPECT_EQ(window, this);
  Message posted;
  posted.message = message;
  posted.wParam = wParam;
  queue(posted);
}

std::string FakeErrorText(int32_t code) {
  return "E" + std::to_string(code) + "\r\n";
}

void FakeRegistry::registerPath(const std::string& programFile, const RegisteredPath& path) {
  std::lock_guard<std::mutex> hold(lock_);
  keys_["SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + programFile] = path;
}

std::vector<std::string> FakeRegistry::keyPaths() const {
  std::lock_guard<std::mutex> hold(lock_);
  return keyPaths_;
}

std::vector<std::string> FakeRegistry::valueNames() const {
  std::lock_guard<std::mutex> hold(lock_);
  return valueNames_;
}

int32_t FakeRegistry::openKey(const char* keyPath, RegistryKey* key) {
  std::lock_guard<std::mutex> hold(lock_);
  keyPaths_.push_back(keyPath);
  if (openError_ != 0) return openError_;
  auto found = keys_.find(keyPath);
  if (found == keys_.end()) return 2;  // ERROR_FILE_NOT_FOUND
  *key = &found->second;
  ++openKeys_;
  ++keysOpened_;
  return 0;
}

int32_t FakeRegistry::queryValue(RegistryKey key, const char* valueName, char* data,
                                 uint32_t* size) {
  std::lock_guard<std::mutex> hold(lock_);
  valueNames_.push_back(valueName);
  const auto* value = static_cast<const RegisteredPath*>(key);
  if (std::strcmp(valueName, "Path") != 0) return 2;
  if (data == nullptr) {
    if (value->sizeError != 0) return value->sizeError;
    *size = static_cast<uint32_t>(value->bytes.size());
    return 0;
  }
  if (value->readError != 0) return value->readError;
  if (*size < value->bytes.size()) {
    *size = static_cast<uint32_t>(value->bytes.size());
    return 234;  // ERROR_MORE_DATA
  }
  std::memcpy(data, value->bytes.data(), value->bytes.size());
  *size = static_cast<uint32_t>(value->bytes.size());
  return 0;
}

void FakeRegistry::closeKey(RegistryKey /*key*/) {
  std::lock_guard<std::mutex> hold(lock_);
  --openKeys_;
}

char* FakeRegistry::errorText(int32_t code) {
  std::string text = FakeErrorText(code);
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(copy, text.c_str(), text.size() + 1);
  std::lock_guard<std::mutex> hold(lock_);
  ++textsHeld_;
  return copy;
}

void FakeRegistry::releaseErrorText(char* text) {
  std::free(text);
  std::lock_guard<std::mutex> hold(lock_);
  --textsHeld_;
}

void ScriptedDialog::script(std::vector<std::optional<std::string>> picks) {
  std::lock_guard<std::mutex> hold(lock_);
  picks_.assign(picks.begin(), picks.end());
}

std::vector<uint32_t> ScriptedDialog::fileSizes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return fileSizes_;
}

bool ScriptedDialog::pick(const char* filter, char* file, uint32_t fileSize) {
  // The filter's pairs, each string with its NUL, and the NUL that ends them.
  std::string pairs;
  for (const char* p = filter; *p != '\0'; p += std::strlen(p) + 1) {
    pairs.append(p, std::strlen(p) + 1);
  }
  pairs += '\0';
  if (fileSize > 0 && file[0] != '\0') pairs += "(the file name was not empty)";
  journal_.add(DialogSeen(pairs));
  std::lock_guard<std::mutex> hold(lock_);
  fileSizes_.push_back(fileSize);
  if (picks_.empty()) return false;
  std::optional<std::string> picked = picks_.front();
  picks_.pop_front();
  if (!picked || picked->size() + 1 > fileSize) return false;
  std::memcpy(file, picked->c_str(), picked->size() + 1);
  return true;
}

void FixedProgramPath::get(InstanceHandle /*instance*/, char* buffer, uint32_t size) {
  if (size == 0) return;
  std::size_t length = path.size() < size - 1 ? path.size() : size - 1;
  std::memcpy(buffer, path.data(), length);
  buffer[length] = '\0';
}

int32_t JoiningThreads::start(ThreadRoutine routine, void* argument) {
  if (fail_) return -1;
  threads_.emplace_back(routine, argument);
  return 0;
}

void JoiningThreads::joinAll() {
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

int RecordingEvents::created() const {
  std::lock_guard<std::mutex> hold(lock_);
  return static_cast<int>(events_.size());
}

int RecordingEvents::setsOfClosed() const {
  std::lock_guard<std::mutex> hold(lock_);
  return setsOfClosed_;
}

int RecordingEvents::openEvents() const {
  std::lock_guard<std::mutex> hold(lock_);
  int open = 0;
  for (const auto& event : events_) open += event->closed ? 0 : 1;
  return open;
}

EventHandle RecordingEvents::create() {
  std::lock_guard<std::mutex> hold(lock_);
  if (failing_ != 0) {
    if (failing_ > 0) --failing_;
    return nullptr;
  }
  events_.push_back(std::make_unique<Event>());
  return events_.back().get();
}

void RecordingEvents::set(EventHandle handle) {
  auto* event = static_cast<Event*>(handle);
  bool closed;
  {
    std::lock_guard<std::mutex> hold(lock_);
    closed = event->closed;
    event->isSet = true;
    changed_.notify_all();
  }
  std::this_thread::sleep_for(kSetHold);
  std::lock_guard<std::mutex> hold(lock_);
  if (closed || event->closed) ++setsOfClosed_;
}

void RecordingEvents::wait(EventHandle handle) {
  auto* event = static_cast<Event*>(handle);
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [event] { return event->isSet; });
}

void RecordingEvents::close(EventHandle handle) {
  std::lock_guard<std::mutex> hold(lock_);
  static_cast<Event*>(handle)->closed = true;
}

ScriptedDesktop::ScriptedDesktop() {
  SetDisplay(&console);
  SetFileOpenDialog(&dialog);
  SetRegistry(&registry);
  SetPlatformVersion(&version);
  SetProgramPath(&programPath);
  SetThreadStarter(&threads);
}

ScriptedDesktop::~ScriptedDesktop() {
  threads.joinAll();
  SetDisplay(nullptr);
  SetFileOpenDialog(nullptr);
  SetRegistry(nullptr);
  SetPlatformVersion(nullptr);
  SetProgramPath(nullptr);
  SetThreadStarter(nullptr);
  SetEvents(nullptr);
}

void ScriptedDesktop::useRecordingEvents() {
  SetEvents(&events);
}

int32_t ScriptedDesktop::runTool() {
  static char instance;
  char commandLine[] = "";
  int32_t result = WinMain(&instance, nullptr, commandLine, 1);
  threads.joinAll();
  EXPECT_EQ(console.unscriptedPrompts(), 0) << "prompts came that the script did not expect";
  return result;
}

void ScriptedDesktop::runOnWorker(const std::function<void()>& work) {
  static char instance;
  AppInstance = &instance;
  ASSERT_TRUE(OpenConsole());
  ClearUserChoice();
  std::thread worker([&work] {
    work();
    Display().postMessage(ConsoleWindow, kDestroyMessage, 0, 0);
  });
  EXPECT_EQ(RunMessageLoop(), 0);
  worker.join();
  EXPECT_EQ(console.unscriptedPrompts(), 0) << "prompts came that the script did not expect";
}

std::string BackslashPath(const std::string& path) {
  std::string converted = path;
  for (char& c : converted) {
    if (c == '/') c = '\\';
  }
  return converted;
}

}  // namespace kalvora::test
