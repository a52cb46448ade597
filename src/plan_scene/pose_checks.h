#pragma once

#include <Eigen/Dense>

namespace plan_scene_detail {

// How far a rotation block may be from orthonormal, and a bottom row from
// (0 0 0 1): rounded matrices typed in or converted from single precision
// pass, scaled, sheared or projective ones do not.
constexpr double kRotationTolerance = 1e-2;

// A finite 4x4 matrix whose rotation block is a rotation (no reflection) and
// whose bottom row is (0 0 0 1), within the same rounding allowance. The
// solvers and FCL read that block as a rotation whatever it holds, and the
// isometries built from the pose drop the bottom row.
inline bool isRigidPose(const Eigen::MatrixXd& pose) {
  if (pose.rows() != 4 || pose.cols() != 4 || !pose.allFinite()) return false;
  const Eigen::Matrix3d rotation = pose.topLeftCorner<3, 3>();
  const double skew = (rotation.transpose() * rotation - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff();
  const double bottom_row_error = (pose.row(3) - Eigen::RowVector4d(0.0, 0.0, 0.0, 1.0)).cwiseAbs().maxCoeff();
  return skew <= kRotationTolerance && rotation.determinant() > 0.0 && bottom_row_error <= kRotationTolerance;
}

}  // namespace plan_scene_detail
