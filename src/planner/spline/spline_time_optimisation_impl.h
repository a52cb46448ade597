#pragma once

// Segment-time optimisation of SplineTrajectoryPlanner; included by spline_trajectory_planner_impl.h.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <type_traits>
#include <vector>

#include <Eigen/Core>

#include "bramlock_arm_planning_core/logger.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "bramlock_arm_planning_core/planner/constraint_evaluators.h"
#include "bramlock_arm_planning_core/planner/quintic_spline_interpolator.h"
#include "bramlock_arm_planning_core/planner/spline_coefficients.h"
#include "bramlock_arm_planning_core/planner/spline_trajectory_planner.h"

namespace spline_planner_detail {

constexpr int kJointCheckSamples = 21;
constexpr int kCubicTorqueSamples = 5;
constexpr int kCartesianSamplePoints = 8;  // at k T / 9, k = 1 .. 8
constexpr double kTighteningFactor = 0.99;
constexpr double kSamplePeriod = 0.001;

// Calls visit(e) for the instants 0, 0.001, ... (by repeated addition, as the samples have always
// been timed) up to total + 1e-9, each clipped to total.
template <class Visit>
void forEachSampleInstant(double total, Visit visit) {
  for (double s = 0.0; s <= total + 1e-9; s += kSamplePeriod) {
    visit(std::min(s, total));
  }
}

// Larger of two ratios; NaN wins, so a ratio that cannot be computed never passes as met.
inline double worseRatio(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return std::max(a, b);
}

inline double largestRatio(const ConstraintEvaluation& e) {
  return worseRatio(worseRatio(worseRatio(e.velocity_ratio, e.acceleration_ratio),
                               worseRatio(e.linear_velocity_ratio, e.angular_velocity_ratio)),
                    e.extra_ratio);
}

inline std::vector<double> knotTimes(const std::vector<double>& durations) {
  std::vector<double> times(durations.size() + 1, 0.0);
  for (std::size_t i = 0; i < durations.size(); ++i) {
    times[i + 1] = times[i] + durations[i];
  }
  return times;
}

// One spline per joint (rows of positions) at rest, and without acceleration, at both ends.
template <class Spline>
std::vector<Spline> restToRestSplines(const std::vector<double>& times,
                                      const std::vector<std::vector<double>>& positions) {
  std::vector<Spline> splines;
  splines.reserve(positions.size());
  for (const std::vector<double>& joint : positions) {
    if constexpr (std::is_same_v<Spline, QuinticSplineInterpolator>) {
      splines.emplace_back(times, joint, 0.0, 0.0, 0.0, 0.0);
    } else {
      splines.emplace_back(times, joint, 0.0, 0.0);
    }
  }
  return splines;
}

inline long long elapsedMilliseconds(std::chrono::system_clock::time_point start) {
  return static_cast<long long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now() - start).count());
}

// A violating segment passes 40 % of its increment to calm neighbours (excess 0), over
// at most `passes` passes; each pass offers the values of the pass before.
inline void spreadIncrements(std::vector<double>& increments, const std::vector<double>& excess, int passes) {
  for (int pass = 0; pass < passes; ++pass) {
    const std::vector<double> offered = increments;
    bool changed = false;
    const auto offer = [&](std::size_t neighbour, double amount) {
      if (excess[neighbour] == 0.0 && increments[neighbour] < amount) {
        increments[neighbour] = amount;
        changed = true;
      }
    };
    for (std::size_t i = 0; i < offered.size(); ++i) {
      if (offered[i] > 1e-6) {
        if (i > 0) offer(i - 1, 0.4 * offered[i]);
        if (i + 1 < offered.size()) offer(i + 1, 0.4 * offered[i]);
      }
    }
    if (!changed) {
      return;
    }
  }
}

// Segments next to a jump of the linear-speed limit by more than 25 % keep their durations.
template <class Segments>
std::vector<bool> protectedFromTightening(const Segments& segments) {
  const std::size_t m = segments.size();
  std::vector<bool> protected_segments(m, false);
  for (std::size_t k = 0; k + 1 < m; ++k) {
    const CartesianConstraints& here = segments[k].cartesian;
    const CartesianConstraints& next = segments[k + 1].cartesian;
    if (!here.enabled || !next.enabled) {
      continue;
    }
    const double ratio = next.max_linear_velocity / here.max_linear_velocity;
    if (!(ratio >= 0.8 && ratio <= 1.25)) {
      const std::size_t first = k == 0 ? 0 : k - 1;
      const std::size_t last = std::min(k + 3, m - 1);
      std::fill(protected_segments.begin() + static_cast<std::ptrdiff_t>(first),
                protected_segments.begin() + static_cast<std::ptrdiff_t>(last) + 1, true);
    }
  }
  return protected_segments;
}

}  // namespace spline_planner_detail

