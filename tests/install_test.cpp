// The install folder lookup: the App Paths registration read byte for byte,
// the key closed and the error text freed on every path, the platform
// check, the report and the file-open dialog with its filter, the picked
// name compared in any letter case, and the message catalogue's bytes.
// This file is compiled to code page 932 like the tool, so its Japanese
// literals are the bytes that the tool shows; a few are pinned in hex.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "install/install_folder.h"
#include "install/message_catalogue.h"
#include "stream/allocation.h"
#include "stream/text_buffer.h"
#include "support/bytes.h"
#include "support/scripted_desktop.h"
#include "updater/product_table.h"

namespace kalvora {
namespace {

using test::FakeErrorText;
using test::Hex;
using test::kPressOk;
using test::RegisteredPath;
using test::ScriptedDesktop;
using test::Seen;

const ProductEntry& kBeta = kProductTable[3];
const ProductEntry& kGamma = kProductTable[4];

const std::string kNotFoundEntry =
    "Kalvoraアプリケーションが見つかりません。\r\n手動でインストール先を指定してください";

std::string WithNul(const std::string& text) {
  return text + std::string(1, '\0');
}

// The report of a missing registration with the registry's error text.
Seen Report(int32_t code) {
  return test::PromptSeen(kNotFoundEntry + "\r\nError:" + FakeErrorText(code),
                          PromptMode::Acknowledge);
}

// The dialog of a row: its filter lists only the row's program file.
Seen Dialog(const ProductEntry& row) {
  return test::DialogSeen(std::string(row.displayName) + WithNul("実行ファイル") +
                          WithNul(row.appPathsKey) + std::string(1, '\0'));
}

// Runs the lookup on a worker thread with the console's loop running.
struct Lookup {
  int32_t result = -100;
  std::string folder;
};
Lookup FindOnWorker(ScriptedDesktop& desktop, const ProductEntry& row, bool allowBrowsing) {
  Lookup lookup;
  desktop.runOnWorker([&] {
    TextBuffer folder;
    lookup.result = FindInstallFolder(folder, row, allowBrowsing);
    if (folder.chars != nullptr) lookup.folder = folder.chars;
  });
  return lookup;
}

TEST(MessageCatalogue, HoldsItsEighteenTextsInCodePage932) {
  EXPECT_EQ(kMessageCount, 18);
  EXPECT_STREQ(MessageCatalogue[17], "");
  EXPECT_EQ(Hex(std::string(MessageCatalogue[2]).substr(0, 8)),
            "97 5C 8A FA 82 B9 82 CA");  // 予期せぬ
  EXPECT_EQ(Hex(MessageCatalogue[4]),
            "4B 61 6C 76 6F 72 61 83 41 83 76 83 8A 83 50 81 5B 83 56 83 87 83 93 82 AA 8C A9 82 "
            "C2 82 A9 82 E8 82 DC 82 B9 82 F1 81 42 0D 0A 8E E8 93 AE 82 C5 83 43 83 93 83 58 83 "
            "67 81 5B 83 8B 90 E6 82 F0 8E 77 92 E8 82 B5 82 C4 82 AD 82 BE 82 B3 82 A2");
  EXPECT_EQ(Hex(std::string(MessageCatalogue[11]).substr(std::strlen(MessageCatalogue[11]) - 8)),
            "28 8F C7 8F F3 82 50 29");  // (症状１)
  // Line breaks are CR LF, in the entries that have them.
  const int kBroken[] = {2, 4, 6, 12, 14};
  for (int index = 0; index < kMessageCount; ++index) {
    SCOPED_TRACE(index);
    std::string text = MessageCatalogue[index];
    bool broken = std::find(std::begin(kBroken), std::end(kBroken), index) != std::end(kBroken);
    EXPECT_EQ(text.find("\r\n") != std::string::npos, broken);
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
      EXPECT_TRUE(at > 0 && text[at - 1] == '\r');
    }
  }
  EXPECT_EQ(MessageCatalogue[6],
            std::string("定跡データ間のバージョンに不整合が発見されました。\r\n全"
                        "ての定跡データのバージョンを1.00とみなしますが、\r\nア"
                        "ップデート中に警告メッセージが表示される可能性があり"
                        "ます。"));
}

TEST(FindInstallFolder, TakesTheRegisteredPathByteForByte) {
  struct Case {
    const char* name;
    std::string stored;  // the value's bytes as the registry holds them
    std::string folder;
  };
  const Case cases[] = {
      {"with its NUL", WithNul("C:\\Program Files\\Kalvora\\Beta"),
       "C:\\Program Files\\Kalvora\\Beta"},
      {"with a trailing backslash", WithNul("C:\\Kalvora\\Beta\\"), "C:\\Kalvora\\Beta\\"},
      {"without a NUL of its own", "C:\\Kalvora\\Beta", "C:\\Kalvora\\Beta"},
      {"ending in a double-byte character", "C:\\Kalvora\\表", "C:\\Kalvora\\表"},
      {"empty", "", ""},
      {"only a NUL", WithNul(""), ""},
      {"with bytes after its NUL", WithNul("C:\\A") + "junk", "C:\\A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDesktop desktop;
    desktop.registry.registerPath("ZentrikB.exe", {c.stored});
    Lookup lookup = FindOnWorker(desktop, kBeta, true);
    EXPECT_EQ(lookup.result, kFolderFound);
    EXPECT_EQ(test::Escaped(lookup.folder), test::Escaped(c.folder));
    EXPECT_TRUE(desktop.seen().empty()) << "a registered product is found without a word";
    EXPECT_EQ(desktop.registry.keyPaths(),
              std::vector<std::string>{
                  "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ZentrikB.exe"});
    EXPECT_EQ(desktop.registry.valueNames(), (std::vector<std::string>{"Path", "Path"}));
    EXPECT_EQ(desktop.registry.openKeys(), 0);
  }
}

TEST(FindInstallFolder, AnUnusableRegistrationIsReportedWithTheRegistrysError) {
  struct Case {
    const char* name;
    bool registered;
    RegisteredPath path;
    int32_t error;  // the error that the report names
  };
  const Case cases[] = {
      {"not registered", false, {}, 2},
      {"value size unreadable", true, {WithNul("C:\\B"), 5, 0}, 5},
      {"value unreadable", true, {WithNul("C:\\B"), 0, 1018}, 1018},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      SCOPED_TRACE("without browsing: 4, silently");
      ScriptedDesktop desktop;
      if (c.registered) desktop.registry.registerPath("ZentrikB.exe", c.path);
      EXPECT_EQ(FindOnWorker(desktop, kBeta, false).result, kFolderNotFound);
      EXPECT_TRUE(desktop.seen().empty());
      EXPECT_EQ(desktop.registry.openKeys(), 0);
      EXPECT_EQ(desktop.registry.textsHeld(), 0);
    }
    {
      SCOPED_TRACE("with browsing: the report, then the dialog");
      ScriptedDesktop desktop;
      if (c.registered) desktop.registry.registerPath("ZentrikB.exe", c.path);
      desktop.console.script({kPressOk});
      desktop.dialog.script({std::nullopt});
      EXPECT_EQ(FindOnWorker(desktop, kBeta, true).result, kBrowseCancelled);
      EXPECT_EQ(desktop.seen(), (std::vector<Seen>{Report(c.error), Dialog(kBeta)}));
      EXPECT_EQ(desktop.registry.openKeys(), 0);
      EXPECT_EQ(desktop.registry.textsHeld(), 0);
    }
  }
}

TEST(FindInstallFolder, ReportsAgainAfterEachWrongPickUntilTheProgramIsPicked) {
  ScriptedDesktop desktop;
  desktop.console.script({kPressOk, kPressOk, kPressOk});
  desktop.dialog.script({"C:\\Games\\Gamma\\readme.txt", "C:\\Games\\Gamma\\ZentrikB.exe",
                         "C:\\Games\\Gamma\\zentrikg.exe"});
  Lookup lookup = FindOnWorker(desktop, kGamma, true);
  EXPECT_EQ(lookup.result, kFolderFound);
  EXPECT_EQ(lookup.folder, "C:\\Games\\Gamma\\");
  EXPECT_EQ(desktop.seen(), (std::vector<Seen>{Report(2), Dialog(kGamma), Report(2), Dialog(kGamma),
                                               Report(2), Dialog(kGamma)}));
  EXPECT_EQ(desktop.registry.textsHeld(), 0);
  for (uint32_t size : desktop.dialog.fileSizes()) EXPECT_GE(size, 8192u);
}

TEST(FindInstallFolder, AnUnknownPlatformIsRefusedBeforeAnythingElse) {
  struct Case {
    uint32_t platformId;
    int32_t result;
  };
  const Case cases[] = {{0, kUnknownPlatform},  // also what a failed version call leaves
                        {1, kFolderFound},
                        {2, kFolderFound},
                        {3, kUnknownPlatform}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.platformId);
    ScriptedDesktop desktop;
    desktop.version.id = c.platformId;
    desktop.registry.registerPath("ZentrikB.exe", {WithNul("C:\\B")});
    EXPECT_EQ(FindOnWorker(desktop, kBeta, true).result, c.result);
    EXPECT_EQ(desktop.registry.keysOpened(), c.result == kFolderFound ? 1 : 0);
    EXPECT_TRUE(desktop.seen().empty());
  }
}

