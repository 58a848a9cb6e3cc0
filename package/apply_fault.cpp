#include "package/apply_fault.h"

namespace kalvora {

const char* DescribeApplyFault(ApplyFault fault) {
  switch (fault) {
    case ApplyFault::None:
      return "no fault";
    case ApplyFault::NoMemory:
      return "out of memory";
    case ApplyFault::UpdateFileMissing:
      return "the update file cannot be opened";
    case ApplyFault::UpdateReadFailed:
      return "the update file cannot be read";
    case ApplyFault::UpdateFileShort:
      return "the update file is cut short";
    case ApplyFault::PackageNotInflated:
      return "the update file's package does not inflate";
    case ApplyFault::NameOutside:
      return "a name reaches outside the install folder";
    case ApplyFault::NameReserved:
      return "a name ends like the applier's temporary files";
    case ApplyFault::NameUnusable:
      return "a name that Windows reads as another name or a device";
    case ApplyFault::NamesEqual:
      return "the old-copy name is the target name";
    case ApplyFault::RecordCutShort:
      return "the package ends inside a record's names";
    case ApplyFault::PayloadCutShort:
      return "the package ends inside a record's payload";
    case ApplyFault::TargetNotAFile:
      return "the target is not a file";
    case ApplyFault::TargetReadOnly:
      return "the target is read-only";
    case ApplyFault::OldCopyNotAFile:
      return "the old-copy name is taken by something not a file";
    case ApplyFault::TargetNotMoved:
      return "the target cannot be renamed to its old copy";
    case ApplyFault::OldCopyUnreadable:
      return "the old copy cannot be opened for reading";
    case ApplyFault::OldCopyReadFailed:
      return "reading the old copy failed";
    case ApplyFault::TargetNotWritable:
      return "the new file cannot be created";
    case ApplyFault::BookFailed:
      return "the book merge failed";
    case ApplyFault::WriteFailed:
      return "writing the new file failed";
    case ApplyFault::TargetNotReplaced:
      return "the new file cannot be put in place";
  }
  return "unknown fault";
}

}  // namespace kalvora
