#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include <fmt/format.h>
#include <spdlog/logger.h>

#include "bramlock_arm_planning_core/export.h"

namespace bramlock {

// Process-wide logger over spdlog, configured once from SPDLOG_STDOUT,
// SPDLOG_SYSTEMD and SPDLOG_LEVEL. Log statements use the BRAMLOCK_INFO,
// BRAMLOCK_WARN and BRAMLOCK_ERROR macros below.
class BRAMLOCK_EXPORT Logger {
 public:
  static Logger* Instance();

  explicit Logger(std::string&& name);
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Empty when construction stopped on an spdlog error; statements then print nothing.
  std::shared_ptr<spdlog::logger> logger_;
  // Running message number; wraps at 256 and is printed modulo 128.
  std::atomic<std::uint8_t> counter_{0};
  // Enabled level in spdlog numbering (2 info, 3 warn, 4 error).
  int level_ = 2;
};

enum LogLevel : int { kLogInfo = 2, kLogWarn = 3, kLogError = 4 };

// Numbers, prefixes and hands an already formatted message to spdlog as plain
// text. The log macros expand to a call of it in the host, so it is exported
// and lives beside the other public names.
BRAMLOCK_EXPORT void writeLogStatement(int level, const char* file, int line, const char* function,
                                       const std::string& message);

namespace detail {

template <typename... Args>
void logStatement(int level, const char* file, int line, const char* function, fmt::format_string<Args...> format,
                  Args&&... args) {
  writeLogStatement(level, file, line, function, fmt::format(format, std::forward<Args>(args)...));
}

}  // namespace detail
}  // namespace bramlock

#define BRAMLOCK_LOG_AT(level, ...) \
  ::bramlock::detail::logStatement(level, __FILE__, __LINE__, static_cast<const char*>(__func__), __VA_ARGS__)
#define BRAMLOCK_INFO(...) BRAMLOCK_LOG_AT(::bramlock::kLogInfo, __VA_ARGS__)
#define BRAMLOCK_WARN(...) BRAMLOCK_LOG_AT(::bramlock::kLogWarn, __VA_ARGS__)
#define BRAMLOCK_ERROR(...) BRAMLOCK_LOG_AT(::bramlock::kLogError, __VA_ARGS__)
