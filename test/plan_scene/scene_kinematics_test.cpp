#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/robot_model/link_model.h"
#include "scene_arm.h"

namespace {

using namespace bramlock_test;

const std::string kNoSolver = "kinematics_interface_ptr_==null!\n";

// Joint vectors well inside the bounds and away from the wrist and elbow singularities.
std::vector<Joints> regularJointVectors(std::mt19937& rng, int count) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<Joints> vectors;
  while (static_cast<int>(vectors.size()) < count) {
    Joints q = {2.5 * unit(rng), 1.8 * unit(rng), 2.3 * unit(rng), 2.5 * unit(rng), 1.8 * unit(rng), 2.5 * unit(rng)};
    if (std::abs(q[4]) < 0.2 || std::abs(q[2]) < 0.2) continue;
    vectors.push_back(q);
  }
  return vectors;
}

double wrappedDistance(const Joints& a, const Joints& b) {
  double worst = 0.0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(std::remainder(a[i] - b[i], 2 * M_PI)));
  return worst;
}

Eigen::Matrix4d linkPose(ManipulatorPlanScene& scene, Joints q, const std::string& link) {
  for (const LinkTransform& record : scene.getLinkTransforms(q.data())) {
    if (record.link_name == link) return record.transform;
  }
  ADD_FAILURE() << "no record of " << link;
  return Eigen::Matrix4d::Identity();
}

}  // namespace

TEST(SceneKinematics, ForwardThenInverseGivesThePoseBack) {
  auto scene = makeSceneArm();
  std::mt19937 rng(31);
  OutputCapture quiet;  // the arm solver prints every solution
  for (const Joints& q : regularJointVectors(rng, 40)) {
    Eigen::MatrixXd pose;
    ASSERT_EQ(scene->forwardKinematics(q, pose), 0);
    // The solver and the model's joint chain agree on the flange.
    EXPECT_LT((pose - linkPose(*scene, q, "link6")).cwiseAbs().maxCoeff(), 1e-9);

    Joints solution;
    ASSERT_EQ(scene->inverseKinematics(pose, q, solution), 0);
    Eigen::MatrixXd back;
    ASSERT_EQ(scene->forwardKinematics(solution, back), 0);
    EXPECT_LT((back - pose).cwiseAbs().maxCoeff(), 1e-9);

    std::vector<Joints> solutions;
    ASSERT_EQ(scene->inverseKinematics(pose, solutions), 0);
    bool found = false;
    for (const Joints& s : solutions) found = found || wrappedDistance(s, q) < 1e-7;
    EXPECT_TRUE(found);
  }
  Eigen::Matrix4d fixed;
  ASSERT_EQ(scene->forwardKinematics(Joints(6, 0.0), fixed), 0);
  EXPECT_NEAR(fixed(2, 3), 0.2405 + 0.256 + 0.21 + 0.144, 1e-12) << "the zero state stands upright";
}

TEST(SceneKinematics, UnreachablePosesGiveTheSolversCode) {
  auto scene = makeSceneArm();
  Eigen::MatrixXd far = Eigen::MatrixXd::Identity(4, 4);
  far(0, 3) = 5.0;
  Joints q;
  std::vector<Joints> solutions;
  int one = 0, all = 0;
  std::string out;
  {
    OutputCapture capture;
    one = scene->inverseKinematics(far, q);
    all = scene->inverseKinematics(far, solutions);
    out = capture.out();
  }
  EXPECT_NE(one, 0);
  EXPECT_NE(all, 0);
  EXPECT_TRUE(contains(out, "inverse kinematics failed!!!\n")) << out;
}

