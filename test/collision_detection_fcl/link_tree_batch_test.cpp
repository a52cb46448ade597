// Checkers made while a batch of prebuilt mesh trees lives hold the very
// trees they build on their own, bit for bit, print the same, and build a tree
// themselves wherever the batch's worker failed. Builds on several threads at
// once share one pool of helpers and answer as a build on one thread.
#include "collision_detection_fcl/link_tree_batch.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcl/geometry/bvh/BVH_model.h>
#include <fcl/math/bv/OBBRSS.h>
#include <gtest/gtest.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/robot_model/link_model.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "collision_detection_fcl/solid/mesh_solid.h"
#include "common/shared_work.h"
#include "scene_arm.h"
#include "solid_mesh_makers.h"
#include "test_support.h"

namespace cd = collision_detection;
using bramlock::internal::LinkScaling;
using bramlock::internal::LinkTreeBatch;
using bramlock::internal::MeshTreeInput;
using bramlock_test::OutputCapture;

namespace {

using Model = std::shared_ptr<const moveit::core::RobotModel>;
using Tree = std::shared_ptr<fcl::CollisionGeometryd>;

// The scene's checkers for a robot padding and scale: padded, unpadded,
// gripper-padded, unpadded; the padded ones leave the base unpadded.
const double kGripperPadding = 0.06;

struct Checkers {
  std::vector<std::shared_ptr<cd::CollisionRobotFCL>> robots;
  std::string printed;
};

Checkers checkersLikeTheScene(const Model& model, double padding, double scale) {
  Checkers made;
  OutputCapture capture;
  for (const auto& [p, s] :
       std::vector<std::pair<double, double>>{{padding, scale}, {0.0, 1.0}, {kGripperPadding, scale}, {0.0, 1.0}}) {
    made.robots.push_back(std::make_shared<cd::CollisionRobotFCL>(model, p, s));
  }
  made.robots[0]->setLinkPadding("base_link", 0.0);
  made.robots[2]->setLinkPadding("base_link", 0.0);
  made.printed = capture.out();
  return made;
}

// Made on a fresh thread (the geometry caches are per thread), with a batch
// of the scene's scalings built by `build` when one is given.
Checkers checkersOnFreshThread(const Model& model, double padding, double scale,
                               const LinkTreeBatch::TreeBuilder* build = nullptr) {
  Checkers made;
  std::thread([&] {
    if (!build) {
      made = checkersLikeTheScene(model, padding, scale);
      return;
    }
    LinkTreeBatch batch(*model, {{scale, padding}, {1.0, 0.0}, {scale, kGripperPadding}}, *build);
    made = checkersLikeTheScene(model, padding, scale);
  }).join();
  return made;
}

void appendBits(std::vector<std::uint64_t>& bits, const double* values, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    std::uint64_t word;
    std::memcpy(&word, values + i, sizeof word);
    bits.push_back(word);
  }
}

// Every number of the mesh tree: nodes, their volumes, vertices, triangles and local box.
std::vector<std::uint64_t> treeBits(const fcl::CollisionGeometryd& geometry) {
  const auto& tree = dynamic_cast<const fcl::BVHModel<fcl::OBBRSSd>&>(geometry);
  std::vector<std::uint64_t> bits = {static_cast<std::uint64_t>(tree.getNumBVs()),
                                     static_cast<std::uint64_t>(tree.num_vertices),
                                     static_cast<std::uint64_t>(tree.num_tris)};
  for (int i = 0; i < tree.getNumBVs(); ++i) {
    const fcl::BVNode<fcl::OBBRSSd>& node = tree.getBV(i);
    const fcl::OBBd& obb = node.bv.obb;
    const fcl::RSSd& rss = node.bv.rss;
    for (const double* part : {obb.axis.data(), rss.axis.data()}) appendBits(bits, part, 9);
    for (const double* part : {obb.To.data(), obb.extent.data(), rss.To.data()}) appendBits(bits, part, 3);
    appendBits(bits, rss.l, 2);
    appendBits(bits, &rss.r, 1);
    for (const int index : {node.first_child, node.first_primitive, node.num_primitives}) {
      bits.push_back(static_cast<std::uint64_t>(index));
    }
  }
  for (int v = 0; v < tree.num_vertices; ++v) appendBits(bits, tree.vertices[v].data(), 3);
  for (int t = 0; t < tree.num_tris; ++t) {
    for (int corner = 0; corner < 3; ++corner) bits.push_back(tree.tri_indices[t][corner]);
  }
  for (const fcl::Vector3d* corner : {&tree.aabb_local.min_, &tree.aabb_local.max_, &tree.aabb_center}) {
    appendBits(bits, corner->data(), 3);
  }
  appendBits(bits, &tree.aabb_radius, 1);
  return bits;
}

