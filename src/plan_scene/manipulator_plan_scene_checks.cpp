// The scene's answers to the planner: bounds, limits, state and motion checks.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <iostream>
#include <limits>
#include <optional>
#include <set>
#include <utility>

#include <geometric_shapes/shapes.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/collision_detection/collision_request.h"
#include "bramlock_arm_planning_core/collision_detection/collision_result.h"
#include "bramlock_arm_planning_core/collision_detection/world.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "bramlock_arm_planning_core/logger.h"
#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "checked_states.h"
#include "collision_detection/shape_extent.h"
#include "common/value_checks.h"
#include "motion_sweep.h"
#include "padded_clearance.h"

namespace {

const std::string kOctomapObject = "world_octomap";

// A motion longer than this many group extents cannot stay within the joint
// bounds; counting its segments would take practically forever.
constexpr double kExtentTolerance = 1.0 + 1e-9;

// Pieces of a motion whose sweep bounds are taken apart.
constexpr int kSweepPieces = 4;

}  // namespace

int ManipulatorPlanScene::getPlanSpaceBounds(std::vector<std::pair<double, double>>& bounds) {
  bounds.clear();
  if (!planned_group_) return -1;
  const auto& joint_bounds = planned_group_->getActiveJointModelsBounds();
  const size_t count = std::min<size_t>(planned_group_->getActiveVariableCount(), joint_bounds.size());
  for (size_t i = 0; i < count; ++i) {
    const moveit::core::JointModel::Bounds& variables = *joint_bounds[i];
    if (variables.size() > 1) {
      std::puts("The dof of joint is > 1! ");
      return -2;
    }
    if (variables.empty()) {
      std::puts("The bound is not defined! ");
      return -3;
    }
    bounds.emplace_back(variables.front().min_position_, variables.front().max_position_);
  }
  vmax_.resize(count);
  amax_ = acceleration_limits_;
  for (size_t i = 0; i < count; ++i) vmax_[i] = joint_bounds[i]->front().max_velocity_;
  return static_cast<int>(bounds.size());
}

int ManipulatorPlanScene::getVmaxAndAmax(std::vector<double>& vmax, std::vector<double>& amax) {
  const size_t count = vmax_.size();
  // A limit list shorter than the joints cannot serve every joint.
  if (count == 0 || amax_.size() < count) return 0;
  if (!bramlock::internal::allFinite(vmax_.data(), count) || !bramlock::internal::allFinite(amax_.data(), count)) {
    return 0;
  }
  vmax.assign(vmax_.begin(), vmax_.end());
  amax.assign(amax_.size(), 0.0);
  std::copy(amax_.begin(), amax_.begin() + count, amax.begin());
  return static_cast<int>(count);
}

bool ManipulatorPlanScene::expandToGroupLayout(const double* active, std::vector<double>& group_values) const {
  const auto& joints = planned_group_->getActiveJointModels();
  const auto& starts = planned_group_->getActiveJointModelStartIndex();
  size_t next = 0;
  for (size_t i = 0; i < joints.size(); ++i) {
    const size_t variables = joints[i]->getVariableCount();
    for (size_t k = 0; k < variables; ++k, ++next) {
      if (!std::isfinite(active[next])) return false;
      group_values[starts[i] + k] = active[next];
    }
  }
  planned_group_->updateMimicJoints(group_values.data());
  return true;
}

void ManipulatorPlanScene::compactToActiveLayout(const double* group_values, double* active) const {
  const auto& joints = planned_group_->getActiveJointModels();
  const auto& starts = planned_group_->getActiveJointModelStartIndex();
  size_t next = 0;
  for (size_t i = 0; i < joints.size(); ++i) {
    const size_t variables = joints[i]->getVariableCount();
    for (size_t k = 0; k < variables; ++k) active[next++] = group_values[starts[i] + k];
  }
}

void ManipulatorPlanScene::forgetCheckedStates() {
  for (auto& memo : checked_states_) {
    if (memo) memo->clear();
  }
}

void ManipulatorPlanScene::forgetGeometry() {
  forgetCheckedStates();
  motion_sweep_.reset();
  for (auto& spacing : motion_spacing_) spacing.reset();
}

bramlock::internal::MotionSweep& ManipulatorPlanScene::motionSweep() {
  if (!motion_sweep_) {
    std::vector<const moveit::core::AttachedBody*> bodies;
    robot_state_->getAttachedBodies(bodies);
    motion_sweep_ = std::make_unique<bramlock::internal::MotionSweep>(*robot_model_, *planned_group_, bodies);
  }
  return *motion_sweep_;
}

