#include "bramlock_arm_planning_core/kinematics/realman_kinematics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <string>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "common/rotation_math.h"
#include "common/value_checks.h"
#include "link_transforms.h"

namespace {

constexpr int kNoConfiguration = -1;

// The values separated by ",", in the stream's default format (six significant digits).
std::string joinedValues(const std::vector<double>& values) { return fmt::format("{:g}", fmt::join(values, ",")); }

void reportNoConfiguration() { std::cout << "第一次所有臂参数都无法逆解" << std::endl; }

// Index of the solution to prefer: smallest |q2| + |q3| (within 0.01), then
// smallest |q1| (within 1e-6), then smallest |q4|; -1 when values are not numbers.
int rankSolutions(const std::vector<std::vector<double>>& solutions) {
  double min_arm = std::numeric_limits<double>::infinity();
  for (const auto& s : solutions) {
    std::cout << joinedValues(s) << '\n';
    const double arm = std::fabs(s[1]) + std::fabs(s[2]);
    if (arm < min_arm) min_arm = arm;
  }
  std::vector<int> arm_candidates;
  for (size_t i = 0; i < solutions.size(); ++i) {
    if (std::fabs(std::fabs(solutions[i][1]) + std::fabs(solutions[i][2]) - min_arm) < 0.01) {
      arm_candidates.push_back(static_cast<int>(i));
    }
  }
  double min_j1 = std::numeric_limits<double>::infinity();
  for (int index : arm_candidates) {
    std::printf("idx=======%d\n", index);
    min_j1 = std::min(min_j1, std::fabs(solutions[index][0]));
  }
  std::printf("min_j1_abs=%lf\n", min_j1);
  int chosen = -1;
  for (int index : arm_candidates) {
    if (std::fabs(std::fabs(solutions[index][0]) - min_j1) >= 1e-6) continue;
    std::printf("min j1 idx=%d\n", index);
    if (chosen < 0 || std::fabs(solutions[index][3]) < std::fabs(solutions[chosen][3])) {
      chosen = index;
    }
  }
  return chosen;
}

}  // namespace

RealmanKinematics::RealmanKinematics() { initRobotType({0.0, M_PI_2, 0.0, M_PI_2, -M_PI_2, M_PI_2}); }

int RealmanKinematics::setMdhPara(std::vector<double> zds, std::vector<double> xas, std::vector<double> alphas,
                                  std::vector<double> qzeros) {
  const int result = storeMdhTable(zds, xas, alphas, qzeros);
  if (result != 0) {
    return result;
  }
  convertFromMdhToSdh();
  std::puts("######################sdh para##########################");
  printMdhTable();
  bramlock::internal::link_transforms::precomputeTwists(alpha, cos_alpha_, sin_alpha_);
  bramlock::internal::link_transforms::precomputeOffsets(joint_offset_, qzero, offset_minus_zero_);
  return 0;
}

Eigen::MatrixXd RealmanKinematics::forwardKinematics(std::vector<double> q) {
  requireJointValues(q);
  return bramlock::internal::link_transforms::homogeneous(bramlock::internal::link_transforms::chainPose(
      bramlock::internal::link_transforms::appendSdh, q, qzero, zd, xa, cos_alpha_, sin_alpha_));
}

