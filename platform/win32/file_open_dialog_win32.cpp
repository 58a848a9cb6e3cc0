// Windows only: the file-open dialog of comdlg32.
#include <windows.h>

#include <commdlg.h>

#include <cstddef>

#include "platform/file_open_dialog.h"

namespace kalvora {

namespace {

// The 76-byte form of OPENFILENAMEA, which ends with lpTemplateName: the
// form of Windows 9x and NT 4, without the fields that Windows 2000 added.
// On 64-bit Windows the same fields take more bytes, with wider pointers.
constexpr DWORD kOpenFileNameSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
#if defined(__i386__)
static_assert(kOpenFileNameSize == 76, "OPENFILENAMEA of Windows 9x and NT 4");
#endif

}  // namespace

bool FileOpenDialog::pick(const char* filter, char* file, uint32_t fileSize) {
  OPENFILENAMEA dialog;
  ZeroMemory(&dialog, sizeof dialog);
  dialog.lStructSize = kOpenFileNameSize;
  dialog.hwndOwner = NULL;  // no owner window
  dialog.hInstance = NULL;
  dialog.lpstrFilter = filter;
  dialog.lpstrCustomFilter = NULL;
  dialog.nMaxCustFilter = 0;
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = file;
  dialog.nMaxFile = fileSize;
  dialog.lpstrFileTitle = NULL;
  dialog.nMaxFileTitle = 0;
  dialog.lpstrInitialDir = NULL;
  dialog.lpstrTitle = "";  // an empty title, not none
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  dialog.nFileOffset = 0;
  dialog.nFileExtension = 0;
  dialog.lpstrDefExt = NULL;
  dialog.lCustData = 0;
  dialog.lpfnHook = NULL;
  dialog.lpTemplateName = NULL;
  // Zero for a cancel and for a failure of the dialog alike.
  return GetOpenFileNameA(&dialog) != 0;
}

}  // namespace kalvora
