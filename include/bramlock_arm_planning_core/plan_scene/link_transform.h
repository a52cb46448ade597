#pragma once

#include <string>

#include <Eigen/Dense>

#include "bramlock_arm_planning_core/export.h"

// The pose of one link of the planned group, as the scene hands it out.
struct BRAMLOCK_EXPORT LinkTransform {
  Eigen::MatrixXd transform;  // 4x4 homogeneous pose in the model frame
  std::string link_name;
  std::string base_link_name;  // parent link of the planned group's common root joint
};
