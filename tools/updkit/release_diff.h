// The update between two releases of a product's install folder: which file
// becomes which record, and what an update file cannot express.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "book/book_merge.h"
#include "tools/updkit/book_file.h"

namespace kalvora::updkit {

struct MakeOptions {
  // The old-copy name of a record: {name} is the target's name, {crc} eight
  // hex digits of the CRC-32 of the target's content in the old release (of
  // no content for a new file). The CRC keeps old copies of different
  // releases apart, and a name stays with the content it holds.
  std::string oldCopyPattern = "{name}.{crc}.old";
  // Deleted files are reported; they fail make unless this is set.
  bool ignoreDeleted = false;
};

struct PlannedRecord {
  int32_t kind = 0;
  std::string targetName;  // as in the package: backslashes, code page 932
  std::string oldCopyName;
  std::string relative;  // the file's name under the folders, with '/'
  Bytes payload;
  std::string detail;                        // what the record holds, in words
  std::vector<UpdateStreamSummary> streams;  // book records: per stream
};

struct ReleasePlan {
  std::vector<PlannedRecord> records;
  std::vector<std::string> warnings;  // "name: reason"
  std::vector<std::string> errors;    // "name: reason"; make fails
  std::vector<std::string> deleted;   // names under the old folder only
};

// Compares the folders and plans one record per new or changed file, in
// name order.
ReleasePlan PlanRelease(const std::filesystem::path& oldFolder,
                        const std::filesystem::path& newFolder, const MakeOptions& options);

// Applies the package to a copy of the old folder with the applier itself,
// and checks that every file then equals the new folder's (books and
// divided books compared as their inflated tables) and that nothing else is
// there but old copies and ignored deletions. Differences go to problems.
bool VerifyPackage(const std::filesystem::path& oldFolder, const std::filesystem::path& newFolder,
                   const ReleasePlan& plan, const Bytes& package,
                   std::vector<std::string>* problems);

// The files under a folder, by name with '/', in name order.
std::vector<std::string> ListFiles(const std::filesystem::path& folder);

}  // namespace kalvora::updkit