TEST(SceneKinematics, GroupWithoutSolverGivesMinus100AndLeavesOutputs) {
  auto scene = makeSceneArm("hand");
  Eigen::MatrixXd pose = Eigen::MatrixXd::Constant(2, 2, 7.0);
  Eigen::Matrix4d fixed = Eigen::Matrix4d::Constant(7.0);
  Eigen::MatrixXd T = Eigen::MatrixXd::Identity(4, 4);
  Joints q = {7.0};
  std::vector<Joints> solutions = {{7.0}};
  double eigenvalue = 7.0;
  OutputCapture capture;
  EXPECT_EQ(scene->forwardKinematics({0.0}, pose), -100);
  EXPECT_EQ(scene->forwardKinematics({0.0}, fixed), -100);
  EXPECT_EQ(scene->inverseKinematics(T, {0.0}, q), -100);
  EXPECT_EQ(scene->inverseKinematics(T, q), -100);
  EXPECT_EQ(scene->inverseKinematics(T, solutions), -100);
  EXPECT_EQ(scene->inverseKinematics(T, {0.0}, solutions), -100);
  EXPECT_EQ(scene->getMinEigenvalue({0.0}, eigenvalue), -100);
  const std::string out = capture.out();
  size_t lines = 0;
  for (size_t at = out.find(kNoSolver); at != std::string::npos; at = out.find(kNoSolver, at + 1)) ++lines;
  EXPECT_EQ(lines, 7u);
  EXPECT_EQ(pose, Eigen::MatrixXd::Constant(2, 2, 7.0));
  EXPECT_EQ(fixed, Eigen::Matrix4d::Constant(7.0));
  EXPECT_EQ(q, Joints{7.0});
  EXPECT_EQ(solutions, std::vector<Joints>{{7.0}});
  EXPECT_EQ(eigenvalue, 7.0);
}

TEST(SceneKinematics, InputsTheSolverCannotTakeAreRefused) {
  auto scene = makeSceneArm();
  const int bad = ManipulatorPlanScene::kBadKinematicsInput;
  Eigen::MatrixXd pose = Eigen::MatrixXd::Constant(1, 1, 7.0);
  Eigen::MatrixXd T;
  scene->forwardKinematics(Joints(6, 0.3), T);
  Joints q = {7.0};
  std::vector<Joints> solutions;
  double eigenvalue = 7.0;
  for (const Joints& wrong : {Joints(5, 0.0), Joints(7, 0.0), Joints{0, 0, kNaN, 0, 0, 0}, Joints{}}) {
    EXPECT_EQ(scene->forwardKinematics(wrong, pose), bad);
    EXPECT_EQ(scene->inverseKinematics(T, wrong, q), bad);
    EXPECT_EQ(scene->inverseKinematics(T, wrong, solutions), bad);
    EXPECT_EQ(scene->getMinEigenvalue(wrong, eigenvalue), bad);
  }
  Eigen::MatrixXd small = Eigen::MatrixXd::Identity(3, 3);
  Eigen::MatrixXd not_finite = T;
  not_finite(1, 3) = std::numeric_limits<double>::infinity();
  // Solved as if they were rotations, these gave poses other than the one asked for.
  Eigen::MatrixXd mirrored = T;
  mirrored.col(0) *= -1.0;
  Eigen::MatrixXd scaled = T;
  scaled.topLeftCorner(3, 3) *= 1.1;
  // Solved as the affine pose above its bottom row, these are not the pose asked for either.
  Eigen::MatrixXd projective = T;
  projective(3, 2) = 0.5;
  Eigen::MatrixXd weighted = T;
  weighted(3, 3) = 0.5;
  for (Eigen::MatrixXd* wrong : {&small, &not_finite, &mirrored, &scaled, &projective, &weighted}) {
    EXPECT_EQ(scene->inverseKinematics(*wrong, q), bad);
    EXPECT_EQ(scene->inverseKinematics(*wrong, solutions), bad);
    EXPECT_EQ(scene->inverseKinematics(*wrong, Joints(6, 0.0), q), bad);
  }
  EXPECT_EQ(pose, Eigen::MatrixXd::Constant(1, 1, 7.0));
  EXPECT_EQ(q, Joints{7.0});
  // A pose typed in with four decimals is still a pose.
  Eigen::MatrixXd rounded = (T * 1e4).array().round() / 1e4;
  Joints solved;
  {
    OutputCapture quiet;
    EXPECT_EQ(scene->inverseKinematics(rounded, Joints(6, 0.3), solved), 0);
  }
  EXPECT_TRUE(solutions.empty());
  EXPECT_EQ(eigenvalue, 7.0);
}

