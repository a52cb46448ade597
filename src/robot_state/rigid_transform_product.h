#pragma once

#include <Eigen/Geometry>

namespace bramlock {
namespace internal {

// out = a * b for transforms whose last row is (0, 0, 0, 1), column by
// column as sums of a's columns, so that each step is a packed operation on
// four rows (a's last row keeps out's last row (0, 0, 0, 1)). Eigen's own
// product of the affine blocks is evaluated coefficient by coefficient
// through calls, several times slower. out must be neither a nor b.
inline void multiplyRigid(const Eigen::Isometry3d& a, const Eigen::Isometry3d& b, Eigen::Isometry3d& out) {
  const Eigen::Matrix4d& A = a.matrix();
  const Eigen::Matrix4d& B = b.matrix();
  Eigen::Matrix4d& O = out.matrix();
  for (int c = 0; c < 3; ++c) O.col(c) = A.col(0) * B(0, c) + A.col(1) * B(1, c) + A.col(2) * B(2, c);
  O.col(3) = A.col(0) * B(0, 3) + A.col(1) * B(1, 3) + A.col(2) * B(2, 3) + A.col(3);
}

}  // namespace internal
}  // namespace bramlock
