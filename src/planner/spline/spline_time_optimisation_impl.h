#pragma once

// Segment-time optimisation of SplineTrajectoryPlanner; included by spline_trajectory_planner_impl.h.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <vector>

#include <Eigen/Core>

#include "bramlock_arm_planning_core/logger.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "bramlock_arm_planning_core/planner/constraint_evaluators.h"
#include "bramlock_arm_planning_core/planner/spline_coefficients.h"
#include "bramlock_arm_planning_core/planner/spline_trajectory_planner.h"

namespace bramlock {
namespace internal {

constexpr int kJointCheckSamples = 21;
constexpr int kCartesianSamplePoints = 8;  // at k T / 9, k = 1 .. 8
constexpr double kTighteningFactor = 0.99;
constexpr double kSamplePeriod = 0.001;

// The optimiser's step schedule: a segment over its limits by the ratio excess e grows by
// e * step (shared with its neighbours), the step chosen by the largest excess of the pass.
// Far over: half the excess per pass, so large errors close fast without overshooting.
constexpr double kLargeExcess = 0.5;
constexpr double kLargeExcessStep = 0.5;
// Nearly met: a small step, so the last per cent is approached without lengthening too far.
constexpr double kSmallExcess = 0.05;
constexpr double kSmallExcessStep = 0.1;
// In between, and the planner's starting step factor.
constexpr double kModerateExcessStep = 0.3;
// Settled once the total changes by less than this share of the tolerance in one pass.
constexpr double kSettledTotalShare = 0.1;
// Tightening starts only when every segment is within 10 % of its limits...
constexpr double kTighteningExcess = 0.1;
// ...and after 20 passes, so the lengthening has spread before segments are shortened again.
constexpr int kTighteningFirstPass = 20;
// An increment travels at most this many segments (and at most half the path): farther
// segments hardly change the knot states next to the violation.
constexpr int kMaxSpreadingPasses = 5;
// Share of a violating segment's increment offered to each calm neighbour: the knot between
// them carries the peak, and lengthening either side lowers it.
constexpr double kNeighbourShare = 0.4;
// Increments at or below this are rounding, not violations, and are not spread.
constexpr double kSpreadableIncrement = 1e-6;

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
template <class Flavour>
std::vector<typename Flavour::Spline> restToRestSplines(const std::vector<double>& times,
                                                        const std::vector<std::vector<double>>& positions) {
  std::vector<typename Flavour::Spline> splines;
  splines.reserve(positions.size());
  for (const std::vector<double>& joint : positions) {
    splines.push_back(Flavour::restToRestSpline(times, joint));
  }
  return splines;
}

inline long long elapsedMilliseconds(std::chrono::system_clock::time_point start) {
  return static_cast<long long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now() - start).count());
}

// A violating segment passes kNeighbourShare of its increment to calm neighbours (excess 0), over
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
      if (offered[i] > kSpreadableIncrement) {
        if (i > 0) offer(i - 1, kNeighbourShare * offered[i]);
        if (i + 1 < offered.size()) offer(i + 1, kNeighbourShare * offered[i]);
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

}  // namespace internal
}  // namespace bramlock

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
  step_factor_ = bramlock::internal::kModerateExcessStep;
  min_segment_time_ = 0.001;
  max_segment_time_ = 10.0;
  if (!initialize(points, constraints)) {
    BRAMLOCK_INFO(Flavour::kInitFailed);
    return TrajectoryResult();
  }
  computeSegmentConstraints();
  const std::vector<double> initial = computeInitialTimeIntervals();
  converged_ = false;
  std::vector<double> durations = optimizeTimeIntervals(initial, Tightening::kEverySegment);
  if (!converged_) {
    // Tightening can hold slowly growing segments over their limits for good; a second run that
    // spares their neighbours gets there, and leaves every result of the first run as it was.
    durations = optimizeTimeIntervals(initial, Tightening::kAwayFromExcess);
  }
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
  Flavour::solveKnotStates(positions_, durations, knots);
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
  std::vector<typename Flavour::Segment> segments;
  segments.reserve(positions_.size());
  for (std::size_t j = 0; j < positions_.size(); ++j) {
    segments.push_back(Flavour::segment(positions_, knots, j, i, T));
  }
  return segments;
}

