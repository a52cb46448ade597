#include "bramlock_arm_planning_core/kinematics/kinematics_interface.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "common/value_checks.h"

namespace {

// Alphas closer than this belong to the same arm design.
constexpr double kAlphaTolerance = M_PI / 20.0;

bool sequencesEqual(const std::vector<double>& a, const std::vector<double>& b, const char* size_message) {
  if (a.size() != b.size()) {
    std::puts(size_message);
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (!(std::fabs(a[i] - b[i]) <= kAlphaTolerance)) {  // NaN matches nothing
      std::puts("alpha sequence not equal");
      return false;
    }
  }
  return true;
}

}  // namespace

RobotType KinematicsInterface::getRobotType() { return robot_type; }

void KinematicsInterface::printRobotType() {
  std::printf("robot type->axis num:%d,alpha_sequence:[", robot_type.axis_num);
  for (double value : robot_type.alpha_sequence) {
    std::printf("%lf,", value);
  }
  std::puts("]");
}

bool KinematicsInterface::checkRobotTypeEqual(RobotType a, RobotType b) {
  if (a.axis_num != b.axis_num) {
    return false;
  }
  return sequencesEqual(a.alpha_sequence, b.alpha_sequence, "alpha sequence size not equal");
}

bool KinematicsInterface::checkVectorEqual(std::vector<double> a, std::vector<double> b) {
  return sequencesEqual(a, b, "vector a size not equal vector b size");
}

void KinematicsInterface::convertFromMdhToSdh() {
  // Each table on its own: a host may have filled one and not the other.
  for (std::vector<double>* table : {&xa, &alpha}) {
    if (!table->empty()) std::rotate(table->begin(), table->begin() + 1, table->end());
  }
}

void KinematicsInterface::initRobotType(const std::vector<double>& alpha_sequence) {
  robot_type.axis_num = static_cast<int>(alpha_sequence.size());
  robot_type.alpha_sequence = alpha_sequence;
  for (std::vector<double>* table : {&zd, &xa, &alpha, &qzero}) {
    table->assign(alpha_sequence.size(), 0.0);
  }
}

int KinematicsInterface::storeMdhTable(std::vector<double>& zds, std::vector<double>& xas, std::vector<double>& alphas,
                                       std::vector<double>& qzeros) {
  const size_t count = static_cast<size_t>(robot_type.axis_num);
  if (zds.size() != count || xas.size() != count || alphas.size() != count || qzeros.size() != count) {
    std::puts("the size of zds,xas,alphas,qzeros not equal");
    return -1;
  }
  if (!checkVectorEqual(alphas, robot_type.alpha_sequence)) {
    std::puts("the input robot type is not right!!!");
    return -2;
  }
  for (const std::vector<double>* table : {&zds, &xas, &qzeros}) {
    if (!bramlock::internal::allFinite(*table)) {
      std::puts("the MDH table holds a value that is not a finite number");
      return -1;
    }
  }
  zd = std::move(zds);
  xa = std::move(xas);
  alpha = std::move(alphas);
  qzero = std::move(qzeros);
  return 0;
}

void KinematicsInterface::printMdhTable() const {
  for (size_t i = 0; i < zd.size(); ++i) {
    std::printf("%d(zd xa alpha qzero)=(%lf,%lf,%lf,%lf)\n", static_cast<int>(i), zd[i], xa[i], alpha[i], qzero[i]);
  }
}

void KinematicsInterface::requireJointValues(const std::vector<double>& q) const {
  if (q.size() < static_cast<size_t>(robot_type.axis_num)) {
    throw std::invalid_argument("joint vector holds " + std::to_string(q.size()) + " values, the arm has " +
                                std::to_string(robot_type.axis_num) + " joints");
  }
}

void KinematicsInterface::requirePose(const Eigen::MatrixXd& T) {
  if (T.rows() < 3 || T.cols() < 4) {
    throw std::invalid_argument("pose is " + std::to_string(T.rows()) + "x" + std::to_string(T.cols()) +
                                ", at least 3x4 is needed");
  }
}
