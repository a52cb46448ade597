#include "test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

namespace bramlock_test {
namespace {

void flushAll() {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
}

std::string readAll(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[4096];
  size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, count);
  return text;
}

std::optional<std::string> currentValue(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void applyEnvironment(const Environment& environment) {
  for (const auto& [name, value] : environment) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
}

}  // namespace

std::string fixturePath(const std::string& relative) {
  const std::string root = BRAMLOCK_TEST_FIXTURES_DIR;
  return relative.empty() ? root : root + "/" + relative;
}

std::string amentPrefixPath() { return fixturePath("ament_prefix"); }

OutputCapture::OutputCapture() {
  flushAll();
  out_file_ = std::tmpfile();
  err_file_ = std::tmpfile();
  if (out_file_ == nullptr || err_file_ == nullptr) throw std::runtime_error("cannot create capture files");
  saved_out_ = ::dup(STDOUT_FILENO);
  saved_err_ = ::dup(STDERR_FILENO);
  ::dup2(::fileno(out_file_), STDOUT_FILENO);
  ::dup2(::fileno(err_file_), STDERR_FILENO);
}

OutputCapture::~OutputCapture() {
  finish();
  std::fclose(out_file_);
  std::fclose(err_file_);
}

void OutputCapture::finish() {
  if (finished_) return;
  finished_ = true;
  flushAll();
  ::dup2(saved_out_, STDOUT_FILENO);
  ::dup2(saved_err_, STDERR_FILENO);
  ::close(saved_out_);
  ::close(saved_err_);
  out_ = readAll(out_file_);
  err_ = readAll(err_file_);
}

const std::string& OutputCapture::out() {
  finish();
  return out_;
}

const std::string& OutputCapture::err() {
  finish();
  return err_;
}

ChildResult runInChild(const Environment& environment, const std::function<int()>& body) {
  std::FILE* out_file = std::tmpfile();
  std::FILE* err_file = std::tmpfile();
  flushAll();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(::fileno(out_file), STDOUT_FILENO);
    ::dup2(::fileno(err_file), STDERR_FILENO);
    applyEnvironment(environment);
    int code = 0;
    try {
      code = body();
    } catch (const std::exception& error) {
      std::cerr << "uncaught exception: " << error.what() << std::endl;
      code = 99;
    }
    flushAll();
    // Skip static destructors of the test binary: they belong to the parent.
    std::quick_exit(code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ChildResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readAll(out_file);
  result.err = readAll(err_file);
  std::fclose(out_file);
  std::fclose(err_file);
  return result;
}

ScopedEnvironment::ScopedEnvironment(const Environment& environment) {
  for (const auto& entry : environment) previous_[entry.first] = currentValue(entry.first);
  applyEnvironment(environment);
}

ScopedEnvironment::~ScopedEnvironment() { applyEnvironment(previous_); }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "bramlock_test_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream stream(path, std::ios::binary);
  stream << text;
  if (!stream) throw std::runtime_error("cannot write " + path.string());
}

std::string fileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace bramlock_test
