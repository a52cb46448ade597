// Post-processing of RRT-Connect paths: random shortcuts, vertex removal,
// collapse of close vertices, corner smoothing and obstacle clearance.

#include "planner/rrt/path_simplifier.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>

#include "planner/rrt/console_lines.h"

namespace bramlock::internal {

namespace {

constexpr double kRangeRatio = 0.33;
constexpr double kSnapRatio = 0.005;
constexpr int kShortcutCalls = 4;
constexpr int kSimplifyAfterRepetitions = 10;

constexpr int kSegmentsPerPath = 6;
constexpr int kMaxCandidates = 20;
constexpr double kMaxJointShift = 0.2;  // radians

// Both simplification passes leave paths of at most two points alone.
bool worthSimplifying(const JointPath& path) {
  if (path.size() > 2) return true;
  printLine(coloured(kYellow, "No need to Simplify the Path~ "));
  return false;
}

void printCandidateLine(int candidates, const std::string& outcome, std::size_t point) {
  printLine("Try " + coloured(kYellow, std::to_string(candidates)) + outcome + std::to_string(point));
}

int uniformInt(std::mt19937& engine, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(engine); }

// Where a length along the path lies: the segment start `pos`, and `index`
// (= pos) when the length snaps onto that point, -1 when it lies inside the
// segment pos..pos+1.
struct PathPosition {
  int pos;
  int index;
  double length;
  bool snapped() const { return index >= 0; }
};

PathPosition locate(const std::vector<double>& lengths, double length, double snap) {
  const auto found = std::lower_bound(lengths.begin(), lengths.end(), length);
  int pos = found == lengths.end() ? static_cast<int>(lengths.size()) - 1 : static_cast<int>(found - lengths.begin());
  if (pos == 0 || lengths[pos] - length < snap) return {pos, pos, length};
  while (pos > 0 && length < lengths[pos]) --pos;
  // A length that does not lie strictly before the next point (only possible
  // with a zero snap distance) snaps, so no end is interpolated on a point.
  const bool inside_segment = pos + 1 < static_cast<int>(lengths.size()) && length < lengths[pos + 1];
  const bool snaps = length - lengths[pos] < snap || !inside_segment;
  return {pos, snaps ? pos : -1, length};
}

bool pointlessShortcut(const PathPosition& a, const PathPosition& b) {
  return a.pos == b.pos || a.index == b.pos || b.index == a.pos || a.pos + 1 == b.index || b.pos + 1 == a.index ||
         (a.snapped() && b.snapped() && std::abs(a.index - b.index) < 2);
}

void erasePoints(JointPath& path, int first, int last) {
  if (first < last) path.erase(path.begin() + first, path.begin() + last);
}

// Replaces the stretch between the two ends (ordered along the path) by the
// straight motion between them.
void spliceShortcut(JointPath& path, const PathPosition& a, const PathPosition& b, std::vector<double> end_a,
                    std::vector<double> end_b) {
  if (!a.snapped() && !b.snapped()) {
    if (b.pos == a.pos + 1) {
      path[b.pos] = std::move(end_a);
      path.insert(path.begin() + b.pos + 1, std::move(end_b));
    } else {
      path[a.pos + 1] = std::move(end_a);
      path[b.pos] = std::move(end_b);
      erasePoints(path, a.pos + 2, b.pos);
    }
  } else if (!a.snapped()) {
    path[a.pos + 1] = std::move(end_a);
    erasePoints(path, a.pos + 2, b.index);
  } else if (!b.snapped()) {
    path[b.pos] = std::move(end_b);
    erasePoints(path, a.index + 1, b.pos);
  } else {
    erasePoints(path, a.index + 1, b.index);
  }
}

}  // namespace

PathSimplifier::PathSimplifier(PlanSceneInterface& scene, int dof, std::vector<std::pair<double, double>> bounds)
    : scene_(scene), dof_(dof), bounds_(std::move(bounds)) {}

std::mt19937 PathSimplifier::attemptEngine() {
  if (!random_device_) random_device_.emplace("default");
  return std::mt19937((*random_device_)());
}

bool PathSimplifier::simplify(JointPath& path, MotionCheck check) {
  if (!worthSimplifying(path)) return false;
  printLine(coloured(kGreenBackground, " Ready to begin path simplify"));
  const auto started = std::chrono::steady_clock::now();
  if (motionValid(path.front(), path.back(), check)) {
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
    path = JointPath{path.front(), path.back()};
    printLine(coloured(kYellow, "Simplify Path direct cost:" + std::to_string(micros) + "us"));
    return true;
  }
  for (int call = 0; call < kShortcutCalls && shortcut(path, kRangeRatio, kSnapRatio, check); ++call) {
  }
  const bool reduced = reduceVertices(path, kRangeRatio, check);
  collapseCloseVertices(path, check);
  if (reduced) {
    reduceVertices(path, kRangeRatio, check);
    reduceVertices(path, kRangeRatio, check);
  }
  return true;
}

bool PathSimplifier::simplifyAfter(JointPath& path, MotionCheck check) {
  if (!worthSimplifying(path)) return false;
  for (int repetition = 0; repetition < kSimplifyAfterRepetitions; ++repetition) {
    bool changed = shortcut(path, kRangeRatio, kSnapRatio, check);
    if (path.size() > 2) {
      try {
        changed = reduceVertices(path, kRangeRatio, check) || changed;
      } catch (const std::invalid_argument&) {
        break;
      }
    }
    if (!changed) break;
  }
  return true;
}

bool PathSimplifier::reduceVertices(JointPath& path, double range_ratio, MotionCheck check) {
  if (path.size() < 3) return false;
  const std::size_t limit = path.size();
  bool changed = false;
  for (std::size_t steps = 0, idle = 0; steps < limit && idle < limit; ++steps) {
    std::mt19937 engine = attemptEngine();
    const int count = static_cast<int>(path.size());
    const int max_index = count - 1;
    const int range = 1 + static_cast<int>(std::floor(range_ratio * count + 0.5));
    int p1 = uniformInt(engine, 0, max_index);
    int p2 = uniformInt(engine, std::max(0, p1 - range), std::min(max_index, p1 + range));
    if (std::abs(p1 - p2) < 2) {
      if (p1 < count - 2) {
        p2 = p1 + 2;
      } else if (p1 >= 2) {
        p2 = p1 - 2;
      } else {
        ++idle;
        continue;
      }
    }
    if (p1 > p2) std::swap(p1, p2);
    if (motionValid(path[p1], path[p2], check)) {
      erasePoints(path, p1 + 1, p2);
      idle = 1;
      changed = true;
    } else {
      ++idle;
    }
  }
  return changed;
}

bool PathSimplifier::shortcut(JointPath& path, double range_ratio, double snap_ratio, MotionCheck check) {
  if (path.size() < 3) return false;
  const std::size_t limit = path.size();
  std::vector<double> lengths = cumulativeLengths(path);
  bool changed = false;
  for (std::size_t steps = 0, idle = 0; steps < limit && idle < limit; ++steps) {
    const double total = lengths.back();
    const double snap = total * snap_ratio;
    const double reach = total * range_ratio;
    std::mt19937 engine = attemptEngine();
    PathPosition a = locate(lengths, uniformReal(engine, 0.0, total), snap);
    PathPosition b =
        locate(lengths, uniformReal(engine, std::max(0.0, a.length - reach), std::min(a.length + reach, total)), snap);
    if (pointlessShortcut(a, b)) {
      ++idle;
      continue;
    }
    const auto end_state = [&](const PathPosition& at) {
      if (at.snapped()) return path[at.index];
      const double t = (at.length - lengths[at.pos]) / (lengths[at.pos + 1] - lengths[at.pos]);
      return interpolate(path[at.pos], path[at.pos + 1], t);
    };
    std::vector<double> end_a = end_state(a);
    std::vector<double> end_b = end_state(b);
    if (!motionValid(end_a, end_b, check)) {
      ++idle;
      continue;
    }
    if (b.pos < a.pos) {
      std::swap(a, b);
      std::swap(end_a, end_b);
    }
    spliceShortcut(path, a, b, std::move(end_a), std::move(end_b));
    lengths = cumulativeLengths(path);
    idle = 1;
    changed = true;
  }
  return changed;
}

bool PathSimplifier::collapseCloseVertices(JointPath& path, MotionCheck check) {
  if (path.size() < 3) return false;
  const std::size_t limit = path.size();
  // Distances between non-neighbouring points, indexed by the points'
  // positions at entry; `original` maps present positions to those.
  const std::size_t entry_count = path.size();
  const double infinity = std::numeric_limits<double>::infinity();
  std::vector<double> table(entry_count * entry_count, infinity);
  for (std::size_t i = 0; i < entry_count; ++i) {
    for (std::size_t j = i + 2; j < entry_count; ++j) table[i * entry_count + j] = euclideanDistance(path[i], path[j]);
  }
  std::vector<std::size_t> original(entry_count);
  std::iota(original.begin(), original.end(), 0);

  bool changed = false;
  for (std::size_t steps = 0, idle = 0; steps < limit && idle < limit; ++steps) {
    double best = infinity;
    std::size_t best_i = 0;
    std::size_t best_j = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
      for (std::size_t j = i + 2; j < path.size(); ++j) {
        const double d = table[original[i] * entry_count + original[j]];
        if (d < best) {
          best = d;
          best_i = i;
          best_j = j;
        }
      }
    }
    if (best == infinity) break;
    if (motionValid(path[best_i], path[best_j], check)) {
      path.erase(path.begin() + best_i + 1, path.begin() + best_j);
      original.erase(original.begin() + best_i + 1, original.begin() + best_j);
      idle = 1;
      changed = true;
    } else {
      table[original[best_i] * entry_count + original[best_j]] = infinity;
      ++idle;
    }
  }
  return changed;
}

