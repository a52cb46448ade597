#include "bramlock_arm_planning_core/kinematics/joints_table.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <utility>

#include <ament_index_cpp/get_package_share_directory.hpp>

#include "bramlock_arm_planning_core/kinematics/rotation_functions.h"
#include "bramlock_arm_planning_core/logger.h"

#include "common/rotation_math.h"

namespace {

constexpr std::size_t kValuesPerSample = 13;
constexpr std::size_t kJointCount = 6;
constexpr std::size_t kLeafSize = 10;
// Squared distance: positions closer than about 0.316 m are candidates.
constexpr float kSearchRadius = 0.1f;
constexpr double kAxisTolerance = 0.03;
constexpr double kDuplicateTolerance = 0.01;

std::vector<float> readFloats(const std::string& line) {
  std::istringstream stream(line);
  std::vector<float> values;
  float value = 0.0f;
  while (stream >> value) values.push_back(value);
  return values;
}

bool withinOnEveryElement(const std::vector<double>& a, const std::vector<double>& b, double tolerance) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::abs(a[i] - b[i]) > tolerance) return false;
  }
  return true;
}

void appendUnlessDuplicate(std::vector<std::vector<double>>& result, const std::vector<double>& joints) {
  const bool duplicate = std::any_of(result.begin(), result.end(), [&](const std::vector<double>& kept) {
    return withinOnEveryElement(kept, joints, kDuplicateTolerance);
  });
  if (!duplicate) result.push_back(joints);
}

}  // namespace

JointsTable::JointsTable() {
  const std::string path =
      ament_index_cpp::get_package_share_directory("bramlock_arm_planning") + "/config/robot_pose_samples.txt";
  std::ifstream file(path);
  if (!file.is_open()) {
    BRAMLOCK_ERROR("无法打开文件 {}", path);
    return;
  }
  readSamples(file);
  file.close();
  BRAMLOCK_INFO("成功读取{}个位姿点", joints_.size());
  buildIndex();
}

void JointsTable::readSamples(std::istream& file) {
  std::string line;
  while (std::getline(file, line)) {
    const std::vector<float> values = readFloats(line);
    if (values.size() == kValuesPerSample) {
      addSample(values);
    } else {
      BRAMLOCK_ERROR("行格式错误:{}", line);
    }
  }
}

void JointsTable::addSample(const std::vector<float>& values) {
  const auto pose_begin = values.begin() + kJointCount;
  std::array<float, 7> point{};
  std::copy(pose_begin, values.end(), point.begin());
  points_.push_back(point);
  joints_.emplace_back(values.begin(), pose_begin);
  poses_.emplace_back(pose_begin, values.end());
}

void JointsTable::buildIndex() {
  adaptor_ = std::make_unique<PointCloudAdaptor>(&points_);
  index_ = std::make_shared<KdTree>(3, *adaptor_, nanoflann::KDTreeSingleIndexAdaptorParams(kLeafSize));
  index_->buildIndex();
}

std::vector<std::vector<double>> JointsTable::getNeighbors(Eigen::Matrix4d pose, std::size_t /*count*/) {
  std::vector<std::vector<double>> result;
  if (!index_) return result;
  const std::array<float, 7> query = vectorToFloatArray(rotationMatrixToQuaternion(pose));
  std::vector<std::pair<unsigned int, float>> hits;
  index_->radiusSearch(query.data(), kSearchRadius, hits, nanoflann::SearchParams());
  const std::vector<double> position(query.begin(), query.begin() + 3);
  for (const auto& hit : hits) {
    const std::vector<double>& sample = poses_[hit.first];
    const std::vector<double> sample_position(sample.begin(), sample.begin() + 3);
    if (withinOnEveryElement(sample_position, position, kAxisTolerance))
      appendUnlessDuplicate(result, joints_[hit.first]);
  }
  return result;
}

std::vector<double> JointsTable::rotationMatrixToQuaternion(const Eigen::Matrix4d& pose) {
  const Eigen::Quaterniond q = RotationMatrixToQuaternion(pose.topLeftCorner<3, 3>());
  return {pose(0, 3), pose(1, 3), pose(2, 3), q.w(), q.x(), q.y(), q.z()};
}

std::vector<double> JointsTable::matrix4dToXYZRPY(const Eigen::Matrix4d& pose) {
  const Eigen::Vector3d rpy = bramlock::internal::rotation_math::rollPitchYaw(pose.topLeftCorner<3, 3>());
  return {pose(0, 3), pose(1, 3), pose(2, 3), rpy[0], rpy[1], rpy[2]};
}

std::array<float, 7> JointsTable::vectorToFloatArray(const std::vector<double>& values) {
  std::array<float, 7> result{};
  if (values.size() < result.size()) return result;
  std::transform(values.begin(), values.begin() + result.size(), result.begin(),
                 [](double value) { return static_cast<float>(value); });
  return result;
}
