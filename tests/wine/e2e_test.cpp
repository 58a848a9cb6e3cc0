// End-to-end tests of the Windows program. KalvoraUpdate.exe runs under
// wine on an X server, with the Japanese locale so that the ANSI code page
// is 932, and console_driver.exe (a Windows program too) reads its message
// area byte for byte, its buttons' states, presses them, and fills the
// file-open dialog. App Paths registrations are made with wine's reg.
// Install folders and update files are made here, and every folder that
// the tool updated is compared byte for byte with what `updkit apply` of
// the Linux build makes of a copy of the same folder.
//
// scripts/wine-e2e starts the X server, makes a fresh wine prefix and runs
// this program with the paths below in its environment.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "driver_hex.h"
#include "support/package_builder.h"
#include "support/sample_product.h"
#include "support/temp_folder.h"

namespace kalvora {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::FolderSnapshot;

// Set by scripts/wine-e2e.
std::string Setting(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    ADD_FAILURE() << name << " is not set: run these tests with scripts/wine-e2e";
    return "";
  }
  return value;
}

fs::path ToolExe() {
  return Setting("KALVORA_E2E_TOOL");
}  // the build under test
fs::path DriverExe() {
  return Setting("KALVORA_E2E_DRIVER");
}  // console_driver.exe of that build
fs::path ProductExe() {
  return Setting("KALVORA_E2E_PRODUCT");
}  // the 32-bit product
std::string Loader() {
  return Setting("KALVORA_E2E_LOADER");
}  // wine or wine64
fs::path Artifacts() {
  return Setting("KALVORA_E2E_ARTIFACTS");
}
fs::path Updkit() {
  return Setting("KALVORA_E2E_UPDKIT");
}  // the Linux build's toolkit
fs::path DriveC() {
  return fs::path(Setting("WINEPREFIX")) / "drive_c";
}

std::string TestName() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

void AppendLog(const std::string& text) {
  std::ofstream log(Artifacts() / (TestName() + ".log"), std::ios::app);
  log << text;
}

struct Outcome {
  int exitCode = -1;
  std::string output;
};

