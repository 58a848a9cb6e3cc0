// Replays a fuzz target's saved corpus as an ordinary test: every file of
// the folders (or the files) named on the command line goes to the target
// once, in name order. A broken property or a sanitizer report ends the
// program as a crash would; a missing or empty corpus is a failure too.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> ReadInput(const std::filesystem::path& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER_OR_FILE...\n", argv[0]);
    return 2;
  }
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path named(argv[i]);
    std::error_code error;
    if (std::filesystem::is_directory(named, error)) {
      for (const auto& entry : std::filesystem::directory_iterator(named, error)) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
    } else if (std::filesystem::is_regular_file(named, error)) {
      inputs.push_back(named);
    }
    if (error) {
      std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  std::sort(inputs.begin(), inputs.end());
  for (const auto& path : inputs) {
    bool ok = false;
    std::vector<uint8_t> input = ReadInput(path, &ok);
    if (!ok) {
      std::fprintf(stderr, "%s: cannot be read\n", path.string().c_str());
      return 1;
    }
    // As the fuzzer does, the input goes in a block of exactly its size
    // (never null, even when empty), so that a read past its end is caught.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[input.size()]);
    std::copy(input.begin(), input.end(), exact.get());
    LLVMFuzzerTestOneInput(exact.get(), input.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}
