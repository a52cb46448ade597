#pragma once

#include <memory>
#include <string>

#include "bramlock_arm_planning_core/planner/arm_dynamics_model.h"

namespace bramlock {
namespace internal {

// The arm's dynamics model from a URDF with the tool frame "end_effector" added: identity
// rotation, 0.45 m along z of the frame of the joint that carries "link6". Throws
// std::runtime_error when the URDF cannot be loaded or has no frame "link6".
std::shared_ptr<dynamics::Model> loadArmModelWithTool(const std::string& urdf_path);

}  // namespace internal
}  // namespace bramlock
