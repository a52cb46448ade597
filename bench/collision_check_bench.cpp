// One state check as the planner makes it (transforms, world check with the
// padded robot, self check unpadded) on the six-axis test arm with mesh
// links against an octree of about 10,000 voxels, beside a plain loop of
// fcl::collide over the same object pairs.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <fcl/geometry/octree/octree.h>
#include <fcl/narrowphase/collision.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "per_call_timing.h"
#include "silenced_stdout.h"

namespace cd = collision_detection;

namespace {

const std::string kTestArmDirectory = std::string(BRAMLOCK_TEST_FIXTURES_DIR) + "/test_arm/";
constexpr double kRobotPadding = 0.01;

using bench_support::SilencedStdout;

// Four layers of 2 cm voxels, 1 m by 1 m, standing 0.45 m in front of the
// arm: 10,000 voxels, kept apart (no pruning into larger nodes).
std::shared_ptr<octomap::OcTree> voxelWall() {
  auto tree = std::make_shared<octomap::OcTree>(0.02);
  for (int layer = 0; layer < 4; ++layer) {
    for (int j = 0; j < 50; ++j) {
      for (int k = 0; k < 50; ++k) {
        const float x = 0.45f + 0.02f * layer + 0.01f, y = -0.5f + 0.02f * j + 0.01f, z = 0.02f * k + 0.01f;
        tree->updateNode(octomap::point3d(x, y, z), true, true);
      }
    }
  }
  tree->updateInnerOccupancy();
  return tree;
}

struct Scene {
  Scene() {
    SilencedStdout quiet;
    model = std::make_shared<const moveit::core::RobotModel>(kTestArmDirectory, "test_arm.urdf", "test_arm.srdf");
    group = model->getJointModelGroup("arm");
    acm = cd::AllowedCollisionMatrix(model->getLinkModelNamesWithCollisionGeometry(), false);
    for (const auto& pair : model->getSRDF()->getDisabledCollisionPairs()) acm.setEntry(pair.link1_, pair.link2_, true);
    padded = std::make_unique<cd::CollisionRobotFCL>(model, kRobotPadding);
    unpadded = std::make_unique<cd::CollisionRobotFCL>(model);
    world = std::make_shared<cd::World>();
    world_checker = std::make_unique<cd::CollisionWorldFCL>(world);
    octree = voxelWall();
    world->addToObject("octomap", std::make_shared<shapes::OcTree>(octree), Eigen::Isometry3d::Identity());
    state = std::make_unique<moveit::core::RobotState>(model);
    state->setToDefaultValues();

    std::mt19937 engine(11);
    std::uniform_real_distribution<double> angle(-2.0, 2.0);
    for (int i = 0; i < 256; ++i) {
      std::vector<double> q(group->getVariableCount());
      for (double& value : q) value = angle(engine);
      joint_vectors.push_back(q);
    }
  }

  void setState(const std::vector<double>& q) {
    state->setJointGroupPositions(group, q.data());
    state->update();
  }

