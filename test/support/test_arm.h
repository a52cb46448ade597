#pragma once

#include <memory>
#include <string>

#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "test_support.h"

namespace bramlock_test {

// The description directory of the six-axis test arm (ends with a slash).
inline std::string testArmDirectory() { return fixturePath("test_arm/"); }

// The MDH table the test arm's joint origins follow (rows zd, xa, qzero, alpha).
inline moveit::core::MdhTable testArmMdhTable() {
  return {{0.172, 0.0, 0.0, 0.40581, 0.0, 0.115289},
          {0.0, -0.085659, 0.381051, 0.071459, 0.0, 0.0},
          {0.0, -1.57413, 1.571861, 0.010472, 3.145607, 3.141592653589793},
          {0.0, -1.5707963267948966, 0.0, 1.5707963267948966, -1.5707963267948966, -1.5707963267948966}};
}

// The test arm with its SRDF and MDH table; the loading messages are swallowed.
inline std::shared_ptr<moveit::core::RobotModel> loadTestArm() {
  OutputCapture quiet;
  return std::make_shared<moveit::core::RobotModel>(testArmDirectory(), "test_arm.urdf", "test_arm.srdf",
                                                    testArmMdhTable());
}

}  // namespace bramlock_test
