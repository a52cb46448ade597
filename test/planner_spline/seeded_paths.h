#pragma once

// Seeded 6-joint paths and limits of the kinds a caller hands the spline planners.

#include <random>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/planner/waypoint_constraints.h"

namespace spline_test {

using Path = std::vector<std::vector<double>>;

enum class PathKind { kRandomWalk, kSpreadPoints, kRepeatedWaypoints, kNearlyCollinear, kTinyMoves };
constexpr PathKind kPathKinds[] = {PathKind::kRandomWalk, PathKind::kSpreadPoints, PathKind::kRepeatedWaypoints,
                                   PathKind::kNearlyCollinear, PathKind::kTinyMoves};

inline const char* pathKindName(PathKind kind) {
  switch (kind) {
    case PathKind::kRandomWalk:
      return "random walk";
    case PathKind::kSpreadPoints:
      return "spread points";
    case PathKind::kRepeatedWaypoints:
      return "repeated waypoints";
    case PathKind::kNearlyCollinear:
      return "nearly collinear";
    case PathKind::kTinyMoves:
      return "tiny moves";
  }
  return "";
}

// 3 to 7 waypoints of the given kind inside the arm's comfortable range.
inline Path seededPath(PathKind kind, unsigned seed) {
  std::mt19937 rng(seed);
  const int count = std::uniform_int_distribution<int>(3, 7)(rng);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const auto around = [&](double scale) {
    std::vector<double> point(6);
    for (double& q : point) q = scale * unit(rng);
    return point;
  };
  Path path(1, around(1.0));
  const auto walk = [&](double step) {
    std::vector<double> next = path.back();
    for (double& q : next) q += step * unit(rng);
    path.push_back(next);
  };
  switch (kind) {
    case PathKind::kRandomWalk:
      while (static_cast<int>(path.size()) < count) walk(0.8);
      break;
    case PathKind::kSpreadPoints:
      while (static_cast<int>(path.size()) < count) path.push_back(around(2.0));
      break;
    case PathKind::kRepeatedWaypoints:
      while (static_cast<int>(path.size()) < count) {
        walk(0.8);
        if (unit(rng) > 0.0) path.push_back(path.back());
      }
      break;
    case PathKind::kNearlyCollinear: {
      const std::vector<double> start = path.front(), end = around(2.0);
      for (int i = 1; i < count; ++i) {
        std::vector<double> point(6);
        for (int j = 0; j < 6; ++j) point[j] = start[j] + (end[j] - start[j]) * i / (count - 1) + 1e-3 * unit(rng);
        path.push_back(point);
      }
      break;
    }
    case PathKind::kTinyMoves:
      while (static_cast<int>(path.size()) < count) walk(1e-4);
      break;
  }
  return path;
}

enum class LimitKind { kJoint, kToolSpeed, kTorque };
constexpr LimitKind kLimitKinds[] = {LimitKind::kJoint, LimitKind::kToolSpeed, LimitKind::kTorque};

inline const char* limitKindName(LimitKind kind) {
  switch (kind) {
    case LimitKind::kJoint:
      return "joint";
    case LimitKind::kToolSpeed:
      return "tool speed";
    case LimitKind::kTorque:
      return "torque";
  }
  return "";
}

// Per-waypoint limits of the given kind; joint limits vary by up to 30 % from waypoint to waypoint.
inline std::vector<WaypointConstraints> seededLimits(LimitKind kind, unsigned seed, std::size_t points) {
  std::mt19937 rng(seed * 7919u + 1u);
  std::uniform_real_distribution<double> vlim(0.5, 3.0), alim(1.0, 12.0), vary(0.7, 1.0);
  WaypointConstraints base;
  base.vmax.resize(6);
  base.amax.resize(6);
  for (int j = 0; j < 6; ++j) {
    base.vmax[j] = vlim(rng);
    base.amax[j] = alim(rng);
  }
  if (kind == LimitKind::kToolSpeed) {
    base.cartesian.enabled = true;
    base.cartesian.max_linear_velocity = std::uniform_real_distribution<double>(0.3, 1.0)(rng);
    base.cartesian.max_angular_velocity = std::uniform_real_distribution<double>(1.0, 3.0)(rng);
  }
  if (kind == LimitKind::kTorque) {
    const double scale = std::uniform_real_distribution<double>(0.8, 1.5)(rng);
    base.torque_max = {120.0 * scale, 90.0 * scale, 60.0 * scale, 20.0 * scale, 20.0 * scale, 10.0 * scale};
  }
  const bool varying = std::uniform_real_distribution<double>(0.0, 1.0)(rng) < 0.3;
  std::vector<WaypointConstraints> limits(points, base);
  for (WaypointConstraints& record : limits) {
    for (int j = 0; varying && j < 6; ++j) {
      record.vmax[j] *= vary(rng);
      record.amax[j] *= vary(rng);
    }
  }
  return limits;
}

}  // namespace spline_test