// The least clearance over the geometry a motion of the group moves: link
// shapes with the padding and scale of the road's world checker, attached
// bodies on any moved link with their own padding.
double ManipulatorPlanScene::roadClearance(CheckRoad road) {
  const collision_detection::CollisionRobotFCL& checker =
      road == CheckRoad::kPlanning ? *collision_robot_ : *collision_robot_gripper_;
  if (!padded_clearances_) padded_clearances_ = std::make_unique<bramlock::internal::PaddedClearances>();
  double clearance = std::numeric_limits<double>::infinity();
  for (const moveit::core::LinkModel* link : planned_group_->getUpdatedLinkModelsWithGeometry()) {
    const double scale = checker.getLinkScale(link->getName());
    const double padding = checker.getLinkPadding(link->getName());
    for (const auto& shape : link->getShapes()) {
      if (shape) clearance = std::min(clearance, padded_clearances_->of(shape, scale, padding));
    }
  }
  std::vector<const moveit::core::AttachedBody*> bodies;
  robot_state_->getAttachedBodies(bodies);
  const std::set<const moveit::core::LinkModel*>& moved_links = planned_group_->getUpdatedLinkModelsSet();
  for (const moveit::core::AttachedBody* body : bodies) {
    // A body on a link the group moves but does not list (a tool link, a finger) moves as much.
    if (!moved_links.count(body->getAttachedLink())) continue;
    for (const auto& shape : body->getShapes()) {
      clearance = std::min(clearance, bramlock::internal::attachedClearance(*shape, body->getPadding()));
    }
  }
  return std::isfinite(clearance) ? clearance : 0.0;
}

double ManipulatorPlanScene::sweepBound(const std::vector<double>& from, const std::vector<double>& to) {
  transform_state_->setJointGroupPositions(planned_group_, from.data());
  transform_state_->updateLinkTransforms();
  return motionSweep().boundFromPose(from.data(), to.data(), *transform_state_);
}

// Cut into pieces, each bounded from the pose where it starts (where the
// radii are tight): evenly spaced states need the density of the densest piece.
double ManipulatorPlanScene::straightSweep(const std::vector<double>& from, const std::vector<double>& to) {
  std::vector<double> start = from;
  std::vector<double> end(from.size());
  double densest = 0.0;
  for (int piece = 1; piece <= kSweepPieces; ++piece) {
    const double t = static_cast<double>(piece) / kSweepPieces;
    for (size_t i = 0; i < end.size(); ++i) end[i] = from[i] + t * (to[i] - from[i]);
    planned_group_->updateMimicJoints(end.data());
    densest = std::max(densest, sweepBound(start, end));
    start.swap(end);
  }
  return densest * kSweepPieces;
}

const ManipulatorPlanScene::MotionSpacing& ManipulatorPlanScene::motionSpacing(CheckRoad road) {
  std::optional<MotionSpacing>& spacing = motion_spacing_[static_cast<size_t>(road)];
  if (!spacing) {
    const double clearance = roadClearance(road);
    spacing = MotionSpacing{clearance, std::max(2.0 * clearance, kMinimumMotionCheckStep)};
  }
  return *spacing;
}

double ManipulatorPlanScene::getMotionCheckStep(bool simplify) {
  if (!planned_group_) return 0.0;
  return motionSpacing(simplify ? CheckRoad::kSimplify : CheckRoad::kPlanning).step;
}

double ManipulatorPlanScene::getMotionCheckClearance(bool simplify) {
  if (!planned_group_) return 0.0;
  return motionSpacing(simplify ? CheckRoad::kSimplify : CheckRoad::kPlanning).clearance;
}

bool ManipulatorPlanScene::isStateValid(const std::vector<double>& group_values, CheckRoad road) {
  // The state is set even when the memo answers: later calls see the same robot state either way.
  robot_state_->setJointGroupPositions(planned_group_, group_values.data());
  robot_state_->update(false);
  std::unique_ptr<bramlock::internal::CheckedStates>& memo = checked_states_[static_cast<size_t>(road)];
  if (!memo) memo = std::make_unique<bramlock::internal::CheckedStates>();
  if (const std::optional<bool> known = memo->find(group_values)) return *known;
  collision_detection::CollisionRequest request;
  request.group_name = planned_group_name_;
  collision_detection::CollisionResult result;
  if (road == CheckRoad::kPlanning) {
    checkCollisionFcl(request, result, *robot_state_, *acm_);
  } else {
    checkCollisionFclSimplify(request, result, *robot_state_, *acm_);
  }
  // A state that cannot be placed is reported (at distance 0, with a printed
  // line) on every check, so it is not remembered.
  if (!(result.collision && result.distance == 0.0)) memo->remember(group_values, !result.collision);
  return !result.collision;
}

