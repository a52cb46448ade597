#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_rev5u800.h"
#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_solver.h"
#include "expect_throw_message.h"
#include "kinematics_test_helpers.h"
#include "rev5u800_fixture.h"
#include "test_support.h"

namespace {

using ikfast::IkSingleDOFSolutionBase;
using ikfast::IkSolution;
using ikfast::IkSolutionList;

// Modified DH link transform RotX(alpha) TransX(a) RotZ(theta) TransZ(d).
Eigen::Matrix4d mdhLink(double d, double a, double theta, double alpha) {
  Eigen::Matrix4d rot_x = Eigen::Matrix4d::Identity(), trans_x = Eigen::Matrix4d::Identity();
  Eigen::Matrix4d rot_z = Eigen::Matrix4d::Identity(), trans_z = Eigen::Matrix4d::Identity();
  rot_x.topLeftCorner<3, 3>() = Eigen::AngleAxisd(alpha, Eigen::Vector3d::UnitX()).toRotationMatrix();
  trans_x(0, 3) = a;
  rot_z.topLeftCorner<3, 3>() = Eigen::AngleAxisd(theta, Eigen::Vector3d::UnitZ()).toRotationMatrix();
  trans_z(2, 3) = d;
  return rot_x * trans_x * rot_z * trans_z;
}

TEST(IkfastEntryFunctions, ReportTheGeneratedSolversIdentity) {
  EXPECT_EQ(GetNumFreeParameters(), 0);
  EXPECT_EQ(GetFreeIndices(), nullptr);
  EXPECT_EQ(GetNumJoints(), 6);
  EXPECT_EQ(GetIkRealSize(), 8);
  EXPECT_EQ(GetIkType(), 0x67000001);
  EXPECT_STREQ(GetKinematicsHash(), "<robot:GenericRobot - RAV5-A800-Z4O3V4I (b56955cc35b932c68ee25ee83e704a6b)>");
  EXPECT_STREQ(GetIkFastVersion(), "0x1000004b");
}

TEST(IkfastForwardKinematics, ZeroVectorPutsTheToolAboveTheBase) {
  const Eigen::Matrix4d pose = rev5u800_test::computeFkPose({0, 0, 0, 0, 0, 0});
  EXPECT_NEAR(pose(0, 3), -0.00000161, 1e-15);
  EXPECT_NEAR(pose(1, 3), 0.136, 1e-15);
  EXPECT_NEAR(pose(2, 3), 1.23149729, 1e-15);
  EXPECT_TRUE((pose.topLeftCorner<3, 3>().isIdentity(1e-15)));
}

TEST(IkfastForwardKinematics, AgreesWithKdlAndTheMdhTableOnRandomJoints) {
  const KDL::Chain chain = rev5u800_test::fixtureChain();
  const std::vector<double> zd = {0.328, 0, 0, 0.4, -0.136, 0.1035};
  const std::vector<double> xa = {0, 0, 0.40310999864793257, -0.05, 0, 0};
  const std::vector<double> qzero = {0, -1.4464444615013292, -1.4464444615013292, 0, 0, 0};
  const std::vector<double> alpha = {0, -M_PI / 2, M_PI, -M_PI / 2, M_PI / 2, -M_PI / 2};
  std::mt19937 random(1000);
  double worst_kdl = 0.0, worst_mdh = 0.0;
  for (int i = 0; i < 1000; ++i) {
    const std::vector<double> q = kinematics_test::randomJoints(random, 6);
    const Eigen::Matrix4d pose = rev5u800_test::computeFkPose(q);
    Eigen::Matrix4d mdh = Eigen::Matrix4d::Identity();
    for (int joint = 0; joint < 6; ++joint) mdh *= mdhLink(zd[joint], xa[joint], q[joint] + qzero[joint], alpha[joint]);
    worst_kdl = std::max(worst_kdl, (pose - rev5u800_test::kdlPose(chain, q)).cwiseAbs().maxCoeff());
    worst_mdh = std::max(worst_mdh, (pose - mdh).cwiseAbs().maxCoeff());
  }
  EXPECT_LT(worst_kdl, 1e-12);
  std::printf("worst difference to KDL %.3g, to the MDH table %.3g\n", worst_kdl, worst_mdh);
  EXPECT_LT(worst_mdh, 1e-12);
}

TEST(IkfastSolver, FindsTheGeneratingJointsAmongValidatedSolutions) {
  const std::vector<double> q = {0.3, -0.4, 0.9, 0.5, -1.1, 2.0};
  double trans[3], rot[9];
  ComputeFk(q.data(), trans, rot);
  IkSolutionList<double> list;
  ASSERT_TRUE(ComputeIk(trans, rot, nullptr, list));
  ASSERT_LE(list.GetNumSolutions(), 16u);
  bool found = false;
  std::vector<unsigned int> seen;
  for (size_t i = 0; i < list.GetNumSolutions(); ++i) {
    const auto& solution = list.GetSolution(i);
    EXPECT_NO_THROW(solution.Validate());
    EXPECT_TRUE(solution.GetFree().empty());
    std::vector<unsigned int> indices;
    ASSERT_EQ(solution.GetSolutionIndices(indices), 1);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), indices[0]), 0) << "branch numbers are distinct";
    seen.push_back(indices[0]);
    std::vector<double> values;
    solution.GetSolution(values, {});
    for (double value : values) {
      EXPECT_LE(std::fabs(value), M_PI);
    }
    found = found || kinematics_test::angleDistance(values, q) < 1e-9;
  }
  EXPECT_TRUE(found);
  // ComputeIk2 gives the same list and ComputeIk clears a used list first.
  IkSolutionList<double> second;
  ASSERT_TRUE(ComputeIk2(trans, rot, nullptr, second, nullptr));
  ASSERT_TRUE(ComputeIk(trans, rot, nullptr, second));
  EXPECT_EQ(second.GetNumSolutions(), list.GetNumSolutions());
}

