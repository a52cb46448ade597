#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <Eigen/Geometry>

#include "bramlock_arm_planning_core/collision_detection/allowed_collision_matrix.h"
#include "bramlock_arm_planning_core/collision_detection/world.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "test_support.h"

namespace bramlock_test {

// The planar arm of primitive shapes (test/fixtures/planar_arm): three joints
// about z, all sphere centres in the plane z = 0, a base box below it.
inline std::shared_ptr<const moveit::core::RobotModel> loadPlanarArm() {
  OutputCapture quiet;
  return std::make_shared<const moveit::core::RobotModel>(fixturePath("planar_arm/"), "planar_arm.urdf",
                                                          "planar_arm.srdf");
}

// Every pair of links with geometry checked, the SRDF's disabled pairs allowed.
inline collision_detection::AllowedCollisionMatrix planarArmMatrix(const moveit::core::RobotModel& model) {
  collision_detection::AllowedCollisionMatrix acm(model.getLinkModelNamesWithCollisionGeometry(), false);
  for (const auto& pair : model.getSRDF()->getDisabledCollisionPairs()) acm.setEntry(pair.link1_, pair.link2_, true);
  return acm;
}

// A state of the arm at the three joint values, transforms current.
inline std::unique_ptr<moveit::core::RobotState> planarArmState(
    const std::shared_ptr<const moveit::core::RobotModel>& model, double shoulder, double elbow, double wrist) {
  auto state = std::make_unique<moveit::core::RobotState>(model);
  state->setToDefaultValues();
  const double values[3] = {shoulder, elbow, wrist};
  state->setJointGroupPositions(model->getJointModelGroup("arm"), values);
  state->update();
  return state;
}

// A pose translated to the point.
inline Eigen::Isometry3d at(double x, double y, double z) {
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.translation() = Eigen::Vector3d(x, y, z);
  return pose;
}

// The straight arm before an empty world and its checker.
class PlanarArmAgainstTheWorld : public ::testing::Test {
 protected:
  std::shared_ptr<const moveit::core::RobotModel> model = loadPlanarArm();
  collision_detection::AllowedCollisionMatrix acm = planarArmMatrix(*model);
  std::shared_ptr<collision_detection::World> world = std::make_shared<collision_detection::World>();
  collision_detection::CollisionWorldFCL world_checker{world};
  std::unique_ptr<moveit::core::RobotState> state = planarArmState(model, 0.0, 0.0, 0.0);
};

// Closed-form geometry of the arm, computed here from the fixture's numbers
// rather than through the robot model.
struct Ball {
  std::string link;
  Eigen::Vector3d centre;
  double radius;
};

struct AxisBox {
  std::string name;
  Eigen::Vector3d centre;
  Eigen::Vector3d half;
};

inline Eigen::Vector3d planarPoint(double angle, double length) {
  return Eigen::Vector3d(length * std::cos(angle), length * std::sin(angle), 0.0);
}

// The arm's spheres, each radius grown by the padding.
inline std::vector<Ball> planarArmBalls(double shoulder, double elbow, double wrist, double padding = 0.0) {
  const double fore_angle = shoulder + elbow;
  const Eigen::Vector3d elbow_point = planarPoint(shoulder, 0.4);
  const Eigen::Vector3d wrist_point = elbow_point + planarPoint(fore_angle, 0.35);
  return {{"upper_link", planarPoint(shoulder, 0.2), 0.06 + padding},
          {"fore_link", elbow_point + planarPoint(fore_angle, 0.1), 0.05 + padding},
          {"fore_link", elbow_point + planarPoint(fore_angle, 0.25), 0.04 + padding},
          {"hand_link", wrist_point + planarPoint(fore_angle + wrist, 0.15), 0.045 + padding}};
}

// The base box, sides grown by twice the padding.
inline AxisBox planarArmBase(double padding = 0.0) {
  return {"base_link", Eigen::Vector3d(0.0, 0.0, -0.15),
          Eigen::Vector3d(0.1, 0.1, 0.05) + Eigen::Vector3d::Constant(padding)};
}

inline double gap(const Ball& a, const Ball& b) { return (a.centre - b.centre).norm() - a.radius - b.radius; }

inline double gap(const AxisBox& box, const Ball& ball) {
  const Eigen::Vector3d offset = (ball.centre - box.centre).cwiseAbs() - box.half;
  return offset.cwiseMax(0.0).norm() - ball.radius;
}

inline double gap(const AxisBox& a, const AxisBox& b) {
  const Eigen::Vector3d offset = (a.centre - b.centre).cwiseAbs() - a.half - b.half;
  return offset.cwiseMax(0.0).norm();
}

// The smallest gap over pairs of bodies; pairs within one link are not measured.
struct GapMinimum {
  double min_gap = std::numeric_limits<double>::max();
  void add(const std::string& a, const std::string& b, double gap) {
    if (a != b) min_gap = std::min(min_gap, gap);
  }
};

// The arm's smallest self-collision gap with every body padded; base_link
// and upper_link are adjacent and allowed by the SRDF.
inline double planarArmSelfGap(double shoulder, double elbow, double wrist, double padding = 0.0) {
  const auto balls = planarArmBalls(shoulder, elbow, wrist, padding);
  const AxisBox base = planarArmBase(padding);
  GapMinimum oracle;
  for (size_t i = 0; i < balls.size(); ++i) {
    if (balls[i].link != "upper_link") oracle.add(base.name, balls[i].link, gap(base, balls[i]));
    for (size_t j = i + 1; j < balls.size(); ++j) oracle.add(balls[i].link, balls[j].link, gap(balls[i], balls[j]));
  }
  return oracle.min_gap;
}

}  // namespace bramlock_test
