// A byte stream over a buffered file, opened either for reading or for
// writing. Integers are built byte by byte on the file's buffering.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "stream/byte_stream.h"

namespace kalvora {

class FileStream : public ByteStream {
 public:
  // Closes the file if one is open; the close result is lost, so writers
  // that must know call close() first.
  ~FileStream() override;

  int32_t eof() override;
  int32_t seek(int32_t offset, bool fromEnd) override;
  int32_t tell() override;
  int32_t readByte() override;
  int32_t readWord() override;
  int32_t readDword() override;
  int32_t read(void* buffer, int32_t count) override;
  int32_t writeByte(int32_t value) override;
  int32_t writeWord(int32_t value) override;
  int32_t writeDword(int32_t value) override;
  int32_t write(const void* buffer, int32_t count) override;

  // Closes any open file, then opens path: "rb" when forReading, else "wb".
  // 0 when the file is open, -1 when not.
  virtual int32_t open(const char* path, bool forReading);

  // Writes out what is buffered and closes the file. -1 when no file is open,
  // or when any write since open, the flush or the close failed; then the
  // file's content cannot be trusted.
  int32_t close();

  // True once a read since open met an error of the file rather than its
  // end. The reads of the interface cannot tell the two apart (a missing
  // byte reads as 0xFF), so a reader that must know asks here.
  bool readFailed() const { return readError; }

  std::FILE* file = nullptr;
  bool reading = true;

 private:
  // Notes a read that delivered less than it asked for: an error of the
  // file unless its end was reached.
  void shortRead();

  // The byte writes of the interface report no error of the file; the first
  // failure is kept here and reported by close().
  bool writeFailed = false;
  bool readError = false;
};

using FileStreamOwner = std::unique_ptr<FileStream>;

// Creates a FileStream and opens path, "rb" when forReading, else "wb".
// Null when the file cannot be opened or memory runs out. The caller deletes it.
FileStream* OpenFileStream(const char* path, bool forReading);

}  // namespace kalvora