  std::shared_ptr<const moveit::core::RobotModel> model;
  const moveit::core::JointModelGroup* group = nullptr;
  cd::AllowedCollisionMatrix acm;
  std::unique_ptr<cd::CollisionRobotFCL> padded, unpadded;
  cd::WorldPtr world;
  std::unique_ptr<cd::CollisionWorldFCL> world_checker;
  std::shared_ptr<octomap::OcTree> octree;
  std::unique_ptr<moveit::core::RobotState> state;
  std::vector<std::vector<double>> joint_vectors;
};

Scene& scene() {
  static Scene instance;
  return instance;
}

bool plannerCheck(Scene& s, const std::vector<double>& q) {
  s.setState(q);
  cd::CollisionRequest req;
  req.group_name = "arm";
  cd::CollisionResult res;
  s.world_checker->checkRobotCollision(req, res, *s.padded, *s.state, s.acm);
  if (res.collision) return false;
  s.unpadded->checkSelfCollision(req, res, *s.state, s.acm);
  return !res.collision;
}

void StateCheck(benchmark::State& bench) {
  Scene& s = scene();
  int valid = 0;
  bench_support::timePerCall(bench, s.joint_vectors,
                             [&](const std::vector<double>& q) { valid += plannerCheck(s, q); });
  bench.counters["valid_share"] = static_cast<double>(valid) / bench.iterations();
  bench.counters["voxels"] = static_cast<double>(s.octree->getNumLeafNodes());
}
BENCHMARK(StateCheck)->UseManualTime()->Iterations(20000);

// The same pairs by hand: robot objects placed at the state's transforms,
// each padded one against the octree, then every self pair the matrix does
// not allow, stopping at the first collision; no broad phase.
struct PlainPairs {
  explicit PlainPairs(Scene& s) {
    octree_object = std::make_shared<fcl::CollisionObjectd>(std::make_shared<fcl::OcTreed>(s.octree));
    cd::FCLObject padded_objects, unpadded_objects;
    s.setState(s.joint_vectors.front());
    s.padded->constructFCLObject(*s.state, padded_objects);
    s.unpadded->constructFCLObject(*s.state, unpadded_objects);
    for (const auto& object : padded_objects.objects) padded.push_back(object);
    for (const auto& object : unpadded_objects.objects) unpadded.push_back(object);
    for (size_t i = 0; i < unpadded.size(); ++i) {
      for (size_t j = i + 1; j < unpadded.size(); ++j) {
        const auto* a = ownerOf(*unpadded[i]);
        const auto* b = ownerOf(*unpadded[j]);
        cd::AllowedCollision::Type type = cd::AllowedCollision::NEVER;
        s.acm.getAllowedCollision(a->getID(), b->getID(), type);
        if (a->owner != b->owner && type != cd::AllowedCollision::ALWAYS) self_pairs.emplace_back(i, j);
      }
    }
  }

  static const cd::CollisionGeometryData* ownerOf(const fcl::CollisionObjectd& object) {
    return static_cast<const cd::CollisionGeometryData*>(object.collisionGeometry()->getUserData());
  }

  void place(const moveit::core::RobotState& state, std::vector<std::shared_ptr<fcl::CollisionObjectd>>& objects) {
    for (auto& object : objects) {
      const auto* owner = ownerOf(*object);
      object->setTransform(state.getCollisionBodyTransform(owner->link(), owner->shape_index));
      object->computeAABB();
    }
  }

  static bool collide(fcl::CollisionObjectd* a, fcl::CollisionObjectd* b) {
    const fcl::CollisionRequestd request;
    fcl::CollisionResultd result;
    return fcl::collide(a, b, request, result) > 0;
  }

  bool check(Scene& s, const std::vector<double>& q) {
    s.setState(q);
    place(*s.state, padded);
    for (auto& object : padded) {
      if (collide(object.get(), octree_object.get())) return false;
    }
    place(*s.state, unpadded);
    for (const auto& pair : self_pairs) {
      if (collide(unpadded[pair.first].get(), unpadded[pair.second].get())) return false;
    }
    return true;
  }

  std::shared_ptr<fcl::CollisionObjectd> octree_object;
  std::vector<std::shared_ptr<fcl::CollisionObjectd>> padded, unpadded;
  std::vector<std::pair<size_t, size_t>> self_pairs;
};

void ReferencePlainFclLoop(benchmark::State& bench) {
  Scene& s = scene();
  PlainPairs plain(s);
  int valid = 0;
  bench_support::timePerCall(bench, s.joint_vectors, [&](const std::vector<double>& q) { valid += plain.check(s, q); });
  bench.counters["valid_share"] = static_cast<double>(valid) / bench.iterations();
}
BENCHMARK(ReferencePlainFclLoop)->UseManualTime()->Iterations(20000);

}  // namespace

BENCHMARK_MAIN();