bool ManipulatorPlanScene::isValidOn(double* joints, CheckRoad road) {
  if (!planned_group_ || !joints) return false;
  if (!expandToGroupLayout(joints, state_scratch_)) return false;
  return isStateValid(state_scratch_, road);
}

bool ManipulatorPlanScene::isValidBy(double* joints, CheckRoad road) {
  return road == CheckRoad::kPlanning ? isValid(joints) : isValidSimplify(joints);
}

bool ManipulatorPlanScene::isValid(double* joints) { return isValidOn(joints, CheckRoad::kPlanning); }

bool ManipulatorPlanScene::isValidSimplify(double* joints) { return isValidOn(joints, CheckRoad::kSimplify); }

bool ManipulatorPlanScene::isValid(std::vector<double> joints) {
  if (!planned_group_ || joints.size() != planned_group_->getActiveVariableCount()) return false;
  return isValid(joints.data());
}

void ManipulatorPlanScene::checkCollisionFcl(const collision_detection::CollisionRequest& req,
                                             collision_detection::CollisionResult& res,
                                             const moveit::core::RobotState& state,
                                             const collision_detection::AllowedCollisionMatrix& acm) {
  checkCollisionWith(*collision_robot_, *collision_robot_unpadded_, req, res, state, acm);
}

void ManipulatorPlanScene::checkCollisionFclSimplify(const collision_detection::CollisionRequest& req,
                                                     collision_detection::CollisionResult& res,
                                                     const moveit::core::RobotState& state,
                                                     const collision_detection::AllowedCollisionMatrix& acm) {
  checkCollisionWith(*collision_robot_gripper_, *collision_robot_unpadded_simplify_, req, res, state, acm);
}

void ManipulatorPlanScene::checkCollisionWith(const collision_detection::CollisionRobotFCL& world_robot,
                                              const collision_detection::CollisionRobotFCL& self_robot,
                                              const collision_detection::CollisionRequest& req,
                                              collision_detection::CollisionResult& res,
                                              const moveit::core::RobotState& state,
                                              const collision_detection::AllowedCollisionMatrix& acm) const {
  collision_world_->checkRobotCollision(req, res, world_robot, state, acm);
  // The self check is not needed once the world check found what was asked for.
  if (res.collision && (!req.want_contacts || res.contacts.size() >= req.max_contacts)) return;
  self_robot.checkSelfCollision(req, res, state, acm);
}

double ManipulatorPlanScene::segmentCount(double distance, double sweep, CheckRoad road) {
  const double segments = std::ceil(distance / longest_valid_segment_);
  const double swept = std::ceil(sweep / motionSpacing(road).step);
  // A sweep that is not a number bounds nothing: unbounded, which the cap refuses.
  if (std::isnan(swept)) return std::numeric_limits<double>::infinity();
  return std::max(valid_segment_count_factor_ * segments, swept);
}

unsigned int ManipulatorPlanScene::validSegmentCount(double* from, double* to) {
  unsigned int segments = 0;
  return prepareMotion(from, to, CheckRoad::kPlanning, segments) ? segments : 0;
}

double ManipulatorPlanScene::straightDistance(const double* from, const double* to) const {
  const auto& joints = planned_group_->getActiveJointModels();
  const auto& starts = planned_group_->getActiveJointModelStartIndex();
  double distance = 0.0;
  for (size_t i = 0; i < joints.size(); ++i) {
    for (size_t k = 0; k < joints[i]->getVariableCount(); ++k) {
      const size_t at = starts[i] + k;
      distance += joints[i]->getDistanceFactor() * std::abs(to[at] - from[at]);
    }
  }
  return distance;
}

bool ManipulatorPlanScene::prepareMotion(const double* from, const double* to, CheckRoad road, unsigned int& segments) {
  if (!planned_group_ || !from || !to) return false;
  if (!expandToGroupLayout(from, from_scratch_) || !expandToGroupLayout(to, to_scratch_)) return false;
  const double distance = straightDistance(from_scratch_.data(), to_scratch_.data());
  if (!(distance <= max_extent_ * kExtentTolerance)) return false;
  // Geometry that can move without bound, or so far that stepping through
  // would take hours, gives more states than a check may test.
  const double count = segmentCount(distance, straightSweep(from_scratch_, to_scratch_), road);
  if (!(count <= kMaxMotionCheckStates)) {
    BRAMLOCK_WARN("motion refused: checking it needs {:g} states, more than the {} a motion check may test", count,
                  kMaxMotionCheckStates);
    return false;
  }
  segments = static_cast<unsigned int>(count);
  return true;
}