template <class Flavour>
bool SplineTrajectoryPlanner<Flavour>::dynamicsUsable() const {
  return model_ && data_ && model_->nq() == num_joints_;
}

template <class Flavour>
TrajectoryResult SplineTrajectoryPlanner<Flavour>::generateTimeOptimalTrajectory(
    const std::vector<std::vector<double>>& points, const std::vector<WaypointConstraints>& constraints,
    double tolerance, int maxIterations, bool saveCsv) {
  max_iterations_ = maxIterations;
  tolerance_ = tolerance;
  step_factor_ = 0.3;
  min_segment_time_ = 0.001;
  max_segment_time_ = 10.0;
  if (!initialize(points, constraints)) {
    BRAMLOCK_INFO(Flavour::kInitFailed);
    return TrajectoryResult();
  }
  computeSegmentConstraints();
  const std::vector<double> initial = computeInitialTimeIntervals();
  converged_ = false;
  const std::vector<double> durations = optimizeTimeIntervals(initial);
  if (!converged_) {
    BRAMLOCK_INFO(Flavour::kNotConverged);
    return TrajectoryResult();
  }
  return TrajectoryResult{true, generateTrajectory(durations, saveCsv)};
}

template <class Flavour>
std::vector<double> SplineTrajectoryPlanner<Flavour>::computeInitialTimeIntervals() const {
  const std::size_t segments = static_cast<std::size_t>(num_points_ - 1);
  std::vector<double> durations(segments, min_segment_time_);
  const bool dynamics = dynamicsUsable();
  for (std::size_t i = 0; i < segments; ++i) {
    const SegmentConstraints& limits = segment_constraints_[i];
    double& T = durations[i];
    for (std::size_t j = 0; j < static_cast<std::size_t>(num_joints_); ++j) {
      const double d = std::fabs(positions_[j][i + 1] - positions_[j][i]);
      if (d > 1e-12) {
        T = std::max({T, d / (0.8 * limits.vmax[j]), std::sqrt(2.0 * d / (0.8 * limits.amax[j]))});
      }
    }
    const CartesianConstraints& cartesian = limits.cartesian;
    if (cartesian.enabled && dynamics && model_->isFrameIndex(cartesian.frame_id)) {
      const auto frame = static_cast<bramlock::dynamics::FrameIndex>(cartesian.frame_id);
      Eigen::VectorXd q0(num_joints_), q1(num_joints_);
      for (Eigen::Index j = 0; j < q0.size(); ++j) {
        q0[j] = positions_[static_cast<std::size_t>(j)][i];
        q1[j] = positions_[static_cast<std::size_t>(j)][i + 1];
      }
      bramlock::dynamics::forwardKinematics(*model_, *data_, q0);
      const Eigen::Isometry3d start = bramlock::dynamics::framePlacement(*model_, *data_, frame);
      bramlock::dynamics::forwardKinematics(*model_, *data_, q1);
      const Eigen::Isometry3d end = bramlock::dynamics::framePlacement(*model_, *data_, frame);
      const double distance = (end.translation() - start.translation()).norm();
      const double angle = bramlock::dynamics::rotationAngle(start.linear().transpose() * end.linear());
      T = std::max(
          {T, distance / (0.6 * cartesian.max_linear_velocity), angle / (0.6 * cartesian.max_angular_velocity)});
    }
    T = std::min(std::max(T, min_segment_time_), max_segment_time_);
  }
  return durations;
}

