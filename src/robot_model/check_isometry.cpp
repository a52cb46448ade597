#include "bramlock_arm_planning_core/robot_model/check_isometry.h"

#include <algorithm>
#include <iostream>

namespace moveit {
namespace core {

bool checkIsometry(const Eigen::Isometry3d& transform, double precision, bool verbose) {
  const Eigen::RowVector4d last_row = transform.matrix().row(3);
  const Eigen::RowVector4d deviation = last_row - Eigen::RowVector4d(0, 0, 0, 1);
  if (deviation.squaredNorm() > precision * precision * std::min(last_row.squaredNorm(), 1.0)) {
    if (verbose) {
      std::cerr << "The given transform is not an isometry! Its last row deviates from [0 0 0 1] by [" << deviation
                << "] but the required precision is " << precision << "." << std::endl;
    }
    return false;
  }
  Eigen::Matrix3d scaling;
  Eigen::Affine3d(transform.matrix()).computeRotationScaling(static_cast<Eigen::Matrix3d*>(nullptr), &scaling);
  const Eigen::Matrix3d scale_deviation = scaling - Eigen::Matrix3d::Identity();
  if (scale_deviation.squaredNorm() > precision * precision * std::min(scaling.squaredNorm(), 3.0)) {
    if (verbose) {
      std::cerr << "The given transform is not an isometry! Its linear part involves non-unit scaling. The scaling "
                   "matrix diagonal differs from [1 1 1] by ["
                << scale_deviation.diagonal().transpose() << "] but the required precision is " << precision << "."
                << std::endl;
    }
    return false;
  }
  return true;
}

}  // namespace core
}  // namespace moveit
