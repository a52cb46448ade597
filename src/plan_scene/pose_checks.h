#pragma once

#include <Eigen/Dense>

namespace plan_scene_detail {

// How far a rotation block may be from orthonormal: rounded matrices typed in
// or converted from single precision pass, scaled or sheared ones do not.
constexpr double kRotationTolerance = 1e-2;

// A finite 4x4 matrix whose rotation block is a rotation (no reflection). The
// solvers and FCL read that block as a rotation whatever it holds.
inline bool isRigidPose(const Eigen::MatrixXd& pose) {
  if (pose.rows() != 4 || pose.cols() != 4 || !pose.allFinite()) return false;
  const Eigen::Matrix3d rotation = pose.topLeftCorner<3, 3>();
  const double skew = (rotation.transpose() * rotation - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff();
  return skew <= kRotationTolerance && rotation.determinant() > 0.0;
}

}  // namespace plan_scene_detail
