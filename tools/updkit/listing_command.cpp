// updkit inspect: what an update file holds, checked the way apply checks it
// before touching anything.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "package/package_check.h"
#include "package/update_file.h"
#include "stream/memory_stream.h"
#include "tools/updkit/commands.h"
#include "tools/updkit/output.h"

namespace kalvora::updkit {

const char* const kInspectHelp =
    "usage: updkit inspect UPDATE_FILE [--json]\n"
    "\n"
    "Reads UPDATE_FILE and checks its package as apply does before it touches\n"
    "anything, then lists its records: the kind, the target and old-copy names, for\n"
    "a book the update groups, puts and deletes (per part for a divided book), for\n"
    "a replaced file the size of its new content. A broken file gets a message\n"
    "naming where it breaks. --json prints the same for scripts.\n"
    "\n"
    "Exit codes: 0 the file may be applied, 1 it is broken, 2 usage error.\n";

namespace {

class Collector : public PackageVisitor {
 public:
  void visit(const RecordSummary& summary) override { records.push_back(summary); }
  std::vector<RecordSummary> records;
};

UpdateStreamSummary Total(const RecordSummary& record) {
  UpdateStreamSummary total;
  int streams = record.record.kind == kDividedBookMerge ? 64 : 1;
  for (int i = 0; i < streams; ++i) {
    total.groups += record.streams[i].groups;
    total.puts += record.streams[i].puts;
    total.deletes += record.streams[i].deletes;
  }
  return total;
}

std::string Content(const RecordSummary& record) {
  if (record.record.kind == kFileReplace) {
    return std::to_string(record.contentSize) + (record.contentSize == 1 ? " byte" : " bytes");
  }
  UpdateStreamSummary total = Total(record);
  std::string text = std::to_string(total.groups) + (total.groups == 1 ? " group" : " groups");
  text += ", " + std::to_string(total.puts) + (total.puts == 1 ? " put" : " puts");
  return text + ", " + std::to_string(total.deletes) +
         (total.deletes == 1 ? " delete" : " deletes");
}

void PrintJson(const char* path, uint32_t packageSize, const std::vector<RecordSummary>& records,
               const PackageCheck& check, ApplyFault loadFault) {
  Json json;
  json.beginObject().key("file").value(path);
  json.key("ok").value(loadFault == ApplyFault::None && check.fault == ApplyFault::None);
  if (loadFault != ApplyFault::None) {
    json.key("error").value(DescribeApplyFault(loadFault)).endObject();
    std::printf("%s\n", json.text().c_str());
    return;
  }
  json.key("packageSize").value(packageSize);
  json.key("records").beginArray();
  for (const RecordSummary& record : records) {
    json.beginObject();
    json.key("index").value(record.index + 1).key("offset").value(record.offset);
    json.key("kind").value(RecordKindName(record.record.kind));
    json.key("target").value(Display(record.record.targetName));
    json.key("oldCopy").value(Display(record.record.oldCopyName));
    if (record.record.kind == kFileReplace) {
      json.key("size").value(record.contentSize);
    } else {
      UpdateStreamSummary total = Total(record);
      json.key("groups").value(total.groups).key("puts").value(total.puts);
      json.key("deletes").value(total.deletes);
      if (record.record.kind == kDividedBookMerge) {
        json.key("parts").beginArray();
        for (int part = 0; part < 64; ++part) {
          const UpdateStreamSummary& stream = record.streams[part];
          json.beginObject().key("part").value(part).key("groups").value(stream.groups);
          json.key("puts").value(stream.puts).key("deletes").value(stream.deletes).endObject();
        }
        json.endArray();
      }
    }
    json.endObject();
  }
  json.endArray();
  if (check.fault != ApplyFault::None) {
    json.key("error").beginObject();
    json.key("record").value(check.faultIndex + 1).key("offset").value(check.faultOffset);
    json.key("reason").value(DescribeApplyFault(check.fault));
    json.key("target").value(Display(check.faultRecord.targetName));
    json.endObject();
  }
  json.endObject();
  std::printf("%s\n", json.text().c_str());
}

}  // namespace

int InspectCommand(int argc, char** argv) {
  const char* path = nullptr;
  bool json = false;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (argv[i][0] == '-' || path != nullptr) {
      std::fprintf(stderr, "updkit inspect: unexpected \"%s\"\n\n%s", argv[i], kInspectHelp);
      return kExitUsage;
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr) {
    std::fprintf(stderr, "updkit inspect: expected UPDATE_FILE\n\n%s", kInspectHelp);
    return kExitUsage;
  }

  OwnedBuffer package;
  ApplyFault loadFault = ApplyFault::None;
  PackageCheck check;
  Collector collector;
  if (LoadUpdateFile(path, &package, &loadFault) == 0) {
    MemoryStream stream;
    stream.attach(package.data(), package.size(), true);
    check = CheckPackage(stream, &collector);
  }
  if (json) {
    PrintJson(path, package.size(), collector.records, check, loadFault);
  } else if (loadFault == ApplyFault::None) {
    std::printf("%s: %s, package %s\n", path, Count(collector.records.size(), "record").c_str(),
                Count(package.size(), "byte").c_str());
    Table table;
    table.row({"#", "kind", "target", "old copy", "content"});
    for (const RecordSummary& record : collector.records) {
      table.row({std::to_string(record.index + 1), RecordKindName(record.record.kind),
                 Display(record.record.targetName), Display(record.record.oldCopyName),
                 Content(record)});
      if (record.record.kind != kDividedBookMerge) continue;
      for (int part = 0; part < 64; ++part) {
        const UpdateStreamSummary& stream = record.streams[part];
        if (stream.groups == 0) continue;
        table.row({"", "", "  part " + std::to_string(part), "",
                   StreamText(stream.groups, stream.puts, stream.deletes)});
      }
    }
    if (!collector.records.empty()) table.print(stdout, "  ");
  }

  if (loadFault != ApplyFault::None) {
    std::fprintf(stderr, "updkit: %s: %s\n", path, DescribeApplyFault(loadFault));
    return kExitFailure;
  }
  if (check.fault != ApplyFault::None) {
    std::fprintf(stderr, "updkit: %s: record %d, at byte %u of the package", path,
                 check.faultIndex + 1, check.faultOffset);
    if (check.faultRecord.targetName[0] != '\0') {
      std::fprintf(stderr, " (target \"%s\")", Display(check.faultRecord.targetName).c_str());
    }
    std::fprintf(stderr, ": %s\n", DescribeApplyFault(check.fault));
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace kalvora::updkit
