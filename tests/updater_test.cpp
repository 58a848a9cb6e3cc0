// The operator console and the update pass: the prompt rendezvous between
// the main thread and the worker (buttons by mode, the answer of the command
// that ends the wait, a click between prompts, prompts without an event, an
// event never set after its close), the tool's start and end, and the
// prompt sequences of whole passes over real update files and install
// folders. This file is compiled to code page 932 like the tool, so its
// Japanese literals are the bytes that the tool shows; a few are pinned in
// hex.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "install/message_catalogue.h"
#include "support/book_builder.h"
#include "support/bytes.h"
#include "support/package_builder.h"
#include "support/scripted_desktop.h"
#include "support/temp_folder.h"
#include "updater/operator_console.h"
#include "updater/product_table.h"
#include "updater/update_driver.h"

namespace kalvora {
namespace {

using test::Bytes;
using test::Hex;
using test::kPressCancel;
using test::kPressOk;
using test::Press;
using test::PromptSeen;
using test::ScriptedDesktop;
using test::Seen;

const ProductEntry& kBeta = kProductTable[3];
const ProductEntry& kGamma = kProductTable[4];
const ProductEntry& kDelta = kProductTable[5];

const std::string kOpening =
    "本修正モジュールを実行する前に、Kalvoraや他のアプリケーションが終了していることを確認してく"
    "ださい。よろしければ、ＯＫボタンを押してください。";
const std::string kBusy =
    "更新しています。長い場合で１分程度はかかりますので、しばらくお待ちください…";
const std::string kUpdated = "正常に更新されました";
const std::string kFailed = "更新に失敗しました";
const std::string kRefused = "更新を中断しました";

Seen Acknowledge(const std::string& text) {
  return PromptSeen(text, PromptMode::Acknowledge);
}

Seen Confirmation(const ProductEntry& row, const std::string& folder) {
  return PromptSeen(
      std::string(row.displayName) + "を " + folder + " にて見つけました。更新しますか？",
      PromptMode::Confirm);
}

Seen NotFound(const ProductEntry& row) {
  return Acknowledge(std::string(row.displayName) + "が見つかりませんでした");
}

Seen Report(int32_t code) {
  return Acknowledge(std::string(MessageCatalogue[4]) + "\r\nError:" + test::FakeErrorText(code));
}

Seen Dialog(const ProductEntry& row) {
  std::string filter = std::string(row.displayName) + "実行ファイル";
  filter += '\0';
  filter += row.appPathsKey;
  filter += '\0';
  filter += '\0';
  return test::DialogSeen(filter);
}

// The tool's own folder with update files beside it, the products'
// install folders, each holding its program file, and the desktop that the
// tool runs on.
class Bench {
 public:
  enum class Update {
    Good,          // replaces the program file, keeping its old copy
    FailsToApply,  // a book update whose book is not there
    Unreadable,    // does not inflate
  };

  Bench() {
    std::filesystem::create_directory(temp_.path() / "tool");
    desktop.programPath.path = toolFolder() + "\\KalvoraUpdate.exe";
  }

  std::string toolFolder() const { return systemPath(temp_.path() / "tool"); }

  std::filesystem::path installFolder(const ProductEntry& row) const {
    return temp_.path() / row.displayName;
  }

  // Installs the product; gives its folder as the tool takes paths.
  std::string install(const ProductEntry& row) {
    std::filesystem::create_directory(installFolder(row));
    test::WriteFileBytes((installFolder(row) / row.appPathsKey).string(), oldProgram(row));
    return systemPath(installFolder(row));
  }

  // Installs the product and registers its folder, with the value's NUL.
  std::string installRegistered(const ProductEntry& row) {
    std::string folder = install(row);
    desktop.registry.registerPath(row.appPathsKey, {folder + std::string(1, '\0')});
    return folder;
  }

