// Linux stand-in only: file names by path. Package names are Windows-style
// relative names, so backslashes become '/' here (stepping over double-byte
// characters, whose second byte may be 0x5C), and the rename refuses to
// overwrite with renameat2(RENAME_NOREPLACE), as MoveFileA does on Windows.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/file_error.h"
#include "platform/file_system.h"
#include "stream/cp932.h"

namespace kalvora {

namespace {

std::string NativePath(const char* path) {
  std::string native;
  for (const char* p = path; *p != '\0';) {
    std::size_t length = CharLength(p);
    if (length == 1 && *p == '\\') {
      native += '/';
    } else {
      native.append(p, length);
    }
    p += length;
  }
  return native;
}

}  // namespace

std::FILE* FileSystem::open(const char* path, bool forReading) {
  std::string native = NativePath(path);
  int fd = ::open(native.c_str(), forReading ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC), 0666);
  if (fd < 0) {
    setError(ErrorFromErrno(errno));
    return nullptr;
  }
  // Reading a folder opens on Linux, and fails only at the first read;
  // Windows refuses it at once, and so does this.
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    setError(S_ISDIR(info.st_mode) ? FileError::IsFolder : FileError::Other);
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, forReading ? "rb" : "wb");
  if (file == nullptr) {
    setError(ErrorFromErrno(errno));
    ::close(fd);
  }
  return file;
}

int FileSystem::renameNoReplace(const char* existingName, const char* newName) {
  std::string from = NativePath(existingName);
  std::string to = NativePath(newName);
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) {
    setError(ErrorFromErrno(errno));
    return -1;
  }
  // A file system without RENAME_NOREPLACE: link refuses an existing name too.
  if (link(from.c_str(), to.c_str()) != 0) {
    setError(ErrorFromErrno(errno));
    return -1;
  }
  if (unlink(from.c_str()) != 0) {
    setError(ErrorFromErrno(errno));
    unlink(to.c_str());
    return -1;
  }
  return 0;
}

int FileSystem::remove(const char* path) {
  if (unlink(NativePath(path).c_str()) == 0) return 0;
  setError(ErrorFromErrno(errno));
  return -1;
}

PathKind FileSystem::pathKind(const char* path) {
  std::string native = NativePath(path);
  struct stat info;
  if (stat(native.c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::Other;
  }
  if (S_ISDIR(info.st_mode)) return PathKind::Folder;
  if (!S_ISREG(info.st_mode)) return PathKind::Other;
  // The read-only attribute of Windows is a file without any write permission.
  return (info.st_mode & 0222) == 0 ? PathKind::ReadOnlyFile : PathKind::File;
}

}  // namespace kalvora
