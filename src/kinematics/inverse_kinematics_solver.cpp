#include "bramlock_arm_planning_core/kinematics/inverse_kinematics_solver.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include <urdf/model.h>
#include <ament_index_cpp/get_package_share_directory.hpp>
#include <kdl/chainjnttojacsolver.hpp>
#include <kdl/tree.hpp>
#include <kdl_parser/kdl_parser.hpp>

#include "bramlock_arm_planning_core/logger.h"
#include "common/rotation_math.h"
#include "common/value_checks.h"
#include "link_transforms.h"

namespace {

constexpr char kDescriptionPackage[] = "bramlock_arm_description";
constexpr char kUrdfPath[] = "/urdf/RAV5-A800-Z4O3V4I/RAV5-A800-Z4O3V4I.urdf";
constexpr char kBaseLink[] = "base_link";
constexpr char kTipLink[] = "link6";
constexpr int kArmJoints = 6;

// Levenberg-Marquardt set-up: a tight error bound, so a reported success
// reproduces the pose (a looser one passes orientation errors near 1e-2 rad).
constexpr double kLmaEps = 1e-9;
constexpr int kLmaMaxIterations = 1000;
constexpr double kLmaEpsJoints = 1e-15;

KDL::JntArray jointArray(const double* values, unsigned int count) {
  KDL::JntArray joints(count);
  for (unsigned int i = 0; i < count; ++i) joints(i) = values[i];
  return joints;
}

}  // namespace

InverseKinematicsSolver::~InverseKinematicsSolver() {
  // The solvers refer to the chain: release them first.
  fk_solver_.reset();
  ik_solver_.reset();
}

void InverseKinematicsSolver::updateMDH(const std::vector<double>& /*zd*/, const std::vector<double>& /*xa*/,
                                        const std::vector<double>& /*alpha*/, const std::vector<double>& /*qzero*/) {
  const std::string path = ament_index_cpp::get_package_share_directory(kDescriptionPackage) + kUrdfPath;
  urdf::Model model;
  if (model.initFile(path)) {
    BRAMLOCK_INFO("URDF模型加载成功");
  } else {
    BRAMLOCK_ERROR("无法加载URDF模型:{}", path);
  }
  KDL::Tree tree("root");
  if (!kdl_parser::treeFromUrdfModel(model, tree)) {
    BRAMLOCK_ERROR("无法从URDF创建KDL树");
  }
  // The solvers hold references into the chain: drop them before replacing it.
  fk_solver_.reset();
  ik_solver_.reset();
  chain_ = KDL::Chain();
  if (tree.getChain(kBaseLink, kTipLink, chain_)) {
    BRAMLOCK_INFO("成功创建机器人链，关节数量:{}", chain_.getNrOfJoints());
  } else {
    chain_ = KDL::Chain();
    BRAMLOCK_ERROR("无法获取机器人链");
  }
  ik_solver_ = std::make_shared<KDL::ChainIkSolverPos_LMA>(chain_, kLmaEps, kLmaMaxIterations, kLmaEpsJoints);
  fk_solver_ = std::make_shared<KDL::ChainFkSolverPos_recursive>(chain_);
}

Eigen::Matrix4d InverseKinematicsSolver::mdhMatrix(double alpha, double a, double d, double theta) {
  return bramlock::internal::link_transforms::mdh(d, a, std::cos(alpha), std::sin(alpha), std::cos(theta),
                                                  std::sin(theta));
}

Eigen::Matrix4d InverseKinematicsSolver::forwardKinematics(const Eigen::VectorXd& q) {
  const unsigned int joints = chain_.getNrOfJoints();
  KDL::Frame frame;
  if (!fk_solver_ || joints == 0 || q.size() < static_cast<Eigen::Index>(joints) ||
      fk_solver_->JntToCart(jointArray(q.data(), joints), frame) < 0) {
    return Eigen::Matrix4d::Constant(std::numeric_limits<double>::quiet_NaN());
  }
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) pose(row, column) = frame.M(row, column);
    pose(row, 3) = frame.p(row);
  }
  return pose;
}

Eigen::VectorXd InverseKinematicsSolver::poseError(const Eigen::Matrix4d& T1, const Eigen::Matrix4d& T2) {
  Eigen::VectorXd error(6);
  error.head<3>() = T1.topRightCorner<3, 1>() - T2.topRightCorner<3, 1>();
  error.tail<3>() = rotationError(T2.topLeftCorner<3, 3>(), T1.topLeftCorner<3, 3>());
  return error;
}

Eigen::VectorXd InverseKinematicsSolver::inverseKinematics(const Eigen::Matrix4d& T, bool& ok,
                                                           const Eigen::VectorXd& q_init) {
  const Eigen::Vector3d rpy = bramlock::internal::rotation_math::rollPitchYaw(T.topLeftCorner<3, 3>());
  const KDL::Frame target(KDL::Rotation::RPY(rpy[0], rpy[1], rpy[2]), KDL::Vector(T(0, 3), T(1, 3), T(2, 3)));
  KDL::JntArray result(kArmJoints);
  ok = ik_solver_ && q_init.size() >= kArmJoints && T.allFinite() && q_init.head(kArmJoints).allFinite() &&
       ik_solver_->CartToJnt(jointArray(q_init.data(), kArmJoints), target, result) >= 0 && result.data.allFinite();
  return result.data;
}

double InverseKinematicsSolver::getMinEigenvalue(const Eigen::MatrixXd& J) {
  if (J.size() == 0 || !J.allFinite()) {
    throw std::invalid_argument("the smallest singular value needs a non-empty matrix of finite values");
  }
  const Eigen::MatrixXd m = J.rows() == J.cols() ? J : Eigen::MatrixXd(J.transpose() * J);
  return Eigen::JacobiSVD<Eigen::MatrixXd>(m, Eigen::ComputeThinU | Eigen::ComputeThinV).singularValues().minCoeff();
}

int InverseKinematicsSolver::getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue) {
  // A chain without joints (no updateMDH, failed load) has an empty Jacobian
  // that KDL accepts but that has no smallest value.
  const unsigned int count = static_cast<unsigned int>(q.size());
  if (count == 0 || count != chain_.getNrOfJoints() || !bramlock::internal::allFinite(q)) return -1;
  KDL::ChainJntToJacSolver solver(chain_);
  KDL::Jacobian jacobian(count);
  if (solver.JntToJac(jointArray(q.data(), count), jacobian) < 0) return -1;
  min_eigenvalue = getMinEigenvalue(Eigen::MatrixXd(jacobian.data));
  return 0;
}

Eigen::Vector3d rotationError(const Eigen::Matrix3d& R_a, const Eigen::Matrix3d& R_b) {
  return bramlock::internal::rotation_math::rotationVector(R_b * R_a.transpose());
}