TEST(FindInstallFolder, RunningOutOfMemoryForTheFolderIsThree) {
  {
    SCOPED_TRACE("registered: the key is closed, no error text is taken");
    ScriptedDesktop desktop;
    desktop.registry.registerPath("ZentrikB.exe", {WithNul("C:\\B")});
    Lookup lookup;
    desktop.runOnWorker([&] {
      TextBuffer folder;
      FailAllocationsAfter(0);
      lookup.result = FindInstallFolder(folder, kBeta, true);
      FailAllocationsAfter(-1);
    });
    EXPECT_EQ(lookup.result, kFolderNoMemory);
    EXPECT_TRUE(desktop.seen().empty());
    EXPECT_EQ(desktop.registry.openKeys(), 0);
    EXPECT_EQ(desktop.registry.textsHeld(), 0);
  }
  {
    SCOPED_TRACE("browsing: no room for the picked path, and no dialog");
    ScriptedDesktop desktop;
    int32_t result = -100;
    desktop.runOnWorker([&] {
      TextBuffer folder;
      FailAllocationsAfter(0);
      result = BrowseForProgram(folder, kBeta);
      FailAllocationsAfter(-1);
    });
    EXPECT_EQ(result, kFolderNoMemory);
    EXPECT_TRUE(desktop.seen().empty());
  }
}