TEST(SceneKinematics, LinkQueries) {
  auto scene = makeSceneArm();
  const std::vector<std::string> links = scene->getLinks();
  ASSERT_EQ(links.size(), 10u);
  EXPECT_EQ(links.front(), "base_link");

  const moveit::core::LinkModel* link = nullptr;
  EXPECT_EQ(scene->getLink("link3", link), 0);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->getName(), "link3");
  {
    OutputCapture capture;
    EXPECT_EQ(scene->getLink("no_link", link), -2);
    EXPECT_TRUE(contains(capture.out(), "getTcpLink error, can not find link: no_link \n"));
  }
  EXPECT_EQ(link->getName(), "link3") << "untouched on failure";

  std::string name;
  {
    OutputCapture capture;
    EXPECT_EQ(scene->getTcpLink(name, link), 0);
    EXPECT_EQ(capture.out(), "getTcpLink success, find link: gripper_link \n");
  }
  EXPECT_EQ(name, "gripper_link");
  EXPECT_EQ(link->getName(), "gripper_link");
  EXPECT_EQ(scene->getRobotBaseLinkName(), "base_link");

  std::vector<std::string> names(10, "x");
  EXPECT_EQ(scene->getPlanedJointNames(names), 6);
  EXPECT_EQ(names, (std::vector<std::string>{"joint1", "joint2", "joint3", "joint4", "joint5", "joint6"}));

  OutputCapture quiet;
  ManipulatorPlanScene unplanned(bramlock_test::sceneArmDirectory(), "scene_arm.urdf", "scene_arm.srdf", 0.0, 1.0);
  quiet.out();
  OutputCapture capture;
  EXPECT_EQ(unplanned.getTcpLink(name, link), -1);
  EXPECT_EQ(capture.out(), "getTcpLink error,index=-1 <0!\n");
  EXPECT_EQ(unplanned.getPlanedJointNames(names), 0);
  EXPECT_EQ(names.size(), 6u);
  EXPECT_EQ(unplanned.getRobotBaseLinkName(), "");
}

TEST(SceneKinematics, LinkTransformsAndTheToolEnd) {
  auto scene = makeSceneArm();
  Joints zero(6, 0.0);
  const std::vector<LinkTransform> records = scene->getLinkTransforms(zero.data());
  ASSERT_EQ(records.size(), 7u);
  EXPECT_EQ(records.front().link_name, "link1");
  EXPECT_EQ(records.back().link_name, "gripper_link");
  for (const LinkTransform& record : records) EXPECT_EQ(record.base_link_name, "base_link");
  EXPECT_NEAR(records.back().transform(2, 3), 0.8705, 1e-12);

  const Joints q = {0.4, -0.3, 0.9, 0.2, -0.7, 1.1};
  EXPECT_EQ(scene->getToolEndTransform(q), linkPose(*scene, q, "gripper_link"));
  {
    OutputCapture capture;
    EXPECT_EQ(scene->getToolEndTransform(Joints(5, 0.0)), Eigen::Matrix4d::Identity());
    EXPECT_EQ(capture.out(), "getLinkTransforms(state) ERROR.\n");
  }
  Joints not_finite = {0, 0, kNaN, 0, 0, 0};
  EXPECT_TRUE(scene->getLinkTransforms(not_finite.data()).empty());
  {
    OutputCapture quiet;
    EXPECT_EQ(scene->getToolEndTransform(not_finite), Eigen::Matrix4d::Identity());
  }
  EXPECT_TRUE(scene->getLinkTransforms(nullptr).empty());

  std::unique_ptr<ManipulatorPlanScene> no_gripper;
  {
    OutputCapture quiet;
    no_gripper = std::make_unique<ManipulatorPlanScene>(bramlock_test::sceneArmDirectory(), "scene_arm.urdf",
                                                        "scene_arm.srdf", "arm", 0.0, 1.0);
  }
  EXPECT_EQ(no_gripper->getToolEndTransform(q), Eigen::Matrix4d::Identity());
}

TEST(SceneKinematics, DescriptionPointsAtTheDescriptionDirectory) {
  auto scene = makeSceneArm();
  const std::string text = scene->getRobotDescriptions();
  EXPECT_FALSE(contains(text, "package://"));
  EXPECT_TRUE(contains(text, "file://" + bramlock_test::sceneArmDirectory() + "scene_arm_description/meshes/box.stl"));
}