  void giveUpdate(const ProductEntry& row, Update kind) {
    std::string program = row.appPathsKey;
    Bytes file;
    switch (kind) {
      case Update::Good:
        file = test::MakeUpdateFile(
            test::PackageBuilder().replace(oldCopyName(row), program, newProgram(row)).bytes());
        break;
      case Update::FailsToApply:
        file = test::MakeUpdateFile(test::PackageBuilder()
                                        .book("Data\\joseki.old", "Data\\joseki.bin",
                                              test::UpdateStreamBuilder().terminator().bytes())
                                        .bytes());
        break;
      case Update::Unreadable:
        file = {4, 0, 0, 0, 64, 0, 0, 0, 'j', 'u', 'n', 'k'};
        break;
    }
    test::WriteFileBytes((temp_.path() / "tool" / row.updateFileName).string(), file);
  }

  static Bytes oldProgram(const ProductEntry& row) {
    return Text(std::string("old ") + row.displayName);
  }
  static Bytes newProgram(const ProductEntry& row) {
    return Text(std::string("new ") + row.displayName);
  }

  // The product's folder after the good update.
  void expectUpdated(const ProductEntry& row) const {
    SCOPED_TRACE(row.displayName);
    test::FolderSnapshot expected = {{row.appPathsKey, newProgram(row)},
                                     {oldCopyName(row), oldProgram(row)}};
    EXPECT_EQ(test::Snapshot(installFolder(row)), expected);
  }
  // The product's folder as installed.
  void expectUntouched(const ProductEntry& row) const {
    SCOPED_TRACE(row.displayName);
    test::FolderSnapshot expected = {{row.appPathsKey, oldProgram(row)}};
    EXPECT_EQ(test::Snapshot(installFolder(row)), expected);
  }

  ScriptedDesktop desktop;

 private:
  static std::string systemPath(const std::filesystem::path& path) {
    return test::BackslashPath(path.string());
  }
  static Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
  static std::string oldCopyName(const ProductEntry& row) {
    std::string program = row.appPathsKey;
    return program.substr(0, program.size() - 4) + ".old";
  }

  test::TempFolder temp_;
};

using Update = Bench::Update;

TEST(ConsoleDialogProc, TakesButtonCommandsAndEndsTheLoopOnDestroy) {
  struct Case {
    const char* name;
    uint32_t message;
    uintptr_t wParam;
    intptr_t handled;
  };
  const Case cases[] = {
      {"OK clicked", kCommandMessage, CommandParam(1, 0), 1},
      {"Cancel clicked", kCommandMessage, CommandParam(2, 0), 1},
      {"another control's command", kCommandMessage, CommandParam(1012, 0), 1},
      {"a notification that is no click", kCommandMessage, CommandParam(1012, 0x0300), 0},
      {"OK gets the focus", kCommandMessage, CommandParam(1, 6), 0},
      {"WM_INITDIALOG", kInitDialogMessage, 0, 0},
      {"WM_CLOSE, left to the system", kCloseMessage, 0, 0},
      {"a paint", 0x000F, 0, 0},
  };
  ScriptedDesktop desktop;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ConsoleDialogProc(&desktop.console, c.message, c.wParam, 0), c.handled);
  }
  EXPECT_EQ(ConsoleDialogProc(&desktop.console, kDestroyMessage, 0, 0), 1);
  EXPECT_EQ(desktop.console.runMessageLoop(), 0) << "WM_DESTROY posts the quit message with 0";
}

