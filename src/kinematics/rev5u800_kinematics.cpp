#include "bramlock_arm_planning_core/kinematics/rev5u800_kinematics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "bramlock_arm_planning_core/console_color_codes.h"
#include "bramlock_arm_planning_core/logger.h"
#include "common/value_checks.h"
#include "link_transforms.h"

namespace {

constexpr size_t kJoints = 6;
// Numeric results this close in every joint are one solution.
constexpr double kSameSolution = 0.01;

bool isFullPose(const Eigen::MatrixXd& T) { return T.rows() == 4 && T.cols() == 4; }

Eigen::VectorXd firstJoints(const std::vector<double>& q) {
  return Eigen::Map<const Eigen::VectorXd>(q.data(), static_cast<Eigen::Index>(kJoints));
}

// A 4x4 pose of numbers and, when given, a reference of six numbers.
bool solvable(const Eigen::MatrixXd& T) { return isFullPose(T) && T.allFinite(); }
bool solvable(const Eigen::MatrixXd& T, const std::vector<double>& ref_q) {
  return solvable(T) && ref_q.size() >= kJoints && firstJoints(ref_q).allFinite();
}

bool sameSolution(const std::vector<double>& a, const std::vector<double>& b) {
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::fabs(a[i] - b[i]) > kSameSolution) return false;
  }
  return true;
}

// The eight seeds of the all-solutions form without reference.
const std::vector<std::vector<double>>& fixedSeeds() {
  constexpr double p2 = M_PI / 2, p4 = M_PI / 4;
  static const std::vector<std::vector<double>> seeds = {
      {0, -p4, p2, 0, p4, 0},     {0, p4, -p2, 0, -p4, 0},  {p2, -p4, p2, 0, p4, 0},        {-p2, -p4, p2, 0, p4, 0},
      {0, -p4, p2, 0, -p4, M_PI}, {p4, p4, p4, p4, p4, p4}, {-p4, -p4, -p4, -p4, -p4, -p4}, {0, 0, 0, 0, 0, 0}};
  return seeds;
}

}  // namespace

Rev5U800Kinematics::Rev5U800Kinematics() {
  initRobotType({-0.00625, -M_PI / 2, 3.13967, -1.5687, 1.57, -1.57097});
  cos_alpha_.assign(dof_, 0.0);
  sin_alpha_.assign(dof_, 0.0);
  z_axes_.assign(dof_ + 2, Eigen::Vector3d::Zero());
  z_axes_[0] = Eigen::Vector3d::UnitZ();
  origins_.assign(dof_ + 2, Eigen::Vector3d::Zero());
  jacobian_ = Eigen::MatrixXd::Zero(6, dof_);
}

int Rev5U800Kinematics::setMdhPara(std::vector<double> zds, std::vector<double> xas, std::vector<double> alphas,
                                   std::vector<double> qzeros) {
  const int result = storeMdhTable(zds, xas, alphas, qzeros);
  if (result != 0) return result;
  BRAMLOCK_INFO("\033[42m ######################mdh para########################## \033[0m");
  printMdhTable();
  for (int i = 0; i < dof_; ++i) {
    cos_alpha_[i] = std::cos(alpha[i]);
    sin_alpha_[i] = std::sin(alpha[i]);
  }
  ik_solver_.updateMDH(zd, xa, alpha, qzero);
  return 0;
}

Eigen::MatrixXd Rev5U800Kinematics::forwardKinematics(std::vector<double> q) {
  requireJointValues(q);
  const Eigen::Matrix4d pose = ik_solver_.forwardKinematics(firstJoints(q));
  if (!pose.allFinite()) return Eigen::MatrixXd();
  return pose;
}

int Rev5U800Kinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q, std::vector<double>& q) {
  q.clear();
  if (!solvable(T, ref_q)) return -1;
  bool ok = false;
  const Eigen::VectorXd result = ik_solver_.inverseKinematics(T, ok, firstJoints(ref_q));
  if (!ok) return -1;
  q.assign(result.data(), result.data() + kJoints);
  return 0;
}

int Rev5U800Kinematics::inverseKinematics(Eigen::MatrixXd /*T*/, int* /*arm_config*/, std::vector<double>& /*q*/) {
  return -1;
}

int Rev5U800Kinematics::inverseKinematics(Eigen::MatrixXd /*T*/, std::vector<double>& /*q*/) { return -1; }

int Rev5U800Kinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<std::vector<double>>& solutions) {
  solutions.clear();
  if (!solvable(T)) return -1;
  for (const std::vector<double>& seed : fixedSeeds()) appendNumericSolve(T, seed, solutions);
  if (solutions.empty()) {
    BRAMLOCK_INFO("IK failed");
    return -1;
  }
  return 0;
}

