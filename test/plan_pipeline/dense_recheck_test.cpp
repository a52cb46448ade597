// Whether what the pipeline and the spline planners hand back is what the scene checked: every
// returned path and every spline trajectory through it is re-checked densely (0.002 rad of summed
// joint distance between states) by a scene of the same arm and world without robot padding and by
// FCL alone on the unpadded link meshes. The scene's motion check tests states much further apart,
// so a thin wall or a single voxel can lie between two tested states.
//
// The sweep (12 shards: two arms, three robot paddings, thin walls and single voxels) runs in the
// plain build only: `ctest -R SlowDenseRecheck -j8 -V` in build/ prints its counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/planner/trajectory_generator.h"
#include "seeded_worlds.h"
#include "test_support.h"

namespace {

using seeded_worlds::Arm;
using seeded_worlds::Joints;
using seeded_worlds::Path;
using seeded_worlds::WorldKind;

// Summed joint distance between two re-checked states.
constexpr double kRecheckStep = 0.002;
// The seeded worlds' voxels.
constexpr double kVoxelSide = 0.02;

// How deep the unpadded arm may reach into an obstacle, by the figures the scene states: half
// a step less the clearance its padding keeps.
double allowedPenetration(ManipulatorPlanScene& planning_scene) {
  return std::max(0.0, 0.5 * planning_scene.getMotionCheckStep() - planning_scene.getMotionCheckClearance());
}

double summedDistance(const Joints& a, const Joints& b) {
  double sum = 0.0;
  for (std::size_t j = 0; j < a.size(); ++j) sum += std::abs(b[j] - a[j]);
  return sum;
}

// Every state of the polyline, with straight interpolation between consecutive ones that lie more
// than the re-check step apart: the motion as it is executed, joint by joint.
Path denseStates(const Path& polyline) {
  Path states;
  for (std::size_t i = 0; i < polyline.size(); ++i) {
    if (i > 0) {
      const Joints& from = polyline[i - 1];
      const Joints& to = polyline[i];
      const int steps = static_cast<int>(std::ceil(summedDistance(from, to) / kRecheckStep));
      for (int k = 1; k < steps; ++k) {
        Joints q(from.size());
        for (std::size_t j = 0; j < q.size(); ++j) q[j] = from[j] + (to[j] - from[j]) * k / steps;
        states.push_back(std::move(q));
      }
    }
    states.push_back(polyline[i]);
  }
  return states;
}

// What the re-checks of one road found over many returned motions.
struct RoadTally {
  int motions = 0;
  long states = 0;
  long scene_world_hits = 0;  // states the unpadded scene rejects without self contact
  long scene_self_hits = 0;   // states the unpadded scene rejects with two links touching
  long oracle_hits = 0;       // states reaching deeper than allowed into a voxel
  int motions_hit = 0;        // motions with such a state
  double deepest_excess = 0.0;
  std::vector<std::string> first_hits;
};

// The two re-checkers of one world: the arm's scene without robot padding, and FCL alone with each
// voxel shrunk by the allowed depth.
class DenseRecheck {
 public:
  DenseRecheck(const seeded_worlds::World& world, double allowed_depth)
      : unpadded_(seeded_worlds::sceneIn(withoutPadding(world))), oracle_(world, allowed_depth) {}

  void recheck(const Path& polyline, const std::string& label, RoadTally& tally) {
    ++tally.motions;
    bool hit = false;
    for (Joints& q : denseStates(polyline)) {
      ++tally.states;
      if (!unpadded_->isValid(q)) ++(oracle_.selfTouches(q) ? tally.scene_self_hits : tally.scene_world_hits);
      if (!oracle_.touches(q)) continue;
      ++tally.oracle_hits;
      tally.deepest_excess = std::max(tally.deepest_excess, oracle_.excessDepth(q));
      if (!hit && tally.first_hits.size() < 5) tally.first_hits.push_back(label);
      hit = true;
    }
    tally.motions_hit += hit;
  }

