#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>

#include <Eigen/Geometry>

#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "test_arm.h"

namespace bramlock_test {

// The test arm with two extra groups whose variables are not consecutive.
inline std::shared_ptr<const moveit::core::RobotModel> loadStateTestArm() {
  OutputCapture quiet;
  return std::make_shared<const moveit::core::RobotModel>(testArmDirectory(), "test_arm.urdf", "test_arm_state.srdf",
                                                          testArmMdhTable());
}

// A state at the default values with every transform current.
inline moveit::core::RobotState updatedDefaultState(const std::shared_ptr<const moveit::core::RobotModel>& model) {
  moveit::core::RobotState state(model);
  state.setToDefaultValues();
  state.update();
  return state;
}

// A value drawn inside the variable's position bounds (within [-pi, pi] when unbounded).
inline double randomValue(const moveit::core::VariableBounds& bounds, std::mt19937& rng) {
  const double low = bounds.position_bounded_ ? bounds.min_position_ : -M_PI;
  const double high = bounds.position_bounded_ ? bounds.max_position_ : M_PI;
  return std::uniform_real_distribution<double>(low, high)(rng);
}

// Random values for every active joint of the model, by variable name.
inline std::map<std::string, double> randomActiveValues(const moveit::core::RobotModel& model, std::mt19937& rng) {
  std::map<std::string, double> values;
  for (const moveit::core::JointModel* joint : model.getActiveJointModels()) {
    for (size_t i = 0; i < joint->getVariableCount(); ++i) {
      values[joint->getVariableNames()[i]] = randomValue(joint->getVariableBounds()[i], rng);
    }
  }
  return values;
}

inline ::testing::AssertionResult transformsNear(const Eigen::Isometry3d& actual, const Eigen::Isometry3d& expected,
                                                 double tolerance) {
  const double error = (actual.matrix() - expected.matrix()).cwiseAbs().maxCoeff();
  if (error <= tolerance) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "largest difference " << error << "\nactual\n"
                                       << actual.matrix() << "\nexpected\n"
                                       << expected.matrix();
}

}  // namespace bramlock_test
