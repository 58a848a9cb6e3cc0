// Why an update file could not be loaded or a package could not be applied.
#pragma once

namespace kalvora {

enum class ApplyFault {
  None,
  NoMemory,            // an allocation failed
  UpdateFileMissing,   // the update file cannot be opened for reading
  UpdateReadFailed,    // reading the update file failed (an error of the disk)
  UpdateFileShort,     // the update file ends inside its header or its compressed package
  PackageNotInflated,  // the compressed package does not inflate
  NameOutside,         // a record's name could reach outside the install folder
  NameReserved,        // a record's name ends like the applier's own temporary files
  NameUnusable,        // a record's name that Windows reads as another name or a device
  NamesEqual,          // a record's old-copy name is its target name
  RecordCutShort,      // the data ends inside a record's kind or names
  PayloadCutShort,     // the data ends inside a record's payload
  TargetNotAFile,      // a folder or a device stands under the target name
  TargetReadOnly,      // the target is marked read-only
  OldCopyNotAFile,     // a folder or a device stands under the old-copy name
  TargetNotMoved,      // the target could not be renamed to its old copy
  OldCopyUnreadable,   // a book record's old copy cannot be opened for reading
  OldCopyReadFailed,   // reading a book record's old copy failed (an error of the disk)
  TargetNotWritable,   // the new content cannot be created beside the target
  BookFailed,          // the book merge failed
  WriteFailed,         // writing the new content failed (a full disk, a write error)
  TargetNotReplaced,   // the new content could not be put under the target name
};

// One line of English naming the fault, for the toolkit's reports.
const char* DescribeApplyFault(ApplyFault fault);

}  // namespace kalvora