// The tree of each collision object the checker places, in slot order.
std::vector<const fcl::CollisionGeometryd*> treesOf(const cd::CollisionRobotFCL& checker) {
  moveit::core::RobotState state(checker.getRobotModel());
  state.setToDefaultValues();
  state.update();
  cd::FCLObject objects;
  checker.constructFCLObject(state, objects);
  std::vector<const fcl::CollisionGeometryd*> trees;
  for (const auto& object : objects.objects) trees.push_back(object->collisionGeometry().get());
  return trees;
}

// A builder that records what it built, failing on the calls `fails` picks.
struct RecordingBuilder {
  std::mutex mutex;
  std::set<const fcl::CollisionGeometryd*> built;
  std::atomic<int> calls{0};
  std::function<bool(int)> fails = [](int) { return false; };

  LinkTreeBatch::TreeBuilder builder() {
    return [this](const MeshTreeInput& input) -> Tree {
      const int call = calls++;
      if (fails(call)) {
        if (call % 2) throw std::bad_alloc();
        throw std::runtime_error("worker failure");
      }
      Tree tree = bramlock::internal::buildLinkMeshTree(input);
      std::lock_guard<std::mutex> lock(mutex);
      built.insert(tree.get());
      return tree;
    };
  }
};

void expectSameTrees(const Checkers& mine, const Checkers& reference) {
  EXPECT_EQ(mine.printed, reference.printed);
  ASSERT_EQ(mine.robots.size(), reference.robots.size());
  for (size_t c = 0; c < mine.robots.size(); ++c) {
    const auto my_trees = treesOf(*mine.robots[c]), their_trees = treesOf(*reference.robots[c]);
    ASSERT_EQ(my_trees.size(), their_trees.size());
    for (size_t slot = 0; slot < my_trees.size(); ++slot) {
      ASSERT_NE(my_trees[slot], nullptr);
      EXPECT_NE(my_trees[slot], their_trees[slot]);
      EXPECT_EQ(treeBits(*my_trees[slot]), treeBits(*their_trees[slot])) << "checker " << c << ", slot " << slot;
    }
  }
}

class LinkTreeBatchTest : public ::testing::TestWithParam<std::pair<double, double>> {
 protected:
  Model model = bramlock_test::loadSceneArmModel();
};

TEST_P(LinkTreeBatchTest, CheckersHoldTheBatchTreesIdenticalToTheirOwn) {
  const auto [padding, scale] = GetParam();
  RecordingBuilder recording;
  const LinkTreeBatch::TreeBuilder build = recording.builder();
  const Checkers mine = checkersOnFreshThread(model, padding, scale, &build);
  expectSameTrees(mine, checkersOnFreshThread(model, padding, scale));
  // Every mesh tree the checkers hold came from the batch.
  for (const auto& robot : mine.robots) {
    for (const fcl::CollisionGeometryd* tree : treesOf(*robot)) EXPECT_EQ(recording.built.count(tree), 1u);
  }
}

TEST_P(LinkTreeBatchTest, TreesWhoseWorkerFailedAreBuiltByTheCheckers) {
  const auto [padding, scale] = GetParam();
  RecordingBuilder recording;
  recording.fails = [](int call) { return call % 3 != 0; };
  const LinkTreeBatch::TreeBuilder build = recording.builder();
  const Checkers mine = checkersOnFreshThread(model, padding, scale, &build);
  expectSameTrees(mine, checkersOnFreshThread(model, padding, scale));
  size_t from_batch = 0, own = 0;
  for (const auto& robot : mine.robots) {
    for (const fcl::CollisionGeometryd* tree : treesOf(*robot)) (recording.built.count(tree) ? from_batch : own)++;
  }
  EXPECT_GT(from_batch, 0u);
  EXPECT_GT(own, 0u);
}

