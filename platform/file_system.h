// What the core needs of the file system, as one replaceable layer: buffered
// files named by ANSI paths, a rename that refuses to overwrite, and removal.
// Paths are code page 932 byte strings with backslashes between folders.
// Tests put a fault-injecting layer in place with SetFileSystem.
#pragma once

#include <cstddef>
#include <cstdio>

namespace kalvora {

// Why a file operation failed, read from errno or GetLastError() once, here.
enum class FileError {
  None,
  NotFound,      // no such file or folder
  Exists,        // the new name of a rename is taken
  AccessDenied,  // no permission, or the file is read-only
  InUse,         // another program holds the file without sharing it
  DiskFull,      // no space left on the disk
  IsFolder,      // a folder stands where a file is expected
  Other,         // anything else
};

// One line of English describing the error, for the toolkit's reports.
const char* DescribeFileError(FileError error);

// What stands under a name in a folder.
enum class PathKind {
  Missing,       // nothing
  File,          // a regular file that may be written
  ReadOnlyFile,  // a regular file marked read-only
  Folder,        // a folder
  Other,         // anything else (a device, a socket, a broken link)
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // A buffered file, "rb" when forReading, else "wb" (created or emptied).
  // Only regular files are opened: a folder under the name is refused.
  virtual std::FILE* open(const char* path, bool forReading);
  virtual int getByte(std::FILE* file);             // as fgetc
  virtual int putByte(std::FILE* file, int value);  // as fputc
  virtual std::size_t read(std::FILE* file, void* buffer, std::size_t count);
  virtual std::size_t write(std::FILE* file, const void* buffer, std::size_t count);
  virtual int seek(std::FILE* file, long offset, int origin);  // as fseek
  virtual long tell(std::FILE* file);                          // as ftell
  virtual int atEnd(std::FILE* file);                          // as feof
  virtual int flush(std::FILE* file);                          // as fflush
  virtual int close(std::FILE* file);                          // as fclose

  // Renames a file; fails (-1), changing nothing, when a file already exists
  // under the new name or none exists under the existing name. 0 on success.
  virtual int renameNoReplace(const char* existingName, const char* newName);
  // Removes a file; 0 on success, -1 when it cannot be removed.
  virtual int remove(const char* path);
  // What stands under the name.
  virtual PathKind pathKind(const char* path);

  // The reason of the last failed operation of this thread.
  virtual FileError lastError();

 protected:
  void setError(FileError error);
};

// The layer in use: the system's own unless a test set another.
FileSystem& Files();

// Puts a layer in place; null puts the system's own back.
void SetFileSystem(FileSystem* layer);

}  // namespace kalvora
