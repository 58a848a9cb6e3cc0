// The choice, for each facility of the seam that tests replace, between the
// system's own realisation (in win32/ or posix/) and one that a test set.
// The file layer makes the same choice in file_system.cpp.
#include "platform/console_display.h"
#include "platform/file_open_dialog.h"
#include "platform/manual_reset_event.h"
#include "platform/platform_version.h"
#include "platform/program_path.h"
#include "platform/registry.h"
#include "platform/worker_thread.h"

namespace kalvora {

namespace {

// The system's realisation of Facility, and the one in use.
template <class Facility>
struct Choice {
  static Facility system;
  static Facility* current;
};
template <class Facility>
Facility Choice<Facility>::system;
template <class Facility>
Facility* Choice<Facility>::current = &Choice<Facility>::system;

template <class Facility>
void Choose(Facility* chosen) {
  Choice<Facility>::current = chosen != nullptr ? chosen : &Choice<Facility>::system;
}

}  // namespace

ProgramPath& OwnProgramPath() {
  return *Choice<ProgramPath>::current;
}
void SetProgramPath(ProgramPath* source) {
  Choose(source);
}

ConsoleDisplay& Display() {
  return *Choice<ConsoleDisplay>::current;
}
void SetDisplay(ConsoleDisplay* display) {
  Choose(display);
}

ManualResetEvents& Events() {
  return *Choice<ManualResetEvents>::current;
}
void SetEvents(ManualResetEvents* events) {
  Choose(events);
}

MachineRegistry& Registry() {
  return *Choice<MachineRegistry>::current;
}
void SetRegistry(MachineRegistry* registry) {
  Choose(registry);
}

FileOpenDialog& OpenDialog() {
  return *Choice<FileOpenDialog>::current;
}
void SetFileOpenDialog(FileOpenDialog* dialog) {
  Choose(dialog);
}

PlatformVersion& Version() {
  return *Choice<PlatformVersion>::current;
}
void SetPlatformVersion(PlatformVersion* version) {
  Choose(version);
}

ThreadStarter& Threads() {
  return *Choice<ThreadStarter>::current;
}
void SetThreadStarter(ThreadStarter* starter) {
  Choose(starter);
}

}  // namespace kalvora
