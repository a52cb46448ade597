#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace bramlock_test {

// Absolute path of a file below test/fixtures/.
std::string fixturePath(const std::string& relative = "");

// The ament prefix holding the description and planning packages' share directories.
std::string amentPrefixPath();

// Redirects file descriptors 1 and 2 into temporary files, so printf, puts,
// std::cout and spdlog output are all caught. Streams are flushed around it.
class OutputCapture {
 public:
  OutputCapture();
  ~OutputCapture();
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  // Stops capturing (idempotent) and returns what was written.
  const std::string& out();
  const std::string& err();

 private:
  void finish();

  int saved_out_ = -1;
  int saved_err_ = -1;
  std::FILE* out_file_ = nullptr;
  std::FILE* err_file_ = nullptr;
  bool finished_ = false;
  std::string out_;
  std::string err_;
};

struct ChildResult {
  int exit_code = -1;  // exit status of the child, or 128 + signal number
  std::string out;     // everything the child wrote to standard output
  std::string err;     // everything the child wrote to standard error
};

// Variable name -> value; std::nullopt unsets the variable.
using Environment = std::map<std::string, std::optional<std::string>>;

// Runs body in a forked child with the given environment changes and returns
// its exit code (body's return value) and output. Needed wherever a
// process-wide singleton reads the environment once.
ChildResult runInChild(const Environment& environment, const std::function<int()>& body);

// Sets (or unsets) environment variables for a scope and restores them after.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const Environment& environment);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  Environment previous_;
};

// A fresh temporary directory, removed with everything in it at scope end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Writes text into a file, creating parent directories.
void writeFile(const std::filesystem::path& path, const std::string& text);
// The file's whole content; empty when it cannot be read.
std::string fileText(const std::string& path);

}  // namespace bramlock_test
