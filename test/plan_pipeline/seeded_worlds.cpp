#include "seeded_worlds.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>

#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/planner/path_plan_and_post_processing.h"
#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "fixed_random_draws.h"
#include "scene_arm.h"
#include "seeded_joints.h"

namespace seeded_worlds {

namespace {

constexpr double kVoxel = 0.02;
constexpr int kMaxDrawsPerState = 10000;

void markBlock(octomap::OcTree& tree, const octomap::point3d& corner, int voxels) {
  for (int i = 0; i < voxels; ++i) {
    for (int j = 0; j < voxels; ++j) {
      for (int k = 0; k < voxels; ++k) {
        tree.updateNode(
            corner + octomap::point3d(static_cast<float>((i + 0.5) * kVoxel), static_cast<float>((j + 0.5) * kVoxel),
                                      static_cast<float>((k + 0.5) * kVoxel)),
            true);
      }
    }
  }
}

// 16 to 25 blocks of 8 cm within reach, none on the base.
void addBlocks(octomap::OcTree& tree, bramlock_test::SeededJoints& draw) {
  const int blocks = 16 + static_cast<int>(draw.uniform(0.0, 10.0));
  for (int placed = 0; placed < blocks;) {
    const octomap::point3d corner(static_cast<float>(draw.uniform(-0.75, 0.67)),
                                  static_cast<float>(draw.uniform(-0.75, 0.67)),
                                  static_cast<float>(draw.uniform(0.0, 0.95)));
    const bool on_base = std::abs(corner.x() + 0.04) < 0.2 && std::abs(corner.y() + 0.04) < 0.2 && corner.z() < 0.45;
    if (on_base) continue;
    markBlock(tree, corner, 4);
    ++placed;
  }
}

// A wall one or two voxels thick, 1.6 m wide and 1 m high, 0.3 to 0.5 m from
// the base in a random direction, with a window of 0.3 to 0.4 m.
void addWallWithWindow(octomap::OcTree& tree, bramlock_test::SeededJoints& draw, int layers) {
  const double heading = draw.uniform(-M_PI, M_PI);
  const double distance = draw.uniform(0.3, 0.5);
  const double window = draw.uniform(0.3, 0.4);
  const double window_across = draw.uniform(-0.4, 0.4);
  const double window_up = draw.uniform(0.2, 0.7);
  const octomap::point3d normal(static_cast<float>(std::cos(heading)), static_cast<float>(std::sin(heading)), 0.0f);
  const octomap::point3d along(-normal.y(), normal.x(), 0.0f);
  for (double across = -0.8; across <= 0.8; across += kVoxel / 2) {
    for (double up = kVoxel / 2; up <= 1.0; up += kVoxel / 2) {
      if (std::abs(across - window_across) < window / 2 && std::abs(up - window_up) < window / 2) continue;
      for (int layer = 0; layer < layers; ++layer) {
        tree.updateNode(normal * static_cast<float>(distance + layer * kVoxel) + along * static_cast<float>(across) +
                            octomap::point3d(0.0f, 0.0f, static_cast<float>(up)),
                        true);
      }
    }
  }
}

// Twelve single voxels where the arm works: each on the line between two
// neighbouring link frames of the arm (from its third link on) in a random
// state, none around the base and shoulder, which every state fills.
void addVoxels(octomap::OcTree& tree, bramlock_test::SeededJoints& draw, const Arm& arm) {
  const std::shared_ptr<moveit::core::RobotModel> model = loadModel(arm);
  const moveit::core::JointModelGroup* group = model->getJointModelGroup("arm");
  std::vector<std::pair<double, double>> bounds;
  for (const moveit::core::JointModel::Bounds* joint : group->getActiveJointModelsBounds()) {
    bounds.emplace_back(joint->front().min_position_, joint->front().max_position_);
  }
  const std::vector<const moveit::core::LinkModel*>& links = group->getLinkModels();
  moveit::core::RobotState state(model);
  for (int placed = 0; placed < 12;) {
    const Joints q = draw.within(bounds);
    state.setJointGroupPositions(group, q.data());
    state.update(true);
    const std::size_t first = 2 + static_cast<std::size_t>(draw.uniform(0.0, static_cast<double>(links.size() - 3)));
    const double share = draw.uniform(0.0, 1.0);
    const Eigen::Vector3d point = (1.0 - share) * state.getGlobalLinkTransform(links[first]).translation() +
                                  share * state.getGlobalLinkTransform(links[first + 1]).translation();
    if (point.head<2>().norm() < 0.15 && point.z() < 0.35) continue;
    tree.updateNode(
        octomap::point3d(static_cast<float>(point.x()), static_cast<float>(point.y()), static_cast<float>(point.z())),
        true);
    ++placed;
  }
}

// Hands every call on to a scene it does not own, so that each plan can have
// a fresh pipeline (the pipeline destroys its scene).
class BorrowedScene : public PlanSceneInterface {
 public:
  explicit BorrowedScene(PlanSceneInterface& scene) : scene_(scene) {}
  int getPlanSpaceBounds(std::vector<std::pair<double, double>>& bounds) override {
    return scene_.getPlanSpaceBounds(bounds);
  }
  int getVmaxAndAmax(std::vector<double>& vmax, std::vector<double>& amax) override {
    return scene_.getVmaxAndAmax(vmax, amax);
  }
  bool isValid(double* joints) override { return scene_.isValid(joints); }
  bool isValidSimplify(double* joints) override { return scene_.isValidSimplify(joints); }
  bool checkMotion(double* from, double* to) override { return scene_.checkMotion(from, to); }
  bool checkMotionSimplify(double* from, double* to) override { return scene_.checkMotionSimplify(from, to); }
  double getMaximumExtent() override { return scene_.getMaximumExtent(); }
  bool checkSampledMotion(const std::vector<std::vector<double>>& samples, std::size_t* failing_index) override {
    return scene_.checkSampledMotion(samples, failing_index);
  }

