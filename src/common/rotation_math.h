#pragma once

#include <cmath>
#include <limits>

#include <Eigen/Dense>

// The one place for the angle and rotation formulas the kinematics, robot
// model and dynamics code share.
namespace bramlock {
namespace internal {
namespace rotation_math {

// Into [-pi, pi]. Values already there come back unchanged, others as the
// exact remainder of a whole number of turns, so that no value far from zero
// costs more than one step. NaN and infinities come back as they are: they
// have no angle.
inline double wrapToPi(double angle) {
  if (!(std::fabs(angle) > M_PI) || std::isinf(angle)) return angle;
  return std::remainder(angle, 2.0 * M_PI);
}

// Angle of a rotation matrix in [0, pi]. atan2 of sine and cosine keeps the
// angle accurate near zero and near a half turn, unlike acos of the trace.
inline double rotationAngle(const Eigen::Matrix3d& m) {
  const Eigen::Vector3d w(m(2, 1) - m(1, 2), m(0, 2) - m(2, 0), m(1, 0) - m(0, 1));
  return std::atan2(0.5 * w.norm(), 0.5 * (m.trace() - 1.0));
}

// Rotation vector (axis times angle, angle in [0, pi]) of a rotation matrix:
// the logarithm map.
inline Eigen::Vector3d rotationVector(const Eigen::Matrix3d& m) {
  const Eigen::Vector3d w(m(2, 1) - m(1, 2), m(0, 2) - m(2, 0), m(1, 0) - m(0, 1));
  const double sine = 0.5 * w.norm();
  const double cosine = 0.5 * (m.trace() - 1.0);
  const double angle = std::atan2(sine, cosine);
  if (angle < 1e-6) return 0.5 * w;
  if (angle < 0.5 * M_PI) return angle / (2.0 * sine) * w;
  // Near a half turn the skew part vanishes: the axis comes from the symmetric
  // part, (M + M^T) / 2 - cos I = (1 - cos) k k^T, through its largest diagonal
  // entry; the skew part gives the sign.
  const Eigen::Matrix3d outer = 0.5 * (m + m.transpose()) - cosine * Eigen::Matrix3d::Identity();
  Eigen::Index largest;
  outer.diagonal().maxCoeff(&largest);
  Eigen::Vector3d axis = outer.col(largest).normalized();
  if (axis.dot(w) < 0.0) axis = -axis;
  return angle * axis;
}

// Roll, pitch and yaw about the fixed x, y and z axes (R = Rz(yaw) Ry(pitch)
// Rx(roll)). In gimbal lock (pitch +-pi/2) the yaw is set to 0 and the roll
// carries the rest of the rotation. A matrix with an entry that is not finite
// gives NaN angles: atan2 alone would pass over some entries and look sound.
inline Eigen::Vector3d rollPitchYaw(const Eigen::Matrix3d& m) {
  if (!m.allFinite()) return Eigen::Vector3d::Constant(std::numeric_limits<double>::quiet_NaN());
  const double sy = std::sqrt(m(0, 0) * m(0, 0) + m(1, 0) * m(1, 0));
  const double pitch = std::atan2(-m(2, 0), sy);
  if (sy < 1e-6) return {std::atan2(-m(1, 2), m(1, 1)), pitch, 0.0};
  return {std::atan2(m(2, 1), m(2, 2)), pitch, std::atan2(m(1, 0), m(0, 0))};
}

}  // namespace rotation_math
}  // namespace internal
}  // namespace bramlock
