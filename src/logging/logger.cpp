#include "bramlock_arm_planning_core/logger.h"

#include <cstdlib>
#include <iostream>
#include <map>
#include <vector>

#include <spdlog/sinks/ansicolor_sink.h>
#include <spdlog/sinks/systemd_sink.h>

#ifdef NDEBUG
#error "internal checks must stay active: never build with NDEBUG"
#endif

namespace bramlock {
namespace {

// Reads a "true"/"false" switch; anything else falls back to the default with a notice.
bool readSwitch(const char* variable, bool default_on) {
  const char* value = std::getenv(variable);
  const char* fallback = default_on ? "true" : "false";
  if (value == nullptr) {
    std::cout << "environment variable " << variable << " is not set, and set " << fallback << std::endl;
    return default_on;
  }
  const std::string text(value);
  if (text == "true") return true;
  if (text == "false") return false;
  std::cout << "environment variable " << variable << " is invalid, and set " << fallback << std::endl;
  return default_on;
}

spdlog::level::level_enum readLevel() {
  const std::map<std::string, spdlog::level::level_enum> levels = {
      {"trace", spdlog::level::trace},  {"debug", spdlog::level::debug}, {"info", spdlog::level::info},
      {"warning", spdlog::level::warn}, {"error", spdlog::level::err},   {"critical", spdlog::level::critical}};
  const char* value = std::getenv("SPDLOG_LEVEL");
  if (value == nullptr) {
    std::cout << "environment variable SPDLOG_LEVEL is not set, and set default level" << std::endl;
    return spdlog::level::info;
  }
  const auto found = levels.find(value);
  if (found == levels.end()) {
    std::cout << "environment variable SPDLOG_LEVEL is invalid, and set default level" << std::endl;
    return spdlog::level::info;
  }
  return found->second;
}

const char* levelTag(int level) {
  switch (level) {
    case kLogWarn:
      return "{0:3d} [WARN] ";
    case kLogError:
      return "{0:3d} [ERROR] ";
    default:
      return "{0:3d} [INFO] ";
  }
}

}  // namespace

Logger* Logger::Instance() {
  static Logger instance("spdlog");
  return &instance;
}

Logger::Logger(std::string&& name) {
  try {
    std::vector<spdlog::sink_ptr> sinks;
    if (readSwitch("SPDLOG_STDOUT", true)) {
      sinks.push_back(std::make_shared<spdlog::sinks::ansicolor_stdout_sink<spdlog::details::console_mutex>>(
          spdlog::color_mode::automatic));
    }
    if (readSwitch("SPDLOG_SYSTEMD", false)) {
      sinks.push_back(std::make_shared<spdlog::sinks::systemd_sink<std::mutex>>("", false));
    }
    logger_ = std::make_shared<spdlog::logger>(std::move(name), sinks.begin(), sinks.end());
    const spdlog::level::level_enum level = readLevel();
    level_ = static_cast<int>(level);
    logger_->set_level(level);
    logger_->set_pattern("%v");
  } catch (const spdlog::spdlog_ex&) {
    // Construction ends here; statements cope with what was set so far.
  }
}

Logger::~Logger() { logger_.reset(); }

void writeLogStatement(int level, const char* file, int line, const char* function, const std::string& message) {
  Logger* instance = Logger::Instance();
  const std::shared_ptr<spdlog::logger> logger = instance->logger_;
  unsigned number = instance->counter_.load();
  if (instance->level_ <= level) {
    number = static_cast<std::uint8_t>(instance->counter_.fetch_add(1) + 1);
  }
  if (!logger) return;
  const std::string text = fmt::format(fmt::runtime(levelTag(level)), number % 128) + message;
  logger->log(spdlog::source_loc{file, line, function}, static_cast<spdlog::level::level_enum>(level),
              spdlog::string_view_t(text));
}

}  // namespace bramlock
