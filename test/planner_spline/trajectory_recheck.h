#pragma once

// An independent re-check of a planned spline trajectory: the test's own spline through the
// returned waypoints at the returned knot times, evaluated at every returned sample, and the
// limits the caller asked for at that instant.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

#include <Eigen/Core>

#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "bramlock_arm_planning_core/planner/cubic_spline_m.h"
#include "bramlock_arm_planning_core/planner/quintic_spline_interpolator.h"
#include "bramlock_arm_planning_core/planner/trajectory_data.h"
#include "bramlock_arm_planning_core/planner/waypoint_constraints.h"

namespace spline_test {

// The largest ratios value / limit found over the samples.
struct PeakRatios {
  double velocity = 0.0;                 // joint velocity, from the spline's derivative
  double acceleration = 0.0;             // joint acceleration, from the spline's derivative
  double difference_velocity = 0.0;      // joint velocity, central differences of the positions
  double difference_acceleration = 0.0;  // joint acceleration, second differences of the positions
  double linear = 0.0;                   // tool linear speed
  double angular = 0.0;                  // tool angular speed
  double torque = 0.0;
  double position_error = 0.0;  // largest |sample position - own spline position|
  double record_error = 0.0;    // largest |waypoint record - own spline derivative| / limit

  double largest() const {
    return std::max({velocity, acceleration, difference_velocity, difference_acceleration, linear, angular, torque});
  }
};

// What the re-check needs beyond the path and its limits: the planner's dynamics model (null:
// no tool or torque check), its tool frame and whether torque limits are on, with the model's
// own limits for waypoints that give none.
struct RecheckSetup {
  std::shared_ptr<const bramlock::dynamics::Model> model;
  int tool_frame = -1;
  bool torque_limited = false;
  std::vector<double> default_torque_limits;
};

namespace recheck_detail {

inline Eigen::VectorXd asVector(const std::vector<double>& values) {
  return Eigen::Map<const Eigen::VectorXd>(values.data(), static_cast<Eigen::Index>(values.size()));
}

// Own rest-to-rest spline of each joint through the returned waypoints.
template <class Spline>
std::vector<Spline> ownSplines(const std::vector<TrajectoryData>& waypoints) {
  std::vector<double> times;
  for (const TrajectoryData& point : waypoints) times.push_back(point.time);
  std::vector<Spline> splines;
  for (std::size_t j = 0; j < waypoints.front().positions.size(); ++j) {
    std::vector<double> joint;
    for (const TrajectoryData& point : waypoints) joint.push_back(point.positions[j]);
    if constexpr (std::is_same_v<Spline, QuinticSplineInterpolator>) {
      splines.emplace_back(times, joint, 0.0, 0.0, 0.0, 0.0);
    } else {
      splines.emplace_back(times, joint, 0.0, 0.0);
    }
  }
  return splines;
}

// Segment holding time e: the last knot at or before e, at most the last segment.
inline std::size_t segmentOf(const std::vector<TrajectoryData>& waypoints, double e) {
  std::size_t s = 0;
  while (s + 2 < waypoints.size() && waypoints[s + 1].time <= e) ++s;
  return s;
}

// The joint limit at time e of segment s: linear from its start waypoint's to its end's.
inline double jointLimit(const std::vector<double>& start, const std::vector<double>& end, std::size_t j,
                         double share) {
  return start[j] * (1.0 - share) + end[j] * share;
}

// Tool limit between two waypoints: the tighter of both on the planner's tool frame, or the one
// waypoint's own limit and frame.
inline CartesianConstraints toolLimit(const WaypointConstraints& a, const WaypointConstraints& b, int tool_frame) {
  if (a.cartesian.enabled && b.cartesian.enabled) {
    CartesianConstraints both = a.cartesian;
    both.frame_id = tool_frame;
    both.max_linear_velocity = std::min(a.cartesian.max_linear_velocity, b.cartesian.max_linear_velocity);
    both.max_angular_velocity = std::min(a.cartesian.max_angular_velocity, b.cartesian.max_angular_velocity);
    return both;
  }
  return a.cartesian.enabled ? a.cartesian : b.cartesian;
}

inline double torqueLimit(const WaypointConstraints& a, const WaypointConstraints& b, std::size_t j,
                          const std::vector<double>& defaults) {
  if (!a.torque_max.empty() && !b.torque_max.empty()) return std::min(a.torque_max[j], b.torque_max[j]);
  if (!a.torque_max.empty()) return a.torque_max[j];
  if (!b.torque_max.empty()) return b.torque_max[j];
  return j < defaults.size() ? defaults[j] : 0.0;
}

}  // namespace recheck_detail

// Peak ratios of every returned sample and waypoint record of a successful plan of `constraints`.
template <class Spline>
PeakRatios recheckTrajectory(const std::vector<TrajectoryData>& waypoints,
                             const std::vector<WaypointConstraints>& constraints, const RecheckSetup& setup) {
  using namespace recheck_detail;
  PeakRatios peak;
  const std::vector<Spline> splines = ownSplines<Spline>(waypoints);
  const std::vector<TrajectoryData>& samples = waypoints.front().children;
  const std::size_t joints = splines.size();
  std::unique_ptr<bramlock::dynamics::Data> data;
  if (setup.model != nullptr) data = std::make_unique<bramlock::dynamics::Data>(setup.model);
  Eigen::VectorXd q(joints), qd(joints), qdd(joints);
  for (std::size_t k = 0; k < samples.size(); ++k) {
    const double e = samples[k].time;
    const std::size_t s = segmentOf(waypoints, e);
    const WaypointConstraints& a = constraints[s];
    const WaypointConstraints& b = constraints[s + 1];
    const double share = std::clamp((e - waypoints[s].time) / (waypoints[s + 1].time - waypoints[s].time), 0.0, 1.0);
    for (std::size_t j = 0; j < joints; ++j) {
      const auto i = static_cast<Eigen::Index>(j);
      q[i] = splines[j].position(e);
      qd[i] = splines[j].velocity(e);
      qdd[i] = splines[j].acceleration(e);
      const double vlim = jointLimit(a.vmax, b.vmax, j, share);
      const double alim = jointLimit(a.amax, b.amax, j, share);
      peak.position_error = std::max(peak.position_error, std::fabs(samples[k].positions[j] - q[i]));
      peak.velocity = std::max(peak.velocity, std::fabs(qd[i]) / vlim);
      peak.acceleration = std::max(peak.acceleration, std::fabs(qdd[i]) / alim);
      if (k > 0 && k + 1 < samples.size()) {
        const double before = samples[k - 1].positions[j], here = samples[k].positions[j];
        const double after = samples[k + 1].positions[j];
        const double h = (samples[k + 1].time - samples[k - 1].time) / 2.0;
        peak.difference_velocity = std::max(peak.difference_velocity, std::fabs(after - before) / (2.0 * h) / vlim);
        peak.difference_acceleration =
            std::max(peak.difference_acceleration, std::fabs(after - 2.0 * here + before) / (h * h) / alim);
      }
    }
    if (data == nullptr) continue;
    const CartesianConstraints tool = toolLimit(a, b, setup.tool_frame);
    if (tool.enabled && setup.model->isFrameIndex(tool.frame_id)) {
      bramlock::dynamics::forwardKinematics(*setup.model, *data, q, qd);
      const bramlock::dynamics::FrameVelocity velocity = bramlock::dynamics::frameVelocity(
          *setup.model, *data, static_cast<bramlock::dynamics::FrameIndex>(tool.frame_id));
      peak.linear = std::max(peak.linear, velocity.linear.norm() / tool.max_linear_velocity);
      peak.angular = std::max(peak.angular, velocity.angular.norm() / tool.max_angular_velocity);
    }
    if (!setup.torque_limited) continue;
    const Eigen::VectorXd tau = bramlock::dynamics::rnea(*setup.model, *data, q, qd, qdd);
    for (std::size_t j = 0; j < joints; ++j) {
      const double limit = torqueLimit(a, b, j, setup.default_torque_limits);
      if (limit > 0.0) peak.torque = std::max(peak.torque, std::fabs(tau[static_cast<Eigen::Index>(j)]) / limit);
    }
  }
  // Waypoint records: the own spline's derivatives there, within the waypoint's own limits.
  for (std::size_t i = 0; i < waypoints.size(); ++i) {
    const double e = waypoints[i].time;
    for (std::size_t j = 0; j < joints; ++j) {
      const double v = waypoints[i].velocities[j], acc = waypoints[i].accelerations[j];
      peak.velocity = std::max(peak.velocity, std::fabs(v) / constraints[i].vmax[j]);
      peak.acceleration = std::max(peak.acceleration, std::fabs(acc) / constraints[i].amax[j]);
      peak.record_error = std::max({peak.record_error, std::fabs(v - splines[j].velocity(e)) / constraints[i].vmax[j],
                                    std::fabs(acc - splines[j].acceleration(e)) / constraints[i].amax[j]});
    }
  }
  return peak;
}

}  // namespace spline_test
