#include "kinematics_test_helpers.h"

namespace kinematics_test {

double smallestSingularValue(const Eigen::MatrixXd& matrix) {
  return Eigen::JacobiSVD<Eigen::MatrixXd>(matrix).singularValues().minCoeff();
}

}  // namespace kinematics_test
