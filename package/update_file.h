// Reading an update file: its header and its deflated package.
#pragma once

#include <cstdint>

#include "package/apply_fault.h"
#include "stream/owned_buffer.h"

namespace kalvora {

// Reads the update file at path and inflates its package into package,
// which the caller owns. 0, or -1 with the reason in fault (and package
// empty) when the file cannot be opened, is shorter than its header, holds
// fewer bytes than its compressed length says, memory runs out, or the
// package does not inflate.
int32_t LoadUpdateFile(const char* path, OwnedBuffer* package, ApplyFault* fault = nullptr);

}  // namespace kalvora
