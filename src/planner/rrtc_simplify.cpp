// Path simplification of RRTConnect: random shortcuts, vertex removal and
// collapse of close vertices, plus the subdivision and corner smoothing helpers.

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "bramlock_arm_planning_core/planner/rrtc.h"
#include "rrtc_internal.h"

using rrtc_internal::coloured;
using rrtc_internal::printLine;

namespace {

constexpr double kRangeRatio = 0.33;
constexpr double kSnapRatio = 0.005;
constexpr int kShortcutCalls = 4;
constexpr int kSimplifyAfterRepetitions = 10;

void printNoNeedToSimplify() { printLine(coloured(rrtc_internal::kYellow, "No need to Simplify the Path~ ")); }

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

void erasePoints(RRTConnect::Path& path, int first, int last) {
  if (first < last) path.erase(path.begin() + first, path.begin() + last);
}

// Replaces the stretch between the two ends (ordered along the path) by the
// straight motion between them.
void spliceShortcut(RRTConnect::Path& path, const PathPosition& a, const PathPosition& b,
                    std::vector<double> end_a, std::vector<double> end_b) {
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

bool RRTConnect::Simplify(Path& path) {
  if (path.size() <= 2) {
    printNoNeedToSimplify();
    return false;
  }
  printLine(coloured(rrtc_internal::kGreenBackground, " Ready to begin path simplify"));
  const auto started = Clock::now();
  if (isMotionValid(path.front(), path.back())) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started).count();
    path = Path{path.front(), path.back()};
    printLine(coloured(rrtc_internal::kYellow, "Simplify Path direct cost:" + std::to_string(micros) + "us"));
    return true;
  }
  for (int call = 0; call < kShortcutCalls && shortcutPath(path, kRangeRatio, kSnapRatio); ++call) {
  }
  const bool reduced = reduceVertices(path, kRangeRatio);
  collapseCloseVertices(path);
  if (reduced) {
    reduceVertices(path, kRangeRatio);
    reduceVertices(path, kRangeRatio);
  }
  return true;
}

bool RRTConnect::SimplifyAfter(Path& path) {
  if (path.size() <= 2) {
    printNoNeedToSimplify();
    return false;
  }
  for (int repetition = 0; repetition < kSimplifyAfterRepetitions; ++repetition) {
    bool changed = shortcutPathSimplify(path, kRangeRatio, kSnapRatio);
    if (path.size() > 2) {
      try {
        changed = reduceVerticesSimplify(path, kRangeRatio) || changed;
      } catch (const std::invalid_argument&) {
        break;
      }
    }
    if (!changed) break;
  }
  return true;
}

bool RRTConnect::shortcutPath(Path& path, double range_ratio, double snap_ratio) {
  return shortcutPathWith(path, range_ratio, snap_ratio, &PlanSceneInterface::checkMotion);
}

bool RRTConnect::shortcutPathSimplify(Path& path, double range_ratio, double snap_ratio) {
  return shortcutPathWith(path, range_ratio, snap_ratio, &PlanSceneInterface::checkMotionSimplify);
}

bool RRTConnect::reduceVertices(Path& path, double range_ratio) {
  return reduceVerticesWith(path, range_ratio, &PlanSceneInterface::checkMotion);
}

bool RRTConnect::reduceVerticesSimplify(Path& path, double range_ratio) {
  return reduceVerticesWith(path, range_ratio, &PlanSceneInterface::checkMotionSimplify);
}

bool RRTConnect::reduceVerticesWith(Path& path, double range_ratio, MotionCheck check) {
  if (path.size() < 3) return false;
  const std::size_t limit = path.size();
  bool changed = false;
  for (std::size_t steps = 0, idle = 0; steps < limit && idle < limit; ++steps) {
    std::mt19937 engine = rrtc_internal::freshEngine();
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
    if (isMotionValid(path[p1], path[p2], check)) {
      erasePoints(path, p1 + 1, p2);
      idle = 1;
      changed = true;
    } else {
      ++idle;
    }
  }
  return changed;
}

bool RRTConnect::shortcutPathWith(Path& path, double range_ratio, double snap_ratio, MotionCheck check) {
  if (path.size() < 3) return false;
  const std::size_t limit = path.size();
  std::vector<double> lengths = rrtc_internal::cumulativeLengths(path);
  bool changed = false;
  for (std::size_t steps = 0, idle = 0; steps < limit && idle < limit; ++steps) {
    const double total = lengths.back();
    const double snap = total * snap_ratio;
    const double reach = total * range_ratio;
    std::mt19937 engine = rrtc_internal::freshEngine();
    PathPosition a = locate(lengths, rrtc_internal::uniformReal(engine, 0.0, total), snap);
    PathPosition b = locate(
        lengths, rrtc_internal::uniformReal(engine, std::max(0.0, a.length - reach), std::min(a.length + reach, total)),
        snap);
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
    if (!isMotionValid(end_a, end_b, check)) {
      ++idle;
      continue;
    }
    if (b.pos < a.pos) {
      std::swap(a, b);
      std::swap(end_a, end_b);
    }
    spliceShortcut(path, a, b, std::move(end_a), std::move(end_b));
    lengths = rrtc_internal::cumulativeLengths(path);
    idle = 1;
    changed = true;
  }
  return changed;
}

bool RRTConnect::collapseCloseVertices(Path& path) {
  if (path.size() < 3) return false;
  const std::size_t limit = path.size();
  // Distances between non-neighbouring points, indexed by the points'
  // positions at entry; `original` maps present positions to those.
  const std::size_t entry_count = path.size();
  const double infinity = std::numeric_limits<double>::infinity();
  std::vector<double> table(entry_count * entry_count, infinity);
  for (std::size_t i = 0; i < entry_count; ++i) {
    for (std::size_t j = i + 2; j < entry_count; ++j) table[i * entry_count + j] = distance(path[i], path[j]);
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
    if (isMotionValid(path[best_i], path[best_j])) {
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

void RRTConnect::subdivide(Path& path) const {
  if (path.size() < 2) return;
  Path divided{path.front()};
  for (std::size_t i = 1; i < path.size(); ++i) {
    divided.push_back(interpolate(path[i - 1], path[i], 0.5));
    divided.push_back(path[i]);
  }
  path.swap(divided);
}

void RRTConnect::smoothBSpline(Path& path, int passes, double /*unused*/) {
  if (path.size() <= 2) return;
  const double total = rrtc_internal::cumulativeLengths(path).back();
  for (int pass = 0; pass < passes; ++pass) {
    subdivide(path);
    if (path.size() < 5) break;
    bool replaced = false;
    for (std::size_t i = 1; i + 2 < path.size(); i += 2) {
      const std::vector<double> candidate =
          interpolate(interpolate(path[i], path[i + 1], 0.5), interpolate(path[i + 1], path[i + 2], 0.5), 0.5);
      if (isMotionValid(path[i], candidate) && isMotionValid(candidate, path[i + 2]) &&
          distance(path[i + 1], candidate) > total / 100) {
        path[i + 1] = candidate;
        replaced = true;
      }
    }
    if (!replaced) break;
  }
}