// Robot padding below, equal to and without the gripper's; a scale with no padding.
INSTANTIATE_TEST_SUITE_P(Scalings, LinkTreeBatchTest,
                         ::testing::Values(std::make_pair(0.01, 1.0), std::make_pair(kGripperPadding, 1.0),
                                           std::make_pair(0.0, 1.25)));

TEST(LinkTreeBatch, HandsEachTreeOutOnceAndOnlyWhileItLives) {
  const Model model = bramlock_test::loadSceneArmModel();
  const shapes::ShapeConstPtr& mesh = model->getLinkModel("base_link")->getShapes().at(0);
  std::thread([&] {
    EXPECT_EQ(LinkTreeBatch::active(), nullptr);
    {
      LinkTreeBatch batch(*model, {{1.0, 0.02}, {1.0, 0.0}});
      EXPECT_EQ(LinkTreeBatch::active(), &batch);
      EXPECT_EQ(batch.take(mesh, 1.0, 0.03), nullptr);
      const Tree padded = batch.take(mesh, 1.0, 0.02);
      ASSERT_NE(padded, nullptr);
      EXPECT_EQ(batch.take(mesh, 1.0, 0.02), nullptr);
      const Tree plain = batch.take(mesh, 1.0, 0.0);
      ASSERT_NE(plain, nullptr);
      EXPECT_GT(padded->aabb_local.max_.x(), plain->aabb_local.max_.x());
    }
    EXPECT_EQ(LinkTreeBatch::active(), nullptr);
  }).join();
}

// What a mesh's inside says at the points of a lattice through its box.
std::vector<bool> insideAnswers(const bramlock::internal::MeshSolid& solid) {
  std::vector<bool> answers{solid.isSolid()};
  for (int i = 0; i < 9; ++i) {
    for (int j = 0; j < 9; ++j) {
      for (int k = 0; k < 9; ++k) answers.push_back(solid.contains(0.013 * Eigen::Vector3d(i - 4, j - 4, k - 4)));
    }
  }
  return answers;
}

TEST(SharedWork, ConcurrentBuildsShareOneBoundedPoolAndAnswerAsOneThreadAlone) {
  using bramlock::internal::hardwareThreads;
  constexpr int kCallers = 4;
  std::atomic<int> running{0}, most_running{0};
  std::vector<std::vector<int>> calls(kCallers, std::vector<int>(32, 0));
  const auto busyWork = [&](std::vector<int>& counts) {
    bramlock::internal::shareWork(counts.size(), hardwareThreads(), [&](std::size_t i) {
      const int now = ++running;
      for (int seen = most_running; now > seen && !most_running.compare_exchange_weak(seen, now);) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ++counts[i];
      --running;
    });
  };
  std::vector<std::thread> callers;
  for (auto& counts : calls) callers.emplace_back(busyWork, std::ref(counts));
  for (std::thread& caller : callers) caller.join();
  EXPECT_LE(most_running, static_cast<int>(hardwareThreads()) - 1 + kCallers);
  for (const auto& counts : calls) EXPECT_EQ(counts, std::vector<int>(counts.size(), 1));

  // Spheres of 81,920 and 20,480 triangles: enough for the inside test's helpers.
  const bramlock_test::TriangleMesh mesh =
      bramlock_test::appended(bramlock_test::icosphere(Eigen::Vector3d::Zero(), 0.05, 6),
                              bramlock_test::icosphere(Eigen::Vector3d(0.03, 0.0, 0.0), 0.04, 5));
  std::vector<bool> alone;
  {
    // Every helper lent out: the build runs on this thread only.
    const bramlock::internal::HelperSlots taken(hardwareThreads());
    alone = insideAnswers(bramlock::internal::MeshSolid(mesh.points, mesh.triangles));
  }
  std::vector<std::vector<bool>> together(kCallers);
  callers.clear();
  for (auto& answers : together) {
    callers.emplace_back([&] { answers = insideAnswers(bramlock::internal::MeshSolid(mesh.points, mesh.triangles)); });
  }
  for (std::thread& caller : callers) caller.join();
  for (const auto& answers : together) EXPECT_EQ(answers, alone);
}

}  // namespace
