// Obstacle clearance of RRTConnect: moves the waypoints that the scene's
// simplify checker rejects to nearby states that it accepts.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

#include "bramlock_arm_planning_core/planner/rrtc.h"
#include "rrtc_internal.h"

using rrtc_internal::coloured;
using rrtc_internal::printLine;

namespace {

constexpr int kSegmentsPerPath = 6;
constexpr int kMaxCandidates = 20;
constexpr double kMaxJointShift = 0.2;  // radians

void printCandidateLine(int candidates, const std::string& outcome, std::size_t point) {
  printLine("Try " + coloured(rrtc_internal::kYellow, std::to_string(candidates)) + outcome + std::to_string(point));
}

}  // namespace

void RRTConnect::ntimesdivide(Path& path) const {
  if (path.size() < 2) return;
  const double limit = rrtc_internal::cumulativeLengths(path).back() / kSegmentsPerPath;
  Path divided{path.front()};
  for (std::size_t i = 1; i < path.size(); ++i) {
    const double length = distance(path[i - 1], path[i]);
    if (length > limit) {
      const int inserted = static_cast<int>(std::floor(length / limit));
      for (int k = 1; k <= inserted; ++k) divided.push_back(interpolate(path[i - 1], path[i], k / (inserted + 1.0)));
    }
    divided.push_back(path[i]);
  }
  path.swap(divided);
}

bool RRTConnect::awayFromObstacle(Path& path) {
  if (path.size() <= 2) {
    printLine(coloured(rrtc_internal::kYellow, "No need to away from obstacle~ "));
    return false;
  }
  ntimesdivide(path);
  const std::size_t n = path.size();
  std::vector<bool> valid(n);
  std::vector<bool> segment(n - 1);
  for (std::size_t i = 0; i < n; ++i) valid[i] = isStateValid(path[i], &PlanSceneInterface::isValidSimplify);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    segment[i] = isMotionValid(path[i], path[i + 1], &PlanSceneInterface::checkMotionSimplify);
  }

  std::mt19937 engine = rrtc_internal::freshEngine();
  bool result = true;
  // The flags are not refreshed after a point moves: each point is judged by
  // the state of its incoming segment as first tested.
  for (std::size_t k = 1; k + 1 < n; ++k) {
    const bool needs_moving = !valid[k] || (k >= 2 && !segment[k - 1]);
    if (!needs_moving) continue;
    for (int candidates = 1; candidates <= kMaxCandidates; ++candidates) {
      std::vector<double> candidate = randomStateNear(path[k], engine);
      valid[k] = isStateValid(candidate, &PlanSceneInterface::isValidSimplify);
      bool good;
      if (k == 1) {
        good = valid[1] && isMotionValid(path[0], candidate) && isMotionValid(candidate, path[2]);
      } else {
        segment[k - 1] = isMotionValid(path[k - 1], candidate, &PlanSceneInterface::checkMotionSimplify);
        good = valid[k] && segment[k - 1] && isMotionValid(candidate, path[k + 1]);
      }
      if (candidates == kMaxCandidates) {
        printCandidateLine(kMaxCandidates, " times but failed for the new waypoint :-(, No.", k);
        result = false;
      }
      if (good) {
        path[k] = std::move(candidate);
        printCandidateLine(candidates, " times successfully for the new waypoint :-), No.", k);
        break;
      }
    }
  }
  return result;
}

// A state within 0.2 rad of the centre on every joint and inside the bounds.
// A joint lying farther than that outside its bounds keeps its value.
std::vector<double> RRTConnect::randomStateNear(const std::vector<double>& centre, std::mt19937& engine) const {
  std::vector<double> state(centre.begin(), centre.begin() + dof_);
  for (int j = 0; j < dof_; ++j) {
    const double lo = std::max(bounds_[j].first, centre[j] - kMaxJointShift);
    const double hi = std::min(bounds_[j].second, centre[j] + kMaxJointShift);
    if (lo <= hi) state[j] = rrtc_internal::uniformReal(engine, lo, hi);
  }
  return state;
}
