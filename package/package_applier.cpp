#include "package/package_applier.h"

#include "book/book_merge.h"
#include "book/divided_book.h"
#include "package/package_check.h"
#include "stream/file_stream.h"
#include "stream/memory_stream.h"
#include "stream/owned_buffer.h"
#include "stream/text_buffer.h"

namespace kalvora {

namespace {

// The magic that begins a book file and a divided book file.
constexpr char kBookMagic[8] = {'Z', 'u', 'D', 'a', 'V', 'o', '5', '\0'};
constexpr char kDividedBookMagic[8] = {'J', 'S', 'K', 'D', 'I', 'V', '1', '\0'};

int32_t Fail(RecordOutcome& outcome, int32_t result, ApplyFault fault,
             FileError error = FileError::None) {
  outcome.result = result;
  outcome.fault = fault;
  outcome.fileError = error;
  return result;
}

// The three paths of one record.
struct RecordPaths {
  TextBuffer oldCopy;
  TextBuffer target;
  TextBuffer temporary;  // the target's name with kTemporarySuffix
  TextBuffer setAside;   // the target's name with kSetAsideSuffix

  bool make(const char* folder, const UpdateRecord& record) {
    return MakeRecordPath(oldCopy, folder, record.oldCopyName) == 0 &&
           MakeRecordPath(target, folder, record.targetName) == 0 &&
           temporary.append(target.chars) == 0 && temporary.append(kTemporarySuffix) == 0 &&
           setAside.append(target.chars) == 0 && setAside.append(kSetAsideSuffix) == 0;
  }
};

// Writes the record's new content to the temporary file and closes it.
int32_t WriteNewContent(ByteStream& package, const RecordPaths& paths, RecordOutcome& outcome) {
  int32_t kind = outcome.record.kind;
  FileSystem& files = Files();
  FileStreamOwner source;
  if (kind != kFileReplace) {
    source.reset(OpenFileStream(paths.oldCopy.chars, true));
    if (source == nullptr)
      return Fail(outcome, kApplyRefused, ApplyFault::OldCopyUnreadable, files.lastError());
  }
  FileStreamOwner temporary(OpenFileStream(paths.temporary.chars, false));
  if (temporary == nullptr) {
    return Fail(outcome, kTargetFailed, ApplyFault::TargetNotWritable, files.lastError());
  }

  if (kind == kFileReplace) {
    if (ReplaceFile(package, source.get(), *temporary) != 0) {
      return Fail(outcome, kTargetFailed, ApplyFault::WriteFailed, files.lastError());
    }
  } else {
    // The old copy's magic is passed over without a look; the new file gets
    // the magic of the record's kind.
    uint8_t magic[8];
    source->read(magic, 8);
    temporary->write(kind == kBookMerge ? kBookMagic : kDividedBookMagic, 8);
    BookFault bookFault = BookFault::None;
    bool merged =
        kind == kBookMerge
            ? MergeBook(package, *source, *temporary, &bookFault) != kMergeFailed
            : MergeDividedBook(package, *source, *temporary, &bookFault, &outcome.part) == 0;
    // A read error of the old copy shows in the merge as a damaged book;
    // it is the disk's fault, and nothing merged from it can be trusted.
    if (source->readFailed()) {
      outcome.part = -1;
      return Fail(outcome, kApplyRefused, ApplyFault::OldCopyReadFailed, files.lastError());
    }
    if (!merged) {
      outcome.bookFault = bookFault;
      if (bookFault == BookFault::WriteFailed) {
        return Fail(outcome, kTargetFailed, ApplyFault::WriteFailed, files.lastError());
      }
      return Fail(outcome, kApplyRefused, ApplyFault::BookFailed);
    }
  }
  if (temporary->close() != 0) {
    return Fail(outcome, kTargetFailed, ApplyFault::WriteFailed, files.lastError());
  }
  return kApplied;
}

// Puts the new content, whole in the temporary file, under the target's
// name. A target that is still there is the output of an earlier
// application (its old copy stays): it is set aside until the new content
// is in place, so that a failure leaves it as it was.
int32_t PutInPlace(const RecordPaths& paths, bool renamed, RecordOutcome& outcome) {
  FileSystem& files = Files();
  // A set-aside target left by an application that stopped half-way is an
  // earlier output too; the old copy holds the content from before. One that
  // cannot be removed makes the set-aside rename below fail.
  if (files.pathKind(paths.setAside.chars) == PathKind::File) files.remove(paths.setAside.chars);
  bool setAside = false;
  if (!renamed && files.pathKind(paths.target.chars) != PathKind::Missing) {
    if (files.renameNoReplace(paths.target.chars, paths.setAside.chars) != 0) {
      return Fail(outcome, kTargetFailed, ApplyFault::TargetNotReplaced, files.lastError());
    }
    setAside = true;
  }
  if (files.renameNoReplace(paths.temporary.chars, paths.target.chars) != 0) {
    FileError error = files.lastError();
    if (setAside) files.renameNoReplace(paths.setAside.chars, paths.target.chars);
    return Fail(outcome, kTargetFailed, ApplyFault::TargetNotReplaced, error);
  }
  // The earlier output is done with; one that cannot be removed now goes
  // with the next application.
  if (setAside) files.remove(paths.setAside.chars);
  return kApplied;
}

// Applies one record whose kind and names have been read; the package
// stands at its payload.
int32_t ApplyRecord(ByteStream& package, const char* folder, RecordOutcome& outcome) {
  RecordPaths paths;
  if (!paths.make(folder, outcome.record))
    return Fail(outcome, kApplyRefused, ApplyFault::NoMemory);
  FileSystem& files = Files();
  PathKind target = files.pathKind(paths.target.chars);
  PathKind oldCopy = files.pathKind(paths.oldCopy.chars);
  if (target == PathKind::Folder || target == PathKind::Other) {
    return Fail(outcome, kTargetFailed, ApplyFault::TargetNotAFile);
  }
  if (target == PathKind::ReadOnlyFile)
    return Fail(outcome, kTargetFailed, ApplyFault::TargetReadOnly);
  if (oldCopy == PathKind::Folder || oldCopy == PathKind::Other) {
    return Fail(outcome, kApplyRefused, ApplyFault::OldCopyNotAFile);
  }

  // The target's content is set aside under the old-copy name. When a file
  // already holds that name, the update was applied before: that file is
  // the content from before the first application, and it stays untouched.
  // The target is then rebuilt from it, and replaced only once the new
  // content is whole. A target that cannot be set aside is not touched.
  bool renamed = false;
  if (target == PathKind::File && oldCopy == PathKind::Missing) {
    if (files.renameNoReplace(paths.target.chars, paths.oldCopy.chars) != 0) {
      return Fail(outcome, kTargetFailed, ApplyFault::TargetNotMoved, files.lastError());
    }
    renamed = true;
  }

  int32_t result = WriteNewContent(package, paths, outcome);
  if (result == kApplied) result = PutInPlace(paths, renamed, outcome);
  if (result != kApplied) {
    // The target goes back to what it was before this record.
    files.remove(paths.temporary.chars);
    if (renamed) files.renameNoReplace(paths.oldCopy.chars, paths.target.chars);
  }
  return result;
}

}  // namespace

int32_t ReplaceFile(ByteStream& package, ByteStream* /*oldCopy*/, ByteStream& target) {
  int64_t left = RemainingBytes(package);
  if (left < 4) return -1;
  uint32_t length = static_cast<uint32_t>(package.readDword());  // content length
  if (length > left - 4) return -1;
  OwnedBuffer content;
  if (!content.allocate(length)) return -1;
  auto count = static_cast<int32_t>(length);
  if (package.read(content.data(), count) != count) return -1;
  return target.write(content.data(), count) == count ? 0 : -1;
}

int32_t ApplyRecords(ByteStream& package, const char* baseFolder, ApplyObserver* observer) {
  int32_t start = package.tell();
  PackageCheck check = CheckPackage(package);
  if (check.fault != ApplyFault::None) {
    RecordOutcome refused;
    refused.index = check.faultIndex;
    refused.record = check.faultRecord;
    refused.packageRefused = true;
    Fail(refused, kApplyRefused, check.fault);
    if (observer != nullptr) observer->recordDone(refused);
    return kApplyRefused;
  }
  package.seek(start, false);
  for (int32_t index = 0; index < check.records; ++index) {
    RecordOutcome outcome;
    outcome.index = index;
    // The walk has read these records already; they start the same now.
    ReadRecordStart(package, &outcome.record);
    int32_t result = ApplyRecord(package, baseFolder, outcome);
    if (observer != nullptr) observer->recordDone(outcome);
    if (result != kApplied) return result;
  }
  return kApplied;
}

int32_t ApplyPackage(const uint8_t* package, uint32_t size, const char* installFolder,
                     ApplyObserver* observer) {
  MemoryStreamOwner stream(OpenMemoryStream(const_cast<uint8_t*>(package), size, true));
  if (stream == nullptr) {
    if (observer != nullptr) {
      RecordOutcome refused;
      refused.packageRefused = true;
      Fail(refused, kApplyRefused, ApplyFault::NoMemory);
      observer->recordDone(refused);
    }
    return kApplyRefused;
  }
  return ApplyRecords(*stream, installFolder, observer);
}

}  // namespace kalvora
