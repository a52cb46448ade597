#include "bramlock_arm_planning_core/kinematics/rml63b_kinematics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "bramlock_arm_planning_core/console_color_codes.h"
#include "bramlock_arm_planning_core/logger.h"
#include "common/rotation_math.h"
#include "common/value_checks.h"
#include "link_transforms.h"

namespace {

constexpr int kNotProvided = -1;
constexpr int kNoSolution = -1;
constexpr int kWristCentreOnBaseAxis = -31;
constexpr int kWristSingular = -32;

void requireJointCount(const std::vector<double>& q, size_t fewest, size_t most) {
  if (q.size() < fewest || q.size() > most) {
    throw std::invalid_argument("joint vector holds " + std::to_string(q.size()) + " values, " +
                                std::to_string(fewest) + " to " + std::to_string(most) + " are read");
  }
}

// Each solution, then a twin whose sixth value is one turn the other way.
std::vector<std::vector<double>> withTwins(const std::vector<std::vector<double>>& solutions) {
  std::vector<std::vector<double>> expanded;
  for (const auto& solution : solutions) {
    expanded.push_back(solution);
    if (solution[5] != 0.0) {
      expanded.push_back(solution);
      expanded.back()[5] += solution[5] > 0 ? -2 * M_PI : 2 * M_PI;
    }
  }
  return expanded;
}

// One row per line, values in the stream's default precision; far cheaper than
// Eigen's stream operator, which formats every value twice to align columns.
std::string matrixText(const Eigen::Matrix4d& M) {
  std::string text;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      fmt::format_to(std::back_inserter(text), "{:>12.6g}", M(r, c));
    }
    if (r < 3) text += '\n';
  }
  return text;
}

void logSolutions(const std::vector<std::vector<double>>& solutions) {
  const std::string rule(70, '=');
  BRAMLOCK_INFO("{}", rule);
  for (size_t i = 0; i < solutions.size(); ++i) {
    const auto& s = solutions[i];
    BRAMLOCK_INFO("initial solution {}: {},{},{},{},{},{}", i + 1, s[0], s[1], s[2], s[3], s[4], s[5]);
  }
  BRAMLOCK_INFO("{}", rule);
}

}  // namespace

Rml63BKinematics::Rml63BKinematics()
    : z_axes_(dof_ + 2, Eigen::Vector3d::Zero()), origins_(dof_ + 2, Eigen::Vector3d::Zero()) {
  initRobotType({0.0, -M_PI_2, 0.0, M_PI_2, -M_PI_2, -M_PI_2});
  z_axes_[0] = Eigen::Vector3d::UnitZ();
}

int Rml63BKinematics::setMdhPara(std::vector<double> zds, std::vector<double> xas, std::vector<double> alphas,
                                 std::vector<double> qzeros) {
  const int result = storeMdhTable(zds, xas, alphas, qzeros);
  if (result != 0) {
    return result;
  }
  BRAMLOCK_INFO("{} ######################mdh para########################## {}", BG_GREEN, RESET);
  printMdhTable();
  bramlock::internal::link_transforms::precomputeTwists(alpha, cos_alpha_, sin_alpha_);
  return 0;
}

Eigen::MatrixXd Rml63BKinematics::forwardKinematics(std::vector<double> q) {
  requireJointCount(q, dof_, dof_);
  bramlock::internal::link_transforms::Frame T = bramlock::internal::link_transforms::chainPose(
      bramlock::internal::link_transforms::appendMdh, dof_, q, qzero, zd, xa, cos_alpha_, sin_alpha_,
      [this](size_t i, const bramlock::internal::link_transforms::Frame& frame) {
        z_axes_[i + 1] = frame.col(2);
        origins_[i + 1] = frame.col(3);
      });
  T.col(3) += tool_length_ * T.col(2);
  origins_[dof_] = T.col(3);  // on joint 6's axis, so the Jacobian is unchanged
  return bramlock::internal::link_transforms::homogeneous(T);
}

void Rml63BKinematics::computeJacobian() {
  const Eigen::Vector3d& wrist_centre = origins_[4];
  for (int i = 0; i < dof_; ++i) {
    const Eigen::Vector3d& z = z_axes_[i + 1];
    jacobian_.block<3, 1>(3, i) = z * joint_types_[i];
    jacobian_.block<3, 1>(0, i) = joint_types_[i] == 1 ? Eigen::Vector3d(z.cross(wrist_centre - origins_[i + 1])) : z;
  }
}

Eigen::MatrixXd Rml63BKinematics::getJacobian() {
  computeJacobian();
  return jacobian_;
}

Eigen::MatrixXd Rml63BKinematics::computeJacobian(const std::vector<double>& q) {
  requireJointCount(q, 1, dof_);
  Eigen::MatrixXd J(6, q.size());
  bramlock::internal::link_transforms::chainPose(
      bramlock::internal::link_transforms::appendMdh, q.size(), q, qzero, zd, xa, cos_alpha_, sin_alpha_,
      [&J](size_t i, const bramlock::internal::link_transforms::Frame& frame) {
        const Eigen::Vector3d z = frame.col(2);
        J.block<3, 1>(0, i) = z.cross(Eigen::Vector3d(frame.col(3)));
        J.block<3, 1>(3, i) = z;
      });
  return J;
}

