#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/temp_folder.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
// With AddressSanitizer (gcc says so with a macro, clang with a feature)
// its reports can be sent elsewhere than the standard error.
#if defined(__SANITIZE_ADDRESS__)
#define KALVORA_SANITIZER_REPORT_FD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KALVORA_SANITIZER_REPORT_FD 1
#endif
#endif
#ifdef KALVORA_SANITIZER_REPORT_FD
#include <sanitizer/common_interface_defs.h>
#endif
#endif

namespace kalvora::fuzz {

namespace {

#ifndef _WIN32
// The process's error output as it was before any quiet work: where broken
// properties and sanitizer reports go.
int ReportFd() {
  static const int fd = [] {
    int saved = dup(2);
#ifdef KALVORA_SANITIZER_REPORT_FD
    if (saved >= 0) {
      __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(saved)));
    }
#endif
    return saved >= 0 ? saved : 2;
  }();
  return fd;
}
#endif

}  // namespace

void PropertyBroken(const char* what) {
#ifndef _WIN32
  dprintf(ReportFd(), "property broken: %s\n", what);
#else
  std::fprintf(stderr, "property broken: %s\n", what);
  std::fflush(stderr);
#endif
  std::abort();
}

int RunQuietly(const std::function<int()>& work) {
#ifndef _WIN32
  static const int nowhere = open("/dev/null", O_WRONLY);
  static const int savedOut = dup(1);
  ReportFd();
  if (nowhere < 0 || savedOut < 0) return work();
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(nowhere, 1);
  dup2(nowhere, 2);
  int result = work();
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(savedOut, 1);
  dup2(ReportFd(), 2);
  return result;
#else
  return work();
#endif
}

OutputStream::OutputStream() {
  // One block for the whole run: allocating it for every input would cost
  // more than most inputs take.
  static std::vector<uint8_t> block(8u << 20);
  attach(block.data(), static_cast<uint32_t>(block.size()), false);
}

const std::filesystem::path& ScratchFolder() {
  static test::TempFolder folder;
  return folder.path();
}

const char* WriteScratchFile(const char* name, const uint8_t* data, std::size_t size) {
  static std::string path;
  path = (ScratchFolder() / name).string();
  std::remove(path.c_str());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr, "cannot write a scratch file");
  bool written = std::fwrite(data, 1, size, file) == size;
  Check(std::fclose(file) == 0 && written, "cannot write a scratch file");
  return path.c_str();
}

}  // namespace kalvora::fuzz
