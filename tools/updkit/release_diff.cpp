#include "tools/updkit/release_diff.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>

#include "package/package_applier.h"
#include "package/update_record.h"
#include "tools/updkit/book_diff.h"
#include "tools/updkit/output.h"
#include "tools/updkit/package_writer.h"

namespace kalvora::updkit {

namespace fs = std::filesystem;

namespace {

std::string PackageName(const std::string& relative) {
  std::string name = relative;
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

std::string Crc(const Bytes* content) {
  uLong crc = crc32(0L, Z_NULL, 0);
  if (content != nullptr) crc = crc32(crc, content->data(), static_cast<uInt>(content->size()));
  char text[9];
  std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(crc));
  return text;
}

std::string OldCopyName(const std::string& pattern, const std::string& target,
                        const Bytes* oldContent) {
  std::string name;
  for (std::size_t i = 0; i < pattern.size();) {
    if (pattern.compare(i, 6, "{name}") == 0) {
      name += target;
      i += 6;
    } else if (pattern.compare(i, 5, "{crc}") == 0) {
      name += Crc(oldContent);
      i += 5;
    } else {
      name += pattern[i++];
    }
  }
  return name;
}

std::string StreamDetail(const std::vector<UpdateStreamSummary>& streams) {
  UpdateStreamSummary total;
  int partsTouched = 0;
  for (const auto& stream : streams) {
    total.groups += stream.groups;
    total.puts += stream.puts;
    total.deletes += stream.deletes;
    partsTouched += stream.groups > 0;
  }
  std::string detail = StreamText(total.groups, total.puts, total.deletes);
  if (streams.size() > 1) detail += " in " + Count(partsTouched, "part");
  return detail;
}

// Two serialized tables, or whole files when they are no books, compare
// equal as an update must leave them.
bool SameBookContent(const Bytes& a, const Bytes& b, std::string* why) {
  FileKind kind = KindOf(b);
  if (KindOf(a) != kind) {
    *why = "the kind of file differs";
    return false;
  }
  std::vector<uint32_t> aOffsets{8};
  std::vector<uint32_t> bOffsets{8};
  if (kind == FileKind::DividedBook &&
      (!ReadPartOffsets(a, &aOffsets) || !ReadPartOffsets(b, &bOffsets))) {
    *why = "a part directory is cut short";
    return false;
  }
  for (std::size_t part = 0; part < aOffsets.size(); ++part) {
    LoadedBlock x = LoadBlock(a, aOffsets[part]);
    LoadedBlock y = LoadBlock(b, bOffsets[part]);
    bool same = x.raw.data() != nullptr && y.raw.data() != nullptr &&
                x.raw.size() == y.raw.size() &&
                std::equal(x.raw.data(), x.raw.data() + x.raw.size(), y.raw.data());
    if (!same) {
      *why = kind == FileKind::DividedBook ? "part " + std::to_string(part) + "'s table differs"
                                           : "the table differs";
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> ListFiles(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error))
      names.push_back(fs::relative(it->path(), folder).generic_string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

ReleasePlan PlanRelease(const fs::path& oldFolder, const fs::path& newFolder,
                        const MakeOptions& options) {
  ReleasePlan plan;
  std::vector<std::string> oldFiles = ListFiles(oldFolder);
  std::vector<std::string> newFiles = ListFiles(newFolder);
  std::set<std::string> oldSet(oldFiles.begin(), oldFiles.end());
  std::set<std::string> newSet(newFiles.begin(), newFiles.end());

  for (const std::string& name : oldFiles) {
    if (newSet.count(name) != 0) continue;
    plan.deleted.push_back(name);
    std::string message = name + ": deleted in the new release; an update cannot delete a file";
    if (options.ignoreDeleted) {
      plan.warnings.push_back(message + " (ignored: it stays in the install folder)");
    } else {
      plan.errors.push_back(message + " (--ignore-deleted lets it stay)");
    }
  }

  Progress progress;
  for (const std::string& name : newFiles) {
    Bytes newContent;
    std::string problem;
    if (!ReadWholeFile((newFolder / name).string(), &newContent, &problem)) {
      plan.errors.push_back(name + ": cannot be read in the new release: " + problem);
      continue;
    }
    bool existed = oldSet.count(name) != 0;
    Bytes oldContent;
    if (existed && !ReadWholeFile((oldFolder / name).string(), &oldContent, &problem)) {
      plan.errors.push_back(name + ": cannot be read in the old release: " + problem);
      continue;
    }
    if (existed && oldContent == newContent) continue;
    if (!existed) {
      fs::path parent = fs::path(name).parent_path();
      if (!parent.empty() && !fs::is_directory(oldFolder / parent)) {
        plan.errors.push_back(name + ": its folder is new, and an update cannot create folders");
        continue;
      }
    }

    PlannedRecord record;
    record.relative = name;
    record.targetName = PackageName(name);
    record.oldCopyName =
        PackageName(OldCopyName(options.oldCopyPattern, name, existed ? &oldContent : nullptr));
    record.kind = kFileReplace;
    FileKind kind = existed ? KindOf(newContent) : FileKind::Other;
    if (kind == FileKind::Book && KindOf(oldContent) == FileKind::Book) {
      BookDiff diff = DiffBlocks(LoadBlock(oldContent, 8), LoadBlock(newContent, 8));
      if (diff.expressible) {
        record.kind = kBookMerge;
        record.payload = std::move(diff.stream);
        record.streams = {diff.summary};
      } else {
        plan.warnings.push_back(name + ": replaced whole: " + diff.reason);
      }
    } else if (kind == FileKind::DividedBook && KindOf(oldContent) == FileKind::DividedBook) {
      DividedDiff diff = DiffDividedBooks(oldContent, newContent, [&](int part) {
        progress.show(name + ": part " + std::to_string(part + 1) + " of 64");
      });
      progress.done();
      if (diff.expressible) {
        record.kind = kDividedBookMerge;
        AppendDword(record.payload, 0);  // the value that nothing reads
        for (const Bytes& stream : diff.streams) {
          record.payload.insert(record.payload.end(), stream.begin(), stream.end());
        }
        record.streams = diff.parts;
      } else {
        plan.warnings.push_back(name + ": replaced whole: " + diff.reason);
      }
    }
    if (record.kind == kFileReplace) {
      record.payload = FilePayload(newContent);
      record.detail = std::to_string(newContent.size()) +
                      (newContent.size() == 1 ? " byte" : " bytes") +
                      (existed ? "" : ", a new file");
    } else {
      record.detail = StreamDetail(record.streams);
    }
    plan.records.push_back(std::move(record));
  }

  // Every name must be one an update can carry, and no old-copy name may
  // stand for anything else: a file there would be taken for the old copy.
  std::set<std::string> taken;
  for (const auto* files : {&oldFiles, &newFiles}) {
    for (const std::string& name : *files) taken.insert(PackageName(name));
  }
  for (const PlannedRecord& record : plan.records) {
    for (const std::string* name : {&record.targetName, &record.oldCopyName}) {
      if (name->size() > 254) {
        plan.errors.push_back(record.relative + ": the name \"" + *name +
                              "\" is longer than 254 bytes");
      } else if (CheckRecordName(name->c_str()) != ApplyFault::None) {
        plan.errors.push_back(record.relative + ": the name \"" + *name + "\" cannot be carried: " +
                              DescribeApplyFault(CheckRecordName(name->c_str())));
      }
    }
    for (const std::string& other : taken) {
      if (SameName(other.c_str(), record.oldCopyName.c_str())) {
        plan.errors.push_back(record.relative + ": its old-copy name \"" + record.oldCopyName +
                              "\" is taken by a file of a release (choose another --old-copy)");
      }
    }
    for (const PlannedRecord* other = plan.records.data(); other != &record; ++other) {
      if (SameName(other->oldCopyName.c_str(), record.oldCopyName.c_str())) {
        plan.errors.push_back(record.relative + ": its old-copy name \"" + record.oldCopyName +
                              "\" is the old-copy name of " + other->relative + " too");
      }
    }
  }
  return plan;
}

bool VerifyPackage(const fs::path& oldFolder, const fs::path& newFolder, const ReleasePlan& plan,
                   const Bytes& package, std::vector<std::string>* problems) {
  static std::atomic<int> serial{0};
  fs::path work = fs::temp_directory_path() /
                  ("updkit-check-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
  std::error_code error;
  fs::remove_all(work, error);
  fs::copy(oldFolder, work, fs::copy_options::recursive, error);
  if (error) {
    problems->push_back("cannot copy the old release to " + work.string() + ": " + error.message());
    fs::remove_all(work, error);
    return false;
  }

  struct Collector : ApplyObserver {
    std::vector<std::string>* problems;
    void recordDone(const RecordOutcome& outcome) override {
      if (outcome.result != kApplied) {
        problems->push_back(std::string(outcome.record.targetName) +
                            ": the applier failed: " + DescribeApplyFault(outcome.fault));
      }
    }
  } collector;
  collector.problems = problems;
  std::size_t before = problems->size();
  if (ApplyPackage(package.data(), static_cast<uint32_t>(package.size()), work.string().c_str(),
                   &collector) != kApplied &&
      problems->size() == before) {
    problems->push_back("the applier refused the package");
  }

  std::set<std::string> expectedExtra(plan.deleted.begin(), plan.deleted.end());
  for (const PlannedRecord& record : plan.records) {
    std::string oldCopy = record.oldCopyName;
    std::replace(oldCopy.begin(), oldCopy.end(), '\\', '/');
    expectedExtra.insert(oldCopy);
  }
  std::vector<std::string> newFiles = ListFiles(newFolder);
  std::set<std::string> newSet(newFiles.begin(), newFiles.end());
  for (const std::string& name : ListFiles(work)) {
    if (newSet.count(name) == 0 && expectedExtra.count(name) == 0) {
      problems->push_back(name + ": left in the install folder, but in neither release");
    }
  }
  for (const std::string& name : newFiles) {
    Bytes wanted;
    Bytes got;
    std::string why;
    if (!ReadWholeFile((newFolder / name).string(), &wanted, &why) ||
        !ReadWholeFile((work / name).string(), &got, &why)) {
      problems->push_back(name + ": missing after the update");
      continue;
    }
    if (got == wanted) continue;
    if (KindOf(wanted) == FileKind::Other || !SameBookContent(got, wanted, &why)) {
      problems->push_back(name + ": differs after the update" +
                          (why.empty() ? std::string() : " (" + why + ")"));
    }
  }
  fs::remove_all(work, error);
  return problems->size() == before;
}

}  // namespace kalvora::updkit
