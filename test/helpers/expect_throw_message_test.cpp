#include "expect_throw_message.h"

#include <stdexcept>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

void throwInvalid(const char* message) { throw std::invalid_argument(message); }

TEST(ExpectThrowMessage, PassesOnTheExpectedTypeAndAMatchingMessage) {
  EXPECT_THROW_MESSAGE(throwInvalid("joint2 is out of range"), std::invalid_argument, "joint[0-9] is out");
  EXPECT_THROW_MESSAGE(throwInvalid("exact text"), std::invalid_argument, "^exact text$");
  // A base class of the thrown type is caught as the expected type.
  EXPECT_THROW_MESSAGE(throwInvalid("bad value"), std::logic_error, "bad");
  int calls = 0;
  EXPECT_THROW_MESSAGE(++calls; throwInvalid("after a step"), std::invalid_argument, "step");
  EXPECT_EQ(calls, 1) << "the statement runs once";
}

TEST(ExpectThrowMessage, FailsWhenNothingIsThrown) {
  EXPECT_NONFATAL_FAILURE(EXPECT_THROW_MESSAGE((void)0, std::invalid_argument, "x"), "Actual: it throws nothing.");
}

TEST(ExpectThrowMessage, FailsOnAnotherTypeAndShowsItsMessage) {
  EXPECT_NONFATAL_FAILURE(
      EXPECT_THROW_MESSAGE(throw std::runtime_error("disk gone"), std::invalid_argument, "disk gone"),
      "Actual: it throws a different type");
  EXPECT_NONFATAL_FAILURE(
      EXPECT_THROW_MESSAGE(throw std::runtime_error("disk gone"), std::invalid_argument, "disk gone"),
      "with message \"disk gone\"");
  EXPECT_NONFATAL_FAILURE(EXPECT_THROW_MESSAGE(throw 7, std::invalid_argument, ".*"),
                          "it throws an object not derived from std::exception.");
}

TEST(ExpectThrowMessage, FailsOnAMessageThatDoesNotMatchAndShowsIt) {
  EXPECT_NONFATAL_FAILURE(EXPECT_THROW_MESSAGE(throwInvalid("joint2 is out of range"), std::invalid_argument, "joint3"),
                          "it throws the expected type with message \"joint2 is out of range\".");
  // Anchors hold: a match inside a longer text is not an exact match.
  EXPECT_NONFATAL_FAILURE(EXPECT_THROW_MESSAGE(throwInvalid("not exact text"), std::invalid_argument, "^exact text$"),
                          "with message \"not exact text\"");
}

TEST(ExpectThrowMessage, StreamedContextJoinsTheFailure) {
  EXPECT_NONFATAL_FAILURE(EXPECT_THROW_MESSAGE((void)0, std::invalid_argument, "x") << "case " << 7, "case 7");
  EXPECT_THROW_MESSAGE(throwInvalid("fine"), std::invalid_argument, "fine") << "not shown on success";
}

TEST(ExpectThrowMessage, FailureNamesTheStatementTypeAndPattern) {
  EXPECT_NONFATAL_FAILURE(EXPECT_THROW_MESSAGE((void)0, std::out_of_range, "index [0-9]+"),
                          "Expected: (void)0 throws std::out_of_range with a message matching \"index [0-9]+\".");
}

}  // namespace
