#include "console_redirect.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>

namespace plan_demo {
namespace {

void flushStandardOutput() {
  std::cout.flush();
  std::fflush(stdout);
}

}  // namespace

std::unique_ptr<ConsoleRedirect> ConsoleRedirect::toFile(const std::string& path) {
  const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (file < 0) return nullptr;
  flushStandardOutput();
  const int saved = ::dup(STDOUT_FILENO);
  const int terminal_copy = saved < 0 ? -1 : ::dup(saved);
  FILE* terminal = terminal_copy < 0 ? nullptr : ::fdopen(terminal_copy, "w");
  if (!terminal || ::dup2(file, STDOUT_FILENO) < 0) {
    if (terminal) {
      std::fclose(terminal);
    } else if (terminal_copy >= 0) {
      ::close(terminal_copy);
    }
    if (saved >= 0) ::close(saved);
    ::close(file);
    return nullptr;
  }
  ::close(file);
  return std::unique_ptr<ConsoleRedirect>(new ConsoleRedirect(saved, terminal));
}

ConsoleRedirect::~ConsoleRedirect() {
  flushStandardOutput();
  std::fflush(terminal_);
  ::dup2(saved_stdout_, STDOUT_FILENO);
  ::close(saved_stdout_);
  std::fclose(terminal_);
}

}  // namespace plan_demo
