#include "demo_obstacle.h"

#include <octomap/OcTree.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"

namespace plan_demo {
namespace {

constexpr double kVoxelSize = 0.02;
constexpr double kBlockSize = 0.12;

std::shared_ptr<const octomap::OcTree> blockAround(const Eigen::Vector3d& centre) {
  auto tree = std::make_shared<octomap::OcTree>(kVoxelSize);
  const int steps = static_cast<int>(kBlockSize / kVoxelSize);
  const Eigen::Vector3d corner = centre - Eigen::Vector3d::Constant(kBlockSize / 2.0);
  for (int i = 0; i <= steps; ++i) {
    for (int j = 0; j <= steps; ++j) {
      for (int k = 0; k <= steps; ++k) {
        const Eigen::Vector3d point = corner + kVoxelSize * Eigen::Vector3d(i, j, k);
        tree->updateNode(octomap::point3d(point.x(), point.y(), point.z()), true);
      }
    }
  }
  return tree;
}

std::string describe(const Eigen::Vector3d& centre, bool blocks) {
  char text[160];
  std::snprintf(text, sizeof text, "octomap block of %.2f m around (%.2f, %.2f, %.2f) m, %s", kBlockSize, centre.x(),
                centre.y(), centre.z(), blocks ? "in the way of the direct motion" : "beside the direct motion");
  return text;
}

}  // namespace

std::string placeObstacle(ManipulatorPlanScene& scene, const std::vector<double>& start,
                          const std::vector<double>& goal) {
  // The scene reads one value per joint of the planned group from the arrays below.
  std::vector<std::string> joint_names;
  const int joints = scene.getPlanedJointNames(joint_names);
  if (joints < 1 || start.size() != static_cast<std::size_t>(joints) || goal.size() != start.size()) {
    return "none: start and goal need one value for each of the group's " + std::to_string(joints) + " joints";
  }
  std::vector<double> halfway(start.size());
  for (std::size_t j = 0; j < start.size(); ++j) halfway[j] = (start[j] + goal[j]) / 2.0;
  const std::vector<LinkTransform> links = scene.getLinkTransforms(halfway.data());
  if (links.empty()) return "none: no link poses for this start and goal";
  const Eigen::Vector3d tip = links.back().transform.block<3, 1>(0, 3);
  if (scene.updateWorldOctomap(blockAround(tip)) != 0) return "none: the scene refused the octomap";
  std::vector<double> from = start;
  std::vector<double> to = goal;
  return describe(tip, !scene.checkMotion(from.data(), to.data()));
}

}  // namespace plan_demo
