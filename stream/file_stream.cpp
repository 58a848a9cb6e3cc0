#include "stream/file_stream.h"

#include "platform/file_system.h"
#include "stream/allocation.h"

namespace kalvora {

FileStream::~FileStream() {
  if (file != nullptr) Files().close(file);
}

int32_t FileStream::open(const char* path, bool forReading) {
  if (file != nullptr) {
    Files().close(file);
    file = nullptr;
  }
  writeFailed = false;
  readError = false;
  file = Files().open(path, forReading);
  reading = forReading;
  return file != nullptr ? 0 : -1;
}

int32_t FileStream::close() {
  if (file == nullptr) return -1;
  bool failed = writeFailed;
  if (!reading && Files().flush(file) != 0) failed = true;
  if (Files().close(file) != 0) failed = true;
  file = nullptr;
  writeFailed = false;
  readError = false;
  return failed ? -1 : 0;
}

void FileStream::shortRead() {
  if (Files().atEnd(file) == 0) readError = true;
}

int32_t FileStream::eof() {
  if (file == nullptr) return -1;
  return Files().atEnd(file) != 0 ? 1 : 0;
}

int32_t FileStream::seek(int32_t offset, bool fromEnd) {
  if (file == nullptr) return -1;
  return Files().seek(file, offset, fromEnd ? SEEK_END : SEEK_SET) == 0 ? 0 : -1;
}

int32_t FileStream::tell() {
  if (file == nullptr) return 0;
  long position = Files().tell(file);
  return position < 0 || position > INT32_MAX ? -1 : static_cast<int32_t>(position);
}

int32_t FileStream::readByte() {
  if (file == nullptr || !reading) return -1;
  int value = Files().getByte(file);
  if (value == EOF) shortRead();
  return value == EOF ? -1 : value;
}

// Word and dword reads do not refuse at the end of the file: a byte the file
// cannot supply counts as 0xFF, so a dword read there gives -1 and a word 65535.
int32_t FileStream::readWord() {
  if (file == nullptr || !reading) return -1;
  uint32_t value = 0;
  for (int i = 0; i < 2; ++i) {
    int byte = Files().getByte(file);
    if (byte == EOF) shortRead();
    value |= static_cast<uint32_t>(byte == EOF ? 0xFF : byte) << (8 * i);
  }
  return static_cast<int32_t>(value);
}

int32_t FileStream::readDword() {
  if (file == nullptr || !reading) return -1;
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    int byte = Files().getByte(file);
    if (byte == EOF) shortRead();
    value |= static_cast<uint32_t>(byte == EOF ? 0xFF : byte) << (8 * i);
  }
  return static_cast<int32_t>(value);
}

int32_t FileStream::read(void* buffer, int32_t count) {
  if (file == nullptr || !reading) return -1;
  if (count <= 0) return 0;
  std::size_t done = Files().read(file, buffer, static_cast<std::size_t>(count));
  if (done < static_cast<std::size_t>(count)) shortRead();
  return static_cast<int32_t>(done);
}

int32_t FileStream::writeByte(int32_t value) {
  if (file == nullptr || reading) return -1;
  if (Files().putByte(file, value & 0xFF) == EOF) writeFailed = true;
  return 0;
}

int32_t FileStream::writeWord(int32_t value) {
  if (file == nullptr || reading) return -1;
  for (int i = 0; i < 2; ++i) {
    if (Files().putByte(file, (value >> (8 * i)) & 0xFF) == EOF) writeFailed = true;
  }
  return 0;
}

int32_t FileStream::writeDword(int32_t value) {
  if (file == nullptr || reading) return -1;
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) {
    if (Files().putByte(file, static_cast<int>((v >> (8 * i)) & 0xFF)) == EOF) writeFailed = true;
  }
  return 0;
}

int32_t FileStream::write(const void* buffer, int32_t count) {
  if (file == nullptr || reading) return -1;
  if (count <= 0) return 0;
  std::size_t done = Files().write(file, buffer, static_cast<std::size_t>(count));
  if (done < static_cast<std::size_t>(count)) writeFailed = true;
  return static_cast<int32_t>(done);
}

FileStream* OpenFileStream(const char* path, bool forReading) {
  FileStream* stream = TryNew<FileStream>();
  if (stream == nullptr) return nullptr;
  if (stream->open(path, forReading) != 0) {
    delete stream;
    return nullptr;
  }
  return stream;
}

}  // namespace kalvora