template <class Flavour>
typename SplineTrajectoryPlanner<Flavour>::KnotStates SplineTrajectoryPlanner<Flavour>::computeKnotStates(
    const std::vector<double>& durations) const {
  KnotStates knots;
  const std::size_t joints = static_cast<std::size_t>(num_joints_);
  knots.velocities.reserve(joints);
  if constexpr (Flavour::kQuintic) {
    using namespace spline_planner_detail;
    knots.accelerations.reserve(joints);
    for (QuinticSplineInterpolator& spline :
         restToRestSplines<QuinticSplineInterpolator>(knotTimes(durations), positions_)) {
      knots.velocities.push_back(std::move(spline.velocities));
      knots.accelerations.push_back(std::move(spline.accelerations));
    }
  } else {
    for (std::size_t j = 0; j < joints; ++j) {
      knots.velocities.push_back(solveJointVelocities(positions_[j], durations));
    }
  }
  return knots;
}

template <class Flavour>
bool SplineTrajectoryPlanner<Flavour>::torqueLimited(const SegmentConstraints& limits) const {
  const bool any_limit =
      std::any_of(limits.torque_max.begin(), limits.torque_max.end(), [](double limit) { return limit != 0.0; });
  return torque_constraints_enabled_ && any_limit && dynamicsUsable();
}

template <class Flavour>
auto SplineTrajectoryPlanner<Flavour>::segmentPolynomials(const KnotStates& knots, std::size_t i, double T) const {
  using Segment = typename Flavour::Segment;
  const auto& p = positions_;
  const auto& v = knots.velocities;
  std::vector<Segment> segments;
  segments.reserve(p.size());
  for (std::size_t j = 0; j < p.size(); ++j) {
    if constexpr (Flavour::kQuintic) {
      const auto& a = knots.accelerations;
      segments.push_back(Segment::fromHermite(p[j][i], p[j][i + 1], v[j][i], v[j][i + 1], a[j][i], a[j][i + 1], T));
    } else {
      segments.push_back(Segment::fromHermite(p[j][i], p[j][i + 1], v[j][i], v[j][i + 1], T));
    }
  }
  return segments;
}

template <class Flavour>
typename SplineTrajectoryPlanner<Flavour>::SegmentRatios SplineTrajectoryPlanner<Flavour>::evaluateSegment(
    const KnotStates& knots, std::size_t i, double T) const {
  using namespace spline_planner_detail;
  const std::size_t joints = static_cast<std::size_t>(num_joints_);
  const WaypointConstraints& start = constraints_[i];
  const WaypointConstraints& end = constraints_[i + 1];
  const SegmentConstraints& limits = segment_constraints_[i];
  const auto& p = positions_;
  const auto& v = knots.velocities;
  const auto segments = segmentPolynomials(knots, i, T);
  SegmentRatios ratios;
  for (std::size_t j = 0; j < joints; ++j) {
    const ConstraintEvaluation evaluation = evaluateJointLimitRatios(
        segments[j], T, start.vmax[j], end.vmax[j], start.amax[j], end.amax[j], kJointCheckSamples);
    const double ratio = largestRatio(evaluation);
    ratios.joint_max = worseRatio(ratios.joint_max, ratio);
    if (ratio > 1.0) {
      ratios.joint_excess_share += (ratio - 1.0) / num_joints_;
    }
  }
  const bool dynamics = dynamicsUsable();
  if (limits.cartesian.enabled && dynamics) {
    ratios.cartesian_checked = true;
    Eigen::VectorXd q(num_joints_), qd(num_joints_);
    for (int k = 1; k <= kCartesianSamplePoints; ++k) {
      const double t = k * T / (kCartesianSamplePoints + 1);
      for (std::size_t j = 0; j < joints; ++j) {
        q[static_cast<Eigen::Index>(j)] = segments[j].position(t);
        qd[static_cast<Eigen::Index>(j)] = segments[j].velocity(t);
      }
      const ConstraintEvaluation evaluation =
          Flavour::kQuintic ? evaluateQuinticCartesianConstraints(q, qd, limits.cartesian, *model_, *data_)
                            : evaluateCartesianConstraints(q, qd, limits.cartesian, *model_, *data_);
      ratios.cartesian_max =
          k == 1 ? largestRatio(evaluation) : worseRatio(ratios.cartesian_max, largestRatio(evaluation));
    }
  }
  if (torqueLimited(limits)) {
    ratios.torque_checked = true;
    if constexpr (Flavour::kQuintic) {
      ratios.torque_max = evaluateQuinticTorqueConstraintsForSegment(
          static_cast<int>(i), p, v, knots.accelerations, limits.torque_max, *model_, *data_, num_joints_, T);
    } else {
      ratios.torque_max = evaluateTorqueConstraintsForSegment(static_cast<int>(i), T, p, v, limits.torque_max, *model_,
                                                              *data_, num_joints_, kCubicTorqueSamples);
    }
  }
  return ratios;
}