int Rev5U800Kinematics::inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q,
                                          std::vector<std::vector<double>>& solutions) {
  solutions.clear();
  if (!solvable(T, ref_q)) return -1;
  const Eigen::Matrix4d target = T;
  std::vector<std::vector<double>> seeds;
  try {
    ikfast_solver_.ikfastComputeIk(T, seeds);
  } catch (const std::exception&) {
    // A failed internal check of the closed form must not reach the host:
    // the numeric seeds below still run.
    seeds.clear();
  }
  if (seeds.empty()) BRAMLOCK_WARN("IKFast calculation failed");
  seeds.push_back(ref_q);
  seeds.emplace_back(kJoints, 0.0);
  std::vector<std::vector<double>> solved;
  for (const std::vector<double>& seed : seeds) appendNumericSolve(target, seed, solved);
  for (const std::vector<double>& solution : solved) {
    const auto same = [&solution](const std::vector<double>& kept) { return sameSolution(kept, solution); };
    if (std::none_of(solutions.begin(), solutions.end(), same)) solutions.push_back(solution);
  }
  if (solutions.empty()) {
    BRAMLOCK_INFO("IK failed pose is {},{},{}", T(0, 3), T(1, 3), T(2, 3));
    return -1;
  }
  return 0;
}

int Rev5U800Kinematics::getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue) {
  return ik_solver_.getMinEigenvalue(q, min_eigenvalue);
}

void Rev5U800Kinematics::appendNumericSolve(const Eigen::Matrix4d& T, const std::vector<double>& seed,
                                            std::vector<std::vector<double>>& solutions) {
  bool ok = false;
  const Eigen::VectorXd result = ik_solver_.inverseKinematics(T, ok, firstJoints(seed));
  if (ok) solutions.emplace_back(result.data(), result.data() + kJoints);
}

bool Rev5U800Kinematics::isSingular(const std::vector<double>& q, double threshold) {
  double smallest = std::numeric_limits<double>::max();
  getMinEigenvalue(q, smallest);
  const bool singular = smallest < threshold;
  if (singular && q.size() == kJoints) {
    BRAMLOCK_INFO("rad: [{},{},{},{},{},{}] isSingular", q[0], q[1], q[2], q[3], q[4], q[5]);
    BRAMLOCK_INFO("min_coeff is {}", smallest);
  }
  return singular;
}

bool Rev5U800Kinematics::checkInverseKkinematics(const std::vector<double>& q, const Eigen::MatrixXd& T) {
  const Eigen::MatrixXd reached = forwardKinematics(q);
  if (!isFullPose(reached) || !isFullPose(T)) return false;
  const Eigen::VectorXd error = ik_solver_.poseError(reached, T);
  const double position = error.head<3>().norm();
  const double rotation = error.tail<3>().norm();
  if (position > ik_solver_.posTolerance() || rotation > ik_solver_.rotTolerance()) {
    BRAMLOCK_INFO("{}IK error: pos_err_norm:{},rot_err_norm:{}{}", DIM_YELLOW, position, rotation, RESET);
    return false;
  }
  return true;
}

void Rev5U800Kinematics::computeJacobian() {
  const Eigen::Vector3d& reference = origins_[4];
  for (int i = 0; i < dof_; ++i) {
    const Eigen::Vector3d& z = z_axes_[i + 1];
    const Eigen::Vector3d& p = origins_[i + 1];
    jacobian_.block<3, 1>(0, i) = joint_types_[i] == 1 ? Eigen::Vector3d(z.cross(reference - p)) : z;
    jacobian_.block<3, 1>(3, i) = joint_types_[i] * z;
  }
}

Eigen::MatrixXd Rev5U800Kinematics::computeJacobian(const std::vector<double>& q) {
  if (q.size() > static_cast<size_t>(dof_)) {
    throw std::invalid_argument("joint vector holds " + std::to_string(q.size()) + " values, the arm has " +
                                std::to_string(dof_) + " joints");
  }
  const size_t n = q.size();
  std::vector<Eigen::Vector3d> axes(n), origins(n);
  Eigen::Matrix4d T = Eigen::Matrix4d::Identity();
  for (size_t i = 0; i < n; ++i) {
    const double theta = q[i] + qzero[i];
    T = T * bramlock::internal::link_transforms::mdh(zd[i], xa[i], cos_alpha_[i], sin_alpha_[i], std::cos(theta),
                                                     std::sin(theta));
    axes[i] = T.block<3, 1>(0, 2);
    origins[i] = T.block<3, 1>(0, 3);
  }
  Eigen::MatrixXd J(6, n);
  for (size_t i = 0; i < n; ++i) {
    J.block<3, 1>(0, i) = axes[i].cross(origins[n - 1] - origins[i]);
    J.block<3, 1>(3, i) = axes[i];
  }
  return J;
}

Eigen::MatrixXd Rev5U800Kinematics::getJacobian() {
  computeJacobian();
  return jacobian_;
}

Eigen::MatrixXd Rev5U800Kinematics::get_a_mdh_transform(double d, double a, double cos_alpha, double sin_alpha,
                                                        double cos_theta, double sin_theta) {
  return bramlock::internal::link_transforms::mdh(d, a, cos_alpha, sin_alpha, cos_theta, sin_theta);
}

Eigen::MatrixXd Rev5U800Kinematics::get_a_transform(double d, double a, double cos_alpha, double sin_alpha,
                                                    double cos_theta, double sin_theta) {
  return bramlock::internal::link_transforms::sdh(d, a, cos_alpha, sin_alpha, cos_theta, sin_theta);
}

bool Rev5U800Kinematics::checkVectorDoubleValid(std::vector<double> v) const {
  return bramlock::internal::allFinite(v);
}