void PathSimplifier::subdivide(JointPath& path) {
  if (path.size() < 2) return;
  JointPath divided{path.front()};
  for (std::size_t i = 1; i < path.size(); ++i) {
    divided.push_back(interpolate(path[i - 1], path[i], 0.5));
    divided.push_back(path[i]);
  }
  path.swap(divided);
}

void PathSimplifier::smoothBSpline(JointPath& path, int passes, MotionCheck check) {
  if (path.size() <= 2) return;
  const double total = cumulativeLengths(path).back();
  for (int pass = 0; pass < passes; ++pass) {
    subdivide(path);
    if (path.size() < 5) break;
    bool replaced = false;
    for (std::size_t i = 1; i + 2 < path.size(); i += 2) {
      const std::vector<double> candidate =
          interpolate(interpolate(path[i], path[i + 1], 0.5), interpolate(path[i + 1], path[i + 2], 0.5), 0.5);
      if (motionValid(path[i], candidate, check) && motionValid(candidate, path[i + 2], check) &&
          euclideanDistance(path[i + 1], candidate) > total / 100) {
        path[i + 1] = candidate;
        replaced = true;
      }
    }
    if (!replaced) break;
  }
}

void PathSimplifier::ntimesdivide(JointPath& path) {
  if (path.size() < 2) return;
  const double limit = cumulativeLengths(path).back() / kSegmentsPerPath;
  JointPath divided{path.front()};
  for (std::size_t i = 1; i < path.size(); ++i) {
    const double length = euclideanDistance(path[i - 1], path[i]);
    if (length > limit) {
      const int inserted = static_cast<int>(std::floor(length / limit));
      for (int k = 1; k <= inserted; ++k) divided.push_back(interpolate(path[i - 1], path[i], k / (inserted + 1.0)));
    }
    divided.push_back(path[i]);
  }
  path.swap(divided);
}

