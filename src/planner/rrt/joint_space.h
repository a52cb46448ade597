#pragma once

#include <cassert>
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "bramlock_arm_planning_core/plan_scene/plan_scene_interface.h"

// Joint-space primitives shared by the RRT-Connect search and the
// post-processing of its paths.
namespace bramlock::internal {

using JointPath = std::vector<std::vector<double>>;

// The scene's two checkers: the regular one (isValid, checkMotion) and the
// simplify one (isValidSimplify, checkMotionSimplify).
using StateCheck = bool (PlanSceneInterface::*)(double*);
using MotionCheck = bool (PlanSceneInterface::*)(double*, double*);

// Euclidean distance over the first count entries of both vectors.
inline double euclideanDistance(const std::vector<double>& a, const std::vector<double>& b, std::size_t count) {
  assert(a.size() >= count && b.size() >= count);
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(sum);
}

inline double euclideanDistance(const std::vector<double>& a, const std::vector<double>& b) {
  return euclideanDistance(a, b, a.size());
}

// a + t (b - a), entry by entry over the entries of a.
inline std::vector<double> interpolate(const std::vector<double>& a, const std::vector<double>& b, double t) {
  assert(b.size() >= a.size());
  std::vector<double> point(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) point[i] = a[i] + t * (b[i] - a[i]);
  return point;
}

// L[0] = 0, L[i] = L[i-1] + |p[i] - p[i-1]|.
inline std::vector<double> cumulativeLengths(const JointPath& path) {
  std::vector<double> lengths(path.size(), 0.0);
  for (std::size_t i = 1; i < path.size(); ++i) lengths[i] = lengths[i - 1] + euclideanDistance(path[i - 1], path[i]);
  return lengths;
}

inline double uniformReal(std::mt19937& engine, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(engine);
}

// The scene's answer with the given checker for the first dof entries of the
// state; the scene reads exactly one value per planned joint.
inline bool stateAccepted(PlanSceneInterface& scene, int dof, const std::vector<double>& state, StateCheck check) {
  assert(dof >= 0 && static_cast<int>(state.size()) >= dof);
  std::vector<double> joints(state.begin(), state.begin() + dof);
  return (scene.*check)(joints.data());
}

inline bool motionAccepted(PlanSceneInterface& scene, int dof, const std::vector<double>& from,
                           const std::vector<double>& to, MotionCheck check) {
  assert(dof >= 0 && static_cast<int>(from.size()) >= dof && static_cast<int>(to.size()) >= dof);
  std::vector<double> first(from.begin(), from.begin() + dof);
  std::vector<double> second(to.begin(), to.begin() + dof);
  return (scene.*check)(first.data(), second.data());
}

}  // namespace bramlock::internal
