#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <ament_index_cpp/get_package_prefix.hpp>

#include "bramlock_arm_planning_core/kinematics/joints_table.h"
#include "test_support.h"

using bramlock_test::ChildResult;
using bramlock_test::Environment;
using bramlock_test::OutputCapture;
using bramlock_test::runInChild;
using bramlock_test::ScopedEnvironment;
using bramlock_test::TempDir;
using JointVectors = std::vector<std::vector<double>>;

namespace {

const Environment kInfoLogging = {{"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", "info"}};

Environment withPrefix(const std::string& prefix) {
  Environment environment = kInfoLogging;
  environment["AMENT_PREFIX_PATH"] = prefix;
  return environment;
}

// An ament prefix holding the planning package, with a sample file when given.
std::string makePlanningPrefix(const TempDir& dir, const std::optional<std::string>& samples) {
  bramlock_test::writeFile(dir.path() / "share/ament_index/resource_index/packages/bramlock_arm_planning", "");
  bramlock_test::writeFile(dir.path() / "share/bramlock_arm_planning/package.xml", "<package/>");
  if (samples)
    bramlock_test::writeFile(dir.path() / "share/bramlock_arm_planning/config/robot_pose_samples.txt", *samples);
  return dir.path().string();
}

// The messages of the log lines of one level, without their numbered prefix.
std::vector<std::string> messagesAt(const std::string& output, const std::string& level) {
  std::vector<std::string> messages;
  std::istringstream lines(output);
  const std::string tag = "[" + level + "] ";
  std::string line;
  while (std::getline(lines, line)) {
    const auto at = line.find(tag);
    if (at != std::string::npos) messages.push_back(line.substr(at + tag.size()));
  }
  return messages;
}

Eigen::Matrix4d poseAt(double x, double y, double z, const Eigen::Matrix3d& rotation = Eigen::Matrix3d::Identity()) {
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  pose.topLeftCorner<3, 3>() = rotation;
  pose.topRightCorner<3, 1>() = Eigen::Vector3d(x, y, z);
  return pose;
}

// Values as the table stores them: read as float, widened to double.
std::vector<double> asStored(const std::vector<double>& values) {
  std::vector<double> stored;
  for (double value : values) stored.push_back(static_cast<float>(value));
  return stored;
}

JointVectors neighborsFromFixture(const Eigen::Matrix4d& pose) {
  ScopedEnvironment environment({{"AMENT_PREFIX_PATH", bramlock_test::amentPrefixPath()}});
  OutputCapture quiet;
  JointsTable table;
  return table.getNeighbors(pose, 5);
}

Eigen::Matrix3d randomRotation(std::mt19937& random) {
  std::normal_distribution<double> normal;
  return Eigen::Quaterniond(normal(random), normal(random), normal(random), normal(random))
      .normalized()
      .toRotationMatrix();
}

}  // namespace

TEST(JointsTableLoading, ValidLinesBecomeSamplesAndOthersAreLoggedOneByOne) {
  const ChildResult result = runInChild(withPrefix(bramlock_test::amentPrefixPath()), [] {
    JointsTable table;
    return 0;
  });
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_THAT(messagesAt(result.out, "ERROR"),
              ::testing::ElementsAre("行格式错误:# j1 j2 j3 j4 j5 j6 x y z qw qx qy qz",
                                     "行格式错误:0.1 0.2 0.3 0.4 0.5 0.6 0.5 0.0 0.4 1 0 0",
                                     "行格式错误:", "行格式错误:0.1 0.2 0.3 0.4 0.5 0.6 0.5 0.0 0.4 1 0 0 0 7"));
  EXPECT_THAT(messagesAt(result.out, "INFO"), ::testing::ElementsAre("成功读取7个位姿点"));
}

TEST(JointsTableLoading, MissingFileLeavesAnEmptyTableThatAnswersEmpty) {
  TempDir dir;
  const std::string prefix = makePlanningPrefix(dir, std::nullopt);
  const ChildResult result = runInChild(withPrefix(prefix), [] {
    JointsTable table;
    return table.getNeighbors(poseAt(0.5, 0.0, 0.4), 1).empty() ? 0 : 1;
  });
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_THAT(
      messagesAt(result.out, "ERROR"),
      ::testing::ElementsAre("无法打开文件 " + prefix + "/share/bramlock_arm_planning/config/robot_pose_samples.txt"));
  EXPECT_THAT(messagesAt(result.out, "INFO"), ::testing::IsEmpty());
}