bool PathSimplifier::awayFromObstacle(JointPath& path) {
  if (path.size() <= 2) {
    printLine(coloured(kYellow, "No need to away from obstacle~ "));
    return false;
  }
  ntimesdivide(path);
  const std::size_t n = path.size();
  std::vector<bool> valid(n);
  std::vector<bool> segment(n - 1);
  for (std::size_t i = 0; i < n; ++i) valid[i] = stateValid(path[i], &PlanSceneInterface::isValidSimplify);
  // Only the segments into the points from the third on are read, and only
  // for points that passed themselves.
  for (std::size_t i = 1; i + 2 < n; ++i) {
    if (valid[i + 1]) segment[i] = motionValid(path[i], path[i + 1], &PlanSceneInterface::checkMotionSimplify);
  }

  std::mt19937 engine = attemptEngine();
  bool result = true;
  // The flags are not refreshed after a point moves: each point is judged by
  // the state of its incoming segment as first tested.
  for (std::size_t k = 1; k + 1 < n; ++k) {
    const bool needs_moving = !valid[k] || (k >= 2 && !segment[k - 1]);
    if (!needs_moving) continue;
    for (int candidates = 1; candidates <= kMaxCandidates; ++candidates) {
      std::vector<double> candidate = randomStateNear(path[k], engine);
      valid[k] = stateValid(candidate, &PlanSceneInterface::isValidSimplify);
      bool good;
      if (k == 1) {
        good = valid[1] && motionValid(path[0], candidate, &PlanSceneInterface::checkMotion) &&
               motionValid(candidate, path[2], &PlanSceneInterface::checkMotion);
      } else {
        segment[k - 1] = motionValid(path[k - 1], candidate, &PlanSceneInterface::checkMotionSimplify);
        good = valid[k] && segment[k - 1] && motionValid(candidate, path[k + 1], &PlanSceneInterface::checkMotion);
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
std::vector<double> PathSimplifier::randomStateNear(const std::vector<double>& centre, std::mt19937& engine) const {
  std::vector<double> state(centre.begin(), centre.begin() + dof_);
  for (int j = 0; j < dof_; ++j) {
    const double lo = std::max(bounds_[j].first, centre[j] - kMaxJointShift);
    const double hi = std::min(bounds_[j].second, centre[j] + kMaxJointShift);
    if (lo <= hi) state[j] = uniformReal(engine, lo, hi);
  }
  return state;
}

}  // namespace bramlock::internal