TEST(IkfastSolver, AppendsToTheCallersListAndKeepsItOnFailure) {
  IkfastSolver solver;
  const Eigen::Matrix4d pose = rev5u800_test::computeFkPose({-1.0, 0.2, 0.4, 1.5, 0.7, -0.3});
  std::vector<std::vector<double>> solutions = {{9, 9, 9, 9, 9, 9}};
  ASSERT_TRUE(solver.ikfastComputeIk(pose, solutions));
  const size_t first_count = solutions.size() - 1;
  ASSERT_GE(first_count, 1u);
  ASSERT_TRUE(solver.ikfastComputeIk(pose, solutions));
  ASSERT_EQ(solutions.size(), 1 + 2 * first_count);
  EXPECT_EQ(solutions.front(), std::vector<double>(6, 9));
  for (size_t i = 0; i < first_count; ++i) EXPECT_EQ(solutions[1 + i], solutions[1 + first_count + i]);

  const auto before = solutions;
  Eigen::Matrix4d far = pose;
  far(0, 3) = 3.0;
  EXPECT_FALSE(solver.ikfastComputeIk(far, solutions));
  Eigen::Matrix4d at_joint_two_height = Eigen::Matrix4d::Identity();
  at_joint_two_height(2, 3) = -1.0;
  EXPECT_FALSE(solver.ikfastComputeIk(at_joint_two_height, solutions));
  Eigen::Matrix4d not_a_pose = pose;
  not_a_pose(1, 2) = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(solver.ikfastComputeIk(not_a_pose, solutions));
  not_a_pose = pose;
  not_a_pose(2, 3) = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(solver.ikfastComputeIk(not_a_pose, solutions));
  EXPECT_FALSE(solver.ikfastComputeIk(Eigen::MatrixXd::Identity(2, 4), solutions));
  EXPECT_FALSE(solver.ikfastComputeIk(Eigen::MatrixXd::Identity(3, 3), solutions));
  EXPECT_EQ(solutions, before);
}

TEST(IkfastSolver, ReadsOnlyTheTopThreeRowsOfThePose) {
  IkfastSolver solver;
  const Eigen::Matrix4d pose = rev5u800_test::computeFkPose({0.8, -0.6, 1.2, -2.0, 0.9, 0.1});
  std::vector<std::vector<double>> from_square, from_three_rows;
  ASSERT_TRUE(solver.ikfastComputeIk(pose, from_square));
  Eigen::MatrixXd three_rows = pose.topRows<3>();
  ASSERT_TRUE(solver.ikfastComputeIk(three_rows, from_three_rows));
  EXPECT_EQ(from_square, from_three_rows);
}

TEST(IkfastNumerics, Atan2VariantsAndArcCosine) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(IKatan2(nan, 1.0), 1.5707963267949);
  EXPECT_EQ(IKatan2(1.0, nan), 0.0);
  EXPECT_EQ(IKatan2(1.0, -1.0), std::atan2(1.0, -1.0));
  try {
    IKatan2(nan, nan);
    FAIL() << "two NaNs must throw";
  } catch (const std::runtime_error& error) {
    const std::string text = error.what();
    EXPECT_EQ(text.rfind("ikfast exception: ", 0), 0u) << text;
    EXPECT_NE(text.find("ikfast_rev5u800.h:"), std::string::npos) << text;
    EXPECT_NE(text.find(": IKatan2: Assertion '!isnan(fx)' failed"), std::string::npos) << text;
  }
  EXPECT_FALSE(IKatan2WithCheck(0, 1e-7).valid);
  const CheckValue<double> valid = IKatan2WithCheck(0, 2e-7);
  EXPECT_TRUE(valid.valid);
  EXPECT_EQ(valid.value, 0.0);
  EXPECT_FALSE(IKatan2WithCheck(nan, 1.0).valid);

  EXPECT_EQ(IKacos(-1.00000005), 3.14159265358979);
  EXPECT_EQ(IKacos(1.00000005), 0.0);
  EXPECT_EQ(IKacos(0.5), std::acos(0.5));
  EXPECT_THROW_MESSAGE(IKacos(1.0000002), std::runtime_error,
                       "^ikfast exception: .*ikfast_rev5u800\\.h:[0-9]+: IKacos: "
                       "Assertion 'f > -1 - IKFAST_SINCOS_THRESH && f < 1 \\+ IKFAST_SINCOS_THRESH' failed$");
  EXPECT_THROW_MESSAGE(IKacos(-1.0000002), std::runtime_error,
                       "^ikfast exception: .*ikfast_rev5u800\\.h:[0-9]+: IKacos: "
                       "Assertion 'f > -1 - IKFAST_SINCOS_THRESH && f < 1 \\+ IKFAST_SINCOS_THRESH' failed$");
}

