#pragma once

// Member definitions of SplineTrajectoryPlanner; included by the sources that
// instantiate it with their flavour. Besides its messages, a flavour provides:
//   Segment, Spline                  one joint's polynomial over a segment, one joint's spline
//   kCsvPrefix                       file name prefix of the sample file
//   restToRestSpline(times, joint)   the spline at rest at both ends
//   solveKnotStates(p, d, knots)     the knot derivatives the segments are built from
//   segment(p, knots, j, i, T)       joint j's polynomial over segment i lasting T
//   cartesianRatios(...)             tool-speed ratios at one instant of the optimiser's check
//   segmentTorqueRatio(...)          the largest torque ratio the optimiser checks over a segment
//   waypointDerivatives(...)         velocities and accelerations reported at the waypoints
//   writeJerkHeader / writeJerk      the jerk columns of the sample file, where it has them

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>

#include "bramlock_arm_planning_core/logger.h"
#include "bramlock_arm_planning_core/planner/spline_trajectory_planner.h"
#include "planner/segment_limits.h"
#include "planner/spline/arm_tool_model.h"

template <class Flavour>
void SplineTrajectoryPlanner<Flavour>::setMdhParams(std::vector<ArmMDHParams> params) {
  mdh_params_ = std::move(params);
}

template <class Flavour>
void SplineTrajectoryPlanner<Flavour>::enableTorqueConstraints(bool on) {
  torque_constraints_enabled_ = on;
  BRAMLOCK_INFO(Flavour::kTorqueSwitch, on ? "已启用" : "已禁用");
}

template <class Flavour>
bool SplineTrajectoryPlanner<Flavour>::setRobotModel(const std::string& urdf_path, const std::string& ee_frame_name) {
  try {
    // Built aside and committed together, so a failed load leaves the previous pair intact.
    std::shared_ptr<bramlock::dynamics::Model> model = bramlock::internal::loadArmModelWithTool(urdf_path);
    auto data = std::make_shared<bramlock::dynamics::Data>(model);
    int frame_id = frameIdCarriedOver(*model);
    if (!ee_frame_name.empty()) {
      if (model->existFrame(ee_frame_name)) {
        frame_id = static_cast<int>(model->getFrameId(ee_frame_name));
        BRAMLOCK_INFO(Flavour::kFrameFound, ee_frame_name, frame_id);
      } else {
        BRAMLOCK_INFO(Flavour::kFrameNotFound, ee_frame_name);
      }
    }
    const Eigen::VectorXd effort = model->effortLimit();
    model_ = std::move(model);
    data_ = std::move(data);
    ee_frame_id_ = frame_id;
    torque_limits_.assign(effort.data(), effort.data() + effort.size());
    logTorqueLimits();
    return true;
  } catch (const std::exception& error) {
    BRAMLOCK_INFO(Flavour::kLoadFailed, error.what());
    return false;
  }
}

template <class Flavour>
int SplineTrajectoryPlanner<Flavour>::frameIdCarriedOver(const bramlock::dynamics::Model& new_model) const {
  if (!model_ || !model_->isFrameIndex(ee_frame_id_) || !new_model.isFrameIndex(ee_frame_id_)) {
    return -1;
  }
  const std::size_t index = static_cast<std::size_t>(ee_frame_id_);
  return model_->frames()[index].name == new_model.frames()[index].name ? ee_frame_id_ : -1;
}

template <class Flavour>
void SplineTrajectoryPlanner<Flavour>::logTorqueLimits() const {
  const auto shown = [this](std::size_t k) { return k < torque_limits_.size() ? torque_limits_[k] : 0.0; };
  BRAMLOCK_INFO(Flavour::kTorqueLimits, shown(0), shown(1), shown(2), shown(3), shown(4), shown(5));
}

template <class Flavour>
TrajectoryResult SplineTrajectoryPlanner<Flavour>::generateTimeOptimalTrajectory(
    const std::vector<std::vector<double>>& points, const std::vector<double>& vmax, const std::vector<double>& amax,
    double tolerance, int maxIterations, bool saveCsv, const CartesianConstraints& cartesian) {
  WaypointConstraints uniform;
  uniform.vmax = vmax;
  uniform.amax = amax;
  uniform.cartesian = cartesian;
  const std::vector<WaypointConstraints> constraints(points.size(), uniform);
  return generateTimeOptimalTrajectory(points, constraints, tolerance, maxIterations, saveCsv);
}

