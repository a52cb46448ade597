#pragma once

// Seeded worlds around a six-axis arm (the scene arm, or the published RM65
// with its meshes) for sweeps of whole plans: random 8 cm blocks, a 4 cm or
// 2 cm wall with a window, or single 2 cm voxels where the arm works, as
// octomaps of 2 cm voxels. Plans run with fixed random draws, so each one can be repeated
// and its answer compared with a recorded one; every answer can be re-checked
// by the scene as a caller would, and by an independent FCL test of the
// unpadded arm at a finer spacing than the scene's motion checks.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <fcl/fcl.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"

namespace seeded_worlds {

using Joints = std::vector<double>;
using Path = std::vector<Joints>;

enum class WorldKind { kBlocks, kWallWithWindow, kThinWallWithWindow, kVoxels };

// An arm's description: its directory and files and the link named as the gripper.
struct Arm {
  std::string name;
  std::string directory;
  std::string urdf;
  std::string srdf;
  std::string gripper_link;
};

// The scene arm of test/fixtures/scene_arm.
const Arm& sceneArm();
// The published RM65 of test/fixtures/realman (same MDH geometry as the scene arm; no gripper, so
// its last link stands in).
const Arm& rm65Arm();

struct World {
  WorldKind kind;
  std::uint64_t seed;
  std::shared_ptr<const octomap::OcTree> octree;
  double robot_padding;
  Arm arm = sceneArm();
};

// The scene arm's padding on the planning road (0.01) leaves the simplify
// road (gripper padding 0.06 on every link) the stricter one; a padding
// above 0.06 makes it the laxer one.
World makeWorld(WorldKind kind, std::uint64_t seed, double robot_padding, const Arm& arm = sceneArm());
// "blocks", "wall", "thin_wall" or "voxels".
std::string kindName(WorldKind kind);

// The arm's robot model on its own, loaded quietly.
std::shared_ptr<moveit::core::RobotModel> loadModel(const Arm& arm);

// The world's arm (with the world's robot padding and the scene arm's MDH table and acceleration
// limits) in the world, built quietly.
std::unique_ptr<ManipulatorPlanScene> sceneIn(const World& world);

struct PlanRequest {
  Joints start;
  Joints goal;
};

// Valid start and goal pairs whose direct motion the scene rejects.
std::vector<PlanRequest> planRequests(ManipulatorPlanScene& scene, std::uint64_t seed, int count);

struct PlanAnswer {
  int code = 0;
  Path path;
  std::string console;
};

// One runPlanPipeline call with draws fixed by the seed, through a fresh
// pipeline around the scene (which stays the caller's).
PlanAnswer planWithFixedDraws(ManipulatorPlanScene& scene, const PlanRequest& request, std::uint64_t draw_seed);

// The first waypoint failing isValid or segment failing checkMotion, as the
// caller re-checks them ("" for a sound path).
std::string firstFailure(ManipulatorPlanScene& scene, const Path& path);

// Eight hex digits over the code, the waypoints bit for bit and the console
// lines with their times left out.
std::string fingerprint(const PlanAnswer& answer);

// The unpadded arm against the world's voxels with FCL alone. With a depth,
// every voxel box is shrunk by it on each side: a touch then means the arm
// reached deeper than that into a voxel.
class UnpaddedArmOracle {
 public:
  explicit UnpaddedArmOracle(const World& world, double depth = 0.0);
  // Whether some state along the motion, at `density` times as many states as
  // the scene's motion check tests, has a link touch a voxel.
  bool motionTouches(ManipulatorPlanScene& scene, Joints from, Joints to, int density);
  // Whether a link touches a (shrunk) voxel at the joints.
  bool touches(const Joints& joints);
  // How far beyond the depth the deepest link reaches into a voxel at the
  // joints, to 0.1 mm (0 when no link touches a shrunk voxel).
  double excessDepth(const Joints& joints);
  // Whether two links whose pair the SRDF does not leave out touch at the joints.
  bool selfTouches(const Joints& joints);

 private:
  // Every link body at its pose for the joints.
  void place(const Joints& joints);
  // Whether some link touches the box of that side at the pose.
  bool linksTouchBox(double side, const fcl::Transform3d& pose);

  // A link's collision bodies, built once (FCL bounds a mesh anew whenever an object is made).
  struct Body {
    const moveit::core::LinkModel* link;
    std::vector<std::unique_ptr<fcl::CollisionObjectd>> objects;
  };

  double depth_;
  std::shared_ptr<moveit::core::RobotModel> model_;
  std::unique_ptr<moveit::core::RobotState> state_;
  const moveit::core::JointModelGroup* group_;
  std::vector<Body> bodies_;
  std::vector<std::pair<std::size_t, std::size_t>> checked_pairs_;  // indices into bodies_
  std::vector<double> voxel_sides_;                                 // unshrunk, by voxel index
  std::vector<std::unique_ptr<fcl::CollisionObjectd>> voxels_;
  fcl::DynamicAABBTreeCollisionManagerd manager_;
};

}  // namespace seeded_worlds
