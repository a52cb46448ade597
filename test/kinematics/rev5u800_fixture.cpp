#include "rev5u800_fixture.h"

#include <cmath>

#include <gtest/gtest.h>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/chainjnttojacsolver.hpp>
#include <kdl/tree.hpp>
#include <kdl_parser/kdl_parser.hpp>

#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_rev5u800.h"
#include "kinematics_test_helpers.h"
#include "test_support.h"

namespace rev5u800_test {

KDL::Chain fixtureChain() {
  KDL::Tree tree;
  const std::string urdf = bramlock_test::fixturePath(
      "ament_prefix/share/bramlock_arm_description/urdf/RAV5-A800-Z4O3V4I/RAV5-A800-Z4O3V4I.urdf");
  EXPECT_TRUE(kdl_parser::treeFromFile(urdf, tree)) << urdf;
  KDL::Chain chain;
  EXPECT_TRUE(tree.getChain("base_link", "link6", chain));
  EXPECT_EQ(chain.getNrOfJoints(), 6u);
  return chain;
}

namespace {

KDL::JntArray jointArray(const std::vector<double>& q) {
  KDL::JntArray joints(q.size());
  for (size_t i = 0; i < q.size(); ++i) joints(i) = q[i];
  return joints;
}

}  // namespace

Eigen::Matrix4d kdlPose(const KDL::Chain& chain, const std::vector<double>& q) {
  KDL::ChainFkSolverPos_recursive solver(chain);
  KDL::Frame frame;
  EXPECT_GE(solver.JntToCart(jointArray(q), frame), 0);
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) pose(row, column) = frame.M(row, column);
    pose(row, 3) = frame.p(row);
  }
  return pose;
}

double kdlSmallestSingularValue(const KDL::Chain& chain, const std::vector<double>& q) {
  KDL::ChainJntToJacSolver solver(chain);
  KDL::Jacobian jacobian(chain.getNrOfJoints());
  EXPECT_GE(solver.JntToJac(jointArray(q), jacobian), 0);
  return kinematics_test::smallestSingularValue(jacobian.data);
}

Eigen::Matrix4d computeFkPose(const std::vector<double>& q) {
  double trans[3], rot[9];
  ComputeFk(q.data(), trans, rot);
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) pose(row, column) = rot[3 * row + column];
    pose(row, 3) = trans[row];
  }
  return pose;
}

PoseDifference poseDifference(const Eigen::Matrix4d& a, const Eigen::Matrix4d& b) {
  const Eigen::Matrix3d relative = a.topLeftCorner<3, 3>() * b.topLeftCorner<3, 3>().transpose();
  return {(a.topRightCorner<3, 1>() - b.topRightCorner<3, 1>()).norm(), Eigen::AngleAxisd(relative).angle()};
}

}  // namespace rev5u800_test