// Starts a program with its output going to outputFile.
pid_t Start(const std::vector<std::string>& argv, const fs::path& folder,
            const fs::path& outputFile) {
  pid_t child = fork();
  if (child == 0) {
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
    int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int none = open("/dev/null", O_RDONLY);
    if (out < 0 || none < 0) _exit(126);
    dup2(none, 0);
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return child;
}

// Waits for a program's end; -1 (and the program killed) after `seconds`.
int Wait(pid_t child, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    int status = 0;
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Outcome RunProgram(const std::vector<std::string>& argv, int seconds = 120) {
  fs::path output = Artifacts() / "run-output.txt";
  Outcome outcome;
  outcome.exitCode = Wait(Start(argv, {}, output), seconds);
  outcome.output = ReadText(output);
  std::string line = "$";
  for (const std::string& arg : argv) line += " " + arg;
  AppendLog(line + "\n" + outcome.output + "=> " + std::to_string(outcome.exitCode) + "\n");
  return outcome;
}

// A path under the wine prefix's drive C as Windows names it.
std::string WindowsPath(const fs::path& path) {
  std::string unix = path.string();
  std::string drive = DriveC().string();
  std::string windows =
      unix.compare(0, drive.size(), drive) == 0 ? "C:" + unix.substr(drive.size()) : "Z:" + unix;
  for (char& c : windows) c = c == '/' ? '\\' : c;
  return windows;
}

// UTF-8 text as the code page 932 bytes that the tool holds.
std::string Cp932(const std::string& utf8) {
  iconv_t converter = iconv_open("CP932", "UTF-8");
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* outPointer = out.data();
  std::size_t outLeft = out.size();
  EXPECT_NE(iconv(converter, &in, &inLeft, &outPointer, &outLeft), static_cast<std::size_t>(-1));
  iconv_close(converter);
  out.resize(out.size() - outLeft);
  return out;
}

const std::string kOpening =
    "本修正モジュールを実行する前に、Kalvoraや他のアプリケーションが終了していることを確認してく"
    "ださい。よろしければ、ＯＫボタンを押してください。";
const std::string kUpdated = "正常に更新されました";
const std::string kFailed = "更新に失敗しました";
const std::string kRefused = "更新を中断しました";
const std::string kNotRegistered =
    "Kalvoraアプリケーションが見つかりません。\r\n手動でインストール先を指定してください\r\nError:";

std::string Confirmation(const std::string& product, const std::string& folder) {
  return product + "を " + folder + " にて見つけました。更新しますか？";
}

// Driver steps that wait for a prompt with the text and buttons.
std::vector<std::string> Prompt(const std::string& utf8, const std::string& buttons) {
  return {"prompt", DriverHex(Cp932(utf8)), buttons};
}

// Runs the driver through the steps; its output.
std::string Drive(const std::vector<std::vector<std::string>>& steps) {
  std::vector<std::string> argv = {Loader(), DriverExe().string()};
  for (const auto& step : steps) argv.insert(argv.end(), step.begin(), step.end());
  Outcome outcome = RunProgram(argv);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
  return outcome.output;
}

void Reg(const std::vector<std::string>& arguments, bool mustWork = true) {
  std::vector<std::string> argv = {Loader(), "reg"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  Outcome outcome = RunProgram(argv);
  if (mustWork) {
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
  }
}

const std::string kAppPaths = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

void RegisterFolder(const std::string& program, const fs::path& folder) {
  Reg({"add", kAppPaths + program, "/v", "Path", "/t", "REG_SZ", "/d", WindowsPath(folder), "/f"});
}

void Unregister(const std::string& program) {
  Reg({"delete", kAppPaths + program, "/f"}, false);
}

// One run of the tool from its own folder under drive C, where its update
// files lie.
class ToolRun {
 public:
  ToolRun(const fs::path& folder, const std::string& name) {
    fs::copy_file(ToolExe(), folder / name, fs::copy_options::overwrite_existing);
    child_ = Start({Loader(), (folder / name).string()}, folder, Artifacts() / "tool-output.txt");
  }
  ~ToolRun() {
    if (child_ > 0) Wait(child_, 0);
  }
  // The tool's exit code once it has ended.
  int finish() {
    int code = Wait(child_, 60);
    child_ = -1;
    return code;
  }

 private:
  pid_t child_ = -1;
};

// The folders of one test under drive C: the tool's own, with its update
// files, and the products' install folders under Program Files.
class Scene {
 public:
  explicit Scene(const std::string& name)
      : root_(DriveC() / "e2e" / name), programs_(DriveC() / "Program Files" / name) {
    fs::remove_all(root_);
    fs::remove_all(programs_);
    fs::create_directories(tool());
  }
  fs::path tool() const { return root_ / "tool"; }
  fs::path install(const std::string& product) const { return programs_ / product; }

  // Kalvora Beta installed with the product's files and registered under
  // App Paths, and the update file beside the tool; gives the install folder.
  fs::path installRegisteredBeta(const test::Product& product, const Bytes& updateFile) const {
    fs::path beta = install("Kalvora Beta");
    fs::create_directories(beta);
    test::Populate(beta, product.files);
    test::WriteFileBytes((tool() / "updb.dat").string(), updateFile);
    RegisterFolder("ZentrikB.exe", beta);
    return beta;
  }

 private:
  fs::path root_;
  fs::path programs_;
};

// The folder after `updkit apply` of the Linux build, which loads and
// applies the update file with the same core, on a copy of the folder.
FolderSnapshot AppliedOnLinux(const FolderSnapshot& original, const Bytes& updateFile) {
  test::TempFolder temp;
  fs::path folder = temp.path() / "install";
  fs::create_directory(folder);
  test::Populate(folder, original);
  test::WriteFileBytes(temp.file("update.dat"), updateFile);
  Outcome applied =
      RunProgram({Updkit().string(), "apply", temp.file("update.dat"), folder.string()});
  EXPECT_EQ(applied.exitCode, 0) << applied.output;
  return test::Snapshot(folder);
}

// A screenshot of the console, for the test's artifacts.
void Screenshot(const std::string& driverOutput, const std::string& name) {
  std::size_t at = driverOutput.find("rect ");
  ASSERT_NE(at, std::string::npos);
  long x = 0, y = 0, width = 0, height = 0;
  std::sscanf(driverOutput.c_str() + at, "rect %ld %ld %ld %ld", &x, &y, &width, &height);
  std::string geometry = std::to_string(width + 16) + "x" + std::to_string(height + 16) + "+" +
                         std::to_string(x > 8 ? x - 8 : 0) + "+" +
                         std::to_string(y > 8 ? y - 8 : 0);
  fs::path file = Artifacts() / name;
  Outcome shot =
      RunProgram({"import", "-window", "root", "-crop", geometry, "+repage", file.string()});
  EXPECT_EQ(shot.exitCode, 0) << shot.output;
  EXPECT_TRUE(fs::exists(file));
}

TEST(WineSession, RunsWithTheJapaneseCodePage) {
  std::string output = Drive({{"acp"}});
  EXPECT_NE(output.find("acp 932"), std::string::npos) << output;
}

TEST(ProductExe, IsOneStatic32BitWindowsProgramWithItsResources) {
  Outcome dump =
      RunProgram({"env", "LC_ALL=C", "i686-w64-mingw32-objdump", "-p", ProductExe().string()});
  ASSERT_EQ(dump.exitCode, 0);
  const std::string& text = dump.output;
  EXPECT_NE(text.find("file format pei-i386"), std::string::npos);
  EXPECT_NE(text.find("(Windows GUI)"), std::string::npos);
  // Only the system's DLLs: zlib, the C++ runtime and the thread library are inside.
  const std::vector<std::string> allowed = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL",
                                            "COMDLG32.DLL", "MSVCRT.DLL"};
  std::vector<std::string> imported;
  for (std::size_t at = text.find("DLL Name: "); at != std::string::npos;
       at = text.find("DLL Name: ", at + 1)) {
    std::string name = text.substr(at + 10, text.find('\n', at) - at - 10);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    imported.push_back(name);
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), name), allowed.end()) << name;
  }
  EXPECT_EQ(imported.size(), allowed.size());
  // The resource directory: dialog 102 in Japanese (0x411), manifest 1.
  std::size_t dialog = text.find("Entry: ID: 0x000005");
  ASSERT_NE(dialog, std::string::npos) << "no dialog resource";
  EXPECT_NE(text.find("Entry: ID: 0x000066", dialog), std::string::npos);
  EXPECT_NE(text.find("Entry: ID: 0x000411", dialog), std::string::npos);
  EXPECT_NE(text.find("Entry: ID: 0x000018"), std::string::npos) << "no manifest";
}

