#include "bramlock_arm_planning_core/kinematics/rotation_functions.h"

#include <cmath>
#include <limits>

namespace {

Eigen::Quaterniond normalisedOrAsIs(const Eigen::Quaterniond& q) {
  const double squared_norm = q.coeffs().squaredNorm();
  if (squared_norm > 0.0) {
    return Eigen::Quaterniond(q.coeffs() / std::sqrt(squared_norm));
  }
  return q;
}

// The matrix formula of a unit quaternion, applied as it stands.
Eigen::Matrix3d quaternionFormula(const Eigen::Quaterniond& q) {
  const double x = q.x(), y = q.y(), z = q.z(), w = q.w();
  Eigen::Matrix3d R;
  R << 1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w),  //
      2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w),   //
      2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y);
  return R;
}

}  // namespace

Eigen::Matrix3d QuaternionToRotationMatrix(const Eigen::Quaterniond& q) {
  return quaternionFormula(normalisedOrAsIs(q));
}

Eigen::Quaterniond RotationMatrixToQuaternion(const Eigen::Matrix3d& R) {
  double coeffs[3];
  double w;
  const double trace = R.trace();
  if (trace > 0.0) {
    double s = std::sqrt(trace + 1.0);
    w = 0.5 * s;
    s = 0.5 / s;
    coeffs[0] = (R(2, 1) - R(1, 2)) * s;
    coeffs[1] = (R(0, 2) - R(2, 0)) * s;
    coeffs[2] = (R(1, 0) - R(0, 1)) * s;
  } else {
    int i = 0;
    if (R(1, 1) > R(0, 0)) i = 1;
    if (R(2, 2) > R(i, i)) i = 2;
    const int j = (i + 1) % 3;
    const int k = (j + 1) % 3;
    double s = std::sqrt(R(i, i) - R(j, j) - R(k, k) + 1.0);
    coeffs[i] = 0.5 * s;
    s = 0.5 / s;
    w = (R(k, j) - R(j, k)) * s;
    coeffs[j] = (R(j, i) + R(i, j)) * s;
    coeffs[k] = (R(k, i) + R(i, k)) * s;
  }
  return Eigen::Quaterniond(w, coeffs[0], coeffs[1], coeffs[2]);
}

Eigen::Vector3d QuaternionToEulerAngles(const Eigen::Quaterniond& q) {
  return RotationMatrixToEulerAngles(QuaternionToRotationMatrix(q));
}

Eigen::Quaterniond EulerAnglesToQuaternion(const Eigen::Vector3d& e) {
  const Eigen::Quaterniond qx(std::cos(e[0] / 2), std::sin(e[0] / 2), 0, 0);
  const Eigen::Quaterniond qy(std::cos(e[1] / 2), 0, std::sin(e[1] / 2), 0);
  const Eigen::Quaterniond qz(std::cos(e[2] / 2), 0, 0, std::sin(e[2] / 2));
  return (qx * qy) * qz;
}

// Spelled out rather than Eigen's eulerAngles, whose angle ranges changed between versions.
Eigen::Vector3d RotationMatrixToEulerAngles(const Eigen::Matrix3d& R) {
  double u = std::atan2(R(1, 2), R(2, 2));
  double c2 = std::hypot(R(0, 0), R(0, 1));
  if (u > 0.0) {
    u -= M_PI;
    c2 = -c2;
  }
  const double v = std::atan2(-R(0, 2), c2);
  const double s1 = std::sin(u), c1 = std::cos(u);
  const double w = std::atan2(s1 * R(2, 0) - c1 * R(1, 0), c1 * R(1, 1) - s1 * R(2, 1));
  return Eigen::Vector3d(-u, -v, -w);
}

Eigen::Matrix3d EulerAnglesToRotationMatrix(const Eigen::Vector3d& e) {
  return quaternionFormula(EulerAnglesToQuaternion(e));
}

Eigen::Matrix4d RotationMatrixToSE3Matrix(Eigen::Matrix3d R, Eigen::Vector3d p) {
  Eigen::Matrix4d T = Eigen::Matrix4d::Identity();
  T.topLeftCorner<3, 3>() = R;
  T.topRightCorner<3, 1>() = p;
  return T;
}

Eigen::Matrix3d SE3MatrixToRotationMatrix(Eigen::Matrix4d T) { return T.topLeftCorner<3, 3>(); }

Eigen::Vector3d SE3MatrixToplacechange(Eigen::Matrix4d T) { return T.topRightCorner<3, 1>(); }

Eigen::Matrix4d computeHomogeneousMatrix(const Eigen::Vector3d& r, const Eigen::Vector3d& p) {
  const double angle = r.norm();
  const Eigen::Vector3d axis = r.squaredNorm() > 0.0 ? Eigen::Vector3d(r / angle) : r;
  return RotationMatrixToSE3Matrix(Eigen::AngleAxisd(angle, axis).toRotationMatrix(), p);
}

Eigen::MatrixXd pseudoInverse(const Eigen::MatrixXd& A) {
  // The decomposition asserts on an empty matrix; its pseudo-inverse is the empty transpose.
  if (A.size() == 0) {
    return Eigen::MatrixXd(A.cols(), A.rows());
  }
  // The decomposition would rank a value that is not a number as a zero singular value and drop it.
  if (!A.allFinite()) {
    return Eigen::MatrixXd::Constant(A.cols(), A.rows(), std::numeric_limits<double>::quiet_NaN());
  }
  const Eigen::JacobiSVD<Eigen::MatrixXd, Eigen::ColPivHouseholderQRPreconditioner> svd(
      A, Eigen::ComputeThinU | Eigen::ComputeThinV);
  const Eigen::VectorXd& sigma = svd.singularValues();
  Eigen::VectorXd inverted = Eigen::VectorXd::Zero(sigma.size());
  for (Eigen::Index i = 0; i < sigma.size(); ++i) {
    if (sigma[i] > 1e-6) {
      inverted[i] = 1.0 / sigma[i];
    }
  }
  return svd.matrixV() * inverted.asDiagonal() * svd.matrixU().transpose();
}