int RealmanKinematics::solveConfiguration(const Eigen::MatrixXd& T, bool shoulder, bool elbow, bool wrist,
                                          Angles& theta) const {
  const double d1 = zd[0], d3 = zd[2], d4 = zd[3], d6 = zd[5];
  const double a1 = xa[0], a2 = xa[1], a3 = xa[2];
  const double ax = T(0, 2), ay = T(1, 2), az = T(2, 2);

  // Shoulder from the wrist centre.
  const double wx = T(0, 3) - d6 * ax, wy = T(1, 3) - d6 * ay, wz = T(2, 3) - d6 * az;
  const double r = std::hypot(wx, wy);
  if (r - std::fabs(d3) < overhead_threshold_) {
    std::puts("overhead singularity error!!!");
    return 1001;
  }
  const double phi = std::atan2(wy, wx), beta = std::asin(d3 / r);
  double t1 = bramlock::internal::rotation_math::wrapToPi(shoulder ? phi + beta : phi - beta);
  if (!shoulder) {
    t1 = t1 >= 0 ? t1 - M_PI : t1 + M_PI;
  }
  const double c1 = std::cos(t1), s1 = std::sin(t1);

  // Elbow from the triangle upper arm - forearm.
  const double X = wx - d3 * s1 - a1 * c1, Y = wy + d3 * c1 - a1 * s1, Z = wz - d1;
  const double L = std::hypot(a3, d4);
  const double k = (a2 * a2 + L * L - X * X - Y * Y - Z * Z) / (2 * a2 * L);
  if (std::fabs(k) > 1 - j3_threshold_) {
    std::puts("j3 singularity error!!!");
    return 1002;
  }
  const double delta = std::asin(a3 / L), gamma = std::acos(k);
  const double t3 = elbow ? (M_PI_2 - delta) - (M_PI - gamma) : (M_PI_2 - delta) + (M_PI - gamma);

  // Shoulder pitch.
  const double c = std::cos(t3 + delta), s = std::sin(t3 + delta);
  const double R = wx * c1 + wy * s1 - a1, A = a2 + L * s, B = L * c;
  const double psi = std::atan2(R * A - Z * B, R * B + Z * A);
  const double t2 = -psi;
  const double c23 = std::cos(t3 - psi), s23 = std::sin(t3 - psi);

  // Wrist bend. A folded singular wrist (k5 near -1) is the angle pi, not 0.
  const double h = ax * c1 + ay * s1;
  const double k5 = h * c23 + az * s23;
  if (std::fabs(k5) > 1.00001) {
    std::puts("cosTheta05 value is larger than 1!!!");
    return 1004;
  }
  const bool singular = std::fabs(k5) > 0.99999;
  double t5, c5;
  if (singular) {
    if (j5_threshold_ > 0) {
      std::puts("j5 singularity error!!!");
      return 1003;
    }
    const double magnitude = k5 > 0 ? 0.0 : M_PI;
    t5 = wrist ? magnitude : -magnitude;
    c5 = k5 > 0 ? 1.0 : -1.0;
  } else {
    const double bend = std::acos(k5);
    t5 = wrist ? bend : -bend;
    if (j5_threshold_ > bend) {
      std::puts("j5 singularity error!!!");
      return 1003;
    }
    c5 = std::cos(t5);
  }

  // Wrist roll and flange roll.
  const double u = ax * s1 - ay * c1, v = az * c23 - s23 * h;
  const double t4 = (!singular && t5 > 0) ? std::atan2(u, v) : std::atan2(-u, -v);
  const double c4 = std::cos(t4), s4 = std::sin(t4);
  const double m = T(0, 0) * s1 - T(1, 0) * c1, e = T(0, 1) * s1 - T(1, 1) * c1;
  const double t6 = std::atan2(m * c4 - e * s4 * c5, m * s4 * c5 + e * c4);
  theta = {t1, t2, t3, t4, t5, t6};
  // Thresholds set to NaN, or a pose huge enough to overflow, pass every test above.
  return bramlock::internal::allFinite(theta.data(), theta.size()) ? 0 : kNoConfiguration;
}

void RealmanKinematics::writeJointValues(const Angles& theta, std::vector<double>& q) const {
  q.resize(6);
  for (size_t i = 0; i < 6; ++i) {
    q[i] = offset_minus_zero_[i] + theta[i];
  }
}

int RealmanKinematics::inverseKinematics(Eigen::MatrixXd T, int* arm_config, std::vector<double>& q) {
  requirePose(T);
  if (arm_config == nullptr || !T.allFinite()) return kNoConfiguration;
  q.resize(6);
  Angles theta;
  const int result = solveConfiguration(T, arm_config[0] == 1, arm_config[1] == 1, arm_config[2] == 1, theta);
  if (result == 0) {
    writeJointValues(theta, q);
  }
  return result;
}

int RealmanKinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q, std::vector<double>& q) {
  requirePose(T);
  requireJointValues(ref_q);
  if (!T.allFinite() || !bramlock::internal::allFinite(ref_q)) return kNoConfiguration;
  q.resize(6);
  int flags[4];
  get_arm_type(ref_q, flags);
  Angles theta;
  const int result = solveConfiguration(T, flags[0] == 1, flags[1] == 1, flags[2] == 1, theta);
  if (result != 0) {
    return result;
  }
  double& t6 = theta[5];
  if (std::fabs(t6 - ref_q[5]) >= M_PI) {
    if (std::fabs(t6 - 2 * M_PI - ref_q[5]) < M_PI) {
      t6 -= 2 * M_PI;
    } else if (std::fabs(t6 + 2 * M_PI - ref_q[5]) < M_PI) {
      t6 += 2 * M_PI;
    } else {
      std::puts("slove j6 error!!!");
      return 1005;
    }
  }
  writeJointValues(theta, q);
  return 0;
}

void RealmanKinematics::collectConfigurations(const Eigen::MatrixXd& T, std::vector<std::vector<double>>& solutions) {
  for (int k = 0; k < 8; ++k) {
    int flags[3] = {(k >> 2) & 1, (k >> 1) & 1, k & 1};
    std::vector<double> q;
    if (inverseKinematics(T, flags, q) == 0) {
      std::cout << "q:" << joinedValues(q) << std::endl;
      solutions.push_back(std::move(q));
    }
  }
}

int RealmanKinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<std::vector<double>>& solutions) {
  requirePose(T);
  if (!T.allFinite()) return kNoConfiguration;
  solutions.clear();
  collectConfigurations(T, solutions);
  if (solutions.empty()) {
    reportNoConfiguration();
    return kNoConfiguration;
  }
  return 0;
}

int RealmanKinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<double>& q) {
  requirePose(T);
  if (!T.allFinite()) return kNoConfiguration;
  q.resize(6);
  std::vector<std::vector<double>> solutions;
  collectConfigurations(T, solutions);
  if (solutions.empty()) {
    reportNoConfiguration();
    return kNoConfiguration;
  }
  std::cout << "第一次逆解有" << solutions.size() << "组解" << std::endl;
  const int chosen = rankSolutions(solutions);
  if (chosen < 0) {
    return kNoConfiguration;
  }
  q = solutions[chosen];
  return 0;
}

int RealmanKinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q,
                                         std::vector<std::vector<double>>& solutions) {
  return inverseKinematics(T, solutions);
}

int RealmanKinematics::getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue) { return 0; }

void RealmanKinematics::get_arm_type(std::vector<double> q, int* flags) {
  requireJointValues(q);
  if (flags == nullptr) return;
  const double reach = xa[0] - xa[1] * std::sin(q[1]) - zd[3] * std::sin(q[1] + q[2]);
  flags[0] = reach >= 0 ? 1 : -1;
  flags[1] = q[2] >= 0 ? -1 : 1;
  flags[2] = q[4] >= 0 ? 1 : -1;
  flags[3] = q[5] >= M_PI ? 1 : (q[5] <= -M_PI ? -1 : 0);
}

void RealmanKinematics::set_singular_threshold(double overhead, double j3, double j5) {
  overhead_threshold_ = overhead;
  j3_threshold_ = j3;
  j5_threshold_ = j5;
}

Eigen::MatrixXd RealmanKinematics::get_a_transform(double d, double a, double cos_alpha, double sin_alpha,
                                                   double cos_theta, double sin_theta) {
  return bramlock::internal::link_transforms::sdh(d, a, cos_alpha, sin_alpha, cos_theta, sin_theta);
}

Eigen::MatrixXd RealmanKinematics::forward_kinematics(double* q) {
  const double c1 = std::cos(q[0]), s1 = std::sin(q[0]), c2 = std::cos(q[1]), s2 = std::sin(q[1]);
  const double c4 = std::cos(q[3]), s4 = std::sin(q[3]), c5 = std::cos(q[4]), s5 = std::sin(q[4]);
  const double c6 = std::cos(q[5]), s6 = std::sin(q[5]);
  const double g = q[1] + q[2] + M_PI_2, cg = std::cos(g), sg = std::sin(g);
  const double d1 = zd[0], d3 = zd[2], d4 = zd[3], d6 = zd[5], a1 = xa[0], a2 = xa[1], a3 = xa[2];

  const double P = -c4 * sg * c5 * c6 - cg * s5 * c6 + s4 * sg * s6;
  const double Q = c4 * sg * c5 * s6 + cg * s5 * s6 + s4 * sg * c6;
  const double U = c4 * s6 + s4 * c5 * c6;
  const double V = c4 * c6 - s4 * c5 * s6;
  Eigen::MatrixXd& T = pose_;
  T(0, 0) = c1 * P + s1 * U;
  T(1, 0) = s1 * P - c1 * U;
  T(2, 0) = c4 * cg * c5 * c6 - sg * s5 * c6 - s4 * cg * s6;
  T(0, 1) = c1 * Q + s1 * V;
  T(1, 1) = s1 * Q - c1 * V;
  T(2, 1) = -c4 * cg * c5 * s6 + sg * s5 * s6 - s4 * cg * c6;
  T(0, 2) = -c1 * sg * c4 * s5 + c1 * cg * c5 + s1 * s4 * s5;
  T(1, 2) = -s1 * sg * c4 * s5 + s1 * cg * c5 - c1 * s4 * s5;
  T(2, 2) = c5 * sg + c4 * cg * s5;
  const double E = a1 - a2 * s2 + d4 * cg - a3 * sg;
  T(0, 3) = d3 * s1 + c1 * E + d6 * T(0, 2);
  T(1, 3) = -d3 * c1 + s1 * E + d6 * T(1, 2);
  T(2, 3) = d1 + a2 * c2 + d4 * sg + a3 * cg + d6 * T(2, 2);
  return T;
}
