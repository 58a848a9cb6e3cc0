// Compiled with -fexec-charset=CP932: the texts below are code page 932
// bytes in the program.
#include "updater/update_driver.h"

#include <cstdio>
#include <cstring>

#include "install/install_folder.h"
#include "package/package_applier.h"
#include "package/update_file.h"
#include "platform/console_display.h"
#include "platform/program_path.h"
#include "platform/readable_file.h"
#include "platform/worker_thread.h"
#include "stream/cp932.h"
#include "stream/owned_buffer.h"
#include "stream/text_buffer.h"
#include "updater/operator_console.h"
#include "updater/product_table.h"

namespace kalvora {

namespace {

constexpr char kOpeningText[] =
    "本修正モジュールを実行する前に、Kalvoraや他のアプリケーションが終了していることを確認してく"
    "ださい。よろしければ、ＯＫボタンを押してください。";
constexpr char kNotFoundFormat[] = "%sが見つかりませんでした";
constexpr char kConfirmFolderLead[] = "を ";
constexpr char kConfirmQuestion[] = " にて見つけました。更新しますか？";
constexpr char kRefusedText[] = "更新を中断しました";
constexpr char kBusyText[] =
    "更新しています。長い場合で１分程度はかかりますので、しばらくお待ちください…";
constexpr char kUpdatedText[] = "正常に更新されました";
constexpr char kFailedText[] = "更新に失敗しました";

// The tool's own program file name, then its folder and an update file name.
constexpr uint32_t kPathSize = 8192;
// The formatted not-found message; the table's longest name fits many times.
constexpr std::size_t kMessageSize = 512;

// The console while an update runs: the busy text and no button to press.
void ShowBusy() {
  ConsoleDisplay& display = Display();
  display.enableItem(ConsoleWindow, kOkButton, false);
  display.enableItem(ConsoleWindow, kCancelButton, false);
  display.setItemText(ConsoleWindow, kMessageArea, kBusyText);
  display.invalidate(ConsoleWindow);
}

// Reads the update file and applies it to the folder. A file that cannot be
// read or inflated whole applies nothing, and counts as a failed update.
int32_t ApplyUpdateFile(const char* updateFile, const char* installFolder) {
  OwnedBuffer package;
  if (LoadUpdateFile(updateFile, &package) != 0) return kApplyRefused;
  return ApplyPackage(package.data(), package.size(), installFolder);
}

}  // namespace

int32_t WinMain(InstanceHandle instance, InstanceHandle /*previousInstance*/, char* /*commandLine*/,
                int32_t /*showState*/) {
  AppInstance = instance;
  if (!OpenConsole()) return -1;
  ClearUserChoice();
  // Without its worker the console could never close: end here instead,
  // which takes the window away with the process.
  if (Threads().start(UpdateWorker, nullptr) != 0) return -1;
  return static_cast<int32_t>(RunMessageLoop());
}

void UpdateWorker(void* /*argument*/) {
  RunUpdates();
  Display().postMessage(ConsoleWindow, kDestroyMessage, 0, 0);
}

void RunUpdates() {
  ShowPrompt(kOpeningText, PromptMode::Acknowledge);

  char path[kPathSize];
  OwnProgramPath().get(AppInstance, path, kPathSize);
  // The update files lie beside the program file. A trail byte 0x5C of a
  // double-byte character in its name is no backslash.
  const char* lastBackslash = FindLastBackslash(path);
  std::size_t namePosition =
      lastBackslash != nullptr ? static_cast<std::size_t>(lastBackslash - path) + 1 : 0;

  for (const ProductEntry* row = kProductTable; row->displayName != nullptr; ++row) {
    std::size_t nameSize = std::strlen(row->updateFileName) + 1;
    if (nameSize > kPathSize - namePosition) continue;  // no such path can be opened
    std::memcpy(path + namePosition, row->updateFileName, nameSize);
    if (!CanOpenForReading(path)) continue;

    TextBuffer folder;
    if (FindInstallFolder(folder, *row, true) != kFolderFound) {
      char message[kMessageSize];
      std::snprintf(message, sizeof message, kNotFoundFormat, row->displayName);
      ShowPrompt(message, PromptMode::Acknowledge);
      return;
    }

    // The results of the appends are not looked at: when memory runs out,
    // the question shows what was built.
    TextBuffer confirmation;
    confirmation.append(row->displayName);
    confirmation.append(kConfirmFolderLead);
    confirmation.append(folder.chars);
    confirmation.append(kConfirmQuestion);
    if (ShowPrompt(confirmation.chars, PromptMode::Confirm) != kChoseOk) {
      ShowPrompt(kRefusedText, PromptMode::Acknowledge);
      return;
    }

    ShowBusy();
    confirmation.release();
    int32_t status = ApplyUpdateFile(path, folder.chars);
    ShowPrompt(status == kApplied ? kUpdatedText : kFailedText, PromptMode::Acknowledge);
  }
}

}  // namespace kalvora