TEST(WindowsProgram, UpdatesARegisteredProductByteForByte) {
  Scene scene("Kalvora");
  test::Product product;
  test::Release release(product);
  Bytes update = test::MakeUpdateFile(release.package);
  fs::path beta = scene.installRegisteredBeta(product, update);

  ToolRun tool(scene.tool(), "KalvoraUpdate.exe");
  std::string output = Drive({{"window", "layout", "template", WindowsPath(ToolExe()), "template",
                               WindowsPath(ProductExe())},
                              Prompt(kOpening, "ok"),
                              {"press", "ok"},
                              Prompt(Confirmation("Kalvora Beta", WindowsPath(beta)), "ok+cancel"),
                              {"rect"}});
  Screenshot(output, "confirmation.png");
  Drive({{"press", "ok"}, Prompt(kUpdated, "ok"), {"press", "ok", "closed"}});
  EXPECT_EQ(tool.finish(), 0);
  EXPECT_EQ(test::Snapshot(beta), AppliedOnLinux(product.files, update));
}

TEST(WindowsProgram, FindsAnUnregisteredProductByBrowsing) {
  Scene scene("Browsed");
  test::Product product;
  test::Release release(product);
  FolderSnapshot files = product.files;
  files["ZentrikG.exe"] = {'M', 'Z', 7};
  files["readme.txt"] = {'r'};
  fs::path gamma = scene.install("Kalvora Gamma");
  fs::create_directories(gamma);
  test::Populate(gamma, files);
  Bytes update = test::MakeUpdateFile(release.package);
  test::WriteFileBytes((scene.tool() / "updg.dat").string(), update);
  Unregister("ZentrikG.exe");

  // "ソ" is 83 5C in code page 932: the tool's folder still ends before it.
  ToolRun tool(scene.tool(), "ソフト更新.exe");
  std::string wrongPick = WindowsPath(gamma / "readme.txt");
  std::string rightPick = WindowsPath(gamma / "zentrikg.exe");  // another letter case
  std::string output =
      Drive({{"window"},
             Prompt(kOpening, "ok"),
             {"press", "ok", "prompt-prefix", DriverHex(Cp932(kNotRegistered)), "ok"},
             {"press", "ok", "browse", wrongPick},
             {"prompt-prefix", DriverHex(Cp932(kNotRegistered)), "ok"},
             {"press", "ok", "browse", rightPick},
             Prompt(Confirmation("Kalvora Gamma", WindowsPath(gamma) + "\\"), "ok+cancel"),
             {"press", "ok"},
             Prompt(kUpdated, "ok"),
             {"press", "ok", "closed"}});
  EXPECT_EQ(tool.finish(), 0);
  // The report carries the system's text for the registry's error after "Error:".
  std::string reported = "prompt " + DriverHex(Cp932(kNotRegistered));
  std::size_t at = output.find(reported);
  ASSERT_NE(at, std::string::npos) << output;
  EXPECT_NE(output[at + reported.size()], ' ') << "no system text after Error:";
  // The dialog's file types name the product's program file.
  EXPECT_NE(output.find("filter " + DriverHex(Cp932("Kalvora Gamma実行ファイル"))),
            std::string::npos)
      << output;
  EXPECT_EQ(test::Snapshot(gamma), AppliedOnLinux(files, update));
}

