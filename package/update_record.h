// The records of an update package.
//
// Update file (little-endian): compressed length (dword), raw length (dword),
// then a zlib stream that inflates to the package.
//
// Package: records one after the other, with no header, count or trailer.
//   kind (dword)            0 book merge, 1 divided book merge, 2 file replace;
//                           any other value ends the package
//   old-copy name length L1 (byte, 0 ends the package), L1 name bytes
//   target name length L2   (byte, 0 ends the package), L2 name bytes
//   payload                 kind 0: one book update stream
//                           kind 1: a 4-byte value, then 64 book update streams
//                           kind 2: length N (dword), then N bytes of content
// A name is its field's bytes up to the first 0 byte; names are Windows-style
// relative names in code page 932, backslashes between folders.
#pragma once

#include <cstdint>

#include "package/apply_fault.h"
#include "stream/byte_stream.h"
#include "stream/text_buffer.h"

namespace kalvora {

// Kinds of record.
constexpr int32_t kBookMerge = 0;
constexpr int32_t kDividedBookMerge = 1;
constexpr int32_t kFileReplace = 2;

// The new content of a record is written under the target's name with this
// ending and put in place once it is whole.
constexpr const char kTemporarySuffix[] = ".kvnew";
// A target that an earlier application wrote is kept under its name with
// this ending until the new content is in place.
constexpr const char kSetAsideSuffix[] = ".kvold";

struct UpdateRecord {
  int32_t kind = 0;
  char oldCopyName[256] = {};
  char targetName[256] = {};
};

enum class RecordStart {
  Record,    // a record's kind and names were read; its payload follows
  End,       // the package ends here (the end of the data, a kind outside
             // 0 to 2, or a name length of 0)
  CutShort,  // the data ends inside the record's kind or names
};

// Reads a record's kind and its two names.
RecordStart ReadRecordStart(ByteStream& package, UpdateRecord* record);

// Checks that a name stays inside the install folder and can be written
// there: not empty, no drive or stream colon, no leading separator, every
// folder part a real name (not empty, not "." or "..", nor only dots and
// spaces, which Windows reads as ".."), and no part that Windows reads as
// another name (a dot or a space at its end) or as a device (NUL, CON...).
// None, NameOutside, NameUnusable, or NameReserved (ends like the
// applier's own files).
ApplyFault CheckRecordName(const char* name);

// True when two names are the same for Windows: ASCII letters compared
// without case, double-byte characters byte for byte.
bool SameName(const char* a, const char* b);

// Makes path from the install folder and a name: the name alone without a
// folder, folder and name when the folder ends in a backslash, else folder,
// backslash, name. -1 when memory runs out.
int32_t MakeRecordPath(TextBuffer& path, const char* folder, const char* name);

}  // namespace kalvora
