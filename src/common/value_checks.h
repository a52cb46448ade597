#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include <Eigen/Dense>

// Finiteness and rigid-pose checks shared by the kinematics, the robot model,
// the scene and the planners, so that each input is judged by one rule.
namespace bramlock {
namespace internal {

// False at the first NaN or infinite value.
inline bool allFinite(const double* values, std::size_t count) {
  return std::all_of(values, values + count, [](double value) { return std::isfinite(value); });
}

inline bool allFinite(const std::vector<double>& values) { return allFinite(values.data(), values.size()); }

inline bool allFinite(std::initializer_list<double> values) { return allFinite(values.begin(), values.size()); }

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

// Throws std::invalid_argument with the message unless the condition holds.
// The literal form builds no string on the passing path, which hot loops take.
inline void throwUnless(bool condition, const char* message) {
  if (!condition) throw std::invalid_argument(message);
}

inline void throwUnless(bool condition, const std::string& message) {
  if (!condition) throw std::invalid_argument(message);
}

}  // namespace internal
}  // namespace bramlock
