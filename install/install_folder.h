// Finding a product's install folder: from its App Paths registration, or
// by letting the user pick its program file in the file-open dialog. Runs
// on the worker thread; the user is addressed through ShowPrompt and the
// dialog only.
#pragma once

#include <cstdint>

#include "install/product_entry.h"
#include "stream/text_buffer.h"

namespace kalvora {

// Results of FindInstallFolder and BrowseForProgram; each has the number of
// the catalogue entry that says the same thing.
constexpr int32_t kFolderFound = 0;      // the install folder holds the folder text
constexpr int32_t kBrowseCancelled = 1;  // the file-open dialog was cancelled or failed
constexpr int32_t kFolderNoMemory = 3;   // no memory for the folder text
constexpr int32_t kFolderNotFound = 4;   // no usable registration, or the wrong file picked
constexpr int32_t kUnknownPlatform = 5;  // neither the 9x nor the NT family

// Fills folder (handed over empty) with the install folder of row. From the
// registry it is the "Path" value exactly as stored; picked by browsing, it
// is the folder of the program file with its trailing backslash. When the
// registration is missing or unreadable and browsing is allowed, the user is
// told so (catalogue entry 4 with the system's text for the registry's
// error) and picks the program file, again after each wrong pick, until the
// right file is picked or the dialog is cancelled.
int32_t FindInstallFolder(TextBuffer& folder, const ProductEntry& row, bool allowBrowsing);

// Shows catalogue entry index, followed by "\r\nError:" and detail when
// detail is not null, with OK only, and returns once OK was pressed.
void ReportMessage(int32_t index, const char* detail);

// Lets the user pick row's program file in the file-open dialog, whose
// filter lists only files of that name. 0 and the folder with its trailing
// backslash in folder, when the picked file's name is the program file's
// name in any letter case; 1, 3 or 4 otherwise.
int32_t BrowseForProgram(TextBuffer& folder, const ProductEntry& row);

}  // namespace kalvora