 private:
  PlanSceneInterface& scene_;
};

std::shared_ptr<fcl::CollisionGeometryd> meshGeometry(const shapes::Shape& shape) {
  const auto* mesh = dynamic_cast<const shapes::Mesh*>(&shape);
  if (mesh == nullptr) throw std::runtime_error("the oracle reads link meshes only");
  std::vector<fcl::Vector3d> vertices;
  for (unsigned int i = 0; i < mesh->vertex_count; ++i) {
    vertices.emplace_back(mesh->vertices[3 * i], mesh->vertices[3 * i + 1], mesh->vertices[3 * i + 2]);
  }
  std::vector<fcl::Triangle> triangles;
  for (unsigned int i = 0; i < mesh->triangle_count; ++i) {
    triangles.emplace_back(mesh->triangles[3 * i], mesh->triangles[3 * i + 1], mesh->triangles[3 * i + 2]);
  }
  auto model = std::make_shared<fcl::BVHModel<fcl::OBBRSSd>>();
  model->beginModel();
  model->addSubModel(vertices, triangles);
  model->endModel();
  return model;
}

// The console with the time after each "cost:" (and the blank before it) left out.
std::string withoutTimes(std::string console) {
  const std::string marker = "cost:";
  for (std::size_t at = console.find(marker); at != std::string::npos; at = console.find(marker, at)) {
    at += marker.size();
    const std::size_t number = at < console.size() && console[at] == ' ' ? at + 1 : at;
    const std::size_t end = std::min(console.find_first_not_of("0123456789.e+-", number), console.size());
    if (end > number) console.erase(at, end - at);
  }
  return console;
}

}  // namespace

const Arm& sceneArm() {
  static const Arm arm{"scene_arm", bramlock_test::sceneArmDirectory(), "scene_arm.urdf", "scene_arm.srdf",
                       "gripper_link"};
  return arm;
}

const Arm& rm65Arm() {
  static const Arm arm{"rm_65", bramlock_test::fixturePath("realman/"), "rm_description/urdf/rm_65.urdf", "rm_65.srdf",
                       "Link6"};
  return arm;
}

World makeWorld(WorldKind kind, std::uint64_t seed, double robot_padding, const Arm& arm) {
  auto tree = std::make_shared<octomap::OcTree>(kVoxel);
  bramlock_test::SeededJoints draw(seed);
  switch (kind) {
    case WorldKind::kBlocks:
      addBlocks(*tree, draw);
      break;
    case WorldKind::kWallWithWindow:
      addWallWithWindow(*tree, draw, 2);
      break;
    case WorldKind::kThinWallWithWindow:
      addWallWithWindow(*tree, draw, 1);
      break;
    case WorldKind::kVoxels:
      addVoxels(*tree, draw, arm);
      break;
  }
  return World{kind, seed, tree, robot_padding, arm};
}

std::string kindName(WorldKind kind) {
  switch (kind) {
    case WorldKind::kBlocks:
      return "blocks";
    case WorldKind::kWallWithWindow:
      return "wall";
    case WorldKind::kThinWallWithWindow:
      return "thin_wall";
    case WorldKind::kVoxels:
      return "voxels";
  }
  return "";
}

std::shared_ptr<moveit::core::RobotModel> loadModel(const Arm& arm) {
  bramlock_test::OutputCapture quiet;
  return std::make_shared<moveit::core::RobotModel>(arm.directory, arm.urdf, arm.srdf,
                                                    bramlock_test::sceneArmMdhTable());
}

std::unique_ptr<ManipulatorPlanScene> sceneIn(const World& world) {
  bramlock_test::OutputCapture quiet;
  ManipulatorPlanScene::MdhTable table = bramlock_test::sceneArmMdhTable();
  auto scene = std::make_unique<ManipulatorPlanScene>(world.arm.directory, world.arm.urdf, world.arm.srdf, "arm",
                                                      world.robot_padding, 1.0, world.arm.gripper_link, table,
                                                      bramlock_test::sceneArmAccelerationLimits());
  if (scene->updateWorldOctomap(world.octree) != 0) throw std::runtime_error("the world's octree was refused");
  return scene;
}

std::vector<PlanRequest> planRequests(ManipulatorPlanScene& scene, std::uint64_t seed, int count) {
  std::vector<std::pair<double, double>> bounds;
  scene.getPlanSpaceBounds(bounds);
  bramlock_test::SeededJoints draw(seed);
  const auto validState = [&] {
    for (int i = 0; i < kMaxDrawsPerState; ++i) {
      Joints q = draw.within(bounds);
      if (scene.isValid(q.data())) return q;
    }
    throw std::runtime_error("no valid state in this world");
  };
  std::vector<PlanRequest> requests;
  while (static_cast<int>(requests.size()) < count) {
    PlanRequest request{validState(), validState()};
    if (!scene.checkMotion(request.start.data(), request.goal.data())) requests.push_back(std::move(request));
  }
  return requests;
}

PlanAnswer planWithFixedDraws(ManipulatorPlanScene& scene, const PlanRequest& request, std::uint64_t draw_seed) {
  return bramlock_test::withFixedDraws(draw_seed, [&] {
    PathPlanAndPostProcessing pipeline(new BorrowedScene(scene));
    std::vector<TrajectoryData> out;
    PlanAnswer answer;
    bramlock_test::OutputCapture capture;
    answer.code = pipeline.runPlanPipeline(request.start, request.goal, out, false);
    answer.console = capture.out();
    for (const TrajectoryData& point : out) answer.path.push_back(point.positions);
    return answer;
  });
}

std::string firstFailure(ManipulatorPlanScene& scene, const Path& path) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    Joints here = path[i];
    if (!scene.isValid(here.data())) return "waypoint " + std::to_string(i);
    if (i == 0) continue;
    Joints before = path[i - 1];
    if (!scene.checkMotion(before.data(), here.data())) return "segment " + std::to_string(i - 1);
  }
  return "";
}

