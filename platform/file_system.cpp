// The portable part of the file layer: buffered file operations of the
// standard library and the choice of layer. Opening, renaming and removing
// by name are the platform's, in win32/ and posix/.
#include "platform/file_system.h"

#include <cerrno>

#include "platform/file_error.h"

namespace kalvora {

namespace {
thread_local FileError lastFileError = FileError::None;
FileSystem systemFiles;
FileSystem* currentFiles = &systemFiles;
}  // namespace

const char* DescribeFileError(FileError error) {
  switch (error) {
    case FileError::None:
      return "no error";
    case FileError::NotFound:
      return "no such file or folder";
    case FileError::Exists:
      return "the name is already taken";
    case FileError::AccessDenied:
      return "access denied";
    case FileError::InUse:
      return "the file is in use by another program";
    case FileError::DiskFull:
      return "the disk is full";
    case FileError::IsFolder:
      return "a folder stands under that name";
    case FileError::Other:
      break;
  }
  return "the file operation failed";
}

FileError ErrorFromErrno(int code) {
  switch (code) {
    case 0:
      return FileError::Other;
    case ENOENT:
    case ENOTDIR:
      return FileError::NotFound;
    case EEXIST:
      return FileError::Exists;
    case EACCES:
    case EPERM:
    case EROFS:
      return FileError::AccessDenied;
    case EBUSY:
    case ETXTBSY:
      return FileError::InUse;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return FileError::DiskFull;
    case EISDIR:
      return FileError::IsFolder;
    default:
      return FileError::Other;
  }
}

void FileSystem::setError(FileError error) {
  lastFileError = error;
}

FileError FileSystem::lastError() {
  return lastFileError;
}

int FileSystem::getByte(std::FILE* file) {
  int value = std::fgetc(file);
  if (value == EOF && std::ferror(file)) setError(ErrorFromErrno(errno));
  return value;
}

int FileSystem::putByte(std::FILE* file, int value) {
  int result = std::fputc(value, file);
  if (result == EOF) setError(ErrorFromErrno(errno));
  return result;
}

std::size_t FileSystem::read(std::FILE* file, void* buffer, std::size_t count) {
  std::size_t done = std::fread(buffer, 1, count, file);
  if (done < count && std::ferror(file)) setError(ErrorFromErrno(errno));
  return done;
}

std::size_t FileSystem::write(std::FILE* file, const void* buffer, std::size_t count) {
  std::size_t done = std::fwrite(buffer, 1, count, file);
  if (done < count) setError(ErrorFromErrno(errno));
  return done;
}

int FileSystem::seek(std::FILE* file, long offset, int origin) {
  int result = std::fseek(file, offset, origin);
  if (result != 0) setError(ErrorFromErrno(errno));
  return result;
}

long FileSystem::tell(std::FILE* file) {
  long result = std::ftell(file);
  if (result < 0) setError(ErrorFromErrno(errno));
  return result;
}

int FileSystem::atEnd(std::FILE* file) {
  return std::feof(file);
}

int FileSystem::flush(std::FILE* file) {
  int result = std::fflush(file);
  if (result != 0) setError(ErrorFromErrno(errno));
  return result;
}

int FileSystem::close(std::FILE* file) {
  int result = std::fclose(file);
  if (result != 0) setError(ErrorFromErrno(errno));
  return result;
}

FileSystem& Files() {
  return *currentFiles;
}

void SetFileSystem(FileSystem* layer) {
  currentFiles = layer != nullptr ? layer : &systemFiles;
}

}  // namespace kalvora
