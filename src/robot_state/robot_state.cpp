#include "bramlock_arm_planning_core/robot_state/robot_state.h"

#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include <random_numbers/random_numbers.h>

#include "bramlock_arm_planning_core/robot_model/check_isometry.h"
#include "rigid_transform_product.h"

namespace moveit {
namespace core {
namespace {

constexpr size_t kDoublesPerTransform = 16;
constexpr size_t kBlockAlignment = 16;

// Calls visit for the joint's child link and then for every link below it,
// parents before children. The model's descendant list of a joint holds the
// links below its child link, not the child link itself, which the joint moves too.
template <typename Visit>
void forEachLinkFrom(const JointModel* start, const Visit& visit) {
  if (const LinkModel* child = start->getChildLinkModel()) visit(child);
  for (const LinkModel* link : start->getDescendantLinkModels()) visit(link);
}

bool isFinite(const Eigen::Isometry3d& transform) { return transform.matrix().allFinite(); }

std::string withoutLeadingSlashes(const std::string& frame_id) {
  const size_t first = frame_id.find_first_not_of('/');
  return first == std::string::npos ? std::string() : frame_id.substr(first);
}

}  // namespace

void RobotState::FreeBlock::operator()(void* block) const { std::free(block); }

RobotState::RobotState(const ModelConstPtr& model) : model_(model) {
  if (!model_) throw std::invalid_argument("RobotState cannot be constructed with nullptr RobotModelConstPtr");
  dirty_link_root_ = model_->getRootJoint();
  allocMemory();
  initTransforms();
}

RobotState::RobotState(const RobotState& other) : model_(other.model_) {
  allocMemory();
  copyFrom(other);
}

RobotState& RobotState::operator=(const RobotState& other) {
  if (this == &other) return *this;
  requireSameModel(other, "operator=");
  copyFrom(other);
  return *this;
}

RobotState::~RobotState() { clearAttachedBodies(); }

void RobotState::requireSameModel(const RobotState& other, const char* operation) const {
  if (other.model_ != model_) {
    throw std::invalid_argument(std::string("RobotState::") + operation + ": the states belong to different models");
  }
}

bool RobotState::ownsLink(const LinkModel* link) const {
  const std::vector<const LinkModel*>& links = model_->getLinkModels();
  return link && link->getLinkIndex() < links.size() && links[link->getLinkIndex()] == link;
}

void RobotState::requireOwnLink(const LinkModel* link, const char* operation) const {
  if (!ownsLink(link)) {
    throw std::invalid_argument(std::string("RobotState::") + operation + ": not a link of this state's model");
  }
}

void RobotState::requireOwnJoint(const JointModel* joint, const char* operation) const {
  const std::vector<const JointModel*>& joints = model_->getJointModels();
  if (!joint || joint->getJointIndex() >= joints.size() || joints[joint->getJointIndex()] != joint) {
    throw std::invalid_argument(std::string("RobotState::") + operation + ": not a joint of this state's model");
  }
}

void RobotState::requireOwnGroup(const JointModelGroup* group, const char* operation) const {
  if (!group || group->getParentModel() != model_.get()) {
    throw std::invalid_argument(std::string("RobotState::") + operation + ": not a group of this state's model");
  }
}

size_t RobotState::transformCount() const {
  return model_->getJointModelCount() + model_->getLinkModelCount() + model_->getLinkGeometryCount();
}

// One byte per joint, rounded up to whole doubles with at least one spare byte.
size_t RobotState::dirtyByteDoubles() const { return model_->getJointModelCount() / 8 + 1; }

void RobotState::allocMemory() {
  const size_t variables = model_->getVariableCount();
  const size_t doubles = 3 * variables + kDoublesPerTransform * transformCount() + dirtyByteDoubles();
  // Zeroed, so that nothing in the block is ever read uninitialised.
  block_.reset(std::calloc(doubles * sizeof(double) + kBlockAlignment - 1, 1));
  if (!block_) throw std::bad_alloc();

  const uintptr_t start = (reinterpret_cast<uintptr_t>(block_.get()) + kBlockAlignment - 1) & ~(kBlockAlignment - 1);
  auto* transforms = reinterpret_cast<Eigen::Isometry3d*>(start);
  for (size_t i = 0; i < transformCount(); ++i) new (transforms + i) Eigen::Isometry3d;
  joint_transforms_ = transforms;
  link_transforms_ = joint_transforms_ + model_->getJointModelCount();
  collision_transforms_ = link_transforms_ + model_->getLinkModelCount();
  dirty_joints_ = reinterpret_cast<unsigned char*>(collision_transforms_ + model_->getLinkGeometryCount());
  positions_ = reinterpret_cast<double*>(dirty_joints_) + dirtyByteDoubles();
  velocities_ = positions_ + variables;
  accelerations_ = velocities_ + variables;
  efforts_ = accelerations_;
}

void RobotState::initTransforms() {
  std::memset(dirty_joints_, 1, dirtyByteDoubles() * sizeof(double));
  for (size_t i = 0; i < transformCount(); ++i) joint_transforms_[i].makeAffine();
}

void RobotState::copyFrom(const RobotState& other) {
  has_velocities_ = other.has_velocities_;
  has_accelerations_ = other.has_accelerations_;
  has_efforts_ = other.has_efforts_;
  dirty_link_root_ = other.dirty_link_root_;
  dirty_collision_root_ = other.dirty_collision_root_;

  const size_t value_arrays = 1 + (has_velocities_ || has_accelerations_ || has_efforts_ ? 1 : 0) +
                              (has_accelerations_ || has_efforts_ ? 1 : 0);
  const size_t value_doubles = value_arrays * model_->getVariableCount();
  if (dirty_link_root_ && dirty_link_root_ == model_->getRootJoint()) {
    // Every transform is recomputed anyway.
    std::memcpy(positions_, other.positions_, value_doubles * sizeof(double));
    initTransforms();
  } else {
    const size_t doubles = kDoublesPerTransform * transformCount() + dirtyByteDoubles() + value_doubles;
    std::memcpy(static_cast<void*>(joint_transforms_), other.joint_transforms_, doubles * sizeof(double));
  }

  clearAttachedBodies();
  for (const auto& entry : other.attached_bodies_) attachBody(std::make_unique<AttachedBody>(*entry.second));
}

// ---- dirty bookkeeping ----

void RobotState::widenDirtyLinkRoot(const JointModel* joint) {
  dirty_link_root_ = dirty_link_root_ ? model_->getCommonRoot(dirty_link_root_, joint) : joint;
}

void RobotState::markDirtyJointTransforms(const JointModel* joint) {
  dirty_joints_[joint->getJointIndex()] = 1;
  widenDirtyLinkRoot(joint);
}

void RobotState::markAllDirty() {
  std::memset(dirty_joints_, 1, model_->getJointModelCount());
  dirty_link_root_ = model_->getRootJoint();
}

void RobotState::updateMimicJoint(const JointModel* joint) {
  const double value = positions_[joint->getFirstVariableIndex()];
  for (const JointModel* follower : joint->getMimicRequests()) {
    positions_[follower->getFirstVariableIndex()] = follower->getMimicFactor() * value + follower->getMimicOffset();
    markDirtyJointTransforms(follower);
  }
}

// ---- transforms ----

bool RobotState::checkJointTransforms(const JointModel* joint) const {
  requireOwnJoint(joint, "checkJointTransforms");
  if (dirty_joints_[joint->getJointIndex()]) {
    std::printf("Returning dirty joint transforms for joint '%s'\n", joint->getName().c_str());
    return false;
  }
  return true;
}

bool RobotState::checkLinkTransforms() const {
  if (dirty_link_root_) {
    std::puts("Returning dirty link transforms");
    return false;
  }
  return true;
}

bool RobotState::checkCollisionTransforms() const {
  if (dirty_link_root_ || dirty_collision_root_) {
    std::puts("Returning dirty collision body transforms");
    return false;
  }
  return true;
}

const Eigen::Isometry3d& RobotState::getJointTransform(const JointModel* joint) {
  requireOwnJoint(joint, "getJointTransform");
  return jointTransform(joint);
}

const Eigen::Isometry3d& RobotState::jointTransform(const JointModel* joint) {
  const size_t index = joint->getJointIndex();
  if (dirty_joints_[index]) {
    joint->computeTransform(positions_ + joint->getFirstVariableIndex(), joint_transforms_[index]);
    dirty_joints_[index] = 0;
  }
  return joint_transforms_[index];
}

const Eigen::Isometry3d& RobotState::getJointTransform(const JointModel* joint) const {
  assert(checkJointTransforms(joint));
  return joint_transforms_[joint->getJointIndex()];
}

const Eigen::Isometry3d& RobotState::getGlobalLinkTransform(const LinkModel* link) {
  requireOwnLink(link, "getGlobalLinkTransform");
  updateLinkTransforms();
  return link_transforms_[link->getLinkIndex()];
}

const Eigen::Isometry3d& RobotState::getGlobalLinkTransform(const LinkModel* link) const {
  requireOwnLink(link, "getGlobalLinkTransform");
  assert(checkLinkTransforms());
  return link_transforms_[link->getLinkIndex()];
}

const Eigen::Isometry3d& RobotState::getCollisionBodyTransform(const LinkModel* link, size_t index) const {
  requireOwnLink(link, "getCollisionBodyTransform");
  if (index >= link->getShapes().size()) {
    throw std::out_of_range("RobotState::getCollisionBodyTransform: link '" + link->getName() + "' has no shape " +
                            std::to_string(index));
  }
  assert(checkCollisionTransforms());
  return collision_transforms_[link->getFirstCollisionBodyTransformIndex() + index];
}

void RobotState::update(bool force) {
  if (force) markAllDirty();
  updateCollisionBodyTransforms();
}

void RobotState::updateLinkTransforms() {
  if (!dirty_link_root_) return;
  updateLinkTransformsInternal(dirty_link_root_);
  dirty_collision_root_ =
      dirty_collision_root_ ? model_->getCommonRoot(dirty_collision_root_, dirty_link_root_) : dirty_link_root_;
  dirty_link_root_ = nullptr;
}

void RobotState::updateLinkTransformsInternal(const JointModel* start) {
  recomputeLinksBelow(start);
  updateAttachedBodyTransforms();
}

void RobotState::recomputeLinksBelow(const JointModel* start) {
  forEachLinkFrom(start, [this](const LinkModel* link) { updateLinkTransform(link); });
}

void RobotState::updateLinkTransform(const LinkModel* link) {
  Eigen::Isometry3d& result = link_transforms_[link->getLinkIndex()];
  const Eigen::Isometry3d& origin = link->getJointOriginTransform();
  const LinkModel* parent = link->getParentLinkModel();
  if (parent && link->parentJointIsFixed()) {
    bramlock::internal::multiplyRigid(link_transforms_[parent->getLinkIndex()], origin, result);
    return;
  }
  const Eigen::Isometry3d& joint = jointTransform(link->getParentJointModel());
  if (!parent) {
    if (link->jointOriginTransformIsIdentity()) {
      result = joint;
    } else {
      bramlock::internal::multiplyRigid(origin, joint, result);
    }
    return;
  }
  const Eigen::Isometry3d& parent_transform = link_transforms_[parent->getLinkIndex()];
  if (link->jointOriginTransformIsIdentity()) {
    bramlock::internal::multiplyRigid(parent_transform, joint, result);
  } else {
    Eigen::Isometry3d placed;
    bramlock::internal::multiplyRigid(parent_transform, origin, placed);
    bramlock::internal::multiplyRigid(placed, joint, result);
  }
}

void RobotState::updateAttachedBodyTransforms() {
  for (auto& entry : attached_bodies_) {
    AttachedBody& body = *entry.second;
    body.computeTransform(link_transforms_[body.getAttachedLink()->getLinkIndex()]);
  }
}

void RobotState::updateCollisionBodyTransforms() {
  if (dirty_link_root_) updateLinkTransforms();
  if (!dirty_collision_root_) return;
  const JointModel* start = dirty_collision_root_;
  dirty_collision_root_ = nullptr;
  forEachLinkFrom(start, [this](const LinkModel* link) { updateCollisionBodies(link); });
}

void RobotState::updateCollisionBodies(const LinkModel* link) {
  const Eigen::Isometry3d& link_transform = link_transforms_[link->getLinkIndex()];
  const vector_Isometry3d& origins = link->getCollisionOriginTransforms();
  const std::vector<int>& identity = link->areCollisionOriginTransformsIdentity();
  Eigen::Isometry3d* bodies = collision_transforms_ + link->getFirstCollisionBodyTransformIndex();
  for (size_t i = 0; i < origins.size(); ++i) {
    if (identity[i]) {
      bodies[i] = link_transform;
    } else {
      bramlock::internal::multiplyRigid(link_transform, origins[i], bodies[i]);
    }
  }
}

void RobotState::updateStateWithLinkAt(const LinkModel* link, const Eigen::Isometry3d& transform, bool backward) {
  requireOwnLink(link, "updateStateWithLinkAt");
  if (!isFinite(transform) || !checkIsometry(transform, kIsometryPrecision, false)) {
    throw std::invalid_argument("RobotState::updateStateWithLinkAt: the transform is not a finite rigid motion");
  }
  updateLinkTransforms();
  const JointModel* parent_joint = link->getParentJointModel();
  dirty_collision_root_ =
      dirty_collision_root_ ? model_->getCommonRoot(dirty_collision_root_, parent_joint) : parent_joint;
  link_transforms_[link->getLinkIndex()] = transform;
  link_transforms_[link->getLinkIndex()].makeAffine();
  for (const JointModel* child : link->getChildJointModels()) recomputeLinksBelow(child);

  if (backward) {
    const LinkModel* current = link;
    while (const LinkModel* parent = current->getParentLinkModel()) {
      const JointModel* joint = current->getParentJointModel();
      // Fixed joints add nothing beyond their origin; other joints are
      // recomputed when dirty, so no stale or unset transform is inverted.
      const Eigen::Isometry3d& joint_transform = jointTransform(joint);
      const Eigen::Isometry3d placement = current->parentJointIsFixed()
                                              ? current->getJointOriginTransform()
                                              : current->getJointOriginTransform() * joint_transform;
      link_transforms_[parent->getLinkIndex()] =
          link_transforms_[current->getLinkIndex()] * placement.inverse(Eigen::Isometry);
      for (const JointModel* child : parent->getChildJointModels()) {
        if (child != joint) recomputeLinksBelow(child);
      }
      current = parent;
    }
    dirty_collision_root_ = current->getParentJointModel();
  }
  updateAttachedBodyTransforms();
}

// ---- frames ----

const Eigen::Isometry3d& RobotState::getFrameInfo(const std::string& frame_id, const LinkModel*& robot_link,
                                                  bool& frame_found) const {
  static const Eigen::Isometry3d identity = Eigen::Isometry3d::Identity();
  const std::string name = withoutLeadingSlashes(frame_id);
  if (name == model_->getModelFrame()) {
    robot_link = model_->getRootLink();
    frame_found = true;
    return identity;
  }
  robot_link = model_->getLinkModel(name, &frame_found);
  if (!robot_link) {
    frame_found = false;
    return identity;
  }
  assert(checkLinkTransforms());
  return link_transforms_[robot_link->getLinkIndex()];
}

const Eigen::Isometry3d& RobotState::getFrameTransform(const std::string& frame_id, bool* frame_found) const {
  const LinkModel* link = nullptr;
  bool found = false;
  const Eigen::Isometry3d& result = getFrameInfo(frame_id, link, found);
  if (frame_found) {
    *frame_found = found;
  } else if (!found) {
    std::printf("getFrameTransform() did not find a frame with name %s.\n", frame_id.c_str());
  }
  return result;
}

const Eigen::Isometry3d& RobotState::getFrameTransform(const std::string& frame_id, bool* frame_found) {
  updateLinkTransforms();
  return static_cast<const RobotState*>(this)->getFrameTransform(frame_id, frame_found);
}

bool RobotState::knowsFrameTransform(const std::string& frame_id) const {
  const std::string name = withoutLeadingSlashes(frame_id);
  if (model_->hasLinkModel(name)) return true;
  const auto body = attached_bodies_.find(name);
  return body != attached_bodies_.end() && !body->second->getGlobalCollisionBodyTransforms().empty();
}

}  // namespace core
}  // namespace moveit