bool Rml63BKinematics::isSingular(const std::vector<double>& q, double threshold) {
  const Eigen::JacobiSVD<Eigen::MatrixXd, Eigen::ColPivHouseholderQRPreconditioner> svd(
      computeJacobian(q), Eigen::ComputeThinU | Eigen::ComputeThinV);
  const double smallest = svd.singularValues().minCoeff();
  const bool singular = threshold > smallest;
  if (singular && q.size() == 6) {
    BRAMLOCK_INFO("rad: [{},{},{},{},{},{}] isSingular", q[0], q[1], q[2], q[3], q[4], q[5]);
    BRAMLOCK_INFO("min_coeff is {}", smallest);
  }
  return singular;
}

bool Rml63BKinematics::checkVectorDoubleValid(std::vector<double> v) const { return bramlock::internal::allFinite(v); }

Eigen::MatrixXd Rml63BKinematics::get_a_mdh_transform(double d, double a, double cos_alpha, double sin_alpha,
                                                      double cos_theta, double sin_theta) {
  return bramlock::internal::link_transforms::mdh(d, a, cos_alpha, sin_alpha, cos_theta, sin_theta);
}

Eigen::MatrixXd Rml63BKinematics::get_a_transform(double d, double a, double cos_alpha, double sin_alpha,
                                                  double cos_theta, double sin_theta) {
  return bramlock::internal::link_transforms::sdh(d, a, cos_alpha, sin_alpha, cos_theta, sin_theta);
}

int Rml63BKinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q, std::vector<double>& q) {
  return kNotProvided;
}

int Rml63BKinematics::inverseKinematics(Eigen::MatrixXd T, int* arm_config, std::vector<double>& q) {
  return kNotProvided;
}

int Rml63BKinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<double>& q) { return kNotProvided; }

int Rml63BKinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q,
                                        std::vector<std::vector<double>>& solutions) {
  return inverseKinematics(T, solutions);
}

int Rml63BKinematics::getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue) { return 0; }

int Rml63BKinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<std::vector<double>>& solutions) {
  requirePose(T);
  if (!T.allFinite()) return kNoSolution;
  solutions.clear();
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  pose.topRows<3>() = T.topLeftCorner<3, 4>();
  const Eigen::Vector3d wrist = pose.block<3, 1>(0, 3) - zd[5] * pose.block<3, 1>(0, 2);
  // Joint 1 is undefined only with the wrist centre on the base axis.
  if (std::hypot(wrist.x(), wrist.y()) < 1e-8) {
    return kWristCentreOnBaseAxis;
  }
  const std::vector<ArmSolution> arms = solveArm(pose, wrist);
  if (arms.empty()) {
    return kNoSolution;
  }
  printArmCheck(arms, wrist);
  std::vector<std::vector<double>> found;
  if (solveWrist(pose, arms, found) != 0) {
    return kWristSingular;
  }
  if (found.empty()) {
    return kNoSolution;
  }
  for (auto& solution : found) {
    std::transform(solution.begin(), solution.end(), solution.begin(), bramlock::internal::rotation_math::wrapToPi);
  }
  std::vector<std::vector<double>> expanded = withTwins(found);
  logSolutions(expanded);
  solutions = std::move(expanded);
  return 0;
}

