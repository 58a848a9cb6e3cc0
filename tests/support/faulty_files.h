// A file layer that makes a chosen operation fail, for tests of what the
// applier leaves behind and of the reasons it gives. The operations counted
// are chosen by kind; by default those that change the disk: an open for
// writing, a block write, a run of byte writes to one file (which differ
// only in how much of the run reached the file), a flush, the close of a
// file being written, a rename and a removal. Reads may be counted too: an
// open for reading, a block read, a run of byte reads from one file.
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

  // Kinds of operation, or-ed together to choose which ones are counted.
  enum Step : unsigned {
    kOpenRead = 1u << 0,   // an open for reading
    kOpenWrite = 1u << 1,  // an open for writing
    kRead = 1u << 2,       // a block read, or a run of byte reads from one file
    kWrite = 1u << 3,      // a block write, or a run of byte writes to one file
    kFlush = 1u << 4,      // a flush of a file being written
    kClose = 1u << 5,      // the close of a file being written
    kRename = 1u << 6,
    kRemove = 1u << 7,
  };
  // What a crash can cut short: every operation that changes the disk.
  static constexpr unsigned kChanges = kOpenWrite | kWrite | kFlush | kClose | kRename | kRemove;

  // Counted operation number `at` (from 0) fails with error; -1: none fails.
  FaultyFiles(long at, Mode mode, FileError error = FileError::Other, unsigned steps = kChanges);
  ~FaultyFiles() override;

  // The failing block read or write moves half of its bytes before it fails
  // (a short read or write) instead of none.
  void moveHalf() { half_ = true; }

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
  // True when an operation of the kind may go ahead, counted or not.
  bool pass(unsigned kind);
  // The same for one byte of a run of byte reads or writes to one file.
  bool passByte(std::FILE* file, unsigned kind);
  bool dead() const { return failed_ && mode_ == Mode::Crash; }

  long at_;
  Mode mode_;
  FileError error_;
  unsigned steps_;
  bool half_ = false;
  long count_ = 0;
  bool failed_ = false;
  bool failingNow_ = false;  // the operation under way is the one that fails
  bool installed_ = false;
  std::FILE* runFile_ = nullptr;  // the file of the byte operations just made
  unsigned runKind_ = 0;          // and whether they read or wrote
  std::set<std::FILE*> writers_;
};

}  // namespace kalvora::test
