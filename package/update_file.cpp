#include "package/update_file.h"

#include "stream/allocation.h"
#include "stream/file_stream.h"
#include "stream/zlib_block.h"

namespace kalvora {

namespace {

int32_t Fail(OwnedBuffer* package, ApplyFault* fault, ApplyFault reason) {
  package->reset();
  if (fault != nullptr) *fault = reason;
  return -1;
}

}  // namespace

int32_t LoadUpdateFile(const char* path, OwnedBuffer* package, ApplyFault* fault) {
  FileStreamOwner file(TryNew<FileStream>());
  if (file == nullptr) return Fail(package, fault, ApplyFault::NoMemory);
  if (file->open(path, true) != 0) return Fail(package, fault, ApplyFault::UpdateFileMissing);
  int64_t left = RemainingBytes(*file);
  if (left < 8) return Fail(package, fault, ApplyFault::UpdateFileShort);
  uint32_t compressedLength = static_cast<uint32_t>(file->readDword());  // compressed length
  uint32_t rawLength = static_cast<uint32_t>(file->readDword());         // raw length
  if (file->readFailed()) return Fail(package, fault, ApplyFault::UpdateReadFailed);
  if (compressedLength > left - 8) return Fail(package, fault, ApplyFault::UpdateFileShort);

  switch (InflateFromStream(*file, compressedLength, rawLength, package)) {
    case InflateResult::Done:
      break;
    case InflateResult::NoMemory:
      return Fail(package, fault, ApplyFault::NoMemory);
    case InflateResult::NotInflated:
      return Fail(package, fault, ApplyFault::PackageNotInflated);
    case InflateResult::ReadFailed:
      return Fail(package, fault,
                  file->readFailed() ? ApplyFault::UpdateReadFailed : ApplyFault::UpdateFileShort);
  }
  if (fault != nullptr) *fault = ApplyFault::None;
  return 0;
}

}  // namespace kalvora
