// What constructing scenes prints, byte for byte: the model report, the mesh
// paths, the collision set-up and the shape cache's cleaning lines, which
// come at fixed link-cache insertions and so depend on how many geometries
// each construction asks for. The record was taken from the library that built
// every tree on the calling thread.
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "scene_arm.h"

namespace {

using bramlock_test::OutputCapture;
using bramlock_test::sceneArmDirectory;

std::string readWhole(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string withoutFixtureRoot(std::string text) {
  const std::string root = bramlock_test::fixturePath();
  for (size_t at = text.find(root); at != std::string::npos; at = text.find(root, at)) {
    text.replace(at, root.size(), "<fixtures>");
  }
  return text;
}

// Scenes of several paddings, scales and forms, one after the other on a
// fresh thread (the shape caches are per thread), all alive together until
// the last is built; more than a hundred link-cache insertions in all.
std::string outputOfSceneSequence() {
  std::string printed;
  std::thread([&printed] {
    const std::string dir = sceneArmDirectory();
    auto table = bramlock_test::sceneArmMdhTable();
    std::vector<std::unique_ptr<ManipulatorPlanScene>> scenes;
    OutputCapture capture;
    scenes.push_back(std::make_unique<ManipulatorPlanScene>(dir, "scene_arm.urdf", "scene_arm.srdf", "arm", 0.01, 1.0,
                                                            "gripper_link", table));
    scenes.push_back(std::make_unique<ManipulatorPlanScene>(dir, "scene_arm.urdf", "scene_arm.srdf", "arm", 0.06, 1.0,
                                                            "gripper_link", table));
    scenes.push_back(std::make_unique<ManipulatorPlanScene>(dir, "scene_arm.urdf", "scene_arm.srdf", "arm", 0.0, 1.25,
                                                            "gripper_link", table));
    scenes.push_back(
        std::make_unique<ManipulatorPlanScene>(dir, "scene_arm.urdf", "scene_arm_one_group.srdf", 0.02, 1.0));
    scenes.push_back(std::make_unique<ManipulatorPlanScene>(dir, "scene_arm.urdf", "scene_arm.srdf", "arm", -0.01, 1.0,
                                                            "gripper_link", table));
    scenes.front()->buildRobot();
    printed = capture.out();
  }).join();
  return withoutFixtureRoot(printed);
}

TEST(SceneConstructionOutput, SequenceOfScenesPrintsAsRecorded) {
  const std::string recorded = readWhole(bramlock_test::fixturePath("scene_arm/construction_output.txt"));
  ASSERT_FALSE(recorded.empty());
  const std::string printed = outputOfSceneSequence();
  EXPECT_EQ(printed, recorded);
  EXPECT_NE(printed.find("FCLShapeCache() erase!"), std::string::npos);
}

}  // namespace
