#pragma once

#include <string>

// ANSI select-graphic-rendition escapes for coloured console text:
// write a constant, the text, then RESET.
namespace {
const std::string BOLD_GREEN = "\033[1;32m";
const std::string BOLD_RED = "\033[1;31m";
const std::string BOLD_YELLOW = "\033[1;33m";
const std::string BOLD_MAGENTA = "\033[1;35m";
const std::string BOLD_BLUE = "\033[1;34m";
const std::string BOLD_CYAN = "\033[1;36m";
const std::string GREEN = "\033[0;32m";
const std::string RED = "\033[0;31m";
const std::string YELLOW = "\033[0;33m";
const std::string MAGENTA = "\033[0;35m";
const std::string BLUE = "\033[0;34m";
const std::string CYAN = "\033[0;36m";
const std::string DIM_GREEN = "\033[2;32m";
const std::string DIM_RED = "\033[2;31m";
const std::string DIM_YELLOW = "\033[2;33m";
const std::string DIM_MAGENTA = "\033[2;35m";
const std::string DIM_BLUE = "\033[2;34m";
const std::string DIM_CYAN = "\033[2;36m";
const std::string RESET = "\033[0m";
const std::string BG_BLACK = "\033[40m";
const std::string BG_RED = "\033[41m";
const std::string BG_GREEN = "\033[42m";
const std::string BG_YELLOW = "\033[43m";
const std::string BG_BLUE = "\033[44m";
const std::string BG_MAGENTA = "\033[45m";
const std::string BG_CYAN = "\033[46m";
const std::string BG_WHITE = "\033[47m";
const std::string UNDERLINE = "\033[4m";
const std::string REVERSE = "\033[7m";
const std::string BOLD = "\033[1m";
const std::string DIM = "\033[2m";
const std::string ITALIC = "\033[3m";
const std::string BLINK = "\033[5m";
}  // namespace
