// The published RM65 fixture loads into a scene whose answers make sense: free at the zero pose
// (arm upright), blocked when folded into itself or when a voxel sits at the tool, and in agreement
// with an FCL self check of its own on the pairs the SRDF keeps.
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "scene_arm.h"
#include "seeded_joints.h"
#include "seeded_worlds.h"

namespace {

// The RM65 at robot padding 0 without obstacles (the kind only labels the world).
seeded_worlds::World emptyWorld() {
  return {seeded_worlds::WorldKind::kVoxels, 0, bramlock_test::octreeWith({}), 0.0, seeded_worlds::rm65Arm()};
}

TEST(PublishedArmScene, ZeroPoseIsFreeAndAFoldedPoseIsNot) {
  const std::unique_ptr<ManipulatorPlanScene> scene = seeded_worlds::sceneIn(emptyWorld());
  EXPECT_TRUE(scene->isValid(std::vector<double>(6, 0.0)));
  EXPECT_FALSE(scene->isValid(std::vector<double>{0.0, 0.0, 2.3, 0.0, 2.2, 0.0}));
  // Upright, the flange is at the MDH table's height: 0.2405 + 0.256 + 0.21 + 0.144 m.
  EXPECT_NEAR(scene->getToolEndTransform(std::vector<double>(6, 0.0))(2, 3), 0.8505, 1e-4);
}

TEST(PublishedArmScene, AVoxelAtTheToolBlocksTheZeroPose) {
  seeded_worlds::World world = emptyWorld();
  world.octree = bramlock_test::octreeWith({octomap::point3d(0.0f, 0.0f, 0.83f)});
  EXPECT_FALSE(seeded_worlds::sceneIn(world)->isValid(std::vector<double>(6, 0.0)));
}

// In an empty world the scene rejects exactly the states where two links the SRDF keeps touch.
TEST(PublishedArmScene, RandomPosesAgreeWithAnFclSelfCheck) {
  const seeded_worlds::World world = emptyWorld();
  const std::unique_ptr<ManipulatorPlanScene> scene = seeded_worlds::sceneIn(world);
  seeded_worlds::UnpaddedArmOracle oracle(world);
  std::vector<std::pair<double, double>> bounds;
  scene->getPlanSpaceBounds(bounds);
  bramlock_test::SeededJoints draw(65);
  int valid = 0;
  for (int i = 0; i < 500; ++i) {
    const std::vector<double> q = draw.within(bounds);
    const bool free = scene->isValid(q);
    EXPECT_EQ(free, !oracle.selfTouches(q)) << "pose " << i;
    valid += free;
  }
  // Most random poses are free; some fold the wrist onto the base or the upper arm.
  EXPECT_GT(valid, 400);
  EXPECT_LT(valid, 500);
}

}  // namespace
