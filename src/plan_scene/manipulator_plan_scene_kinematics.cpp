// The scene's kinematics wrappers and link queries.
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "bramlock_arm_planning_core/kinematics/kinematics_interface.h"
#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "common/value_checks.h"

namespace {

constexpr int kNoSolver = -100;

// A non-zero code of an inverse-kinematics call is also printed.
int reportedInverse(int code) {
  if (code != 0) std::puts("inverse kinematics failed!!!");
  return code;
}

}  // namespace

int ManipulatorPlanScene::kinematicsFor(std::initializer_list<const std::vector<double>*> vectors,
                                        const Eigen::MatrixXd* pose, KinematicsInterface*& solver) const {
  solver = planned_group_ ? planned_group_->getKinematicsInterface().get() : nullptr;
  if (!solver) {
    std::puts("kinematics_interface_ptr_==null!");
    return kNoSolver;
  }
  // The solvers read one value per active joint without looking at the size.
  for (const std::vector<double>* values : vectors) {
    const bool usable = values->size() == planned_group_->getActiveVariableCount() &&
                        Eigen::Map<const Eigen::VectorXd>(values->data(), values->size()).allFinite();
    if (!usable) return kBadKinematicsInput;
  }
  // A reflection or a scaled block would be solved as some other pose.
  if (pose && !bramlock::internal::isRigidPose(*pose)) return kBadKinematicsInput;
  return 0;
}

int ManipulatorPlanScene::forwardKinematics(std::vector<double> q, Eigen::MatrixXd& pose) {
  KinematicsInterface* solver = nullptr;
  if (const int code = kinematicsFor({&q}, nullptr, solver)) return code;
  Eigen::MatrixXd result = solver->forwardKinematics(q);
  // A solver without its chain (a REV5-U800 arm whose URDF did not load) has no pose to give.
  if (result.rows() != 4 || result.cols() != 4 || !result.allFinite()) {
    std::puts("forward kinematics failed!!!");
    return kNoForwardPose;
  }
  pose = std::move(result);
  return 0;
}

int ManipulatorPlanScene::forwardKinematics(std::vector<double> q, Eigen::Matrix4d& pose) {
  Eigen::MatrixXd result;
  const int code = forwardKinematics(std::move(q), result);
  if (code == 0) pose = result;
  return code;
}

int ManipulatorPlanScene::inverseKinematics(Eigen::MatrixXd& T, std::vector<double> seed, std::vector<double>& q) {
  KinematicsInterface* solver = nullptr;
  if (const int code = kinematicsFor({&seed}, &T, solver)) return code;
  return reportedInverse(solver->inverseKinematics(T, seed, q));
}

int ManipulatorPlanScene::inverseKinematics(Eigen::MatrixXd& T, std::vector<double>& q) {
  KinematicsInterface* solver = nullptr;
  if (const int code = kinematicsFor({}, &T, solver)) return code;
  return reportedInverse(solver->inverseKinematics(T, q));
}

int ManipulatorPlanScene::inverseKinematics(Eigen::MatrixXd& T, std::vector<std::vector<double>>& solutions) {
  KinematicsInterface* solver = nullptr;
  if (const int code = kinematicsFor({}, &T, solver)) return code;
  return reportedInverse(solver->inverseKinematics(T, solutions));
}

int ManipulatorPlanScene::inverseKinematics(Eigen::MatrixXd& T, std::vector<double> seed,
                                            std::vector<std::vector<double>>& solutions) {
  KinematicsInterface* solver = nullptr;
  if (const int code = kinematicsFor({&seed}, &T, solver)) return code;
  return reportedInverse(solver->inverseKinematics(T, seed, solutions));
}

int ManipulatorPlanScene::getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue) {
  KinematicsInterface* solver = nullptr;
  if (const int code = kinematicsFor({&q}, nullptr, solver)) return code;
  return solver->getMinEigenvalue(q, min_eigenvalue);
}

std::vector<std::string> ManipulatorPlanScene::getLinks() { return robot_model_->getLinkModelNames(); }

int ManipulatorPlanScene::getLink(std::string name, const moveit::core::LinkModel*& link) {
  if (static_cast<int>(robot_model_->getLinkModelCount()) - 1 < 0) {
    std::printf("getLink error,index=%d <0!\n", -1);
    return -1;
  }
  const moveit::core::LinkModel* found = robot_model_->getLinkModel(name);
  if (!found) {
    std::printf("getTcpLink error, can not find link: %s \n", name.c_str());
    return -2;
  }
  link = found;
  return 0;
}

int ManipulatorPlanScene::getTcpLink(std::string& name, const moveit::core::LinkModel*& link) {
  const int index = planned_group_ ? static_cast<int>(planned_group_->getLinkModelNames().size()) - 1 : -1;
  if (index < 0) {
    std::printf("getTcpLink error,index=%d <0!\n", index);
    return -1;
  }
  name = planned_group_->getLinkModelNames()[index];
  const moveit::core::LinkModel* found = planned_group_->getLinkModel(name);
  if (!found) {
    std::printf("getTcpLink error, can not find link: %s \n", name.c_str());
    return -2;
  }
  link = found;
  std::printf("getTcpLink success, find link: %s \n", name.c_str());
  return 0;
}

std::vector<LinkTransform> ManipulatorPlanScene::getLinkTransforms(double* joints) {
  std::vector<LinkTransform> records;
  if (!planned_group_ || !joints || !expandToGroupLayout(joints, state_scratch_)) return records;
  transform_state_->setJointGroupPositions(planned_group_, state_scratch_.data());
  transform_state_->update(false);
  const std::string base = getRobotBaseLinkName();
  for (const std::string& name : planned_group_->getLinkModelNames()) {
    const moveit::core::LinkModel* link = robot_model_->getLinkModel(name);
    if (!link) throw std::runtime_error("Invalid link.");
    records.push_back({transform_state_->getGlobalLinkTransform(link).matrix(), name, base});
  }
  return records;
}

Eigen::Matrix4d ManipulatorPlanScene::getToolEndTransform(std::vector<double> q) {
  std::vector<LinkTransform> records;
  if (planned_group_ && q.size() == planned_group_->getActiveVariableCount()) records = getLinkTransforms(q.data());
  if (records.empty()) {
    std::puts("getLinkTransforms(state) ERROR.");
    return Eigen::Matrix4d::Identity();
  }
  for (const LinkTransform& record : records) {
    if (record.link_name == gripper_link_name_) return record.transform;
  }
  return Eigen::Matrix4d::Identity();
}

std::string ManipulatorPlanScene::getRobotBaseLinkName() {
  const moveit::core::JointModel* root = planned_group_ ? planned_group_->getCommonRoot() : nullptr;
  const moveit::core::LinkModel* parent = root ? root->getParentLinkModel() : nullptr;
  return parent ? parent->getName() : std::string();
}

std::string ManipulatorPlanScene::getRobotDescriptions() { return robot_description_; }

int ManipulatorPlanScene::getPlanedJointNames(std::vector<std::string>& names) {
  if (!planned_group_ || planned_group_->getActiveJointModelNames().empty()) return 0;
  names = planned_group_->getActiveJointModelNames();
  return static_cast<int>(names.size());
}
