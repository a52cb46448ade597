#pragma once

#include <Eigen/Dense>

#include "bramlock_arm_planning_core/export.h"

// Conversions between rotation and pose representations. Euler angles (a, b, c)
// mean R = Rx(a) * Ry(b) * Rz(c); the first angle comes back in [0, pi], the
// others in [-pi, pi]. Quaternions hold (x, y, z, w), w the real part.
// None of them can fail: a NaN in the input gives NaN in the result (an
// infinity may also come back as a limit angle), never an abort.

// Rotation matrix of q after normalisation (a zero quaternion gives the identity).
BRAMLOCK_EXPORT Eigen::Matrix3d QuaternionToRotationMatrix(const Eigen::Quaterniond& q);
// Quaternion of R, not normalised afterwards.
BRAMLOCK_EXPORT Eigen::Quaterniond RotationMatrixToQuaternion(const Eigen::Matrix3d& R);
BRAMLOCK_EXPORT Eigen::Vector3d QuaternionToEulerAngles(const Eigen::Quaterniond& q);
// qx(e[0]) * qy(e[1]) * qz(e[2]), not normalised afterwards.
BRAMLOCK_EXPORT Eigen::Quaterniond EulerAnglesToQuaternion(const Eigen::Vector3d& e);
BRAMLOCK_EXPORT Eigen::Vector3d RotationMatrixToEulerAngles(const Eigen::Matrix3d& R);
BRAMLOCK_EXPORT Eigen::Matrix3d EulerAnglesToRotationMatrix(const Eigen::Vector3d& e);
// [R p; 0 0 0 1]
BRAMLOCK_EXPORT Eigen::Matrix4d RotationMatrixToSE3Matrix(Eigen::Matrix3d R, Eigen::Vector3d p);
BRAMLOCK_EXPORT Eigen::Matrix3d SE3MatrixToRotationMatrix(Eigen::Matrix4d T);
// The translation column of T.
BRAMLOCK_EXPORT Eigen::Vector3d SE3MatrixToplacechange(Eigen::Matrix4d T);
// Transform with the rotation of rotation vector r (axis times angle) and position p.
BRAMLOCK_EXPORT Eigen::Matrix4d computeHomogeneousMatrix(const Eigen::Vector3d& r, const Eigen::Vector3d& p);
// Moore-Penrose pseudo-inverse; singular values up to 1e-6 (absolute) count as zero.
// A matrix with an entry that is not finite gives a matrix of NaN.
BRAMLOCK_EXPORT Eigen::MatrixXd pseudoInverse(const Eigen::MatrixXd& A);
