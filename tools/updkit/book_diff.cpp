#include "tools/updkit/book_diff.h"

#include <algorithm>
#include <utility>

#include "book/divided_book.h"
#include "stream/memory_stream.h"
#include "tools/updkit/package_writer.h"

namespace kalvora::updkit {

namespace {

using Node = std::pair<uint64_t, const BookNode*>;

uint64_t KeyValue(const BookNode& node) {
  return (uint64_t{node.keyHigh} << 32) | node.keyLow;
}

// Every node of a table, in ascending key order.
std::vector<Node> SortedNodes(const BookTable& table) {
  std::vector<Node> nodes;
  nodes.reserve(static_cast<std::size_t>(table.nodeCount));
  for (int32_t bucket = 0; bucket < table.bucketCount; ++bucket) {
    for (const BookNode* node = table.chainHeads[bucket]; node != nullptr; node = node->next) {
      nodes.emplace_back(KeyValue(*node), node);
    }
  }
  std::sort(nodes.begin(), nodes.end(),
            [](const Node& a, const Node& b) { return a.first < b.first; });
  return nodes;
}

bool SameEntry(const BookEntry& a, const BookEntry& b) {
  return a.first == b.first && a.second == b.second;
}

const BookEntry* FindMove(const BookNode& node, uint16_t code) {
  for (int32_t e = 0; e < node.entryCount; ++e) {
    if (MoveCode(node.entries[e]) == code) return &node.entries[e];
  }
  return nullptr;
}

BookKey KeyOf(const BookNode& node) {
  return {node.keyLow, node.keyHigh};
}

BookEntry DeleteItemFor(uint16_t code) {
  return {0xFFFF0000u | code, 0xFFFFFFFFu};
}

BookDiff NotExpressible(std::string reason) {
  BookDiff diff;
  diff.reason = std::move(reason);
  return diff;
}

}  // namespace

BookDiff DiffBlocks(const LoadedBlock& oldBlock, const LoadedBlock& newBlock) {
  if (!oldBlock.ok()) return NotExpressible("the old book does not load: " + oldBlock.problem);
  if (!newBlock.ok()) return NotExpressible("the new book does not load: " + newBlock.problem);
  const BookTable& oldTable = *oldBlock.table;
  const BookTable& newTable = *newBlock.table;
  if (oldTable.bucketCount != newTable.bucketCount) {
    return NotExpressible("the bucket count changed from " + std::to_string(oldTable.bucketCount) +
                          " to " + std::to_string(newTable.bucketCount));
  }
  std::vector<Node> oldNodes = SortedNodes(oldTable);
  std::vector<Node> newNodes = SortedNodes(newTable);
  for (const Node& node : newNodes) {
    for (int32_t e = 1; e < node.second->entryCount; ++e) {
      if (MoveCode(node.second->entries[e - 1]) > MoveCode(node.second->entries[e])) {
        return NotExpressible("the entries of key " + KeyText(KeyOf(*node.second)) +
                              " are not in move-code order");
      }
    }
  }

  // Keys that went are deleted first, then the others change in key order,
  // each with its deletes before its puts, so that no node or chain ever
  // holds more than the new book does.
  std::vector<std::pair<BookKey, std::vector<BookEntry>>> gone;
  std::vector<std::pair<BookKey, std::vector<BookEntry>>> changed;
  std::size_t o = 0;
  std::size_t n = 0;
  while (o < oldNodes.size() || n < newNodes.size()) {
    const BookNode* before = nullptr;
    const BookNode* after = nullptr;
    if (n == newNodes.size() || (o < oldNodes.size() && oldNodes[o].first < newNodes[n].first)) {
      before = oldNodes[o++].second;
    } else if (o == oldNodes.size() || newNodes[n].first < oldNodes[o].first) {
      after = newNodes[n++].second;
    } else {
      before = oldNodes[o++].second;
      after = newNodes[n++].second;
    }
    std::vector<BookEntry> items;
    if (before != nullptr) {
      for (int32_t e = 0; e < before->entryCount; ++e) {
        uint16_t code = MoveCode(before->entries[e]);
        if (after == nullptr || FindMove(*after, code) == nullptr)
          items.push_back(DeleteItemFor(code));
      }
    }
    if (after != nullptr) {
      for (int32_t e = 0; e < after->entryCount; ++e) {
        const BookEntry& entry = after->entries[e];
        const BookEntry* was = before != nullptr ? FindMove(*before, MoveCode(entry)) : nullptr;
        if (was != nullptr && SameEntry(*was, entry)) continue;
        if (IsDeleteItem(entry)) {
          return NotExpressible("an entry of key " + KeyText(KeyOf(*after)) +
                                " reads as a delete item and cannot be put by an update");
        }
        items.push_back(entry);
      }
    }
    if (items.empty()) continue;
    BookKey key = KeyOf(before != nullptr ? *before : *after);
    if (!IsGroupKeyLow(key.low)) {
      return NotExpressible("key " + KeyText(key) + " changes, and an update cannot name a key " +
                            "whose low word is below 64 or 0xFFFFFFFF");
    }
    (after == nullptr ? gone : changed).emplace_back(key, std::move(items));
  }

  UpdateStreamWriter writer;
  BookDiff diff;
  for (auto* groups : {&gone, &changed}) {
    for (const auto& [key, items] : *groups) writer.group(key, items);
  }
  diff.stream = writer.finish();

  // The merge, with the engine's own code, must give the new table exactly.
  OwnedBuffer copy;
  if (!copy.allocate(oldBlock.raw.size())) return NotExpressible("out of memory");
  std::copy(oldBlock.raw.data(), oldBlock.raw.data() + oldBlock.raw.size(), copy.data());
  BookTableOwner merged = LoadBookTable(copy.data(), copy.size());
  MemoryStream stream;
  stream.attach(diff.stream.data(), static_cast<uint32_t>(diff.stream.size()), true);
  BookFault fault = BookFault::None;
  if (merged == nullptr || !ApplyUpdateStream(stream, *merged, &fault)) {
    return NotExpressible(std::string("the merge refuses the update: ") + DescribeBookFault(fault));
  }
  SortBookEntries(*merged);
  Bytes serialized(SerializedTableSize(*merged));
  SaveBookTable(*merged, serialized.data(), static_cast<uint32_t>(serialized.size()));
  if (serialized.size() != newBlock.raw.size() ||
      !std::equal(serialized.begin(), serialized.end(), newBlock.raw.data())) {
    return NotExpressible(
        "a merge cannot give the new table byte for byte (it holds bytes a saved table does not)");
  }
  stream.seek(0, false);
  SkipBookUpdateStream(stream, &diff.summary);
  diff.expressible = true;
  return diff;
}

DividedDiff DiffDividedBooks(const Bytes& oldFile, const Bytes& newFile,
                             const std::function<void(int)>& progress) {
  DividedDiff diff;
  std::vector<uint32_t> oldOffsets;
  std::vector<uint32_t> newOffsets;
  if (!ReadPartOffsets(oldFile, &oldOffsets)) {
    diff.reason = "the old divided book is shorter than its part directory";
    return diff;
  }
  if (!ReadPartOffsets(newFile, &newOffsets)) {
    diff.reason = "the new divided book is shorter than its part directory";
    return diff;
  }
  for (int32_t part = 0; part < kDividedBookParts; ++part) {
    if (oldOffsets[part] < static_cast<uint32_t>(kFirstPartOffset)) {
      diff.reason =
          "part " + std::to_string(part) + " of the old divided book lies inside its directory";
      return diff;
    }
    BookDiff partDiff =
        DiffBlocks(LoadBlock(oldFile, oldOffsets[part]), LoadBlock(newFile, newOffsets[part]));
    if (!partDiff.expressible) {
      diff.reason = "part " + std::to_string(part) + ": " + partDiff.reason;
      return diff;
    }
    diff.streams.push_back(std::move(partDiff.stream));
    diff.parts.push_back(partDiff.summary);
    if (progress) progress(part);
  }
  diff.expressible = true;
  return diff;
}

}  // namespace kalvora::updkit
