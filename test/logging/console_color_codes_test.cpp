#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bramlock_arm_planning_core/console_color_codes.h"

TEST(ConsoleColorCodes, ThirtyThreeEscapesInTableOrder) {
  const std::vector<std::string> constants = {
      BOLD_GREEN, BOLD_RED, BOLD_YELLOW, BOLD_MAGENTA, BOLD_BLUE, BOLD_CYAN,  GREEN,       RED,      YELLOW,
      MAGENTA,    BLUE,     CYAN,        DIM_GREEN,    DIM_RED,   DIM_YELLOW, DIM_MAGENTA, DIM_BLUE, DIM_CYAN,
      RESET,      BG_BLACK, BG_RED,      BG_GREEN,     BG_YELLOW, BG_BLUE,    BG_MAGENTA,  BG_CYAN,  BG_WHITE,
      UNDERLINE,  REVERSE,  BOLD,        DIM,          ITALIC,    BLINK};
  const std::vector<std::string> expected = {"1;32", "1;31", "1;33", "1;35", "1;34", "1;36", "0;32", "0;31", "0;33",
                                             "0;35", "0;34", "0;36", "2;32", "2;31", "2;33", "2;35", "2;34", "2;36",
                                             "0",    "40",   "41",   "42",   "43",   "44",   "45",   "46",   "47",
                                             "4",    "7",    "1",    "2",    "3",    "5"};
  ASSERT_EQ(constants.size(), 33u);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(constants[i], "\033[" + expected[i] + "m") << "constant #" << i + 1;
  }
}

TEST(ConsoleColorCodes, FramedMessageStartsAndEndsWithEscapes) {
  const std::string message = DIM_YELLOW + "IK error" + RESET;
  EXPECT_EQ(message.substr(0, 7), std::string("\x1b[2;33m"));
  EXPECT_EQ(message.substr(message.size() - 4), std::string("\x1b[0m"));
}
