// The system's file-open dialog, with one filter, no owner window and no
// initial folder, for picking a file that exists. Tests put a dialog of
// their own in place with SetFileOpenDialog.
#pragma once

#include <cstdint>

namespace kalvora {

class FileOpenDialog {
 public:
  virtual ~FileOpenDialog() = default;

  // Lets the user pick one existing file. filter is one description and
  // pattern pair, each ending with a NUL, and one more NUL. The full path
  // of the chosen file goes to file (fileSize bytes, holding an empty text
  // on entry), NUL-terminated. False when the dialog was cancelled or
  // failed.
  virtual bool pick(const char* filter, char* file, uint32_t fileSize);
};

// The dialog in use: the system's own unless a test set another.
FileOpenDialog& OpenDialog();

// Puts a dialog in place; null puts the system's own back.
void SetFileOpenDialog(FileOpenDialog* dialog);

}  // namespace kalvora
