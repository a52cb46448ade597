#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <Eigen/Geometry>

#include "bramlock_arm_planning_core/kinematics/joints_table.h"
#include "scene_arm.h"

namespace {

// The data installed with the package, laid out as an ament prefix.
std::string demoDataPrefix() { return bramlock_test::fixturePath("../../data"); }

std::vector<std::vector<double>> numberRows(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::vector<double>> rows;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream stream(line);
    std::vector<double> row;
    for (double value; stream >> value;) row.push_back(value);
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

TEST(DemoArmData, MdhTableIsTheOneTheSceneArmWasBuiltFrom) {
  const auto table = numberRows(demoDataPrefix() + "/share/bramlock_arm_description/demo_arm/mdh_table.txt");
  const auto expected = bramlock_test::sceneArmMdhTable();
  ASSERT_EQ(table.size(), expected.size());
  for (std::size_t row = 0; row < table.size(); ++row) {
    ASSERT_EQ(table[row].size(), expected[row].size());
    for (std::size_t joint = 0; joint < table[row].size(); ++joint) {
      EXPECT_NEAR(table[row][joint], expected[row][joint], 1e-15) << "row " << row << " joint " << joint;
    }
  }
}

// Every sample pairs joints with the flange pose the arm's kinematics give for
// them, and the pose table found through the ament index answers with them.
TEST(DemoArmData, PoseSamplesAreTheArmsFlangePosesAndTheTableFindsThem) {
  const auto samples = numberRows(demoDataPrefix() + "/share/bramlock_arm_planning/config/robot_pose_samples.txt");
  ASSERT_EQ(samples.size(), 1000u);
  auto scene = bramlock_test::makeSceneArm();
  bramlock_test::ScopedEnvironment environment({{"AMENT_PREFIX_PATH", demoDataPrefix()}});
  bramlock_test::OutputCapture capture;
  JointsTable table;
  for (std::size_t i = 0; i < samples.size(); i += 37) {
    const std::vector<double>& sample = samples[i];
    ASSERT_EQ(sample.size(), 13u) << "line " << i + 1;
    const std::vector<double> joints(sample.begin(), sample.begin() + 6);
    Eigen::Matrix4d pose;
    ASSERT_EQ(scene->forwardKinematics(joints, pose), 0);
    const Eigen::Quaterniond orientation(sample[9], sample[10], sample[11], sample[12]);
    EXPECT_LT((pose.block<3, 1>(0, 3) - Eigen::Vector3d(sample[6], sample[7], sample[8])).norm(), 1e-5)
        << "line " << i + 1;
    EXPECT_LT((pose.block<3, 3>(0, 0) - orientation.toRotationMatrix()).cwiseAbs().maxCoeff(), 1e-5)
        << "line " << i + 1;
    bool found = false;
    for (const std::vector<double>& neighbour : table.getNeighbors(pose, 1)) {
      found = found || (Eigen::Map<const Eigen::VectorXd>(neighbour.data(), 6) -
                        Eigen::Map<const Eigen::VectorXd>(joints.data(), 6))
                               .cwiseAbs()
                               .maxCoeff() < 1e-5;
    }
    EXPECT_TRUE(found) << "line " << i + 1;
  }
  // Every line is a sample: the table reports none it skipped.
  EXPECT_EQ(capture.out().find("[ERROR]"), std::string::npos);
}