template <class Flavour>
std::vector<double> SplineTrajectoryPlanner<Flavour>::optimizeTimeIntervals(const std::vector<double>& initial) {
  using namespace spline_planner_detail;
  const auto started = std::chrono::system_clock::now();
  std::vector<double> T = initial;
  const std::size_t segments = T.size();
  const int spreading_passes = num_points_ < 11 ? (num_points_ - 1) / 2 : 5;
  // What the tightening pass may shorten each segment to; raised where the samples were over.
  std::vector<double> shortest(segments, min_segment_time_);
  double previous_total = 0.0;
  for (int k = 0; k < max_iterations_; ++k) {
    const KnotStates knots = computeKnotStates(T);
    std::vector<double> increments(segments, 0.0);
    std::vector<double> excess(segments, 0.0);
    double largest_excess = 0.0;
    for (std::size_t i = 0; i < segments; ++i) {
      const SegmentRatios ratios = evaluateSegment(knots, i, T[i]);
      const double cartesian_excess = ratios.cartesian_checked ? ratios.cartesian_max - 1.0 : -1.0;
      const double joint_excess = worseRatio(0.0, ratios.joint_max - 1.0);
      const double torque_excess = ratios.torque_checked ? ratios.torque_max - 1.0 : 0.0;
      double& g = increments[i];
      g += cartesian_excess > 0.0 ? cartesian_excess : 0.0;
      g += ratios.joint_excess_share;
      g += torque_excess > 0.0 ? torque_excess : 0.0;
      excess[i] = worseRatio(worseRatio(cartesian_excess, joint_excess), torque_excess);
      largest_excess = worseRatio(largest_excess, excess[i]);
    }
    const double total = std::accumulate(T.begin(), T.end(), 0.0);
    const bool settled = largest_excess < tolerance_ && std::fabs(total - previous_total) < 0.1 * tolerance_;
    if (settled && !lengthenWhereSamplesExceed(T, knots, shortest)) {
      converged_ = true;
      BRAMLOCK_INFO(Flavour::kConverged, k + 1, total, largest_excess);
      break;
    }
    if (!settled) {
      const double step = largest_excess > 0.5 ? 0.5 : (largest_excess < 0.05 ? 0.1 : step_factor_);
      spreadIncrements(increments, excess, spreading_passes);
      for (std::size_t i = 0; i < segments; ++i) {
        if (increments[i] > 0.0) {
          T[i] *= 1.0 + increments[i] * step;
        }
        T[i] = std::min(std::max(T[i], min_segment_time_), max_segment_time_);
      }
      if (largest_excess < 0.1 && k > 20) {
        optimizeTotalTime(T, knots, shortest);
      }
    }
    if (k == max_iterations_ - 1) {
      BRAMLOCK_INFO(Flavour::kIterationLimit, max_iterations_, total, largest_excess);
      converged_ = false;
    }
    previous_total = total;
  }
  BRAMLOCK_INFO(Flavour::kOptimisationTime, elapsedMilliseconds(started));
  return T;
}

template <class Flavour>
void SplineTrajectoryPlanner<Flavour>::optimizeTotalTime(std::vector<double>& durations, const KnotStates& knots,
                                                         const std::vector<double>& shortest) const {
  using namespace spline_planner_detail;
  const std::vector<bool> kept = protectedFromTightening(segment_constraints_);
  for (std::size_t s = 0; s < durations.size(); ++s) {
    const double shorter = kTighteningFactor * durations[s];
    if (kept[s] || shorter < shortest[s]) {
      continue;
    }
    const SegmentRatios ratios = evaluateSegment(knots, s, shorter);
    const bool met = ratios.joint_max <= kViolationThreshold &&
                     (!ratios.cartesian_checked || ratios.cartesian_max <= kViolationThreshold) &&
                     (!ratios.torque_checked || ratios.torque_max <= kViolationThreshold);
    if (met) {
      durations[s] = shorter;
    }
  }
}

