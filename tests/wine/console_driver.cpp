// A Windows test driver for KalvoraUpdate.exe, run beside it under wine.
// It finds the tool's console window, reads its message area (control
// 1012) as code page 932 bytes and its buttons' states, presses buttons
// as a click does, fills the file-open dialog, checks the dialog template
// in the program's resources, and holds a file open without sharing. The
// steps come from the command line, one after the other:
//
//   acp                         prints the ANSI code page
//   window                      waits for the console to appear
//   layout                      checks the live console: styles, controls, texts
//   template EXE                checks dialog 102 (Japanese) and the manifest of EXE
//   prompt HEX BUTTONS          waits until the message area holds the bytes HEX
//                               and the buttons are BUTTONS: ok, ok+cancel or none
//   prompt-prefix HEX BUTTONS   the same for a text that begins with HEX
//   press ok|cancel             clicks an enabled button
//   browse PATH                 types PATH into the file-open dialog and opens it
//   cancel-browse               cancels the file-open dialog
//   hold PATH                   opens PATH without sharing until the driver ends
//   rect                        prints the console's place on the screen
//   closed                      waits until the console is gone
//
// A step that fails prints what it saw and ends the driver with exit code 1.
#include <windows.h>

#include <dlgs.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "driver_hex.h"

namespace {

constexpr DWORD kWaitMs = 20000;  // for anything to appear on screen
constexpr DWORD kPollMs = 50;

HWND console = NULL;
std::vector<HANDLE> heldFiles;

[[noreturn]] void Fail(const std::string& why) {
  std::printf("FAIL %s\n", why.c_str());
  std::fflush(stdout);
  for (HANDLE file : heldFiles) CloseHandle(file);
  std::exit(1);
}

std::string Unhex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
  }
  return bytes;
}

// The text of a window of another process, as the ANSI code page's bytes;
// WM_GETTEXT is carried across processes, GetWindowTextA is not.
std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    return "";
  }
  std::string text(length * 2 + 2, '\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                      SMTO_ABORTIFHUNG, 5000, &copied);
  text.resize(std::strlen(text.c_str()));
  return text;
}

std::wstring WideTextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    return L"";
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                      SMTO_ABORTIFHUNG, 5000, &copied);
  text.resize(wcslen(text.c_str()));
  return text;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      char code[12];
      std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(c));
      out += code;
    }
  }
  return out;
}

HWND FindConsole() {
  return FindWindowW(L"#32770", L"Kalvoraアップデート");
}

HWND Console() {
  if (console == NULL || !IsWindow(console)) console = FindConsole();
  if (console == NULL) Fail("no console window");
  return console;
}

std::string Buttons() {
  bool ok = IsWindowEnabled(GetDlgItem(Console(), IDOK)) != FALSE;
  bool cancel = IsWindowEnabled(GetDlgItem(Console(), IDCANCEL)) != FALSE;
  return ok && cancel ? "ok+cancel" : ok ? "ok" : cancel ? "cancel" : "none";
}

std::string State() {
  return "text " + DriverHex(TextOf(GetDlgItem(Console(), 1012))) + " buttons " + Buttons();
}

void WaitForConsole() {
  for (DWORD waited = 0; waited < kWaitMs; waited += kPollMs) {
    HWND found = FindConsole();
    if (found != NULL && IsWindowVisible(found)) {
      console = found;
      std::printf("window\n");
      return;
    }
    Sleep(kPollMs);
  }
  Fail("the console did not appear");
}

void WaitForPrompt(const std::string& hex, const std::string& buttons, bool prefixOnly) {
  std::string wanted = Unhex(hex);
  for (DWORD waited = 0; waited < kWaitMs; waited += kPollMs) {
    std::string text = TextOf(GetDlgItem(Console(), 1012));
    bool matches = prefixOnly ? text.compare(0, wanted.size(), wanted) == 0 : text == wanted;
    if (matches && Buttons() == buttons) {
      std::printf("prompt %s %s\n", DriverHex(text).c_str(), buttons.c_str());
      return;
    }
    Sleep(kPollMs);
  }
  Fail("waited for text " + hex + " buttons " + buttons + ", saw " + State());
}

void Click(HWND button) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}

void Press(const std::string& which) {
  int id = which == "ok" ? IDOK : which == "cancel" ? IDCANCEL : 0;
  if (id == 0) Fail("no button " + which);
  HWND button = GetDlgItem(Console(), id);
  if (!IsWindowEnabled(button)) Fail(which + " is disabled: " + State());
  Click(button);
  std::printf("pressed %s\n", which.c_str());
}