TEST(WindowsProgram, ARefusalChangesNothing) {
  Scene scene("Refused");
  test::Product product;
  test::Release release(product);
  fs::path beta = scene.installRegisteredBeta(product, test::MakeUpdateFile(release.package));

  ToolRun tool(scene.tool(), "KalvoraUpdate.exe");
  Drive({{"window"},
         Prompt(kOpening, "ok"),
         {"press", "ok"},
         Prompt(Confirmation("Kalvora Beta", WindowsPath(beta)), "ok+cancel"),
         {"press", "cancel"},
         Prompt(kRefused, "ok"),
         {"press", "ok", "closed"}});
  EXPECT_EQ(tool.finish(), 0);
  EXPECT_EQ(test::Snapshot(beta), product.files);
}

TEST(WindowsProgram, ACorruptUpdateFileFailsAndTheNextProductIsStillUpdated) {
  Scene scene("Corrupt");
  test::Product product;
  test::Release release(product);
  fs::path beta = scene.install("Kalvora Beta");
  fs::path delta = scene.install("Kalvora Delta");
  for (const fs::path& folder : {beta, delta}) {
    fs::create_directories(folder);
    test::Populate(folder, product.files);
  }
  Bytes corrupt = test::MakeUpdateFile(release.package);
  for (std::size_t i = 8; i < corrupt.size(); i += 7) corrupt[i] ^= 0x5A;
  test::WriteFileBytes((scene.tool() / "updb.dat").string(), corrupt);
  Bytes update = test::MakeUpdateFile(release.package);
  test::WriteFileBytes((scene.tool() / "updd.dat").string(), update);
  RegisterFolder("ZentrikB.exe", beta);
  RegisterFolder("ZentrikD.exe", delta);

  ToolRun tool(scene.tool(), "KalvoraUpdate.exe");
  Drive({{"window"},
         Prompt(kOpening, "ok"),
         {"press", "ok"},
         Prompt(Confirmation("Kalvora Beta", WindowsPath(beta)), "ok+cancel"),
         {"press", "ok"},
         Prompt(kFailed, "ok"),
         {"press", "ok"},
         Prompt(Confirmation("Kalvora Delta", WindowsPath(delta)), "ok+cancel"),
         {"press", "ok"},
         Prompt(kUpdated, "ok"),
         {"press", "ok", "closed"}});
  EXPECT_EQ(tool.finish(), 0);
  EXPECT_EQ(test::Snapshot(beta), product.files);
  EXPECT_EQ(test::Snapshot(delta), AppliedOnLinux(product.files, update));
}

TEST(WindowsProgram, ATargetHeldWithoutSharingFailsAndNothingIsLost) {
  Scene scene("Held");
  test::Product product;
  test::Release release(product);
  Bytes update = test::MakeUpdateFile(release.package);
  fs::path beta = scene.installRegisteredBeta(product, update);

  // The divided book, the second record, is held open: the book before it
  // is updated, it and the program file after it keep their content.
  ToolRun tool(scene.tool(), "KalvoraUpdate.exe");
  Drive({{"hold", WindowsPath(beta / "Data" / "div.bin"), "window"},
         Prompt(kOpening, "ok"),
         {"press", "ok"},
         Prompt(Confirmation("Kalvora Beta", WindowsPath(beta)), "ok+cancel"),
         {"press", "ok"},
         Prompt(kFailed, "ok"),
         {"press", "ok", "closed"}});
  EXPECT_EQ(tool.finish(), 0);
  FolderSnapshot applied = AppliedOnLinux(product.files, update);
  FolderSnapshot expected = product.files;
  expected["Data/joseki.bin"] = applied["Data/joseki.bin"];
  expected["Data/joseki.old"] = applied["Data/joseki.old"];
  EXPECT_EQ(test::Snapshot(beta), expected);
}

}  // namespace
}  // namespace kalvora