template <class Flavour>
bool SplineTrajectoryPlanner<Flavour>::initialize(const std::vector<std::vector<double>>& points,
                                                  const std::vector<WaypointConstraints>& constraints) {
  if (points.empty() || points.front().empty()) {
    BRAMLOCK_INFO(Flavour::kInvalidPoints);
    return false;
  }
  num_points_ = static_cast<int>(points.size());
  num_joints_ = static_cast<int>(points.front().size());
  const std::size_t joints = points.front().size();
  if (points.size() < 2) {
    BRAMLOCK_INFO(Flavour::kTooFewPoints);
    return false;
  }
  if (constraints.size() != points.size()) {
    BRAMLOCK_INFO(Flavour::kConstraintCountMismatch, constraints.size(), points.size());
    return false;
  }
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (!std::all_of(points[i].begin(), points[i].end(), [](double value) { return std::isfinite(value); })) {
      BRAMLOCK_INFO(Flavour::kInvalidPoints);
      return false;
    }
  }
  for (std::size_t i = 0; i < points.size(); ++i) {
    const WaypointConstraints& limits = constraints[i];
    if (points[i].size() < joints || limits.vmax.size() != joints || limits.amax.size() != joints ||
        (!limits.torque_max.empty() && limits.torque_max.size() != joints)) {
      BRAMLOCK_INFO(Flavour::kDimensionMismatch, i);
      return false;
    }
    for (std::size_t j = 0; j < joints; ++j) {
      // Written so that NaN fails too.
      if (!(limits.vmax[j] > 0.0) || !(limits.amax[j] > 0.0)) {
        BRAMLOCK_INFO(Flavour::kInvalidLimit, i, j, limits.vmax[j], limits.amax[j]);
        return false;
      }
    }
  }
  positions_.assign(joints, std::vector<double>(points.size()));
  for (std::size_t i = 0; i < points.size(); ++i) {
    for (std::size_t j = 0; j < joints; ++j) {
      positions_[j][i] = points[i][j];
    }
  }
  constraints_ = constraints;
  if (model_ && data_ && !dynamicsUsable()) {
    // Planned as if no model were loaded: its torques and frame speeds are those of another arm.
    BRAMLOCK_INFO(Flavour::kModelJointMismatch, model_->nq(), num_joints_);
  }
  const bool cartesian_requested = std::any_of(constraints.begin(), constraints.end(),
                                               [](const WaypointConstraints& c) { return c.cartesian.enabled; });
  if (cartesian_requested && !dynamicsUsable()) {
    BRAMLOCK_INFO(Flavour::kCartesianWithoutModel);
  }
  return true;
}

namespace bramlock {
namespace internal {

// The linear-speed limit a segment may keep next to a neighbour limited to x.
inline double neighbourLinearLimit(double x) { return std::max(std::min(x + 0.1, 2.5 * x), x + 0.05); }

// Lowers limit to the neighbour rule of `neighbour`; true when it changed.
inline bool smoothAgainst(const CartesianConstraints& neighbour, CartesianConstraints& limit) {
  if (!neighbour.enabled || !limit.enabled) {
    return false;
  }
  const double allowed = neighbourLinearLimit(neighbour.max_linear_velocity);
  if (allowed < limit.max_linear_velocity) {
    limit.max_linear_velocity = allowed;
    return true;
  }
  return false;
}

// The Cartesian limits of the segment between waypoints a and b as the caller asked: the tighter
// of both on the planner's frame, or those of the one waypoint that has any.
inline CartesianConstraints requestedCartesianLimits(const WaypointConstraints& a, const WaypointConstraints& b,
                                                     int frame_id) {
  if (!a.cartesian.enabled && !b.cartesian.enabled) {
    return CartesianConstraints();
  }
  return tighterCartesianLimits(a.cartesian, b.cartesian, frame_id);
}

// The tighter torque limits of both waypoints; a segment with none at either end takes the model's
// when torque limits are on, and 0 (no limit) for any joint the model has none for.
inline std::vector<double> segmentTorqueLimits(const WaypointConstraints& a, const WaypointConstraints& b,
                                               std::size_t joints, bool torque_enabled,
                                               const std::vector<double>& model_limits) {
  std::vector<double> limits = tighterJointLimits(a.torque_max, b.torque_max);
  if (!limits.empty()) {
    return limits;
  }
  limits.assign(joints, 0.0);
  if (torque_enabled) {
    std::copy_n(model_limits.begin(), std::min(joints, model_limits.size()), limits.begin());
  }
  return limits;
}

}  // namespace internal
}  // namespace bramlock

template <class Flavour>
void SplineTrajectoryPlanner<Flavour>::computeSegmentConstraints() {
  using namespace bramlock::internal;
  segment_constraints_.clear();
  if (num_points_ < 2) {
    return;
  }
  const std::size_t joints = static_cast<std::size_t>(num_joints_);
  segment_constraints_.reserve(static_cast<std::size_t>(num_points_ - 1));
  for (std::size_t s = 0; s + 1 < static_cast<std::size_t>(num_points_); ++s) {
    const WaypointConstraints& a = constraints_[s];
    const WaypointConstraints& b = constraints_[s + 1];
    SegmentConstraints record;
    record.vmax = tighterJointLimits(a.vmax, b.vmax);
    record.amax = tighterJointLimits(a.amax, b.amax);
    record.torque_max = segmentTorqueLimits(a, b, joints, torque_constraints_enabled_, torque_limits_);
    record.cartesian = requestedCartesianLimits(a, b, ee_frame_id_);
    segment_constraints_.push_back(record);
  }
  // A segment may not be much faster than its neighbour, so speed changes ramp over segments.
  const std::size_t m = segment_constraints_.size();
  for (std::size_t pass = 0; m >= 2 && pass < m; ++pass) {
    bool changed = false;
    for (std::size_t s = 0; s + 1 < m; ++s) {
      changed |= smoothAgainst(segment_constraints_[s + 1].cartesian, segment_constraints_[s].cartesian);
    }
    for (std::size_t s = m - 1; s >= 1; --s) {
      changed |= smoothAgainst(segment_constraints_[s - 1].cartesian, segment_constraints_[s].cartesian);
    }
    if (!changed) {
      break;
    }
  }
}

#include "planner/spline/spline_time_optimisation_impl.h"
#include "planner/spline/spline_trajectory_sampling_impl.h"