struct DialogSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindFileDialog(HWND window, LPARAM search) {
  auto* wanted = reinterpret_cast<DialogSearch*>(search);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t className[64];
  GetClassNameW(window, className, 64);
  if (process == wanted->process && window != console && IsWindowVisible(window) &&
      wcscmp(className, L"#32770") == 0) {
    wanted->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForFileDialog() {
  DialogSearch search = {0, NULL};
  GetWindowThreadProcessId(Console(), &search.process);
  for (DWORD waited = 0; waited < kWaitMs; waited += kPollMs) {
    search.found = NULL;
    EnumWindows(FindFileDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found != NULL) {
      Sleep(300);  // let the dialog fill its lists
      return search.found;
    }
    Sleep(kPollMs);
  }
  Fail("no file-open dialog appeared; console " + State());
}

void WaitUntilGone(HWND window, const char* what) {
  for (DWORD waited = 0; waited < kWaitMs; waited += kPollMs) {
    if (!IsWindow(window) || !IsWindowVisible(window)) return;
    Sleep(kPollMs);
  }
  Fail(std::string(what) + " did not close");
}

void Browse(const std::string& path) {
  HWND dialog = WaitForFileDialog();
  // The file type list shows the filter's description.
  HWND types = GetDlgItem(dialog, cmb1);
  if (types != NULL) std::printf("filter %s\n", DriverHex(TextOf(types)).c_str());
  // The name box: a combo box (cmb13) in the explorer form, an edit (edt1) otherwise.
  HWND name = GetDlgItem(dialog, cmb13);
  if (name == NULL) name = GetDlgItem(dialog, edt1);
  if (name == NULL) Fail("no file name box in the file-open dialog");
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_ABORTIFHUNG,
                      5000, &ignored);
  Click(GetDlgItem(dialog, IDOK));
  WaitUntilGone(dialog, "the file-open dialog");
  std::printf("browsed %s\n", path.c_str());
}

void CancelBrowse() {
  HWND dialog = WaitForFileDialog();
  Click(GetDlgItem(dialog, IDCANCEL));
  WaitUntilGone(dialog, "the file-open dialog");
  std::printf("cancelled\n");
}

void Hold(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            0,  // no sharing
                            NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) Fail("cannot hold " + path);
  heldFiles.push_back(file);
  std::printf("holding %s\n", path.c_str());
}

// Checks a control of the live console.
void CheckControl(int id, const wchar_t* className, DWORD style, DWORD styleMask,
                  const wchar_t* text) {
  HWND control = GetDlgItem(Console(), id);
  if (control == NULL) Fail("no control " + std::to_string(id));
  wchar_t actualClass[64];
  GetClassNameW(control, actualClass, 64);
  if (_wcsicmp(actualClass, className) != 0) {
    Fail("control " + std::to_string(id) + " is a " + Narrow(actualClass));
  }
  DWORD actualStyle = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
  if ((actualStyle & styleMask) != style) {
    char why[96];
    std::snprintf(why, sizeof why, "control %d has style %08lX", id,
                  static_cast<unsigned long>(actualStyle));
    Fail(why);
  }
  if (text != nullptr && WideTextOf(control) != text) {
    Fail("control " + std::to_string(id) + " says " + Narrow(WideTextOf(control)));
  }
}

void CheckLayout() {
  HWND window = Console();
  wchar_t className[64];
  GetClassNameW(window, className, 64);
  if (wcscmp(className, L"#32770") != 0) Fail("the console is no dialog");
  DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  const DWORD kStyle =
      WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME | DS_SETFONT | DS_CENTER;
  if ((style & kStyle) != kStyle || (style & (WS_THICKFRAME | WS_MINIMIZEBOX)) != 0) {
    Fail("the console has style " + DriverHex(std::string(reinterpret_cast<char*>(&style), 4)));
  }
  const DWORD kChild = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
  // The default push button style moves with the focus; the kind is a button either way.
  CheckControl(IDOK, L"Button", kChild, kChild | WS_BORDER, L"OK");
  CheckControl(IDCANCEL, L"Button", kChild, kChild | WS_BORDER, L"ｷｬﾝｾﾙ");
  const DWORD kArea = kChild | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | ES_WANTRETURN;
  CheckControl(1012, L"Edit", kArea, kArea | WS_BORDER | WS_VSCROLL | WS_HSCROLL, nullptr);
  std::printf("layout\n");
}

