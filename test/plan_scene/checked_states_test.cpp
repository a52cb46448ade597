// The memo behind the scene's state checks: it may only ever answer with the
// answer given for the same bits, however many states came in between.
#include "plan_scene/checked_states.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using bramlock::internal::CheckedStates;
using State = std::vector<double>;

State randomState(std::mt19937& engine) {
  std::uniform_real_distribution<double> angle(-3.0, 3.0);
  State state(6);
  for (double& value : state) value = angle(engine);
  return state;
}

// Answers derived from the bits, so any mix-up of entries shows.
bool answerOf(const State& state) { return std::signbit(state[0]) != std::signbit(state[5]); }

// Remembers `count` new random states, each unknown before.
std::vector<State> rememberRandomStates(CheckedStates& memo, std::mt19937& engine, int count) {
  std::vector<State> states;
  for (int i = 0; i < count; ++i) {
    states.push_back(randomState(engine));
    EXPECT_FALSE(memo.find(states.back()).has_value());
    memo.remember(states.back(), answerOf(states.back()));
  }
  return states;
}

TEST(CheckedStates, AnswersEveryRememberedStateAndNothingElse) {
  std::mt19937 engine(7);
  CheckedStates memo;
  const std::vector<State> remembered = rememberRandomStates(memo, engine, 3000);
  for (const State& state : remembered) {
    ASSERT_EQ(memo.find(state), answerOf(state));
  }
  for (int i = 0; i < 3000; ++i) EXPECT_FALSE(memo.find(randomState(engine)).has_value());
}

TEST(CheckedStates, DistinguishesStatesThatDifferInOneBitOrOnlyInTheSignOfZero) {
  CheckedStates memo;
  const State zero(6, 0.0);
  memo.remember(zero, true);
  State negative_zero = zero;
  negative_zero[3] = -0.0;
  State next_up = zero;
  next_up[5] = std::nextafter(0.0, 1.0);
  EXPECT_EQ(memo.find(zero), true);
  EXPECT_FALSE(memo.find(negative_zero).has_value());
  EXPECT_FALSE(memo.find(next_up).has_value());
  EXPECT_FALSE(memo.find(State(5, 0.0)).has_value()) << "a shorter state is another state";
  EXPECT_FALSE(memo.find(State(7, 0.0)).has_value());
}

// Round values differ in the high bits only; they must not all crowd one slot run.
TEST(CheckedStates, KeepsRoundGridStatesApart) {
  CheckedStates memo;
  std::vector<State> grid;
  for (int a = 0; a < 16; ++a) {
    for (int b = 0; b < 16; ++b) {
      for (int c = 0; c < 16; ++c) grid.push_back({a * 0.5, -b * 0.25, c * 2.0, 0.0, 1.0, -1.0});
    }
  }
  for (size_t i = 0; i < grid.size(); ++i) memo.remember(grid[i], i % 3 == 0);
  for (size_t i = 0; i < grid.size(); ++i) ASSERT_EQ(memo.find(grid[i]), i % 3 == 0) << i;
}

TEST(CheckedStates, AFullMemoStartsAfreshAndKeepsAnsweringRight) {
  std::mt19937 engine(11);
  CheckedStates memo;
  const std::vector<State> states = rememberRandomStates(memo, engine, 10000);
  EXPECT_EQ(memo.find(states.back()), answerOf(states.back()));
  for (const State& state : states) {
    const auto known = memo.find(state);
    if (known) {
      ASSERT_EQ(*known, answerOf(state));
    }
  }
}

TEST(CheckedStates, ClearedOrResizedMemoForgetsEverything) {
  CheckedStates memo;
  const State six(6, 0.25);
  memo.remember(six, true);
  memo.clear();
  EXPECT_FALSE(memo.find(six).has_value());

  memo.remember(six, false);
  const State seven(7, 0.25);
  memo.remember(seven, true);
  EXPECT_FALSE(memo.find(six).has_value()) << "another width starts afresh";
  EXPECT_EQ(memo.find(seven), true);
}

}  // namespace
