#pragma once

// Helpers of the planning benchmarks: silencing the planners' console lines,
// quantiles of per-plan figures, and the obstacle sets of the fake box scene.

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "fake_box_scene.h"
#include "silenced_stdout.h"

namespace planning_bench {

using bench_support::SilencedStdout;

// The value below which the given fraction of the values lie (0.5: the median).
inline double quantile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size()));
  return values[std::min(index, values.size() - 1)];
}

inline double median(std::vector<double> values) { return quantile(std::move(values), 0.5); }

enum class SceneKind { kOpen, kWallWithGap, kNarrowPassage };

inline std::vector<fake_scene::Box> obstaclesOf(SceneKind kind, int dof) {
  switch (kind) {
    case SceneKind::kOpen:
      return {};
    case SceneKind::kWallWithGap:
      return fake_scene::wallWithGap(dof);
    case SceneKind::kNarrowPassage:
      return fake_scene::narrowPassage(dof);
  }
  return {};
}

}  // namespace planning_bench
