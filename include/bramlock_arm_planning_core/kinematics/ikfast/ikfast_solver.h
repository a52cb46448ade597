#pragma once

#include <vector>

#include <Eigen/Dense>

#include "bramlock_arm_planning_core/export.h"

// Turns a pose into the joint vectors of the REV5-U800 closed-form solver.
class BRAMLOCK_EXPORT IkfastSolver {
 public:
  // Appends every solution of the pose (rotation in the upper-left 3x3 block,
  // position in column 3; the last row is not read) to solutions, each joint
  // within [-pi, pi]; what the caller passed stays in front. Returns false,
  // appending nothing, when there is no solution or the pose is smaller than 3x4.
  bool ikfastComputeIk(const Eigen::MatrixXd& pose, std::vector<std::vector<double>>& solutions);
};
