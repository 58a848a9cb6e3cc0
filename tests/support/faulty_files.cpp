#include "support/faulty_files.h"

namespace kalvora::test {

FaultyFiles::FaultyFiles(long at, Mode mode, FileError error)
    : at_(at), mode_(mode), error_(error) {}

FaultyFiles::~FaultyFiles() {
  if (installed_) SetFileSystem(nullptr);
}

void FaultyFiles::install() {
  SetFileSystem(this);
  installed_ = true;
}

bool FaultyFiles::step() {
  byteRun_ = nullptr;
  if (dead()) {
    setError(error_);
    return false;
  }
  if (count_++ == at_) {
    failed_ = true;
    setError(error_);
    return false;
  }
  return true;
}

std::FILE* FaultyFiles::open(const char* path, bool forReading) {
  if (forReading ? dead() : !step()) {
    setError(error_);
    return nullptr;
  }
  std::FILE* file = FileSystem::open(path, forReading);
  if (file != nullptr && !forReading) writers_.insert(file);
  return file;
}

int FaultyFiles::getByte(std::FILE* file) {
  return dead() ? EOF : FileSystem::getByte(file);
}

int FaultyFiles::putByte(std::FILE* file, int value) {
  if (dead()) return EOF;
  if (file == byteRun_) return FileSystem::putByte(file, value);
  if (!step()) return EOF;
  byteRun_ = file;
  return FileSystem::putByte(file, value);
}

std::size_t FaultyFiles::read(std::FILE* file, void* buffer, std::size_t count) {
  return dead() ? 0 : FileSystem::read(file, buffer, count);
}

std::size_t FaultyFiles::write(std::FILE* file, const void* buffer, std::size_t count) {
  if (step()) return FileSystem::write(file, buffer, count);
  // A short write: half of the block reaches the file, unless the program
  // stopped before it.
  return mode_ == Mode::Once ? FileSystem::write(file, buffer, count / 2) : 0;
}

int FaultyFiles::flush(std::FILE* file) {
  return step() ? FileSystem::flush(file) : EOF;
}

int FaultyFiles::close(std::FILE* file) {
  bool writer = writers_.erase(file) > 0;
  bool ok = writer ? step() : !dead();
  // The handle is released in any case; a failed close of a writer is
  // reported as such, whatever the standard library managed to write.
  int result = FileSystem::close(file);
  if (!ok) {
    setError(error_);
    return EOF;
  }
  return result;
}

int FaultyFiles::renameNoReplace(const char* existingName, const char* newName) {
  return step() ? FileSystem::renameNoReplace(existingName, newName) : -1;
}

int FaultyFiles::remove(const char* path) {
  return step() ? FileSystem::remove(path) : -1;
}

}  // namespace kalvora::test
