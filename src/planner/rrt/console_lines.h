#pragma once

#include <iostream>
#include <string>

// The planner's console lines: plain text on standard output, flushed at once,
// parts of it coloured with ANSI escapes.
namespace bramlock::internal {

// ANSI colour numbers of the planner's console lines.
constexpr const char* kRed = "31";
constexpr const char* kYellow = "33";
constexpr const char* kCyan = "36";
constexpr const char* kRedBackground = "41";
constexpr const char* kGreenBackground = "42";

inline std::string coloured(const char* colour, const std::string& text) {
  return std::string("\033[") + colour + "m" + text + "\033[0m";
}

inline void printLine(const std::string& text) { std::cout << text << '\n' << std::flush; }

}  // namespace bramlock::internal