template <class Flavour>
typename SplineTrajectoryPlanner<Flavour>::SegmentRatios SplineTrajectoryPlanner<Flavour>::evaluateSegment(
    const KnotStates& knots, std::size_t i, double T) const {
  using namespace bramlock::internal;
  const std::size_t joints = static_cast<std::size_t>(num_joints_);
  const WaypointConstraints& start = constraints_[i];
  const WaypointConstraints& end = constraints_[i + 1];
  const SegmentConstraints& limits = segment_constraints_[i];
  const auto segments = segmentPolynomials(knots, i, T);
  SegmentRatios ratios;
  for (std::size_t j = 0; j < joints; ++j) {
    const ConstraintEvaluation evaluation = evaluateJointLimitRatios(segments[j], T, start.vmax[j], end.vmax[j],
                                                                     start.amax[j], end.amax[j], kJointCheckSamples);
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
      const ConstraintEvaluation evaluation = Flavour::cartesianRatios(q, qd, limits.cartesian, *model_, *data_);
      ratios.cartesian_max =
          k == 1 ? largestRatio(evaluation) : worseRatio(ratios.cartesian_max, largestRatio(evaluation));
    }
  }
  if (torqueLimited(limits)) {
    ratios.torque_checked = true;
    ratios.torque_max =
        Flavour::segmentTorqueRatio(i, T, positions_, knots, limits.torque_max, *model_, *data_, num_joints_);
  }
  return ratios;
}

template <class Flavour>
std::vector<double> SplineTrajectoryPlanner<Flavour>::optimizeTimeIntervals(const std::vector<double>& initial,
                                                                            Tightening tightening) {
  using namespace bramlock::internal;
  const auto started = std::chrono::system_clock::now();
  std::vector<double> T = initial;
  const std::size_t segments = T.size();
  const int spreading_passes = std::min((num_points_ - 1) / 2, kMaxSpreadingPasses);
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
    const bool settled =
        largest_excess < tolerance_ && std::fabs(total - previous_total) < kSettledTotalShare * tolerance_;
    if (settled && !lengthenWhereSamplesExceed(T, knots, shortest)) {
      converged_ = true;
      BRAMLOCK_INFO(Flavour::kConverged, k + 1, total, largest_excess);
      break;
    }
    if (!settled) {
      const double step = largest_excess > kLargeExcess
                              ? kLargeExcessStep
                              : (largest_excess < kSmallExcess ? kSmallExcessStep : step_factor_);
      spreadIncrements(increments, excess, spreading_passes);
      for (std::size_t i = 0; i < segments; ++i) {
        if (increments[i] > 0.0) {
          T[i] *= 1.0 + increments[i] * step;
        }
        T[i] = std::min(std::max(T[i], min_segment_time_), max_segment_time_);
      }
      if (largest_excess < kTighteningExcess && k > kTighteningFirstPass) {
        optimizeTotalTime(T, knots, shortest, tightening, excess);
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
                                                         const std::vector<double>& shortest, Tightening tightening,
                                                         const std::vector<double>& excess) const {
  using namespace bramlock::internal;
  const std::vector<bool> kept = protectedFromTightening(segment_constraints_);
  const auto over = [&](std::size_t s) { return s < excess.size() && excess[s] > 0.0; };
  for (std::size_t s = 0; s < durations.size(); ++s) {
    const double shorter = kTighteningFactor * durations[s];
    if (kept[s] || shorter < shortest[s]) {
      continue;
    }
    // Shortened with its neighbours' old knot states, a segment between two that are over pushes
    // their knot accelerations back up.
    const bool next_to_excess = (s > 0 && over(s - 1)) || over(s + 1);
    if (tightening == Tightening::kAwayFromExcess && next_to_excess) {
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
  using namespace bramlock::internal;
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
  using namespace bramlock::internal;
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
  using namespace bramlock::internal;
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
    ratio =
        worseRatio(ratio, largestTorqueRatio(bramlock::dynamics::rnea(*model_, *data_, q, qd, qdd), limits.torque_max));
  }
  return ratio;
}
