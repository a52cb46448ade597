#pragma once

// Keeps the library's standard-output messages out of benchmark figures.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace bench_support {

// Sends standard output to /dev/null for its lifetime. Both streams are
// flushed on either side so no line lands on the wrong descriptor.
class SilencedStdout {
 public:
  SilencedStdout() {
    flushBoth();
    saved_ = dup(STDOUT_FILENO);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    close(null_fd);
  }
  ~SilencedStdout() {
    flushBoth();
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  SilencedStdout(const SilencedStdout&) = delete;
  SilencedStdout& operator=(const SilencedStdout&) = delete;

 private:
  static void flushBoth() {
    std::cout.flush();
    std::fflush(stdout);
  }

  int saved_;
};

}  // namespace bench_support
