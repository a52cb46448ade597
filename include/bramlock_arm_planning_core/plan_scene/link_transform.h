#pragma once

#include <string>

#include <Eigen/Dense>

// The pose of one link of the planned group, as the scene hands it out.
struct LinkTransform {
  Eigen::MatrixXd transform;   // 4x4 homogeneous pose in the model frame
  std::string link_name;
  std::string base_link_name;  // parent link of the planned group's common root joint
};
