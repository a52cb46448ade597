// Forward kinematics through the scene on a REV5-U800 arm whose solver could
// not load its chain (description package present, its URDF missing or
// broken): a failure code, the output untouched.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "scene_arm.h"

namespace {

using namespace bramlock_test;

// The REV5-U800 MDH table in the model's layout (rows zd, xa, qzero, alpha):
// its alphas bind the REV5-U800 solver.
ManipulatorPlanScene::MdhTable rev5Table() {
  return {{0.328, 0, 0, 0.4, -0.136, 0.1035},
          {0, 0, 0.40310999864793257, -0.05, 0, 0},
          {0, -1.4464444615013292, -1.4464444615013292, 0, 0, 0},
          {0, -M_PI_2, M_PI, -M_PI_2, M_PI_2, -M_PI_2}};
}

// Six revolute joints in a row; the joint origins do not matter to the binding.
std::string sixJointUrdf() {
  std::string urdf = "<?xml version=\"1.0\"?>\n<robot name=\"rev5\">\n  <link name=\"base_link\"/>\n";
  for (int i = 1; i <= 6; ++i) {
    const std::string n = std::to_string(i);
    const std::string parent = i == 1 ? "base_link" : "link" + std::to_string(i - 1);
    urdf += "  <joint name=\"joint" + n + "\" type=\"revolute\"><parent link=\"" + parent + "\"/><child link=\"link" +
            n +
            "\"/><origin xyz=\"0 0 0.1\" rpy=\"0 0 0\"/><axis xyz=\"0 0 1\"/>"
            "<limit lower=\"-3\" upper=\"3\" effort=\"1\" velocity=\"1\"/></joint>\n  <link name=\"link" +
            n + "\"/>\n";
  }
  return urdf + "</robot>\n";
}

const char kSrdf[] =
    "<?xml version=\"1.0\"?>\n<robot name=\"rev5\">\n"
    "  <group name=\"arm\"><chain base_link=\"base_link\" tip_link=\"link6\"/></group>\n</robot>\n";

// An ament prefix holding the description package, with the arm URDF as given (none when empty).
void writePrefix(const TempDir& prefix, const std::string& arm_urdf) {
  writeFile(prefix.path() / "share/ament_index/resource_index/packages/bramlock_arm_description", "");
  writeFile(prefix.path() / "share/bramlock_arm_description/package.xml", "<package/>");
  if (arm_urdf.empty()) return;
  writeFile(prefix.path() / "share/bramlock_arm_description/urdf/RAV5-A800-Z4O3V4I/RAV5-A800-Z4O3V4I.urdf", arm_urdf);
}

}  // namespace

TEST(SceneLostChain, ForwardKinematicsFailsAndLeavesTheOutputUntouched) {
  for (const std::string& arm_urdf : {std::string(), std::string("<robot name=\"broken\"><link")}) {
    TempDir prefix;
    writePrefix(prefix, arm_urdf);
    ScopedEnvironment environment({{"AMENT_PREFIX_PATH", prefix.path().string()}});
    TempDir dir;
    writeFile(dir.path() / "arm.urdf", sixJointUrdf());
    writeFile(dir.path() / "arm.srdf", kSrdf);
    auto table = rev5Table();
    OutputCapture capture;
    ManipulatorPlanScene scene(dir.path().string() + "/", "arm.urdf", "arm.srdf", "arm", 0.0, 1.0, "link6", table);
    Eigen::MatrixXd pose = Eigen::MatrixXd::Constant(2, 3, 7.0);
    Eigen::Matrix4d fixed = Eigen::Matrix4d::Constant(7.0);
    EXPECT_EQ(scene.forwardKinematics(Joints(6, 0.1), pose), ManipulatorPlanScene::kNoForwardPose);
    EXPECT_EQ(scene.forwardKinematics(Joints(6, 0.1), fixed), ManipulatorPlanScene::kNoForwardPose);
    const std::string out = capture.out();
    EXPECT_EQ(pose, Eigen::MatrixXd::Constant(2, 3, 7.0));
    EXPECT_EQ(fixed, Eigen::Matrix4d::Constant(7.0));
    EXPECT_TRUE(contains(out, "forward kinematics failed!!!\n")) << out;
  }
}
