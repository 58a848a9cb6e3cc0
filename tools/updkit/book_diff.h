// The difference between two books as the book update stream that turns
// the old one into the new one, and what an update cannot express.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "book/book_merge.h"
#include "tools/updkit/book_file.h"

namespace kalvora::updkit {

struct BookDiff {
  bool expressible = false;
  std::string reason;  // why not, when not
  Bytes stream;        // the update stream, when expressible
  UpdateStreamSummary summary;
};

// Diffs two loaded blocks key by key: deletes for moves that went, puts for
// moves that came or changed. Not expressible when a block did not load, the
// bucket count changed, a node of the new book is not in move-code order, a
// key to be named has a low word below 64 or of 0xFFFFFFFF, an entry to be
// put looks like a delete item, or the merge of the stream into the old
// table, done with the engine's own code, does not give the new table byte
// for byte.
BookDiff DiffBlocks(const LoadedBlock& oldBlock, const LoadedBlock& newBlock);

// Diffs two divided books part by part: one stream per part, or the first
// part's reason why not. progress is told of each part done.
struct DividedDiff {
  bool expressible = false;
  std::string reason;
  std::vector<Bytes> streams;              // 64 of them
  std::vector<UpdateStreamSummary> parts;  // 64 of them
};
DividedDiff DiffDividedBooks(const Bytes& oldFile, const Bytes& newFile,
                             const std::function<void(int)>& progress = nullptr);

}  // namespace kalvora::updkit
