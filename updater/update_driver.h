// The tool's start and the work of its worker thread: one update pass over
// the product table.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace kalvora {

// The tool's start: opens the console, starts the worker on UpdateWorker
// and runs the message loop until the worker is done. Only instance is
// used. 0 after the normal end; -1 when the console cannot be created or the
// worker cannot be started.
int32_t WinMain(InstanceHandle instance, InstanceHandle previousInstance, char* commandLine,
                int32_t showState);

// The worker thread: runs the update pass, then closes the console (which
// ends the message loop) and ends. The argument is not used.
void UpdateWorker(void* argument);

// One update pass: the opening prompt, then, for each product whose update
// file lies in the tool's own folder, in table order: its install folder,
// the user's confirmation, the update and its outcome. Ends early when a
// product's install folder is not found or the user refuses an update.
void RunUpdates();

}  // namespace kalvora
