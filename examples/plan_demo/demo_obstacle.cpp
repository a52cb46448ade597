#include "demo_obstacle.h"

#include <octomap/OcTree.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"

namespace plan_demo {
namespace {

constexpr double kVoxelSize = 0.02;
constexpr double kBlockSize = 0.12;
// Places along the direct motion, as fractions of it, in the order tried.
constexpr double kPlaces[] = {0.5, 0.4, 0.6, 0.3, 0.7, 0.2, 0.8, 0.1, 0.9};

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

// The block around the tool at one place of the direct motion, and what it does to it.
struct Placement {
  double fraction = 0.5;
  Eigen::Vector3d centre = Eigen::Vector3d::Zero();
  bool covers_start = false;
  bool covers_goal = false;
  bool blocks = false;

  bool keepsEndsFree() const { return !covers_start && !covers_goal; }
};

class Placer {
 public:
  Placer(ManipulatorPlanScene& scene, const std::vector<double>& start, const std::vector<double>& goal)
      : scene_(scene), start_(start), goal_(goal) {}

  // Puts the block at the fraction of the direct motion; nothing when the
  // scene gives no tool position there or refuses the octomap.
  std::optional<Placement> placeAt(double fraction) {
    std::vector<double> joints(start_.size());
    for (std::size_t j = 0; j < joints.size(); ++j) joints[j] = start_[j] + fraction * (goal_[j] - start_[j]);
    const std::vector<LinkTransform> links = scene_.getLinkTransforms(joints.data());
    if (links.empty()) return std::nullopt;
    Placement placement;
    placement.fraction = fraction;
    placement.centre = links.back().transform.block<3, 1>(0, 3);
    if (scene_.updateWorldOctomap(blockAround(placement.centre)) != 0) return std::nullopt;
    placement.covers_start = !scene_.isValid(start_);
    placement.covers_goal = !scene_.isValid(goal_);
    std::vector<double> from = start_;
    std::vector<double> to = goal_;
    placement.blocks = placement.keepsEndsFree() && !scene_.checkMotion(from.data(), to.data());
    return placement;
  }

 private:
  ManipulatorPlanScene& scene_;
  const std::vector<double>& start_;
  const std::vector<double>& goal_;
};

std::string percentOf(double fraction) {
  return fraction == 0.5 ? "halfway" : std::to_string(static_cast<int>(fraction * 100.0 + 0.5)) + " %";
}

std::string coverage(const Placement& placement) {
  if (placement.covers_start && placement.covers_goal) return "the start and goal poses";
  return placement.covers_start ? "the start pose" : "the goal pose";
}

// "octomap block ... (the tool halfway along the direct motion<note>)<outcome>"
std::string describe(const Placement& placement, const std::string& note, const std::string& outcome) {
  char text[200];
  std::snprintf(text, sizeof text, "octomap block of %.2f m around (%.2f, %.2f, %.2f) m (the tool %s along the",
                kBlockSize, placement.centre.x(), placement.centre.y(), placement.centre.z(),
                percentOf(placement.fraction).c_str());
  return std::string(text) + " direct motion" + note + ")" + outcome;
}

// Why the block left the halfway place.
std::string halfwayNote(const Placement& halfway) {
  return halfway.keepsEndsFree() ? "; halfway it is beside the motion"
                                 : "; halfway it would cover " + coverage(halfway);
}

std::string outcomeOf(const Placement& placement) {
  if (!placement.keepsEndsFree()) return ", covering " + coverage(placement);
  return placement.blocks ? ", in the way of the direct motion" : ", beside the direct motion";
}

// Keeps the block halfway when it blocks the motion there with start and goal
// free; else moves it to the first place that does, or failing that to the
// first that leaves start and goal free, or back halfway.
std::string placeAlongMotion(Placer& placer, const Placement& halfway) {
  if (halfway.blocks) return describe(halfway, "", outcomeOf(halfway));
  std::optional<Placement> first_free = halfway.keepsEndsFree() ? std::optional<Placement>(halfway) : std::nullopt;
  for (const double fraction : kPlaces) {
    if (fraction == halfway.fraction) continue;
    const std::optional<Placement> placement = placer.placeAt(fraction);
    if (!placement || !placement->keepsEndsFree()) continue;
    if (placement->blocks) return describe(*placement, halfwayNote(halfway), outcomeOf(*placement));
    if (!first_free) first_free = placement;
  }
  const Placement& chosen = first_free ? *first_free : halfway;
  placer.placeAt(chosen.fraction);
  if (!first_free) return describe(halfway, "", outcomeOf(halfway) + ": no place along the motion leaves both free");
  return describe(chosen, chosen.fraction == halfway.fraction ? "" : halfwayNote(halfway), outcomeOf(chosen));
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
  // Poses that collide without the block are not the block's doing: it stays halfway.
  const bool ends_free_alone = scene.isValid(start) && scene.isValid(goal);
  Placer placer(scene, start, goal);
  const std::optional<Placement> halfway = placer.placeAt(kPlaces[0]);
  if (!halfway) return "none: no link poses for this start and goal, or the scene refused the octomap";
  if (!ends_free_alone) return describe(*halfway, "", ", but the start or goal pose collides even without it");
  return placeAlongMotion(placer, *halfway);
}

bool clearObstacle(ManipulatorPlanScene& scene) {
  return scene.updateWorldOctomap(std::make_shared<octomap::OcTree>(kVoxelSize)) == 0;
}

}  // namespace plan_demo
