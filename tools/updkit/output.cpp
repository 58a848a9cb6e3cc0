#include "tools/updkit/output.h"

#include <unistd.h>

#include <algorithm>
#include <cinttypes>

#include "package/update_record.h"
#include "platform/text_encoding.h"

namespace kalvora::updkit {

std::string Display(const std::string& cp932) {
  return Cp932ToUtf8(cp932.c_str());
}

namespace {
// Columns of a UTF-8 text: one per character (wide characters are rare in
// names and do not line up on every terminal anyway).
std::size_t Columns(const std::string& text) {
  std::size_t columns = 0;
  for (unsigned char c : text) columns += (c & 0xC0) != 0x80;
  return columns;
}
}  // namespace

const char* RecordKindName(int32_t kind) {
  switch (kind) {
    case kBookMerge:
      return "book";
    case kDividedBookMerge:
      return "divided book";
    case kFileReplace:
      return "file";
    default:
      return "record";
  }
}

std::string Count(uint64_t number, const char* word, const char* plural) {
  if (number == 1) return "1 " + std::string(word);
  return std::to_string(number) + " " + (plural != nullptr ? plural : std::string(word) + "s");
}

std::string StreamText(uint64_t groups, uint64_t puts, uint64_t deletes) {
  return Count(groups, "group") + ", " + Count(puts, "put") + ", " + Count(deletes, "delete");
}

void Table::row(std::vector<std::string> cells) {
  rows_.push_back(std::move(cells));
}

void Table::print(std::FILE* out, const char* indent) const {
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Columns(row[i]));
  }
  for (const auto& row : rows_) {
    std::string line = indent;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - Columns(row[i]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::fprintf(out, "%s\n", line.c_str());
  }
}

void Json::separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) text_ += ',';
    first_.back() = false;
  }
}

Json& Json::beginObject() {
  separate();
  text_ += '{';
  first_.push_back(true);
  return *this;
}

Json& Json::endObject() {
  text_ += '}';
  first_.pop_back();
  return *this;
}

Json& Json::beginArray() {
  separate();
  text_ += '[';
  first_.push_back(true);
  return *this;
}

Json& Json::endArray() {
  text_ += ']';
  first_.pop_back();
  return *this;
}

Json& Json::key(const char* name) {
  value(std::string(name));
  text_ += ':';
  afterKey_ = true;
  return *this;
}

Json& Json::value(const std::string& text) {
  separate();
  text_ += '"';
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      text_ += '\\';
      text_ += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      text_ += escaped;
    } else {
      text_ += static_cast<char>(c);
    }
  }
  text_ += '"';
  return *this;
}

Json& Json::value(uint64_t number) {
  separate();
  text_ += std::to_string(number);
  return *this;
}

Json& Json::value(int64_t number) {
  separate();
  text_ += std::to_string(number);
  return *this;
}

Json& Json::value(bool flag) {
  separate();
  text_ += flag ? "true" : "false";
  return *this;
}

Json& Json::null() {
  separate();
  text_ += "null";
  return *this;
}

Progress::Progress() : terminal_(isatty(fileno(stderr)) != 0) {}

Progress::~Progress() {
  done();
}

void Progress::show(const std::string& text) {
  if (!terminal_) return;
  std::fprintf(stderr, "\r\033[K%s", text.c_str());
  std::fflush(stderr);
  shown_ = true;
}

void Progress::done() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace kalvora::updkit
