#pragma once

// Keeps the library's standard-output messages out of benchmark figures.
#include <cstdio>

#include <unistd.h>

namespace bench_support {

// Sends standard output to /dev/null for its lifetime.
class SilencedStdout {
 public:
  SilencedStdout() : saved_(dup(1)) {
    std::fflush(stdout);
    std::FILE* sink = std::fopen("/dev/null", "w");
    dup2(fileno(sink), 1);
    std::fclose(sink);
  }
  ~SilencedStdout() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }
  SilencedStdout(const SilencedStdout&) = delete;
  SilencedStdout& operator=(const SilencedStdout&) = delete;

 private:
  int saved_;
};

}  // namespace bench_support