// Joint 1 points the arm plane at the wrist centre (or away from it); the
// elbow triangle gives joint 3 and then joint 2. Solved for the MDH angles,
// then the zero angles are taken off, so every table is exact.
std::vector<Rml63BKinematics::ArmSolution> Rml63BKinematics::solveArm(const Eigen::Matrix4d& T,
                                                                      const Eigen::Vector3d& wrist) const {
  const double D1 = zd[0], D4 = zd[3], D6 = zd[5], A1 = xa[1], A2 = xa[2], A3 = xa[3];
  const double base = std::atan2(wrist.y(), wrist.x());
  const double opposite = base + M_PI > M_PI ? base + M_PI - 2 * M_PI : base + M_PI;
  std::vector<ArmSolution> arms;
  for (double theta1 : {base, opposite}) {
    const double c = std::cos(theta1), s = std::sin(theta1);
    Eigen::Matrix4d M;
    M << c * T(0, 0) + s * T(1, 0), c * T(0, 1) + s * T(1, 1), c * T(0, 2) + s * T(1, 2), c * T(0, 3) + s * T(1, 3),
        c * T(1, 0) - s * T(0, 0), c * T(1, 1) - s * T(0, 1), c * T(1, 2) - s * T(0, 2), c * T(1, 3) - s * T(0, 3),
        T(2, 0), T(2, 1), T(2, 2), T(2, 3) - D1, 0, 0, 0, 1;
    std::cout << "T23456: " << std::endl << matrixText(M) << std::endl;
    const double u = M(0, 3) - D6 * M(0, 2) - A1, v = M(1, 3) - D6 * M(1, 2), h = M(2, 3) - D6 * M(2, 2);
    const double L = std::sqrt(u * u + v * v + h * h), L2 = std::hypot(D4, A3);
    const double k = (L * L - A2 * A2 - L2 * L2) / (2 * A2 * L2);
    if (std::fabs(k) > 1) {
      std::printf("j3 singularity error!!! %f\n", k);
      continue;
    }
    const double phi = std::acos(k), beta = std::atan2(A3, D4);
    for (double elbow : {-phi - beta, phi - beta}) {
      const double theta3 = elbow + M_PI_2;
      const double c3 = std::cos(theta3), s3 = std::sin(theta3);
      const double A = A2 + A3 * c3 + D4 * s3, B = D4 * c3 - A3 * s3;
      const double det = -(A * A + B * B);
      if (std::fabs(det) < 1e-4) {
        continue;
      }
      const double rho = (std::fabs(c) > 1e-4 ? wrist.x() / c : wrist.y() / s) - A1;
      const double hh = wrist.z() - D1;
      const double theta2 = std::atan2((A * hh - B * rho) / det, (-A * rho - B * hh) / det);
      arms.push_back({theta1 - qzero[0], theta2 - qzero[1], theta3 - qzero[2]});
    }
  }
  return arms;
}

// Prints where each arm solution puts the wrist centre beside where it should be.
void Rml63BKinematics::printArmCheck(const std::vector<ArmSolution>& arms, const Eigen::Vector3d& wrist) const {
  const double D1 = zd[0], D4 = zd[3], A1 = xa[1], A2 = xa[2], A3 = xa[3];
  for (const ArmSolution& arm : arms) {
    std::cout << fmt::format("{:g} {:g} {:g} ", arm[0], arm[1], arm[2]) << std::endl;
    const double theta1 = arm[0] + qzero[0], theta2 = arm[1] + qzero[1], theta23 = theta2 + arm[2] + qzero[2];
    const double R = A1 + A2 * std::cos(theta2) + A3 * std::cos(theta23) + D4 * std::sin(theta23);
    const double z = D1 + D4 * std::cos(theta23) - A3 * std::sin(theta23) - A2 * std::sin(theta2);
    std::cout << fmt::format("x: {:g} {:g} y: {:g} {:g} z: {:g} {:g}", std::cos(theta1) * R, wrist.x(),
                             std::sin(theta1) * R, wrist.y(), z, wrist.z())
              << std::endl;
  }
}

// The spherical wrist: two flips per arm solution; a wrist angle near 0 stops
// everything with -32. Solutions with values that are not numbers are dropped.
int Rml63BKinematics::solveWrist(const Eigen::Matrix4d& T, const std::vector<ArmSolution>& arms,
                                 std::vector<std::vector<double>>& found) const {
  const double D1 = zd[0], A1 = xa[1], A2 = xa[2];
  for (size_t j = 0; j < arms.size(); ++j) {
    const ArmSolution& arm = arms[j];
    const double theta1 = arm[0] + qzero[0], theta2 = arm[1] + qzero[1], theta23 = theta2 + arm[2] + qzero[2];
    const double c1 = std::cos(theta1), s1 = std::sin(theta1), c2 = std::cos(theta2), s2 = std::sin(theta2);
    const double c23 = std::cos(theta23), s23 = std::sin(theta23);
    Eigen::Matrix4d T03;
    T03 << c1 * c23, -c1 * s23, -s1, c1 * (A1 + A2 * c2), s1 * c23, -s1 * s23, c1, s1 * (A1 + A2 * c2), -s23, -c23, 0,
        D1 - A2 * s2, 0, 0, 0, 1;
    const Eigen::Matrix4d W = T03.inverse() * T;
    std::cout << " " << j << " T456: " << std::endl << matrixText(W) << std::endl;
    std::cout << "T123456: " << std::endl << matrixText(T) << std::endl;
    const double theta5 = std::acos(std::clamp(W(1, 2), -1.0, 1.0));
    if (theta5 < 1e-4) {
      std::cout << "q5 is zero, singular" << std::endl;
      return kWristSingular;
    }
    const std::vector<double> flips[2] = {{arm[0], arm[1], arm[2], std::atan2(W(2, 2), W(0, 2)) - qzero[3],
                                           -theta5 - qzero[4], std::atan2(W(1, 1), -W(1, 0)) - qzero[5]},
                                          {arm[0], arm[1], arm[2], std::atan2(-W(2, 2), -W(0, 2)) - qzero[3],
                                           theta5 - qzero[4], std::atan2(-W(1, 1), W(1, 0)) - qzero[5]}};
    for (const auto& solution : flips) {
      if (checkVectorDoubleValid(solution)) {
        found.push_back(solution);
      }
    }
  }
  return 0;
}
