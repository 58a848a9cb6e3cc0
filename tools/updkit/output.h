// Output of updkit: aligned tables for people, JSON for scripts, progress on
// a terminal only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kalvora::updkit {

// A text in code page 932 (names in packages and folders) as UTF-8 for
// output; bytes that are no code page 932 character become '?'.
std::string Display(const std::string& cp932);

// "book", "divided book" or "file" for a record's kind.
const char* RecordKindName(int32_t kind);

// "1 group", "2 groups"; "1 entry", "2 entries" with the plural given.
std::string Count(uint64_t number, const char* word, const char* plural = nullptr);

// What a book update stream holds, in words: "2 groups, 3 puts, 1 delete".
std::string StreamText(uint64_t groups, uint64_t puts, uint64_t deletes);

// Rows of cells printed with every column as wide as its widest cell.
class Table {
 public:
  void row(std::vector<std::string> cells);
  void print(std::FILE* out, const char* indent = "") const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

// A minimal JSON writer: objects, arrays, strings, numbers, booleans.
class Json {
 public:
  Json& beginObject();
  Json& endObject();
  Json& beginArray();
  Json& endArray();
  Json& key(const char* name);
  Json& value(const std::string& text);
  Json& value(const char* text) { return value(std::string(text)); }
  Json& value(uint64_t number);
  Json& value(int64_t number);
  Json& value(uint32_t number) { return value(static_cast<uint64_t>(number)); }
  Json& value(int32_t number) { return value(static_cast<int64_t>(number)); }
  Json& value(bool flag);
  Json& null();
  const std::string& text() const { return text_; }

 private:
  void separate();
  std::string text_;
  std::vector<bool> first_;  // per open container: nothing written in it yet
  bool afterKey_ = false;
};

// Progress of long work, shown on a terminal and nowhere else.
class Progress {
 public:
  Progress();
  ~Progress();
  void show(const std::string& text);
  void done();

 private:
  bool shown_ = false;
  bool terminal_ = false;
};

}  // namespace kalvora::updkit
