#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"

#include <algorithm>

#include "bramlock_arm_planning_core/robot_model/joint_model.h"

namespace moveit {
namespace core {

JointModelGroup::JointModelGroup(const std::string& name, const srdf::Model::Group& config,
                                 const std::vector<const JointModel*>& joints, const RobotModel* parent_model)
    : parent_model_(parent_model), name_(name), joint_model_vector_(joints), config_(config) {
  std::sort(joint_model_vector_.begin(), joint_model_vector_.end(),
            [](const JointModel* a, const JointModel* b) { return a->getJointIndex() < b->getJointIndex(); });
}

}  // namespace core
}  // namespace moveit
