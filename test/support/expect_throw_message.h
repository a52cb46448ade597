#pragma once

#include <exception>
#include <regex>
#include <string>
#include <typeinfo>

#include <gtest/gtest.h>

namespace bramlock_test {

// Runs `statement` and tells whether it threw an `Exception` whose what()
// contains a match of `pattern` (std::regex_search). The failure text names
// what happened instead, with the actual message, so a throw for the wrong
// reason is told apart from one for the expected reason.
template <typename Exception, typename Statement>
::testing::AssertionResult throwsWithMessage(Statement&& statement, const char* statement_text, const char* type_text,
                                             const std::string& pattern) {
  const std::string expectation = std::string("Expected: ") + statement_text + " throws " + type_text +
                                  " with a message matching \"" + pattern + "\".\n  Actual: ";
  try {
    statement();
  } catch (const Exception& error) {
    if (std::regex_search(error.what(), std::regex(pattern))) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << expectation << "it throws the expected type with message \"" << error.what()
                                         << "\".";
  } catch (const std::exception& error) {
    return ::testing::AssertionFailure() << expectation << "it throws a different type (" << typeid(error).name()
                                         << ") with message \"" << error.what() << "\".";
  } catch (...) {
    return ::testing::AssertionFailure() << expectation << "it throws an object not derived from std::exception.";
  }
  return ::testing::AssertionFailure() << expectation << "it throws nothing.";
}

}  // namespace bramlock_test

// Like EXPECT_THROW, and the exception's what() must also match `regex`
// (searched, not matched whole: anchor with ^ and $ for an exact text).
// Further context can be streamed in, as with the gtest assertions.
#define EXPECT_THROW_MESSAGE(statement, type, regex)                                                \
  switch (0)                                                                                        \
  case 0:                                                                                           \
  default:                                                                                          \
    if (const ::testing::AssertionResult bramlock_throw_result =                                    \
            ::bramlock_test::throwsWithMessage<type>([&] { statement; }, #statement, #type, regex)) \
      ;                                                                                             \
    else                                                                                            \
      GTEST_NONFATAL_FAILURE_(bramlock_throw_result.failure_message())