TEST(JointsTableLoading, FileWithoutValidLinesGivesAnEmptyIndex) {
  TempDir dir;
  const ChildResult result = runInChild(withPrefix(makePlanningPrefix(dir, "1 2 3\n\n")), [] {
    JointsTable table;
    return table.getNeighbors(poseAt(1.0, 2.0, 3.0), 1).empty() ? 0 : 1;
  });
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_THAT(messagesAt(result.out, "INFO"), ::testing::ElementsAre("成功读取0个位姿点"));
}

TEST(JointsTableLoading, UnknownPackageThrowsFromTheAmentIndex) {
  TempDir dir;
  ScopedEnvironment environment({{"AMENT_PREFIX_PATH", dir.path().string()}});
  EXPECT_THROW(JointsTable(), ament_index_cpp::PackageNotFoundError);
}

TEST(JointsTableNeighbors, SamplesWithinThreeCentimetresPerAxisAnswerNearestFirst) {
  // 0.025 m off on every axis passes; 0.031 m off on one axis fails though it is
  // well inside the search radius. The orientation of the query plays no part.
  const Eigen::Matrix3d turned = Eigen::AngleAxisd(2.0, Eigen::Vector3d(1, 2, 3).normalized()).toRotationMatrix();
  EXPECT_EQ(neighborsFromFixture(poseAt(0.5, 0.0, 0.4, turned)),
            JointVectors({asStored({0.1, 0.2, 0.3, 0.4, 0.5, 0.6}), asStored({1.0, 1.1, 1.2, 1.3, 1.4, 1.5})}));
}

TEST(JointsTableNeighbors, NearDuplicateJointVectorsCollapseToTheNearerSample) {
  EXPECT_EQ(
      neighborsFromFixture(poseAt(-0.3, 0.2, 0.6)),
      JointVectors({asStored({-0.508, 0.308, 0.7, 0.008, -1.2, 0.892}), asStored({-0.5, 0.3, 0.7, 0.0, -1.2, 0.92})}));
}

TEST(JointsTableNeighbors, ThirteenNumbersFollowedByAWordMakeASample) {
  EXPECT_EQ(neighborsFromFixture(poseAt(0.01, -0.49, 0.3)),
            JointVectors({asStored({3.0, -3.0, 1.5, -1.5, 0.75, -0.75})}));
  EXPECT_TRUE(neighborsFromFixture(poseAt(2.0, 2.0, 2.0)).empty());
}

TEST(JointsTableNeighbors, SeededRandomTableAgreesWithBruteForce) {
  std::mt19937 random(20240611);
  std::uniform_real_distribution<float> coordinate(-0.2f, 0.2f);
  std::uniform_real_distribution<float> jitter(-0.006f, 0.006f);
  std::uniform_int_distribution<int> base_choice(0, 3);
  const std::vector<std::vector<float>> bases = {{0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 0.2f},
                                                 {1.5f, -0.7f, 0.3f, 0.0f, 0.9f, -2.0f},
                                                 {-2.5f, 1.1f, 0.8f, -0.4f, 0.1f, 3.0f},
                                                 {0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f}};

  std::vector<std::vector<float>> samples;
  std::ostringstream text;
  text << std::setprecision(9);
  for (int i = 0; i < 3000; ++i) {
    std::vector<float> sample = bases[base_choice(random)];
    for (float& joint : sample) joint += jitter(random);
    for (int axis = 0; axis < 3; ++axis) sample.push_back(coordinate(random));
    for (float value : {1.0f, 0.0f, 0.0f, 0.0f}) sample.push_back(value);
    for (float value : sample) text << value << ' ';
    text << '\n';
    samples.push_back(sample);
  }
  TempDir dir;
  ScopedEnvironment environment({{"AMENT_PREFIX_PATH", makePlanningPrefix(dir, text.str())}});
  OutputCapture quiet;
  JointsTable table;

  std::uniform_int_distribution<std::size_t> pick(0, samples.size() - 1);
  std::uniform_real_distribution<double> offset(-0.03, 0.03);
  std::size_t answered = 0;
  for (int query = 0; query < 300; ++query) {
    const std::vector<float>& near = samples[pick(random)];
    const Eigen::Matrix4d pose =
        poseAt(near[6] + offset(random), near[7] + offset(random), near[8] + offset(random), randomRotation(random));
    const float q[3] = {static_cast<float>(pose(0, 3)), static_cast<float>(pose(1, 3)), static_cast<float>(pose(2, 3))};

    std::vector<std::pair<float, std::size_t>> inside;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      bool in_box = true;
      float squared = 0.0f;
      for (int axis = 0; axis < 3; ++axis) {
        const float difference = q[axis] - samples[i][6 + axis];
        squared += difference * difference;
        in_box = in_box && std::abs(static_cast<double>(samples[i][6 + axis]) - q[axis]) <= 0.03;
      }
      if (in_box) inside.emplace_back(squared, i);
    }
    std::sort(inside.begin(), inside.end());
    JointVectors expected;
    for (const auto& [squared, i] : inside) {
      const std::vector<double> joints(samples[i].begin(), samples[i].begin() + 6);
      const bool duplicate = std::any_of(expected.begin(), expected.end(), [&](const std::vector<double>& kept) {
        for (std::size_t j = 0; j < 6; ++j) {
          if (std::abs(kept[j] - joints[j]) > 0.01) return false;
        }
        return true;
      });
      if (!duplicate) expected.push_back(joints);
    }
    answered += expected.size();
    ASSERT_EQ(table.getNeighbors(pose, 0), expected) << "query " << query;
  }
  EXPECT_GT(answered, 300u);
}