std::string fingerprint(const PlanAnswer& answer) {
  std::uint64_t hash = 1469598103934665603ull;
  const auto add = [&hash](const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  };
  add(&answer.code, sizeof answer.code);
  for (const Joints& point : answer.path) add(point.data(), point.size() * sizeof(double));
  const std::string console = withoutTimes(answer.console);
  add(console.data(), console.size());
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned int>((hash ^ (hash >> 32)) & 0xffffffffu));
  return text;
}

UnpaddedArmOracle::UnpaddedArmOracle(const World& world, double depth)
    : depth_(depth),
      model_(loadModel(world.arm)),
      state_(std::make_unique<moveit::core::RobotState>(model_)),
      group_(model_->getJointModelGroup("arm")) {
  for (const moveit::core::LinkModel* link : model_->getLinkModelsWithCollisionGeometry()) {
    Body body{link, {}};
    for (const auto& shape : link->getShapes()) {
      body.objects.push_back(std::make_unique<fcl::CollisionObjectd>(meshGeometry(*shape)));
    }
    bodies_.push_back(std::move(body));
  }
  std::set<std::pair<std::string, std::string>> left_out;
  for (const auto& pair : model_->getSRDF()->getDisabledCollisionPairs()) {
    left_out.emplace(pair.link1_, pair.link2_);
    left_out.emplace(pair.link2_, pair.link1_);
  }
  for (std::size_t a = 0; a < bodies_.size(); ++a) {
    for (std::size_t b = a + 1; b < bodies_.size(); ++b) {
      if (!left_out.count({bodies_[a].link->getName(), bodies_[b].link->getName()})) checked_pairs_.emplace_back(a, b);
    }
  }
  for (auto leaf = world.octree->begin_leafs(); leaf != world.octree->end_leafs(); ++leaf) {
    if (!world.octree->isNodeOccupied(*leaf)) continue;
    const double size = leaf.getSize();
    const double side = size - 2.0 * depth_;
    if (side <= 0.0) throw std::invalid_argument("the depth leaves nothing of a voxel");
    const octomap::point3d centre = leaf.getCoordinate();
    fcl::Transform3d pose = fcl::Transform3d::Identity();
    pose.translation() = fcl::Vector3d(centre.x(), centre.y(), centre.z());
    voxel_sides_.push_back(size);
    voxels_.push_back(std::make_unique<fcl::CollisionObjectd>(std::make_shared<fcl::Boxd>(side, side, side), pose));
    voxels_.back()->setUserData(reinterpret_cast<void*>(voxel_sides_.size() - 1));
    manager_.registerObject(voxels_.back().get());
  }
  manager_.setup();
}

