// Turning the C library's errno into a FileError; shared by the file layer's
// portable part and its platform parts.
#pragma once

#include "platform/file_system.h"

namespace kalvora {

FileError ErrorFromErrno(int code);

}  // namespace kalvora
