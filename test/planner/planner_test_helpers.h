#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/planner/rrtc.h"
#include "fake_box_scene.h"
#include "test_support.h"

namespace planner_test {

using Path = RRTConnect::Path;

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