// Dialog template 102 as the resource compiler writes it (DLGTEMPLATE form).
std::vector<unsigned char> ExpectedTemplate() {
  std::vector<unsigned char> bytes;
  auto word = [&bytes](unsigned value) {
    bytes.push_back(static_cast<unsigned char>(value & 0xFF));
    bytes.push_back(static_cast<unsigned char>(value >> 8));
  };
  auto dword = [&word](unsigned long value) {
    word(value & 0xFFFF);
    word(value >> 16);
  };
  auto text = [&word](const wchar_t* value) {
    for (const wchar_t* p = value; *p != 0; ++p) word(*p);
    word(0);
  };
  auto align = [&bytes] {
    while (bytes.size() % 4 != 0) bytes.push_back(0);
  };
  dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER);
  dword(0);  // no extended style
  word(3);   // controls
  word(0), word(0), word(159), word(71);
  word(0);  // no menu
  word(0);  // the standard dialog class
  text(L"Kalvoraアップデート");
  word(9);
  text(L"ＭＳ Ｐゴシック");
  struct Item {
    unsigned long style;
    unsigned x, y, cx, cy, id, classAtom;
    const wchar_t* text;
  };
  const unsigned long kChild = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
  const Item items[] = {
      {kChild | BS_DEFPUSHBUTTON, 48, 52, 50, 14, IDOK, 0x0080, L"OK"},
      {kChild | BS_PUSHBUTTON, 100, 52, 50, 14, IDCANCEL, 0x0080, L"ｷｬﾝｾﾙ"},
      {kChild | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | ES_WANTRETURN, 4, 0, 148, 48, 1012,
       0x0081, L""},
  };
  for (const Item& item : items) {
    align();
    dword(item.style);
    dword(0);
    word(item.x), word(item.y), word(item.cx), word(item.cy), word(item.id);
    word(0xFFFF), word(item.classAtom);
    text(item.text);
    word(0);  // no creation data
  }
  return bytes;
}

std::string Resource(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  HRSRC found = FindResourceExW(module, type, name, language);
  if (found == NULL) return "";
  HGLOBAL loaded = LoadResource(module, found);
  const char* data = static_cast<const char*>(LockResource(loaded));
  return data == nullptr ? "" : std::string(data, SizeofResource(module, found));
}

void CheckTemplate(const std::string& exe) {
  HMODULE module =
      LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == NULL) module = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (module == NULL) Fail("cannot read the resources of " + exe);
  std::string dialog = Resource(module, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(102),
                                MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
  std::vector<unsigned char> expected = ExpectedTemplate();
  std::string wanted(expected.begin(), expected.end());
  if (dialog.substr(0, wanted.size()) != wanted) {
    Fail("dialog 102 of " + exe + " is " + DriverHex(dialog) + ", wanted " + DriverHex(wanted));
  }
  std::string manifest = Resource(module, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1),
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  if (manifest.find("requestedExecutionLevel level=\"requireAdministrator\"") ==
      std::string::npos) {
    Fail("the manifest of " + exe + " asks for no administrator: " + manifest);
  }
  FreeLibrary(module);
  std::printf("template %s\n", exe.c_str());
}

void PrintRect() {
  RECT rect;
  GetWindowRect(Console(), &rect);
  std::printf("rect %ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
              rect.bottom - rect.top);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  for (int i = 1; i < argc; ++i) {
    std::string step = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) Fail(step + " needs an argument");
      return argv[++i];
    };
    if (step == "acp") {
      std::printf("acp %u\n", GetACP());
    } else if (step == "window") {
      WaitForConsole();
    } else if (step == "layout") {
      CheckLayout();
    } else if (step == "template") {
      CheckTemplate(next());
    } else if (step == "prompt" || step == "prompt-prefix") {
      std::string hex = next();
      WaitForPrompt(hex, next(), step == "prompt-prefix");
    } else if (step == "press") {
      Press(next());
    } else if (step == "browse") {
      Browse(next());
    } else if (step == "cancel-browse") {
      CancelBrowse();
    } else if (step == "hold") {
      Hold(next());
    } else if (step == "rect") {
      PrintRect();
    } else if (step == "closed") {
      if (console == NULL) console = FindConsole();
      if (console != NULL) WaitUntilGone(console, "the console");
      std::printf("closed\n");
    } else {
      Fail("unknown step " + step);
    }
  }
  for (HANDLE file : heldFiles) CloseHandle(file);
  return 0;
}