TEST(ShowPrompt, ButtonsFollowTheModeAndTheAnsweringCommandGivesTheChoice) {
  struct Case {
    const char* name;
    PromptMode mode;
    std::vector<Press> presses;
    int32_t choice;
    std::vector<Seen> seen;
  };
  const Case cases[] = {
      {"Acknowledge, OK", PromptMode::Acknowledge, {kPressOk}, kChoseOk, {Acknowledge("text")}},
      {"Acknowledge cannot be cancelled",
       PromptMode::Acknowledge,
       {kPressCancel, kPressOk},
       kChoseOk,
       {Acknowledge("text"), test::RefusedSeen(kCancelButton)}},
      {"Confirm, OK",
       PromptMode::Confirm,
       {kPressOk},
       kChoseOk,
       {PromptSeen("text", PromptMode::Confirm)}},
      {"Confirm, Cancel",
       PromptMode::Confirm,
       {kPressCancel},
       kChoseCancel,
       {PromptSeen("text", PromptMode::Confirm)}},
      {"Confirm, a command of another control",
       PromptMode::Confirm,
       {Press{1012, 0}},
       kNoChoice,
       {PromptSeen("text", PromptMode::Confirm)}},
      {"a notification that is no click answers nothing",
       PromptMode::Confirm,
       {Press{1, 6}, kPressCancel},
       kChoseCancel,
       {PromptSeen("text", PromptMode::Confirm)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDesktop desktop;
    desktop.console.script(c.presses);
    int32_t choice = -1;
    desktop.runOnWorker([&] { choice = ShowPrompt("text", c.mode); });
    EXPECT_EQ(choice, c.choice);
    EXPECT_EQ(desktop.seen(), c.seen);
    EXPECT_EQ(desktop.console.areaTexts(), (std::vector<std::string>{"text", ""}))
        << "the message area is empty once the prompt is over";
  }
}

// The events a prompt may have: the system's, recording ones, none at all.
enum class EventKind { System, Recording, None };

TEST(ShowPrompt, AClickBetweenPromptsDoesNotAnswerTheNextPrompt) {
  for (EventKind events : {EventKind::System, EventKind::Recording, EventKind::None}) {
    SCOPED_TRACE(static_cast<int>(events));
    ScriptedDesktop desktop;
    if (events != EventKind::System) desktop.useRecordingEvents();
    if (events == EventKind::None) desktop.events.failCreations(-1);
    desktop.console.script({kPressOk, kPressCancel});
    desktop.console.clickBetweenPrompts(0, kPressOk);
    int32_t first = -1;
    int32_t second = -1;
    desktop.runOnWorker([&] {
      first = ShowPrompt("first", PromptMode::Acknowledge);
      second = ShowPrompt("second", PromptMode::Confirm);
    });
    EXPECT_EQ(first, kChoseOk);
    EXPECT_EQ(second, kChoseCancel) << "the second prompt waits for a click of its own";
  }
}

TEST(ShowPrompt, WithoutAnEventStillWaitsForACommandOfItsOwn) {
  ScriptedDesktop desktop;
  desktop.useRecordingEvents();
  desktop.events.failCreations(1);
  desktop.console.script({kPressOk, kPressCancel});
  int32_t choices[2] = {-1, -1};
  desktop.runOnWorker([&] {
    choices[0] = ShowPrompt("no event", PromptMode::Confirm);
    choices[1] = ShowPrompt("an event", PromptMode::Confirm);
  });
  EXPECT_EQ(choices[0], kChoseOk);
  EXPECT_EQ(choices[1], kChoseCancel);
  EXPECT_EQ(desktop.events.created(), 1);
  EXPECT_EQ(desktop.events.openEvents(), 0);
}

TEST(ShowPrompt, NeverSetsAnEventAfterItWasClosed) {
  ScriptedDesktop desktop;
  desktop.useRecordingEvents();
  constexpr int kPrompts = 25;
  desktop.console.script(std::vector<Press>(kPrompts, kPressOk));
  for (int i = 0; i < kPrompts; ++i) desktop.console.clickBetweenPrompts(i, kPressCancel);
  desktop.runOnWorker([] {
    for (int i = 0; i < kPrompts; ++i) ShowPrompt("again", PromptMode::Confirm);
  });
  EXPECT_EQ(desktop.events.created(), kPrompts);
  EXPECT_EQ(desktop.events.openEvents(), 0);
  EXPECT_EQ(desktop.events.setsOfClosed(), 0);
}

TEST(WinMain, EndsWithMinusOneWhenTheConsoleOrTheWorkerCannotStart) {
  {
    SCOPED_TRACE("no console: one message box, no worker");
    ScriptedDesktop desktop;
    desktop.console.failCreation();
    EXPECT_EQ(desktop.runTool(), -1);
    auto boxes = desktop.console.fatalMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "ウィンドウの作成に失敗しました");
    EXPECT_EQ(Hex(boxes[0].first),
              "83 45 83 42 83 93 83 68 83 45 82 CC 8D EC 90 AC 82 C9 8E B8 94 73 82 B5 82 DC 82 "
              "B5 82 BD");
    EXPECT_EQ(Hex(boxes[0].second), "92 76 96 BD 93 49 82 C8 83 47 83 89 81 5B");  // 致命的なエラー
    EXPECT_EQ(desktop.threads.started(), 0);
    EXPECT_FALSE(desktop.console.shown());
  }
  {
    SCOPED_TRACE("no worker: the tool ends instead of waiting for ever");
    ScriptedDesktop desktop;
    desktop.threads.failStarts();
    EXPECT_EQ(desktop.runTool(), -1);
    EXPECT_TRUE(desktop.seen().empty());
  }
}

TEST(UpdatePass, NoUpdateFileEndsAfterTheOpeningPrompt) {
  Bench bench;
  bench.installRegistered(kBeta);
  bench.desktop.console.script({kPressOk});
  EXPECT_EQ(bench.desktop.runTool(), 0);
  EXPECT_TRUE(bench.desktop.console.shown());
  EXPECT_EQ(bench.desktop.seen(), std::vector<Seen>{Acknowledge(kOpening)});
  bench.expectUntouched(kBeta);
}

TEST(UpdatePass, ProductsComeInTableOrderEachConfirmedAndReported) {
  Bench bench;
  std::string beta = bench.installRegistered(kBeta);
  std::string delta = bench.installRegistered(kDelta);
  bench.giveUpdate(kDelta, Update::Good);  // row 5 first on disk
  bench.giveUpdate(kBeta, Update::Good);
  bench.desktop.console.script({kPressOk, kPressOk, kPressOk, kPressOk, kPressOk});
  EXPECT_EQ(bench.desktop.runTool(), 0);
  EXPECT_EQ(
      bench.desktop.seen(),
      (std::vector<Seen>{Acknowledge(kOpening), Confirmation(kBeta, beta), test::BusySeen(kBusy),
                         Acknowledge(kUpdated), Confirmation(kDelta, delta), test::BusySeen(kBusy),
                         Acknowledge(kUpdated)}));
  bench.expectUpdated(kBeta);
  bench.expectUpdated(kDelta);
  // The message area is empty whenever no prompt and no busy text is up.
  std::vector<std::string> texts = bench.desktop.console.areaTexts();
  for (std::size_t i = 0; i + 1 < texts.size(); ++i) {
    if (!texts[i].empty() && texts[i] != kBusy) {
      EXPECT_EQ(texts[i + 1], "") << i;
    }
  }
}

TEST(UpdatePass, RefusingTheFirstOfTwoEndsThePass) {
  Bench bench;
  std::string beta = bench.installRegistered(kBeta);
  bench.installRegistered(kDelta);
  bench.giveUpdate(kBeta, Update::Good);
  bench.giveUpdate(kDelta, Update::Good);
  bench.desktop.console.script({kPressOk, kPressCancel, kPressOk});
  EXPECT_EQ(bench.desktop.runTool(), 0);
  EXPECT_EQ(
      bench.desktop.seen(),
      (std::vector<Seen>{Acknowledge(kOpening), Confirmation(kBeta, beta), Acknowledge(kRefused)}));
  bench.expectUntouched(kBeta);
  bench.expectUntouched(kDelta);
}

TEST(UpdatePass, AFailedUpdateOfTheFirstOfTwoGoesOnWithTheSecond) {
  struct Case {
    const char* name;
    Update failure;
  };
  const Case cases[] = {
      {"the package fails", Update::FailsToApply},
      {"the update file does not inflate: nothing is applied", Update::Unreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    std::string beta = bench.installRegistered(kBeta);
    std::string delta = bench.installRegistered(kDelta);
    bench.giveUpdate(kBeta, c.failure);
    bench.giveUpdate(kDelta, Update::Good);
    bench.desktop.console.script({kPressOk, kPressOk, kPressOk, kPressOk, kPressOk});
    EXPECT_EQ(bench.desktop.runTool(), 0);
    std::vector<Seen> seen = bench.desktop.seen();
    EXPECT_EQ(seen, (std::vector<Seen>{Acknowledge(kOpening), Confirmation(kBeta, beta),
                                       test::BusySeen(kBusy), Acknowledge(kFailed),
                                       Confirmation(kDelta, delta), test::BusySeen(kBusy),
                                       Acknowledge(kUpdated)}));
    ASSERT_EQ(seen.size(), 7u);
    EXPECT_EQ(Hex(seen[3].text), "8D 58 90 56 82 C9 8E B8 94 73 82 B5 82 DC 82 B5 82 BD");
    bench.expectUntouched(kBeta);
    bench.expectUpdated(kDelta);
  }
}

TEST(UpdatePass, ACancelledFileOpenDialogEndsThePassWithTheNotFoundMessage) {
  Bench bench;
  bench.install(kGamma);
  bench.giveUpdate(kGamma, Update::Good);
  bench.desktop.console.script({kPressOk, kPressOk, kPressOk});
  bench.desktop.dialog.script({std::nullopt});
  EXPECT_EQ(bench.desktop.runTool(), 0);
  std::vector<Seen> seen = bench.desktop.seen();
  EXPECT_EQ(seen, (std::vector<Seen>{Acknowledge(kOpening), Report(2), Dialog(kGamma),
                                     NotFound(kGamma)}));
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(Hex(seen[3].text), Hex("Kalvora Gamma") +
                                   " 82 AA 8C A9 82 C2 82 A9 82 E8 82 DC 82 B9 82 F1 82 C5 82 B5 "
                                   "82 BD");  // が見つかりませんでした
  bench.expectUntouched(kGamma);
}

TEST(UpdatePass, APickedProgramInOtherLetterCaseIsTakenAnotherFileIsAskedAgain) {
  Bench bench;
  std::string gamma = bench.install(kGamma);
  test::WriteFileBytes((bench.installFolder(kGamma) / "readme.txt").string(), {'r'});
  bench.giveUpdate(kGamma, Update::Good);
  bench.desktop.console.script({kPressOk, kPressOk, kPressOk, kPressOk, kPressOk});
  bench.desktop.dialog.script({gamma + "\\readme.txt", gamma + "\\zentrikg.EXE"});
  EXPECT_EQ(bench.desktop.runTool(), 0);
  EXPECT_EQ(bench.desktop.seen(),
            (std::vector<Seen>{Acknowledge(kOpening), Report(2), Dialog(kGamma), Report(2),
                               Dialog(kGamma), Confirmation(kGamma, gamma + "\\"),
                               test::BusySeen(kBusy), Acknowledge(kUpdated)}));
  test::FolderSnapshot expected = {{"ZentrikG.exe", Bench::newProgram(kGamma)},
                                   {"ZentrikG.old", Bench::oldProgram(kGamma)},
                                   {"readme.txt", {'r'}}};
  EXPECT_EQ(test::Snapshot(bench.installFolder(kGamma)), expected);
}

TEST(UpdatePass, TheConfirmationShowsTheRegisteredFolderAsStored) {
  struct Case {
    const char* name;
    std::string suffix;  // after the folder in the value
    std::string shown;   // after the folder in the question
  };
  const Case cases[] = {
      {"as installed", std::string(1, '\0'), ""},
      {"with a trailing backslash", "\\" + std::string(1, '\0'), "\\"},
      {"without a NUL of its own", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    std::string beta = bench.install(kBeta);
    bench.giveUpdate(kBeta, Update::Good);
    bench.desktop.registry.registerPath(kBeta.appPathsKey, {beta + c.suffix});
    bench.desktop.console.script({kPressOk, kPressCancel, kPressOk});
    EXPECT_EQ(bench.desktop.runTool(), 0);
    EXPECT_EQ(bench.desktop.seen(),
              (std::vector<Seen>{Acknowledge(kOpening), Confirmation(kBeta, beta + c.shown),
                                 Acknowledge(kRefused)}));
  }
}

TEST(UpdatePass, TheUpdateFilesAreLookedForBesideTheProgramFile) {
  struct Case {
    const char* name;
    std::string programName;  // in the tool's folder
  };
  const Case cases[] = {
      {"a plain name", "KalvoraUpdate.exe"},
      // "ソ" is 83 5C: the folder still ends at the backslash before the name.
      {"a name with a double-byte character ending in 0x5C", "ソフト更新.exe"},
      {"a name ending in such a character", "更新ソ"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    bench.installRegistered(kBeta);
    bench.giveUpdate(kBeta, Update::Good);
    bench.desktop.programPath.path = bench.toolFolder() + "\\" + c.programName;
    bench.desktop.console.script({kPressOk, kPressCancel, kPressOk});
    EXPECT_EQ(bench.desktop.runTool(), 0);
    EXPECT_EQ(bench.desktop.seen().size(), 3u) << "Kalvora Beta is offered";
  }
  {
    SCOPED_TRACE("a path that cannot hold the folder and an update file name");
    Bench bench;
    bench.desktop.programPath.path = "C:\\" + std::string(8180, 'a') + "\\x.exe";
    bench.desktop.console.script({kPressOk});
    EXPECT_EQ(bench.desktop.runTool(), 0);
    EXPECT_EQ(bench.desktop.seen().size(), 1u);
  }
  {
    SCOPED_TRACE("no backslash at all: the update file name alone, in the current folder");
    Bench bench;
    bench.installRegistered(kBeta);
    bench.giveUpdate(kBeta, Update::Good);
    std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(test::NativePath(bench.toolFolder()));
    bench.desktop.programPath.path = "KalvoraUpdate.exe";
    bench.desktop.console.script({kPressOk, kPressCancel, kPressOk});
    EXPECT_EQ(bench.desktop.runTool(), 0);
    std::filesystem::current_path(before);
    EXPECT_EQ(bench.desktop.seen().size(), 3u) << "Kalvora Beta is offered";
  }
}

TEST(UpdatePass, AnUnknownPlatformIsReportedAsNotFound) {
  Bench bench;
  bench.installRegistered(kBeta);
  bench.giveUpdate(kBeta, Update::Good);
  bench.desktop.version.id = 0;
  bench.desktop.console.script({kPressOk, kPressOk});
  EXPECT_EQ(bench.desktop.runTool(), 0);
  EXPECT_EQ(bench.desktop.seen(), (std::vector<Seen>{Acknowledge(kOpening), NotFound(kBeta)}));
  EXPECT_EQ(bench.desktop.registry.keysOpened(), 0);
}

TEST(UpdatePass, AWholePassWithoutEventsStillWaitsAtEveryPrompt) {
  Bench bench;
  std::string beta = bench.installRegistered(kBeta);
  std::string delta = bench.installRegistered(kDelta);
  bench.giveUpdate(kBeta, Update::Good);
  bench.giveUpdate(kDelta, Update::Good);
  bench.desktop.useRecordingEvents();
  bench.desktop.events.failCreations(-1);
  bench.desktop.console.script({kPressOk, kPressOk, kPressOk, kPressCancel, kPressOk});
  // OK between every two prompts: none of them may answer the next prompt.
  for (int prompt = 0; prompt < 5; ++prompt) {
    bench.desktop.console.clickBetweenPrompts(prompt, kPressOk);
  }
  EXPECT_EQ(bench.desktop.runTool(), 0);
  EXPECT_EQ(bench.desktop.seen(),
            (std::vector<Seen>{Acknowledge(kOpening), Confirmation(kBeta, beta),
                               test::BusySeen(kBusy), Acknowledge(kUpdated),
                               Confirmation(kDelta, delta), Acknowledge(kRefused)}));
  bench.expectUpdated(kBeta);
  bench.expectUntouched(kDelta);
}

}  // namespace
}  // namespace kalvora
