#pragma once

#include <array>
#include <cmath>
#include <vector>

#include <Eigen/Dense>

// Link matrices shared by the arm classes; fixed-size so that chains of them
// cost no allocation.
namespace bramlock {
namespace internal {
namespace link_transforms {

// Modified DH (Craig): RotX(alpha) * TransX(a) * RotZ(theta) * TransZ(d).
inline Eigen::Matrix4d mdh(double d, double a, double cos_alpha, double sin_alpha, double cos_theta, double sin_theta) {
  Eigen::Matrix4d A;
  A << cos_theta, -sin_theta, 0, a,                                              //
      sin_theta * cos_alpha, cos_theta * cos_alpha, -sin_alpha, -sin_alpha * d,  //
      sin_theta * sin_alpha, cos_theta * sin_alpha, cos_alpha, cos_alpha * d,    //
      0, 0, 0, 1;
  return A;
}

// Standard DH: RotZ(theta) * TransZ(d) * TransX(a) * RotX(alpha).
inline Eigen::Matrix4d sdh(double d, double a, double cos_alpha, double sin_alpha, double cos_theta, double sin_theta) {
  Eigen::Matrix4d A;
  A << cos_theta, -sin_theta * cos_alpha, sin_theta * sin_alpha, a * cos_theta,  //
      sin_theta, cos_theta * cos_alpha, -cos_theta * sin_alpha, a * sin_theta,   //
      0, sin_alpha, cos_alpha, d,                                                //
      0, 0, 0, 1;
  return A;
}

// The rotation and translation rows of a homogeneous transform.
using Frame = Eigen::Matrix<double, 3, 4>;

// T = T * mdh(...), using that link matrices are rigid motions.
inline void appendMdh(Frame& T, double d, double a, double cos_alpha, double sin_alpha, double cos_theta,
                      double sin_theta) {
  T.col(3) += a * T.col(0);
  const Eigen::Vector3d y = cos_alpha * T.col(1) + sin_alpha * T.col(2);
  T.col(2) = cos_alpha * T.col(2) - sin_alpha * T.col(1);
  const Eigen::Vector3d x = T.col(0);
  T.col(0) = cos_theta * x + sin_theta * y;
  T.col(1) = cos_theta * y - sin_theta * x;
  T.col(3) += d * T.col(2);
}

// T = T * sdh(...).
inline void appendSdh(Frame& T, double d, double a, double cos_alpha, double sin_alpha, double cos_theta,
                      double sin_theta) {
  const Eigen::Vector3d x = cos_theta * T.col(0) + sin_theta * T.col(1);
  const Eigen::Vector3d y = cos_theta * T.col(1) - sin_theta * T.col(0);
  T.col(3) += d * T.col(2) + a * x;
  T.col(0) = x;
  T.col(1) = cos_alpha * y + sin_alpha * T.col(2);
  T.col(2) = cos_alpha * T.col(2) - sin_alpha * y;
}

// The frame of the first count links of a chain at the MDH angles
// q[i] + zero[i]; visit(i, frame) sees the frame after each link i.
template <typename Append, size_t N, typename Visit>
Frame chainPose(Append append, size_t count, const std::vector<double>& q, const std::vector<double>& zero,
                const std::vector<double>& d, const std::vector<double>& a, const std::array<double, N>& cos_alpha,
                const std::array<double, N>& sin_alpha, Visit visit) {
  Frame T = Frame::Identity();
  for (size_t i = 0; i < count; ++i) {
    double sin_theta, cos_theta;
    ::sincos(q[i] + zero[i], &sin_theta, &cos_theta);
    append(T, d[i], a[i], cos_alpha[i], sin_alpha[i], cos_theta, sin_theta);
    visit(i, T);
  }
  return T;
}

template <typename Append, size_t N>
Frame chainPose(Append append, const std::vector<double>& q, const std::vector<double>& zero,
                const std::vector<double>& d, const std::vector<double>& a, const std::array<double, N>& cos_alpha,
                const std::array<double, N>& sin_alpha) {
  return chainPose(append, N, q, zero, d, a, cos_alpha, sin_alpha, [](size_t, const Frame&) {});
}

// The 4x4 homogeneous matrix of a frame.
inline Eigen::MatrixXd homogeneous(const Frame& T) {
  Eigen::MatrixXd H(4, 4);
  H.topRows<3>() = T;
  H.row(3) << 0, 0, 0, 1;
  return H;
}

// cos and sin of each joint's alpha.
template <size_t N>
void precomputeTwists(const std::vector<double>& alpha, std::array<double, N>& cos_alpha,
                      std::array<double, N>& sin_alpha) {
  for (size_t i = 0; i < N; ++i) {
    cos_alpha[i] = std::cos(alpha[i]);
    sin_alpha[i] = std::sin(alpha[i]);
  }
}

// What the closed forms add to their angles: each joint's offset minus its zero angle.
template <size_t N>
void precomputeOffsets(const std::array<double, N>& joint_offset, const std::vector<double>& qzero,
                       std::array<double, N>& offset_minus_zero) {
  for (size_t i = 0; i < N; ++i) {
    offset_minus_zero[i] = joint_offset[i] - qzero[i];
  }
}

}  // namespace link_transforms
}  // namespace internal
}  // namespace bramlock
