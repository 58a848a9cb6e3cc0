// The Linux build of the tool on its stand-in: the registry read from the
// file that KALVORA_REGISTRY names, and whole runs of kalvora-update with
// answers from standard input (or none, which answers OK), its texts shown
// as UTF-8, and the install folder checked afterwards.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/registry.h"
#include "support/package_builder.h"
#include "support/temp_folder.h"

namespace kalvora {
namespace {

using test::Bytes;

constexpr char kBetaKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ZentrikB.exe";

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets an environment variable for the length of a scope.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    const char* before = std::getenv(name);
    if (before != nullptr) before_ = before;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (before_) {
      setenv(name_, before_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> before_;
};

struct Read {
  int32_t result;
  std::string value;
};

Read ReadPath(const char* keyPath) {
  MachineRegistry& registry = Registry();
  RegistryKey key = nullptr;
  Read read{registry.openKey(keyPath, &key), ""};
  if (read.result != 0) return read;
  uint32_t size = 0;
  read.result = registry.queryValue(key, "path", nullptr, &size);
  if (read.result == 0) {
    std::string data(size, '?');
    read.result = registry.queryValue(key, "PATH", data.data(), &size);
    read.value = data.substr(0, size);
  }
  registry.closeKey(key);
  return read;
}

TEST(RegistryStandIn, ReadsValuesFromTheFileThatTheVariableNames) {
  test::TempFolder temp;
  std::filesystem::path file = temp.path() / "registry.txt";
  WriteText(file,
            "; the products on this machine\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\"
            "zentrikb.EXE]\r\n"
            "Path=/opt/kalvora/beta\r\n"
            "# a comment\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\"
            "ZentrikG.exe]\n"
            "Path=C:\\Program Files\\Kalvora Gamma\\\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\"
            "ZentrikD.exe]\n"
            "Other=x\n");
  struct Case {
    const char* name;
    const char* keyPath;
    Read read;
  };
  const Case cases[] = {
      {"any letter case, CR LF", kBetaKey, {0, std::string("/opt/kalvora/beta") + '\0'}},
      {"backslashes as written",
       "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ZentrikG.exe",
       {0, std::string("C:\\Program Files\\Kalvora Gamma\\") + '\0'}},
      {"no such value",
       "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ZentrikD.exe",
       {2, ""}},
      {"no such key",
       "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ZentrikE.exe",
       {2, ""}},
  };
  ScopedVariable variable("KALVORA_REGISTRY", file.string());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Read read = ReadPath(c.keyPath);
    EXPECT_EQ(read.result, c.read.result);
    EXPECT_EQ(read.value, c.read.value);
  }
  {
    SCOPED_TRACE("no file: nothing is registered");
    ScopedVariable missing("KALVORA_REGISTRY", (temp.path() / "none.txt").string());
    EXPECT_EQ(ReadPath(kBetaKey).result, 2);
  }
  {
    SCOPED_TRACE("a value larger than the room given");
    RegistryKey key = nullptr;
    ASSERT_EQ(Registry().openKey(kBetaKey, &key), 0);
    char small[4];
    uint32_t size = sizeof small;
    EXPECT_EQ(Registry().queryValue(key, "Path", small, &size), 234);  // ERROR_MORE_DATA
    EXPECT_EQ(size, 18u);
    Registry().closeKey(key);
  }
  // The texts of a Japanese Windows, in code page 932.
  char* text = Registry().errorText(2);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text).substr(0, 6), "\x8E\x77\x92\xE8\x82\xB3");  // 指定さ
  EXPECT_EQ(std::string(text).substr(std::string(text).size() - 2), "\r\n");
  Registry().releaseErrorText(text);
  EXPECT_EQ(Registry().errorText(12345), nullptr);
}

// kalvora-update copied into a folder of its own with Kalvora Beta's update
// file beside it, and Kalvora Beta installed.
class LinuxProgram : public ::testing::Test {
 protected:
  LinuxProgram() {
    std::filesystem::create_directories(tool());
    std::filesystem::create_directories(beta());
    std::filesystem::copy_file(KALVORA_UPDATE_PATH, tool() / "kalvora-update");
    test::WriteFileBytes((beta() / "ZentrikB.exe").string(), {'o', 'l', 'd'});
    test::WriteFileBytes(
        (tool() / "updb.dat").string(),
        test::MakeUpdateFile(test::PackageBuilder()
                                 .replace("ZentrikB.old", "ZentrikB.exe", {'n', 'e', 'w'})
                                 .bytes()));
  }

  std::filesystem::path tool() const { return temp_.path() / "tool"; }
  std::filesystem::path beta() const { return temp_.path() / "Kalvora Beta"; }