TEST(JointsTablePoseFunctions, QuaternionMatchesEigenOnEveryBranch) {
  std::mt19937 random(7);
  std::vector<Eigen::Matrix3d> rotations = {
      Eigen::Matrix3d::Identity(), Eigen::AngleAxisd(M_PI, Eigen::Vector3d::UnitX()).toRotationMatrix(),
      Eigen::AngleAxisd(M_PI, Eigen::Vector3d::UnitY()).toRotationMatrix(),
      Eigen::AngleAxisd(M_PI, Eigen::Vector3d::UnitZ()).toRotationMatrix(),
      Eigen::AngleAxisd(3.0, Eigen::Vector3d(1, 1, 0).normalized()).toRotationMatrix()};
  for (int i = 0; i < 500; ++i) rotations.push_back(randomRotation(random));
  for (const Eigen::Matrix3d& rotation : rotations) {
    const std::vector<double> v = JointsTable::rotationMatrixToQuaternion(poseAt(0.1, -0.2, 0.3, rotation));
    ASSERT_EQ(v.size(), 7u);
    EXPECT_EQ(std::vector<double>(v.begin(), v.begin() + 3), std::vector<double>({0.1, -0.2, 0.3}));
    const Eigen::Quaterniond reference(rotation);
    const Eigen::Vector4d got(v[3], v[4], v[5], v[6]);
    const Eigen::Vector4d want(reference.w(), reference.x(), reference.y(), reference.z());
    EXPECT_LT(std::min((got - want).norm(), (got + want).norm()), 1e-9) << rotation;
  }
}

TEST(JointsTablePoseFunctions, RollPitchYawRebuildTheRotationIncludingGimbalLock) {
  std::mt19937 random(11);
  std::vector<Eigen::Matrix3d> rotations;
  for (int i = 0; i < 300; ++i) rotations.push_back(randomRotation(random));
  for (double pitch : {M_PI / 2, -M_PI / 2}) {
    rotations.push_back(
        (Eigen::AngleAxisd(0.7, Eigen::Vector3d::UnitZ()) * Eigen::AngleAxisd(pitch, Eigen::Vector3d::UnitY()) *
         Eigen::AngleAxisd(-0.4, Eigen::Vector3d::UnitX()))
            .toRotationMatrix());
  }
  for (const Eigen::Matrix3d& rotation : rotations) {
    const std::vector<double> v = JointsTable::matrix4dToXYZRPY(poseAt(1.0, 2.0, 3.0, rotation));
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(std::vector<double>(v.begin(), v.begin() + 3), std::vector<double>({1.0, 2.0, 3.0}));
    const Eigen::Matrix3d rebuilt =
        (Eigen::AngleAxisd(v[5], Eigen::Vector3d::UnitZ()) * Eigen::AngleAxisd(v[4], Eigen::Vector3d::UnitY()) *
         Eigen::AngleAxisd(v[3], Eigen::Vector3d::UnitX()))
            .toRotationMatrix();
    EXPECT_LT((rebuilt - rotation).norm(), 1e-6) << rotation;
  }
  const std::vector<double> locked = JointsTable::matrix4dToXYZRPY(poseAt(0, 0, 0, rotations.back()));
  EXPECT_EQ(locked[5], 0.0);
  EXPECT_NEAR(locked[4], -M_PI / 2, 1e-9);
}

TEST(JointsTablePoseFunctions, FloatArrayTakesTheFirstSevenValuesOrIsAllZero) {
  const std::array<float, 7> taken = JointsTable::vectorToFloatArray({1.5, -2.25, 3.0, 0.1, 0.2, 0.3, 0.4, 99.0});
  EXPECT_EQ(taken, (std::array<float, 7>{1.5f, -2.25f, 3.0f, 0.1f, 0.2f, 0.3f, 0.4f}));
  EXPECT_EQ(JointsTable::vectorToFloatArray({1.0, 2.0, 3.0}), (std::array<float, 7>{}));
  EXPECT_EQ(JointsTable::vectorToFloatArray({}), (std::array<float, 7>{}));
}