TEST(BrowseForProgram, AcceptsOnlyTheProgramFileInAnyLetterCase) {
  struct Case {
    const char* name;
    std::optional<std::string> picked;
    int32_t result;
    std::string folder;  // when found
  };
  const Case cases[] = {
      {"as named", "C:\\Games\\Kalvora\\ZentrikG.exe", kFolderFound, "C:\\Games\\Kalvora\\"},
      {"lower case", "C:\\Games\\Kalvora\\zentrikg.exe", kFolderFound, "C:\\Games\\Kalvora\\"},
      {"upper case", "D:\\ZENTRIKG.EXE", kFolderFound, "D:\\"},
      {"in a folder ending in 0x5C", "C:\\表\\zentrikG.exe", kFolderFound, "C:\\表\\"},
      {"another file", "C:\\Games\\Kalvora\\ZentrikB.exe", kFolderNotFound, ""},
      {"a longer name", "C:\\Games\\Kalvora\\ZentrikG.exe.bak", kFolderNotFound, ""},
      {"no backslash at all", "ZentrikG.exe", kFolderNotFound, ""},
      // The 0x5C of "表" is no backslash, so the name is "表ZentrikG.exe".
      {"a name whose double-byte character ends in 0x5C", "C:\\Games\\表ZentrikG.exe",
       kFolderNotFound, ""},
      {"cancelled", std::nullopt, kBrowseCancelled, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDesktop desktop;
    desktop.dialog.script({c.picked});
    Lookup lookup;
    desktop.runOnWorker([&] {
      TextBuffer folder;
      lookup.result = BrowseForProgram(folder, kGamma);
      if (folder.chars != nullptr) lookup.folder = folder.chars;
    });
    EXPECT_EQ(lookup.result, c.result);
    if (c.result == kFolderFound) {
      EXPECT_EQ(test::Escaped(lookup.folder), test::Escaped(c.folder));
    }
    EXPECT_EQ(desktop.seen(), std::vector<Seen>{Dialog(kGamma)});
    EXPECT_EQ(Hex(desktop.seen()[0].text), Hex("Kalvora Gamma") +
                                               " 8E C0 8D 73 83 74 83 40 83 43 83 8B 00 " +
                                               Hex("ZentrikG.exe") + " 00 00");
  }
}

TEST(ReportMessage, ShowsTheEntryWithTheDetailAfterErrorOK) {
  struct Case {
    int32_t index;
    const char* detail;
    std::string shown;
  };
  const Case cases[] = {
      {4, "指定されたファイルが見つかりません。\r\n",
       kNotFoundEntry + "\r\nError:指定されたファイルが見つかりません。\r\n"},
      {4, "", kNotFoundEntry + "\r\nError:"},
      {4, nullptr, kNotFoundEntry},
      {0, nullptr, "ファイルは正常に更新されました。"},
      {18, nullptr, ""},  // outside the catalogue: its empty last entry
      {-1, "x", "\r\nError:x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    ScriptedDesktop desktop;
    desktop.console.script({test::kPressCancel, kPressOk});
    desktop.runOnWorker([&] { ReportMessage(c.index, c.detail); });
    EXPECT_EQ(desktop.seen(), (std::vector<Seen>{test::PromptSeen(c.shown, PromptMode::Acknowledge),
                                                 test::RefusedSeen(kCancelButton)}));
  }
  {
    SCOPED_TRACE("no memory for the whole message: the entry alone");
    ScriptedDesktop desktop;
    desktop.console.script({kPressOk});
    desktop.runOnWorker([&] {
      FailAllocationsAfter(0);
      ReportMessage(4, "detail");
      FailAllocationsAfter(-1);
    });
    EXPECT_EQ(desktop.seen(),
              std::vector<Seen>{test::PromptSeen(kNotFoundEntry, PromptMode::Acknowledge)});
  }
}

}  // namespace
}  // namespace kalvora