template <class Flavour>
bool SplineTrajectoryPlanner<Flavour>::lengthenWhereSamplesExceed(std::vector<double>& durations,
                                                                  const KnotStates& knots,
                                                                  std::vector<double>& shortest) const {
  using namespace spline_planner_detail;
  const std::vector<double> peaks = sampledPeakRatios(durations, knots);
  std::vector<double> increments(durations.size(), 0.0);
  for (std::size_t i = 0; i < durations.size(); ++i) {
    // Written so that NaN lengthens too (to the longest segment).
    if (!(peaks[i] <= 1.0 + tolerance_)) {
      increments[i] = std::isfinite(peaks[i]) ? peaks[i] - 1.0 : std::numeric_limits<double>::infinity();
    }
  }
  if (std::all_of(increments.begin(), increments.end(), [](double g) { return g == 0.0; })) {
    return false;
  }
  // Speeds fall with the duration, accelerations and their torques faster: growing by the peak's
  // excess is enough for the segment itself. A peak at a knot is shared with the neighbour, which
  // takes part of it as in the optimisation.
  const std::vector<double> over = increments;
  spreadIncrements(increments, over, 1);
  for (std::size_t i = 0; i < durations.size(); ++i) {
    if (increments[i] > 0.0) {
      durations[i] = std::min(durations[i] * (1.0 + increments[i]), max_segment_time_);
      shortest[i] = durations[i];
    }
  }
  return true;
}

template <class Flavour>
std::vector<double> SplineTrajectoryPlanner<Flavour>::sampledPeakRatios(const std::vector<double>& durations,
                                                                        const KnotStates& knots) const {
  using namespace spline_planner_detail;
  const std::vector<double> times = knotTimes(durations);
  std::vector<double> peaks(durations.size(), 0.0);
  std::size_t i = 0;
  std::vector<typename Flavour::Segment> segments;
  const auto take = [&](double t) { peaks[i] = worseRatio(peaks[i], instantRatio(segments, i, t, durations[i])); };
  const auto enter = [&](std::size_t segment) {
    i = segment;
    segments = segmentPolynomials(knots, i, durations[i]);
    // Both ends: the waypoint records hold the values where the segments meet.
    take(0.0);
    take(durations[i]);
  };
  enter(0);
  forEachSampleInstant(times.back(), [&](double e) {
    while (i + 1 < durations.size() && e >= times[i + 1]) {
      enter(i + 1);
    }
    take(e - times[i]);
  });
  return peaks;
}

template <class Flavour>
template <class Segment>
double SplineTrajectoryPlanner<Flavour>::instantRatio(const std::vector<Segment>& segments, std::size_t i, double t,
                                                      double T) const {
  using namespace spline_planner_detail;
  const WaypointConstraints& start = constraints_[i];
  const WaypointConstraints& end = constraints_[i + 1];
  ConstraintEvaluation joints;
  for (std::size_t j = 0; j < segments.size(); ++j) {
    takeJointLimitRatiosAt(segments[j], t, T, start.vmax[j], end.vmax[j], start.amax[j], end.amax[j], joints);
  }
  double ratio = largestRatio(joints);
  const SegmentConstraints& limits = segment_constraints_[i];
  const bool tool_limited = limits.cartesian.enabled && dynamicsUsable();
  const bool torque_limited = torqueLimited(limits);
  if (!tool_limited && !torque_limited) {
    return ratio;
  }
  Eigen::VectorXd q(num_joints_), qd(num_joints_), qdd(num_joints_);
  for (Eigen::Index j = 0; j < q.size(); ++j) {
    const auto& segment = segments[static_cast<std::size_t>(j)];
    q[j] = segment.position(t);
    qd[j] = segment.velocity(t);
    qdd[j] = segment.acceleration(t);
  }
  if (tool_limited) {
    // The caller's limits, not the ramped ones the optimiser steers by.
    const CartesianConstraints tool = requestedCartesianLimits(start, end, ee_frame_id_);
    ratio = worseRatio(ratio, largestRatio(evaluateCartesianConstraints(q, qd, tool, *model_, *data_)));
  }
  if (torque_limited) {
    ratio = worseRatio(ratio, largestTorqueRatio(bramlock::dynamics::rnea(*model_, *data_, q, qd, qdd),
                                                 limits.torque_max));
  }
  return ratio;
}
