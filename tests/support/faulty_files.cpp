#include "support/faulty_files.h"

namespace kalvora::test {

FaultyFiles::FaultyFiles(long at, Mode mode, FileError error, unsigned steps)
    : at_(at), mode_(mode), error_(error), steps_(steps) {}

FaultyFiles::~FaultyFiles() {
  if (installed_) SetFileSystem(nullptr);
}

void FaultyFiles::install() {
  SetFileSystem(this);
  installed_ = true;
}

bool FaultyFiles::step() {
  runFile_ = nullptr;
  failingNow_ = false;
  if (dead()) {
    setError(error_);
    return false;
  }
  if (count_++ == at_) {
    failed_ = true;
    failingNow_ = true;
    setError(error_);
    return false;
  }
  return true;
}

bool FaultyFiles::pass(unsigned kind) {
  if ((steps_ & kind) != 0) return step();
  failingNow_ = false;
  if (!dead()) return true;
  setError(error_);
  return false;
}

bool FaultyFiles::passByte(std::FILE* file, unsigned kind) {
  if ((steps_ & kind) == 0) return pass(kind);
  if (!dead() && file == runFile_ && kind == runKind_) return true;
  if (!step()) return false;
  runFile_ = file;
  runKind_ = kind;
  return true;
}

std::FILE* FaultyFiles::open(const char* path, bool forReading) {
  if (!pass(forReading ? kOpenRead : kOpenWrite)) return nullptr;
  std::FILE* file = FileSystem::open(path, forReading);
  if (file != nullptr && !forReading) writers_.insert(file);
  return file;
}

int FaultyFiles::getByte(std::FILE* file) {
  return passByte(file, kRead) ? FileSystem::getByte(file) : EOF;
}

int FaultyFiles::putByte(std::FILE* file, int value) {
  return passByte(file, kWrite) ? FileSystem::putByte(file, value) : EOF;
}

std::size_t FaultyFiles::read(std::FILE* file, void* buffer, std::size_t count) {
  if (pass(kRead)) return FileSystem::read(file, buffer, count);
  if (!failingNow_ || !half_) return 0;
  std::size_t done = FileSystem::read(file, buffer, count / 2);
  setError(error_);
  return done;
}

std::size_t FaultyFiles::write(std::FILE* file, const void* buffer, std::size_t count) {
  if (pass(kWrite)) return FileSystem::write(file, buffer, count);
  if (!failingNow_ || !half_) return 0;
  std::size_t done = FileSystem::write(file, buffer, count / 2);
  setError(error_);
  return done;
}

int FaultyFiles::flush(std::FILE* file) {
  return pass(kFlush) ? FileSystem::flush(file) : EOF;
}

int FaultyFiles::close(std::FILE* file) {
  bool writer = writers_.erase(file) > 0;
  bool ok = writer ? pass(kClose) : !dead();
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
  return pass(kRename) ? FileSystem::renameNoReplace(existingName, newName) : -1;
}

int FaultyFiles::remove(const char* path) {
  return pass(kRemove) ? FileSystem::remove(path) : -1;
}

}  // namespace kalvora::test