  void registerBeta() {
    WriteText(registry(), "[HKEY_LOCAL_MACHINE\\" + std::string(kBetaKey) +
                              "]\nPath=" + beta().string() + "\n");
  }
  std::filesystem::path registry() const { return temp_.path() / "registry.txt"; }

  // Runs the tool with input as its standard input; gives its exit code.
  int run(const std::string& input) {
    WriteText(temp_.path() / "input", input);
    std::string command = "cd '" + temp_.path().string() + "' && KALVORA_REGISTRY='" +
                          registry().string() + "' tool/kalvora-update <input >output 2>&1";
    int status = std::system(command.c_str());
    output = ReadText(temp_.path() / "output");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  test::FolderSnapshot installed() const { return test::Snapshot(beta()); }

  test::FolderSnapshot untouched = {{"ZentrikB.exe", {'o', 'l', 'd'}}};
  test::FolderSnapshot updated = {{"ZentrikB.exe", {'n', 'e', 'w'}},
                                  {"ZentrikB.old", {'o', 'l', 'd'}}};
  std::string output;

 private:
  test::TempFolder temp_;
};

const char kOpening[] =
    "本修正モジュールを実行する前に、Kalvoraや他のアプリケーションが終了していることを確認してく"
    "ださい。よろしければ、ＯＫボタンを押してください。\n[OK: Enter]  (Cancel)\n";

// Each text in order in the output.
void ExpectInOrder(const std::string& output, const std::vector<std::string>& texts) {
  std::size_t at = 0;
  for (const std::string& text : texts) {
    std::size_t found = output.find(text, at);
    EXPECT_NE(found, std::string::npos)
        << "missing after byte " << at << ": " << text << "\n--- output ---\n"
        << output;
    if (found == std::string::npos) return;
    at = found + text.size();
  }
}

TEST_F(LinuxProgram, WithoutInputEveryPromptIsAnsweredWithOK) {
  registerBeta();
  EXPECT_EQ(run(""), 0);
  std::string confirmation = "Kalvora Betaを " + beta().string() +
                             " にて見つけました。更新しますか？\n[OK: Enter]  [Cancel: c]\n";
  ExpectInOrder(output, {kOpening, "(no more input: OK)", confirmation,
                         "更新しています。長い場合で１分程度はかかりますので、しばらくお待ちくださ"
                         "い…\n(OK)  (Cancel)\n",
                         "正常に更新されました\n[OK: Enter]  (Cancel)\n"});
  EXPECT_EQ(installed(), updated);
}

TEST_F(LinuxProgram, LinesAnswerThePromptsInTurn) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> shown;
    bool updates;
  };
  const Case cases[] = {
      {"Cancel at the confirmation", "\nc\n\n", {kOpening, "更新を中断しました"}, false},
      {"Cancel is disabled at the opening prompt",
       "c\no\nOK\n\n",
       {kOpening, "Cancel is disabled.", "正常に更新されました"},
       true},
      {"an unknown key", "x\n", {"Enter (or o) presses OK, c presses Cancel."}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(beta() / "ZentrikB.old");
    test::WriteFileBytes((beta() / "ZentrikB.exe").string(), {'o', 'l', 'd'});
    registerBeta();
    EXPECT_EQ(run(c.input), 0);
    ExpectInOrder(output, c.shown);
    EXPECT_EQ(installed(), c.updates ? updated : untouched);
  }
}

TEST_F(LinuxProgram, AnUnregisteredProductIsPickedByItsPath) {
  // No registry file: the report names the error, then the path is asked
  // for, again when no such file exists.
  EXPECT_EQ(run("\n\n" + (beta() / "ZentrikB.txt").string() + "\n" +
                (beta() / "ZentrikB.exe").string() + "\n\n\n"),
            0);
  std::string folder = beta().string();
  for (char& c : folder) c = c == '/' ? '\\' : c;
  ExpectInOrder(output, {kOpening,
                         "Kalvoraアプリケーションが見つかりません。\n手動でインストール先を指定し"
                         "てください\nError:指定されたファイルが見つかりません。\n\n",
                         "Open: Kalvora Beta実行ファイル (ZentrikB.exe)",
                         "No such file: " + (beta() / "ZentrikB.txt").string(),
                         "Kalvora Betaを " + folder + "\\ にて見つけました。更新しますか？",
                         "正常に更新されました"});
  EXPECT_EQ(installed(), updated);
}

TEST_F(LinuxProgram, AFileQuestionWithoutInputIsCancelled) {
  EXPECT_EQ(run(""), 0);
  ExpectInOrder(output, {kOpening, "Open: Kalvora Beta実行ファイル (ZentrikB.exe)",
                         "(no more input)", "Kalvora Betaが見つかりませんでした"});
  EXPECT_EQ(installed(), untouched);
}

}  // namespace
}  // namespace kalvora
