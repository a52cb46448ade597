#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics_data.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics_model.h"

namespace bramlock {
namespace dynamics {

// Every algorithm checks that data belongs to model and that vectors have nq entries
// (std::invalid_argument otherwise). Joint values that are not finite give results
// that are not finite; callers that check limits read those as violations.

// Joint placements for q.
BRAMLOCK_EXPORT void forwardKinematics(const Model& model, Data& data, const Eigen::VectorXd& q);
// Joint placements and velocities for q and v.
BRAMLOCK_EXPORT void forwardKinematics(const Model& model, Data& data, const Eigen::VectorXd& q,
                                       const Eigen::VectorXd& v);
// Placement of a frame in the root frame, from the last forwardKinematics.
BRAMLOCK_EXPORT Eigen::Isometry3d framePlacement(const Model& model, const Data& data, FrameIndex frame);
// Velocity of a frame, from the last forwardKinematics with velocities (std::logic_error without one).
BRAMLOCK_EXPORT FrameVelocity frameVelocity(const Model& model, const Data& data, FrameIndex frame);
// Joint torques tau = M(q) a + C(q, v) v + g(q) over the whole tree under the model's gravity.
BRAMLOCK_EXPORT const Eigen::VectorXd& rnea(const Model& model, Data& data, const Eigen::VectorXd& q,
                                            const Eigen::VectorXd& v, const Eigen::VectorXd& a);
// Angle in [0, pi] of a rotation matrix (the norm of its rotation vector).
BRAMLOCK_EXPORT double rotationAngle(const Eigen::Matrix3d& rotation);

}  // namespace dynamics
}  // namespace bramlock