// Straight in joint values, as the planner's waypoints and the timing move the arm.
void ManipulatorPlanScene::interpolateSegment(unsigned int k, unsigned int segments) {
  const double t = static_cast<double>(k) / segments;
  for (size_t i = 0; i < motion_scratch_.size(); ++i) {
    motion_scratch_[i] = from_scratch_[i] + t * (to_scratch_[i] - from_scratch_[i]);
  }
  planned_group_->updateMimicJoints(motion_scratch_.data());
  compactToActiveLayout(motion_scratch_.data(), planned_input_state_);
}

bool ManipulatorPlanScene::checkMotionOn(double* from, double* to, CheckRoad road) {
  if (!planned_group_ || !from || !to) return false;
  if (!isValidBy(to, road)) return false;
  unsigned int segments = 0;
  if (!prepareMotion(from, to, road, segments)) return false;
  if (segments <= 1) return true;
  // Breadth-first bisection: a collision in the middle of the motion is found after few tests.
  std::deque<std::pair<unsigned int, unsigned int>> ranges{{1u, segments - 1}};
  while (!ranges.empty()) {
    const auto [low, high] = ranges.front();
    const unsigned int middle = (low + high) / 2;
    interpolateSegment(middle, segments);
    if (!isValidBy(planned_input_state_, road)) return false;
    ranges.pop_front();
    if (middle > low) ranges.emplace_back(low, middle - 1);
    if (middle < high) ranges.emplace_back(middle + 1, high);
  }
  return true;
}

bool ManipulatorPlanScene::checkMotion(double* from, double* to) {
  return checkMotionOn(from, to, CheckRoad::kPlanning);
}

bool ManipulatorPlanScene::checkMotionSimplify(double* from, double* to) {
  return checkMotionOn(from, to, CheckRoad::kSimplify);
}

bool ManipulatorPlanScene::checkSampledMotion(const std::vector<std::vector<double>>& samples,
                                              std::size_t* failing_index) {
  std::size_t failing = 0;
  const bool passed = samplesPass(samples, failing);
  if (!passed && failing_index) *failing_index = failing;
  return passed;
}

// Walks the samples summing the sweep bound from the last tested one, and
// tests the sample before the one that would take the sum past the step.
bool ManipulatorPlanScene::samplesPass(const std::vector<std::vector<double>>& samples, std::size_t& failing) {
  failing = 0;
  if (!planned_group_ || samples.empty()) return false;
  const std::size_t width = planned_group_->getActiveVariableCount();
  std::vector<double> previous(planned_group_->getVariableCount(), 0.0);
  std::vector<double> current = previous;
  if (samples[0].size() != width || !expandToGroupLayout(samples[0].data(), previous) || !isValid(samples[0])) {
    return false;
  }
  const double step = motionSpacing(CheckRoad::kPlanning).step;
  std::size_t anchor = 0;
  double travelled = 0.0;
  for (std::size_t k = 1; k < samples.size(); ++k) {
    failing = k;
    if (samples[k].size() != width || !expandToGroupLayout(samples[k].data(), current)) return false;
    // Samples lie close together: the radii over all poses cost no poses per sample.
    double moved = motionSweep().boundOverAllPoses(previous.data(), current.data());
    if (travelled + moved > step) {
      if (anchor != k - 1 && !isValid(samples[k - 1])) {
        failing = k - 1;
        return false;
      }
      anchor = k - 1;
      travelled = 0.0;
      if (moved > step) {
        std::vector<double> from = samples[k - 1];
        std::vector<double> to = samples[k];
        if (!checkMotion(from.data(), to.data())) return false;
        anchor = k;
        moved = 0.0;
      }
    }
    travelled += moved;
    previous.swap(current);
  }
  failing = samples.size() - 1;
  return anchor == samples.size() - 1 || isValid(samples.back());
}

int ManipulatorPlanScene::updateWorldOctomap(std::shared_ptr<const octomap::OcTree> tree) {
  // Voxels of a tree without a positive finite size cannot be placed; the
  // world would refuse a tree reaching beyond its limit, so it is refused
  // before the world is cleared.
  if (!tree || !(tree->getResolution() > 0.0 && std::isfinite(tree->getResolution()))) return -1;
  const auto shape = std::make_shared<const shapes::OcTree>(tree);
  if (!bramlock::internal::isCheckableWithin(*shape, collision_detection::World::kMaxShapeExtent)) return -1;
  const std::vector<std::string> ids = world_->getObjectIds();
  std::cout << "n:" << ids.size() << std::endl;
  if (!ids.empty()) world_->clearObjects();
  world_->addToObject(kOctomapObject, shape, Eigen::Isometry3d::Identity());
  forgetCheckedStates();
  return 0;
}
