#pragma once

#include <string>
#include <vector>

#include "bramlock_arm_planning_core/srdf/model.h"

namespace moveit {
namespace core {

class JointModel;
class RobotModel;

// A named SRDF group of joints of a robot model. This holds what the model's
// lookups need: the name, the SRDF definition, the joints in index order and
// the end-effector name.
class JointModelGroup {
 public:
  JointModelGroup(const std::string& name, const srdf::Model::Group& config,
                  const std::vector<const JointModel*>& joints, const RobotModel* parent_model);
  JointModelGroup(const JointModelGroup&) = delete;
  JointModelGroup& operator=(const JointModelGroup&) = delete;

  const RobotModel* getParentModel() const { return parent_model_; }
  const std::string& getName() const { return name_; }
  const srdf::Model::Group& getConfig() const { return config_; }
  const std::vector<const JointModel*>& getJointModels() const { return joint_model_vector_; }
  // Empty unless this group is an end-effector.
  const std::string& getEndEffectorName() const { return end_effector_name_; }
  void setEndEffectorName(const std::string& name) { end_effector_name_ = name; }

 private:
  const RobotModel* parent_model_;
  std::string name_;
  std::vector<const JointModel*> joint_model_vector_;
  std::string end_effector_name_;
  srdf::Model::Group config_;
};

}  // namespace core
}  // namespace moveit