std::vector<IkSingleDOFSolutionBase<double>> sixJoints() { return std::vector<IkSingleDOFSolutionBase<double>>(6); }

TEST(IkfastContainers, GetSolutionWrapsOnlyFreeParameterJoints) {
  auto joints = sixJoints();
  joints[0].foffset = 4.0;  // outside [-pi, pi], no free parameter: returned as it is
  joints[1].freeind = 0;
  joints[1].fmul = 1.0;
  joints[1].foffset = -M_PI - 2.0 * M_PI;  // becomes -pi, which wraps to pi
  IkSolution<double> solution(joints, {0});
  double values[6];
  const double free_value = 0.0;
  solution.GetSolution(values, &free_value);
  EXPECT_EQ(values[0], 4.0);
  EXPECT_NEAR(values[1], M_PI, 1e-15);
  EXPECT_EQ(solution.GetDOF(), 6);
  EXPECT_EQ(solution.GetFree(), std::vector<int>{0});
}

TEST(IkfastContainers, ValidateNamesTheFirstInconsistentJoint) {
  const auto expectMessage = [](const std::vector<IkSingleDOFSolutionBase<double>>& joints, const std::string& text) {
    try {
      IkSolution<double>(joints, {}).Validate();
      ADD_FAILURE() << "expected: " << text;
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), text);
    }
  };
  auto joints = sixJoints();
  EXPECT_NO_THROW(IkSolution<double>(joints, {}).Validate());
  joints[2].maxsolutions = 255;
  expectMessage(joints, "max solutions for joint 2not initialized");
  joints = sixJoints();
  joints[1].maxsolutions = 4;
  joints[1].indices[0] = 4;
  expectMessage(joints, "index >= max solutions for joint 1");
  joints[1].indices[0] = 3;
  joints[1].indices[1] = 5;
  expectMessage(joints, "2nd index >= max solutions for joint 1");
  joints = sixJoints();
  joints[5].foffset = std::numeric_limits<double>::infinity();
  expectMessage(joints, "foffset for joint 5 was not finite");
}

TEST(IkfastContainers, SolutionIndicesCombineBranchesFromTheLastJoint) {
  auto joints = sixJoints();
  joints[0].maxsolutions = 16;
  joints[0].indices[0] = 3;
  joints[0].indices[1] = 7;
  std::vector<unsigned int> v;
  EXPECT_EQ(IkSolution<double>(joints, {}).GetSolutionIndices(v), 2);
  EXPECT_EQ(v, (std::vector<unsigned int>{3, 7}));
  joints[4].maxsolutions = 2;
  joints[4].indices[0] = 1;
  EXPECT_EQ(IkSolution<double>(joints, {}).GetSolutionIndices(v), 2);
  EXPECT_EQ(v, (std::vector<unsigned int>{1 * 16 + 3, 1 * 16 + 7}));
}

TEST(IkfastContainers, ListIndexingAndPrintFormats) {
  IkSolutionList<double> list;
  auto joints = sixJoints();
  joints[0].foffset = 0.5;
  joints[0].maxsolutions = 16;
  joints[0].indices[0] = 2;
  EXPECT_EQ(list.AddSolution(joints, {}), 0u);
  EXPECT_EQ(list.AddSolution(joints, {3}), 1u);
  EXPECT_EQ(list.GetNumSolutions(), 2u);
  try {
    list.GetSolution(2);
    ADD_FAILURE() << "index past the end must throw";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "GetSolution index is invalid");
  }
  bramlock_test::OutputCapture capture;
  list.Print();
  const std::string entry = "(R, -1), (0, 0), 0 (255, 255, 255, 255, 255, ) \n";
  std::string expected = "Solution 0:\n===========\n0: (R, -1), (0.5, 0), 16 (2, 255, 255, 255, 255, ) \n";
  for (int i = 1; i < 6; ++i) expected += std::to_string(i) + ": " + entry;
  expected += "Solution 1:\n===========\n0: (R, -1), (0.5, 0), 16 (2, 255, 255, 255, 255, ) \n";
  for (int i = 1; i < 6; ++i) expected += std::to_string(i) + ": " + entry;
  expected += "vfree = 3, \n";
  EXPECT_EQ(capture.out(), expected);
  list.Clear();
  EXPECT_EQ(list.GetNumSolutions(), 0u);
}

}  // namespace
