#include "bramlock_arm_planning_core/kinematics/kestrel_bot_v3_kinematics.h"

#include <cmath>
#include <cstdio>
#include <iostream>

#include "bramlock_arm_planning_core/console_color_codes.h"
#include "common/value_checks.h"
#include "link_transforms.h"

namespace {
constexpr int kNotProvided = -1;
constexpr int kNotANumber = -10;

int reportNotANumber() {
  std::puts("inverseKinematics not a number!!!!");
  return kNotANumber;
}
}  // namespace

KestrelBotV3Kinematics::KestrelBotV3Kinematics() { initRobotType({0.0, M_PI_2, 0.0, 0.0, -M_PI_2}); }

int KestrelBotV3Kinematics::setMdhPara(std::vector<double> zds, std::vector<double> xas, std::vector<double> alphas,
                                       std::vector<double> qzeros) {
  const int result = storeMdhTable(zds, xas, alphas, qzeros);
  if (result != 0) {
    return result;
  }
  std::cout << BG_GREEN << " ######################mdh para##########################" << RESET << std::endl;
  printMdhTable();
  bramlock::internal::link_transforms::precomputeTwists(alpha, cos_alpha_, sin_alpha_);
  bramlock::internal::link_transforms::precomputeOffsets(joint_offset_, qzero, offset_minus_zero_);
  return 0;
}

Eigen::MatrixXd KestrelBotV3Kinematics::forwardKinematics(std::vector<double> q) {
  requireJointValues(q);
  return bramlock::internal::link_transforms::homogeneous(bramlock::internal::link_transforms::chainPose(
      bramlock::internal::link_transforms::appendMdh, q, qzero, zd, xa, cos_alpha_, sin_alpha_));
}

double KestrelBotV3Kinematics::baseAngle(const Eigen::MatrixXd& T, bool front) {
  const double px = T(0, 3), py = T(1, 3);
  const double t = std::acos(-px / std::hypot(px, py));
  double theta;
  if (front) {
    theta = py > 0 ? -t : t;
    if (theta > M_PI_2) theta -= M_PI;
    if (theta < -M_PI_2) theta += M_PI;
  } else if (py > 0) {
    theta = t >= M_PI_2 ? -t : (t > 0 ? M_PI - t : -M_PI);
  } else {
    theta = t >= M_PI_2 ? t : t - M_PI;
  }
  return theta;
}

int KestrelBotV3Kinematics::inverseKinematics(Eigen::MatrixXd T, int* arm_config, std::vector<double>& q) {
  requirePose(T);
  if (arm_config == nullptr) return kNotProvided;
  if (!T.allFinite()) return reportNotANumber();
  const double px = T(0, 3), py = T(1, 3), pz = T(2, 3);
  const double d1 = zd[0], d5 = zd[4], a2 = xa[1], a3 = xa[2], a4 = xa[3], a5 = xa[4];

  const double t1 = baseAngle(T, arm_config[0] == 1);
  const double c1 = std::cos(t1), s1 = std::sin(t1);

  // The wrist axes are normal to the arm plane, n = (s1, -c1, 0); the tool's
  // x and y axes have the components -sin(t5) and -cos(t5) along n. This holds
  // for every reachable orientation, the home pose and a horizontal radial
  // tool axis included.
  const double t5 = std::atan2(-(s1 * T(0, 0) - c1 * T(1, 0)), -(s1 * T(0, 1) - c1 * T(1, 1)));
  const double c5 = std::cos(t5), s5 = std::sin(t5);

  // Wrist centre in the arm plane.
  const double X = c1 * (px - d5 * T(0, 2)) + s1 * (py - d5 * T(1, 2)) - a5 * c5 * (c1 * T(0, 0) + s1 * T(1, 0)) +
                   a5 * s5 * (c1 * T(0, 1) + s1 * T(1, 1));
  const double Z = pz - d1 - d5 * T(2, 2) - a5 * c5 * T(2, 0) + a5 * s5 * T(2, 1);
  const double W = a2 - X;

  const double k = (a3 * a3 + a4 * a4 - W * W - Z * Z) / (2 * a3 * a4);
  const double t3 = arm_config[1] == 1 ? std::asin(k) : M_PI - std::asin(k);
  if (singular_threshold_ > std::fabs(t3)) {
    std::puts("j3 singularity error!!!");
    return -1;
  }
  const double P = a3 - a4 * k, Q = a4 * std::cos(t3);
  const double norm = P * P + Q * Q;
  const double t2 = std::atan2((W * P - Z * Q) / norm, (W * Q + Z * P) / norm);
  const double t4 = std::atan2(s5 * T(2, 1) - c5 * T(2, 0), -T(2, 2)) - t2 - t3;

  const JointArray theta = {t1, t2, t3, t4, t5};
  std::vector<double> solved(5);
  for (size_t i = 0; i < 5; ++i) {
    solved[i] = theta[i] + offset_minus_zero_[i];
  }
  // A caller's vector never receives values that are not numbers.
  if (!checkVectorDoubleValid(solved)) return reportNotANumber();
  q = std::move(solved);
  return 0;
}

int KestrelBotV3Kinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<std::vector<double>>& solutions) {
  requirePose(T);
  if (!T.allFinite()) return reportNotANumber();
  solutions.clear();
  static const int kFlagPairs[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  std::vector<double> q;
  for (const auto& pair : kFlagPairs) {
    int flags[2] = {pair[0], pair[1]};
    if (inverseKinematics(T, flags, q) == 0) {
      solutions.push_back(q);
    }
  }
  return 0;
}

int KestrelBotV3Kinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q,
                                              std::vector<std::vector<double>>& solutions) {
  return inverseKinematics(T, solutions);
}

int KestrelBotV3Kinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q, std::vector<double>& q) {
  return kNotProvided;
}

int KestrelBotV3Kinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<double>& q) { return kNotProvided; }

int KestrelBotV3Kinematics::getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue) { return 0; }

bool KestrelBotV3Kinematics::checkVectorDoubleValid(std::vector<double> v) { return bramlock::internal::allFinite(v); }

Eigen::MatrixXd KestrelBotV3Kinematics::get_a_mdh_transform(double d, double a, double cos_alpha, double sin_alpha,
                                                            double cos_theta, double sin_theta) {
  return bramlock::internal::link_transforms::mdh(d, a, cos_alpha, sin_alpha, cos_theta, sin_theta);
}

Eigen::MatrixXd KestrelBotV3Kinematics::get_a_transform(double d, double a, double cos_alpha, double sin_alpha,
                                                        double cos_theta, double sin_theta) {
  return bramlock::internal::link_transforms::sdh(d, a, cos_alpha, sin_alpha, cos_theta, sin_theta);
}
