#include "package/update_record.h"

#include <cstring>
#include <initializer_list>

#include "stream/cp932.h"

namespace kalvora {

namespace {

// Reads one name field of length bytes; false when the data ends inside it.
bool ReadName(ByteStream& package, int32_t length, char* name) {
  if (package.read(name, length) != length) return false;
  name[length] = '\0';  // a field without a 0 byte is taken whole
  return true;
}

char FoldCase(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c;
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// True when the bytes from part to end spell word (in capitals), ASCII
// letters in any case.
bool IsWord(const char* part, const char* end, const char* word) {
  for (; part < end; ++part, ++word) {
    if (*word == '\0' || FoldCase(*part) != *word) return false;
  }
  return *word == '\0';
}

// True for a name part that Windows reads as another name: one ending in a
// dot or a space, which Windows drops, or a device name (CON, PRN, AUX, NUL,
// COM0 to COM9, LPT0 to LPT9, and the console's and the clock's) in any
// case, with spaces after it or any extension. Neither a dot nor a space can
// be the second byte of a double-byte character.
bool NamesSomethingElse(const char* part, const char* end) {
  if (end[-1] == '.' || end[-1] == ' ') return true;
  const char* base = part;
  while (base < end && *base != '.') ++base;
  while (base > part && base[-1] == ' ') --base;
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"}) {
    if (IsWord(part, base, device)) return true;
  }
  return base - part == 4 && (IsWord(part, part + 3, "COM") || IsWord(part, part + 3, "LPT")) &&
         part[3] >= '0' && part[3] <= '9';
}

}  // namespace

RecordStart ReadRecordStart(ByteStream& package, UpdateRecord* record) {
  int64_t left = RemainingBytes(package);
  if (left == 0) return RecordStart::End;
  if (left < 4) return RecordStart::CutShort;
  record->kind = package.readDword();  // kind
  if (record->kind < kBookMerge || record->kind > kFileReplace) return RecordStart::End;
  int32_t oldLength = package.readByte();  // old-copy name length
  if (oldLength < 0) return RecordStart::CutShort;
  if (oldLength == 0) return RecordStart::End;
  if (!ReadName(package, oldLength, record->oldCopyName)) return RecordStart::CutShort;
  int32_t targetLength = package.readByte();  // target name length
  if (targetLength < 0) return RecordStart::CutShort;
  if (targetLength == 0) return RecordStart::End;
  if (!ReadName(package, targetLength, record->targetName)) return RecordStart::CutShort;
  return RecordStart::Record;
}

ApplyFault CheckRecordName(const char* name) {
  if (name[0] == '\0' || IsSeparator(name[0])) return ApplyFault::NameOutside;
  const char* part = name;
  bool somethingElse = false;
  for (const char* p = name;; p += CharLength(p)) {
    if (*p == ':') return ApplyFault::NameOutside;
    if (*p != '\0' && !IsSeparator(*p)) continue;
    // A folder part or the file's own name ends here.
    bool onlyDotsAndSpaces = true;
    for (const char* c = part; c < p; ++c) onlyDotsAndSpaces &= *c == '.' || *c == ' ';
    if (p == part || onlyDotsAndSpaces) return ApplyFault::NameOutside;
    somethingElse |= NamesSomethingElse(part, p);
    if (*p == '\0') break;
    part = p + 1;
  }
  if (somethingElse) return ApplyFault::NameUnusable;
  std::size_t length = std::strlen(name);
  for (const char* ending : {kTemporarySuffix, kSetAsideSuffix}) {
    std::size_t suffix = std::strlen(ending);
    if (length >= suffix && SameName(name + length - suffix, ending)) {
      return ApplyFault::NameReserved;
    }
  }
  return ApplyFault::None;
}

bool SameName(const char* a, const char* b) {
  while (*a != '\0' && *b != '\0') {
    std::size_t length = CharLength(a);
    if (length != CharLength(b)) return false;
    if (length == 2) {
      if (a[0] != b[0] || a[1] != b[1]) return false;
    } else if (FoldCase(*a) != FoldCase(*b)) {
      return false;
    }
    a += length;
    b += length;
  }
  return *a == *b;
}

int32_t MakeRecordPath(TextBuffer& path, const char* folder, const char* name) {
  path.release();
  bool hasFolder = folder != nullptr && folder[0] != '\0';
  // The last byte of "表" is 0x5C too, but it is no separator.
  if (hasFolder &&
      (path.append(folder) != 0 || (!EndsWithBackslash(folder) && path.append("\\") != 0))) {
    return -1;
  }
  return path.append(name);
}

}  // namespace kalvora
