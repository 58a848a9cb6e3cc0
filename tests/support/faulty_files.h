// A file layer that makes a chosen operation fail, for tests of what the
// applier leaves behind. Operations that change the disk are counted: an
// open for writing, a block write, a run of byte writes to one file (which
// differ only in how much of the run reached the file), a flush, the close
// of a file being written, a rename and a removal.
#pragma once

#include <set>

#include "platform/file_system.h"

namespace kalvora::test {

class FaultyFiles : public FileSystem {
 public:
  enum class Mode {
    Crash,  // the failing operation and everything after it fail, as when
            // the program stops there: nothing more reaches the disk
    Once,   // only the failing operation fails
  };

  // Operation number `at` (from 0) fails with error; -1: none fails.
  FaultyFiles(long at, Mode mode, FileError error = FileError::Other);
  ~FaultyFiles() override;

  // Puts this layer in place for its lifetime.
  void install();

  long operations() const { return count_; }
  bool failed() const { return failed_; }

  std::FILE* open(const char* path, bool forReading) override;
  int getByte(std::FILE* file) override;
  int putByte(std::FILE* file, int value) override;
  std::size_t read(std::FILE* file, void* buffer, std::size_t count) override;
  std::size_t write(std::FILE* file, const void* buffer, std::size_t count) override;
  int flush(std::FILE* file) override;
  int close(std::FILE* file) override;
  int renameNoReplace(const char* existingName, const char* newName) override;
  int remove(const char* path) override;

 private:
  // True when the next counted operation may go ahead.
  bool step();
  bool dead() const { return failed_ && mode_ == Mode::Crash; }

  long at_;
  Mode mode_;
  FileError error_;
  long count_ = 0;
  bool failed_ = false;
  bool installed_ = false;
  std::FILE* byteRun_ = nullptr;  // the file of the byte writes just made
  std::set<std::FILE*> writers_;
};

}  // namespace kalvora::test
