// Windows only: file names by ANSI path, the rename that refuses to
// overwrite (MoveFileA) and removal (DeleteFileA).
#include <windows.h>

#include <stdio.h>

#include "platform/file_system.h"

namespace kalvora {

namespace {

FileError ErrorFromLastError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return FileError::NotFound;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return FileError::Exists;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return FileError::AccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return FileError::InUse;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileError::DiskFull;
    default:
      return FileError::Other;
  }
}

bool IsFolder(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::FILE* FileSystem::open(const char* path, bool forReading) {
  std::FILE* file = fopen(path, forReading ? "rb" : "wb");
  if (file == nullptr) {
    // fopen leaves the reason of its CreateFile in GetLastError(); errno
    // says EACCES alike for a denied, a shared and a folder name.
    DWORD code = GetLastError();
    setError(IsFolder(path) ? FileError::IsFolder : ErrorFromLastError(code));
  }
  return file;
}

int FileSystem::renameNoReplace(const char* existingName, const char* newName) {
  // MoveFileA fails, changing nothing, when newName exists.
  if (MoveFileA(existingName, newName)) return 0;
  setError(ErrorFromLastError(GetLastError()));
  return -1;
}

int FileSystem::remove(const char* path) {
  if (DeleteFileA(path)) return 0;
  setError(ErrorFromLastError(GetLastError()));
  return -1;
}

PathKind FileSystem::pathKind(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? PathKind::Missing
                                                                        : PathKind::Other;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Folder;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return PathKind::ReadOnlyFile;
  return PathKind::File;
}

}  // namespace kalvora
