#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace plan_demo {

// Sends everything written to standard output (the library's console lines and
// log) into a file while it lives, and keeps a stream to the original terminal
// for the summary.
class ConsoleRedirect {
 public:
  // Nothing when the file cannot be opened.
  static std::unique_ptr<ConsoleRedirect> toFile(const std::string& path);
  ~ConsoleRedirect();
  ConsoleRedirect(const ConsoleRedirect&) = delete;
  ConsoleRedirect& operator=(const ConsoleRedirect&) = delete;

  FILE* terminal() const { return terminal_; }

 private:
  ConsoleRedirect(int saved_stdout, FILE* terminal) : saved_stdout_(saved_stdout), terminal_(terminal) {}

  int saved_stdout_;
  FILE* terminal_;
};

}  // namespace plan_demo
