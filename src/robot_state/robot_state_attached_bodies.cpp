#include <cstdio>
#include <stdexcept>

#include "bramlock_arm_planning_core/robot_state/robot_state.h"

namespace moveit {
namespace core {

void RobotState::attachBody(std::unique_ptr<AttachedBody> attached_body) {
  if (!attached_body) throw std::invalid_argument("RobotState::attachBody: null body");
  std::puts("--------------------RobotState::attachBody--------------------0");
  // Checked before a body of the same id is replaced, so a failed attach loses nothing.
  const LinkModel* link = attached_body->getAttachedLink();
  if (!ownsLink(link)) throw std::runtime_error("Invalid link.");
  clearAttachedBody(attached_body->getName());
  updateLinkTransforms();
  attached_body->computeTransform(link_transforms_[link->getLinkIndex()]);
  if (attached_body_callback_) attached_body_callback_(attached_body.get(), true);
  const std::string id = attached_body->getName();
  attached_bodies_[id] = std::move(attached_body);
}

bool RobotState::hasAttachedBody(const std::string& id) const { return attached_bodies_.count(id) > 0; }

const AttachedBody* RobotState::getAttachedBody(const std::string& id) const {
  const auto found = attached_bodies_.find(id);
  if (found == attached_bodies_.end()) {
    std::printf("Attached body '%s' not found\n", id.c_str());
    return nullptr;
  }
  return found->second.get();
}

void RobotState::getAttachedBodies(std::vector<const AttachedBody*>& attached_bodies) const {
  attached_bodies.clear();
  attached_bodies.reserve(attached_bodies_.size());
  for (const auto& entry : attached_bodies_) attached_bodies.push_back(entry.second.get());
}

void RobotState::getAttachedBodies(std::vector<const AttachedBody*>& attached_bodies, const LinkModel* link) const {
  attached_bodies.clear();
  for (const auto& entry : attached_bodies_) {
    if (entry.second->getAttachedLink() == link) attached_bodies.push_back(entry.second.get());
  }
}

void RobotState::reportRemoval(AttachedBody* body) const {
  if (attached_body_callback_) attached_body_callback_(body, false);
}

bool RobotState::clearAttachedBody(const std::string& id) {
  const auto found = attached_bodies_.find(id);
  if (found == attached_bodies_.end()) return false;
  reportRemoval(found->second.get());
  attached_bodies_.erase(found);
  return true;
}

template <typename Predicate>
void RobotState::clearAttachedBodiesIf(const Predicate& predicate) {
  for (auto it = attached_bodies_.begin(); it != attached_bodies_.end();) {
    if (predicate(*it->second)) {
      reportRemoval(it->second.get());
      it = attached_bodies_.erase(it);
    } else {
      ++it;
    }
  }
}

void RobotState::clearAttachedBodies() {
  clearAttachedBodiesIf([](const AttachedBody&) { return true; });
}

void RobotState::clearAttachedBodies(const LinkModel* link) {
  clearAttachedBodiesIf([link](const AttachedBody& body) { return body.getAttachedLink() == link; });
}

void RobotState::getAttachedBodies(std::vector<const AttachedBody*>& attached_bodies,
                                   const JointModelGroup* group) const {
  requireOwnGroup(group, "getAttachedBodies");
  attached_bodies.clear();
  for (const auto& entry : attached_bodies_) {
    if (group->hasLinkModel(entry.second->getAttachedLinkName())) attached_bodies.push_back(entry.second.get());
  }
}

void RobotState::clearAttachedBodies(const JointModelGroup* group) {
  requireOwnGroup(group, "clearAttachedBodies");
  clearAttachedBodiesIf([group](const AttachedBody& body) { return group->hasLinkModel(body.getAttachedLinkName()); });
}

}  // namespace core
}  // namespace moveit
