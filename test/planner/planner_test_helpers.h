#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/planner/rrtc.h"
#include "fake_box_scene.h"
#include "test_support.h"

namespace planner_test {

using Path = RRTConnect::Path;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

inline double pathLength(const Path& path) {
  double length = 0.0;
  for (std::size_t i = 1; i < path.size(); ++i) {
    double sum = 0.0;
    for (std::size_t j = 0; j < path[i].size(); ++j) sum += std::pow(path[i][j] - path[i - 1][j], 2);
    length += std::sqrt(sum);
  }
  return length;
}

// Every segment passes the scene's regular (or simplify) motion check.
inline ::testing::AssertionResult everySegmentFree(const fake_scene::FakeBoxScene& scene, const Path& path,
                                                   bool simplify = false) {
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (!scene.motionFree(path[i - 1], path[i], simplify)) {
      return ::testing::AssertionFailure() << "segment " << i - 1 << ".." << i << " is blocked";
    }
  }
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult insideBounds(const fake_scene::FakeBoxScene& scene, const std::vector<double>& q) {
  for (std::size_t j = 0; j < q.size(); ++j) {
    if (q[j] < scene.bounds()[j].first || q[j] > scene.bounds()[j].second) {
      return ::testing::AssertionFailure() << "joint " << j << " = " << q[j] << " is out of bounds";
    }
  }
  return ::testing::AssertionSuccess();
}

inline std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// True when the text reads as the pattern, each '#' of which stands for one
// number in default stream formatting.
inline bool matchesWithNumbers(const std::string& text, const std::string& pattern) {
  const std::string number_chars = "0123456789.e+-";
  std::size_t t = 0;
  for (const char p : pattern) {
    if (p != '#') {
      if (t >= text.size() || text[t] != p) return false;
      ++t;
      continue;
    }
    const std::size_t number_start = t;
    while (t < text.size() && number_chars.find(text[t]) != std::string::npos) ++t;
    if (t == number_start) return false;
  }
  return t == text.size();
}

// The last n lines of the text (all of it when it has fewer).
inline std::string lastLines(const std::string& text, int n) {
  std::size_t at = text.size();
  for (int line = 0; line <= n && at != std::string::npos && at > 0; ++line) at = text.rfind('\n', at - 1);
  return at == std::string::npos ? text : text.substr(at + 1);
}

// Runs the body with the console output captured; returns its result and the output.
template <typename Body>
auto withCapturedOutput(Body&& body) {
  bramlock_test::OutputCapture capture;
  auto result = body();
  std::string out = capture.out();
  return std::make_pair(result, out);
}

struct PlanOutcome {
  int code = 0;
  Path path;
  std::string out;
  int iterations = 0;
};

// One search with the pipeline's settings (step 0.04 of the extent), output captured.
inline PlanOutcome planOnce(fake_scene::FakeBoxScene& scene, const std::vector<double>& start,
                            const std::vector<double>& goal, int sample_rate = 15) {
  RRTConnect planner(&scene);
  planner.setStepSizeAndSampleRate(0.04, sample_rate);
  planner.setStartAndGoal(start, goal);
  PlanOutcome outcome;
  bramlock_test::OutputCapture capture;
  outcome.code = planner.planning(outcome.path);
  outcome.out = capture.out();
  outcome.iterations = planner.lastSearchIterations();
  return outcome;
}

}  // namespace planner_test