 private:
  static seeded_worlds::World withoutPadding(seeded_worlds::World world) {
    world.robot_padding = 0.0;
    return world;
  }

  std::unique_ptr<ManipulatorPlanScene> unpadded_;
  seeded_worlds::UnpaddedArmOracle oracle_;
};

const char* const kSplineTypes[] = {"cubic_spline", "quintic_spline"};
const char* const kRoadNames[] = {"path", "cubic", "quintic"};

// One shard's plans and the re-checks of its three roads: the returned path, then the millisecond
// samples of each spline planner over it.
struct ShardTally {
  int plans = 0;
  int returned = 0;
  std::map<int, int> codes;  // every result code with its count
  double allowed_depth = 0.0;
  int spline_returned[2] = {0, 0};
  RoadTally roads[3];  // path, cubic, quintic
};

// The spline trajectory of a returned path, as the README's host times it; empty on failure.
Path splineSamples(ManipulatorPlanScene& scene, const char* type, const Path& path) {
  std::vector<std::pair<double, double>> bounds;
  std::vector<double> vmax, amax;
  scene.getPlanSpaceBounds(bounds);
  scene.getVmaxAndAmax(vmax, amax);
  TrajectoryGenerator generator(&scene);
  generator.setTrajectoryType(type);
  std::vector<TrajectoryData> out;
  bramlock_test::OutputCapture quiet;
  if (generator.generateTrajectoryData(path, vmax.data(), amax.data(), out, false, CartesianConstraints()) != 0) {
    return {};
  }
  Path samples;
  for (const TrajectoryData& sample : out.front().children) samples.push_back(sample.positions);
  return samples;
}

// Plans `plans` seeded requests in the world and re-checks every returned path and trajectory.
void sweepWorld(const seeded_worlds::World& world, int plans, ShardTally& tally) {
  const std::unique_ptr<ManipulatorPlanScene> scene = seeded_worlds::sceneIn(world);
  tally.allowed_depth = allowedPenetration(*scene);
  DenseRecheck recheck(world, tally.allowed_depth);
  const std::vector<seeded_worlds::PlanRequest> requests = seeded_worlds::planRequests(*scene, world.seed, plans);
  for (int i = 0; i < plans; ++i) {
    ++tally.plans;
    const seeded_worlds::PlanAnswer answer =
        seeded_worlds::planWithFixedDraws(*scene, requests[i], world.seed * 1000 + i);
    ++tally.codes[answer.code];
    if (answer.code != 0) continue;
    ++tally.returned;
    const std::string label =
        seeded_worlds::kindName(world.kind) + " " + std::to_string(world.seed) + " plan " + std::to_string(i);
    recheck.recheck(answer.path, label + " path", tally.roads[0]);
    for (int type = 0; type < 2; ++type) {
      const Path samples = splineSamples(*scene, kSplineTypes[type], answer.path);
      if (samples.empty()) continue;
      ++tally.spline_returned[type];
      recheck.recheck(samples, label + " " + kSplineTypes[type], tally.roads[1 + type]);
    }
  }
}

struct Shard {
  const Arm* arm;
  double robot_padding;
  WorldKind kind;
};

const double kPaddings[] = {0.0, 0.005, 0.01};
constexpr int kWorldsPerShard = 6;
constexpr int kPlansPerWorld = 20;

// Shard s: the arm, then the padding, then the kind of world.
Shard shard(int s) {
  const Arm* arms[] = {&seeded_worlds::sceneArm(), &seeded_worlds::rm65Arm()};
  const WorldKind kinds[] = {WorldKind::kThinWallWithWindow, WorldKind::kVoxels};
  return {arms[s / 6], kPaddings[(s / 2) % 3], kinds[s % 2]};
}

void print(const Shard& where, const ShardTally& tally) {
  std::ostringstream codes;
  for (const auto& [code, count] : tally.codes) codes << ' ' << code << " x" << count;
  std::printf("[ counts   ] %s padding %.3f %s: plans %d (codes%s), returned %d, cubic %d, quintic %d\n",
              where.arm->name.c_str(), where.robot_padding, seeded_worlds::kindName(where.kind).c_str(), tally.plans,
              codes.str().c_str(), tally.returned, tally.spline_returned[0], tally.spline_returned[1]);
  for (int road = 0; road < 3; ++road) {
    const RoadTally& t = tally.roads[road];
    std::printf(
        "[ counts   ]   %-7s motions %d, states %ld, scene world hits %ld, scene self hits %ld, "
        "oracle hits %ld in %d motions, deepest excess %.4f m (%.4f: through a voxel's centre)\n",
        kRoadNames[road], t.motions, t.states, t.scene_world_hits, t.scene_self_hits, t.oracle_hits, t.motions_hit,
        t.deepest_excess, kVoxelSide / 2 - tally.allowed_depth);
  }
}

// One layer of 2 cm voxels, 16 cm square, in the plane y = 0 to 0.02 m, where the RM65's tool
// passes when joint 1 turns with the arm reaching out along -x.
std::shared_ptr<const octomap::OcTree> thinWallPanel() {
  auto tree = std::make_shared<octomap::OcTree>(kVoxelSide);
  const auto side = static_cast<float>(kVoxelSide);
  for (int i = 0; i < 8; ++i) {
    for (int k = 0; k < 8; ++k) {
      tree->updateNode(octomap::point3d(-0.67f + side * i, side / 2, 0.27f + side * k), true);
    }
  }
  return tree;
}

// Joint 1 turns 0.19 rad, less than a motion check step of 0.005 of the group's extent (0.193 rad),
// so only the ends are tested; the tool, 0.6 m out, sweeps 11 cm, straight through the panel.
TEST(DenseRecheck, AThinWallTheToolSweepsThroughBetweenTestedStatesFailsTheMotionCheck) {
  const seeded_worlds::World world{WorldKind::kThinWallWithWindow, 0, thinWallPanel(), 0.0, seeded_worlds::rm65Arm()};
  const std::unique_ptr<ManipulatorPlanScene> scene = seeded_worlds::sceneIn(world);
  Joints from = {-0.11, 1.4, 0.0, 0.0, 0.0, 0.0};
  Joints to = {0.08, 1.4, 0.0, 0.0, 0.0, 0.0};
  ASSERT_TRUE(scene->isValid(from));
  ASSERT_TRUE(scene->isValid(to));
  // The unpadded tool reaches the panel's middle plane: the motion crosses it, not grazes it.
  seeded_worlds::UnpaddedArmOracle middle_plane(world, 0.0099);
  bool crosses = false;
  for (const Joints& q : denseStates({from, to})) crosses = crosses || middle_plane.touches(q);
  ASSERT_TRUE(crosses);
  EXPECT_FALSE(scene->checkMotion(from.data(), to.data()));
}

class SlowDenseRecheck : public ::testing::TestWithParam<int> {};

TEST_P(SlowDenseRecheck, ReturnedPathsAndTrajectoriesStayWithinTheAllowedDepth) {
  const Shard where = shard(GetParam());
  ShardTally tally;
  for (int w = 0; w < kWorldsPerShard; ++w) {
    const auto seed = static_cast<std::uint64_t>(500 + GetParam() * kWorldsPerShard + w);
    sweepWorld(seeded_worlds::makeWorld(where.kind, seed, where.robot_padding, *where.arm), kPlansPerWorld, tally);
  }
  print(where, tally);
  for (int road = 0; road < 3; ++road) {
    std::ostringstream first;
    for (const std::string& label : tally.roads[road].first_hits) first << "\n  " << label;
    EXPECT_EQ(tally.roads[road].motions_hit, 0) << kRoadNames[road] << ", first:" << first.str();
  }
}

INSTANTIATE_TEST_SUITE_P(Shards, SlowDenseRecheck, ::testing::Range(0, 12));

}  // namespace
