#include "scene_arm_workcell.h"

#include <cmath>

namespace scene_arm_workcell {

namespace {

struct Box {
  octomap::point3d low;
  octomap::point3d high;
};

// The walls of the cell, in metres around the base (z up, the base at the origin).
const std::vector<Box>& workcellBoxes() {
  static const std::vector<Box> boxes = {
      // Wall along x at y = 0.40 to 0.50, 0.8 m high, with a gap from x = -0.15 to 0.15.
      {{-0.60f, 0.40f, 0.0f}, {-0.15f, 0.50f, 0.80f}},
      {{0.15f, 0.40f, 0.0f}, {0.60f, 0.50f, 0.80f}},
      // Shelf in front: two boards and a back.
      {{0.35f, -0.35f, 0.20f}, {0.60f, 0.05f, 0.25f}},
      {{0.35f, -0.35f, 0.50f}, {0.60f, 0.05f, 0.55f}},
      {{0.60f, -0.35f, 0.0f}, {0.65f, 0.05f, 0.80f}},
      // Table behind the base with two blocks on it.
      {{-0.65f, -0.40f, 0.10f}, {-0.35f, 0.20f, 0.15f}},
      {{-0.55f, -0.30f, 0.15f}, {-0.45f, -0.20f, 0.30f}},
      {{-0.55f, 0.0f, 0.15f}, {-0.45f, 0.10f, 0.30f}},
  };
  return boxes;
}

// Marks every voxel whose centre lies inside the box.
void fill(octomap::OcTree& tree, const Box& box, double offset) {
  const auto first = [](float low) { return static_cast<int>(std::floor(low / kVoxelSize + 1e-6)); };
  const auto end = [](float high) { return static_cast<int>(std::ceil(high / kVoxelSize - 1e-6)); };
  for (int i = first(box.low.x()); i < end(box.high.x()); ++i) {
    for (int j = first(box.low.y()); j < end(box.high.y()); ++j) {
      for (int k = first(box.low.z()); k < end(box.high.z()); ++k) {
        tree.updateNode(
            octomap::point3d(static_cast<float>((i + 0.5) * kVoxelSize + offset),
                             static_cast<float>((j + 0.5) * kVoxelSize), static_cast<float>((k + 0.5) * kVoxelSize)),
            true);
      }
    }
  }
}

}  // namespace

std::shared_ptr<const octomap::OcTree> workcellOctree(double offset) {
  auto tree = std::make_shared<octomap::OcTree>(kVoxelSize);
  for (const Box& box : workcellBoxes()) fill(*tree, box, offset);
  return tree;
}

std::string sceneArmDirectory() { return std::string(BRAMLOCK_TEST_FIXTURES_DIR) + "/scene_arm/"; }

ManipulatorPlanScene::MdhTable sceneArmMdhTable() {
  return {{0.2405, 0.0, 0.0, 0.210, 0.0, 0.144},
          {0.0, 0.0, 0.256, 0.0, 0.0, 0.0},
          {0.0, M_PI_2, M_PI_2, 0.0, 0.0, 0.0},
          {0.0, M_PI_2, 0.0, M_PI_2, -M_PI_2, M_PI_2}};
}

// Found by sampling states whose tool lies in each region and keeping pairs
// whose straight motion collides.
std::vector<PlanPair> detourPairs() {
  return {
      // From in front of the wall, through the gap to behind it.
      {"wall_gap", {-2.25, 0.84, 1.04, 1.92, -1.21, -2.95}, {-1.62, 0.96, 0.44, 0.73, 0.07, -2.93}},
      // From between the shelf's boards to above the upper board.
      {"shelf", {0.32, -0.63, -1.07, -1.14, -1.27, -0.74}, {-0.17, -0.42, -0.39, 0.58, -0.72, -0.41}},
      // From between the blocks on the table to beside the second block.
      {"blocks", {0.20, 0.70, 1.03, -3.01, -0.56, 2.80}, {-0.32, 1.37, -0.21, -3.06, -1.05, 1.94}},
  };
}

PlanPair openSpacePair() { return {"open_space", {-0.4, -0.3, 0.6, 0.0, 0.5, 0.0}, {0.4, -0.5, 0.8, 0.3, 0.3, 0.2}}; }

}  // namespace scene_arm_workcell