void UnpaddedArmOracle::place(const Joints& joints) {
  state_->setJointGroupPositions(group_, joints.data());
  state_->update(true);
  for (Body& body : bodies_) {
    for (std::size_t i = 0; i < body.objects.size(); ++i) {
      body.objects[i]->setTransform(fcl::Transform3d(state_->getCollisionBodyTransform(body.link, i).matrix()));
      body.objects[i]->computeAABB();
    }
  }
}

bool UnpaddedArmOracle::touches(const Joints& joints) {
  place(joints);
  for (Body& body : bodies_) {
    for (const auto& object : body.objects) {
      fcl::DefaultCollisionData<double> data;
      manager_.collide(object.get(), &data, fcl::DefaultCollisionFunction<double>);
      if (data.result.isCollision()) return true;
    }
  }
  return false;
}

bool UnpaddedArmOracle::linksTouchBox(double side, const fcl::Transform3d& pose) {
  fcl::CollisionObjectd box(std::make_shared<fcl::Boxd>(side, side, side), pose);
  for (Body& body : bodies_) {
    for (const auto& object : body.objects) {
      fcl::CollisionRequestd request;
      fcl::CollisionResultd result;
      if (fcl::collide(object.get(), &box, request, result) > 0) return true;
    }
  }
  return false;
}

double UnpaddedArmOracle::excessDepth(const Joints& joints) {
  place(joints);
  // The voxels whose shrunk box some link touches.
  std::set<std::size_t> touched;
  for (Body& body : bodies_) {
    for (const auto& object : body.objects) {
      std::pair<std::set<std::size_t>*, fcl::CollisionObjectd*> found{&touched, object.get()};
      manager_.collide(object.get(), &found, [](fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, void* data) {
        const auto& [voxels, arm_body] = *static_cast<std::pair<std::set<std::size_t>*, fcl::CollisionObjectd*>*>(data);
        const fcl::CollisionObjectd* voxel = o1 == arm_body ? o2 : o1;
        fcl::CollisionRequestd request;
        fcl::CollisionResultd result;
        if (fcl::collide(o1, o2, request, result) > 0) {
          voxels->insert(reinterpret_cast<std::size_t>(voxel->getUserData()));
        }
        return false;  // every touched voxel, not only the first
      });
    }
  }
  // Per voxel, the deepest shrink that still touches, by bisection.
  double deepest = depth_;
  for (const std::size_t v : touched) {
    const double size = voxel_sides_[v];
    double low = depth_, high = size / 2.0;
    while (high - low > 1e-4) {
      const double middle = 0.5 * (low + high);
      (linksTouchBox(size - 2.0 * middle, voxels_[v]->getTransform()) ? low : high) = middle;
    }
    deepest = std::max(deepest, low);
  }
  return deepest - depth_;
}

bool UnpaddedArmOracle::selfTouches(const Joints& joints) {
  place(joints);
  for (const auto& [a, b] : checked_pairs_) {
    for (const auto& first : bodies_[a].objects) {
      for (const auto& second : bodies_[b].objects) {
        fcl::CollisionRequestd request;
        fcl::CollisionResultd result;
        if (fcl::collide(first.get(), second.get(), request, result) > 0) return true;
      }
    }
  }
  return false;
}

bool UnpaddedArmOracle::motionTouches(ManipulatorPlanScene& scene, Joints from, Joints to, int density) {
  const unsigned int states = density * std::max(1u, scene.validSegmentCount(from.data(), to.data()));
  Joints q(from.size());
  for (unsigned int k = 0; k <= states; ++k) {
    const double t = static_cast<double>(k) / states;
    for (std::size_t j = 0; j < q.size(); ++j) q[j] = from[j] + t * (to[j] - from[j]);
    if (touches(q)) return true;
  }
  return false;
}

}  // namespace seeded_worlds
