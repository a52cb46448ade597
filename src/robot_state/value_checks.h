#pragma once

#include <cmath>
#include <cstddef>
#include <map>
#include <stdexcept>
#include <string>

#include "common/value_checks.h"

// Input checks of the robot state's value setters: they throw
// std::invalid_argument before anything is written.
namespace bramlock {
namespace internal {
namespace value_checks {

inline void requirePointer(const void* pointer, const char* what, const char* operation) {
  if (!pointer) throw std::invalid_argument(std::string("RobotState::") + operation + ": null " + what);
}

inline void requireFinite(const double* values, size_t count, const char* operation) {
  for (size_t i = 0; i < count; ++i) {
    if (!std::isfinite(values[i])) {
      throw std::invalid_argument(std::string("RobotState::") + operation + ": value " + std::to_string(i) +
                                  " is not finite");
    }
  }
}

inline void requireFinite(const std::map<std::string, double>& values, const char* operation) {
  for (const auto& entry : values) {
    if (!std::isfinite(entry.second)) {
      throw std::invalid_argument(std::string("RobotState::") + operation + ": the value of '" + entry.first +
                                  "' is not finite");
    }
  }
}

inline void requireSize(size_t actual, size_t expected, const char* condition) {
  throwUnless(actual == expected, condition);
}

}  // namespace value_checks
}  // namespace internal
}  // namespace bramlock
