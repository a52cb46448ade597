// Attached bodies, paddings and the checked interpolation of a motion.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>

#include <geometric_shapes/mesh_operations.h>
#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/collision_detection/world.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/console_color_codes.h"
#include "bramlock_arm_planning_core/logger.h"
#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/attached_body.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "collision_detection_fcl/solid_mesh_model.h"
#include "common/value_checks.h"
#include "mesh_file/mesh_file.h"
#include "motion_sweep.h"

namespace {

const std::string kBaseLink = "base_link";
const std::string kLinkLookupFailed = "getTcpLink error in processAttachedCollisionObject";
const std::string kUnusableBox = "box size or pose of the attached object is not usable";

bool usableBox(const double* size) {
  if (!size) return false;
  for (int i = 0; i < 3; ++i) {
    if (!(size[i] > 0.0 && size[i] <= ManipulatorPlanScene::kMaxPaddingOrScale)) return false;
  }
  return true;
}

// A rigid pose within reach of the link: offsets beyond kMaxPaddingOrScale
// put the body where its bounding box cannot be placed.
bool attachablePose(const Eigen::Matrix4d& pose) {
  return bramlock::internal::isRigidPose(pose) &&
         pose.topRightCorner<3, 1>().cwiseAbs().maxCoeff() <= ManipulatorPlanScene::kMaxPaddingOrScale;
}

// Scaled geometry farther out than kMaxPaddingOrScale (or not finite)
// overflows FCL's bounding volumes as far-out poses do, and no motion sweep
// over it could be stepped through.
bool withinReach(const moveit::core::AttachedBody& body) {
  for (const auto& shape : body.getUnpaddedShapes()) {
    if (!(bramlock::internal::geometryReach(*shape, Eigen::Isometry3d::Identity()) <=
          ManipulatorPlanScene::kMaxPaddingOrScale)) {
      return false;
    }
  }
  return true;
}

Eigen::Isometry3d isometryOf(const Eigen::Matrix4d& pose) {
  Eigen::Isometry3d transform;
  transform.matrix() = pose;
  return transform;
}

// The body as it would be attached: one shape at a finite pose, scaled and
// padded (values out of range replaced, as the body does); null when the body
// refuses the shape as one the checkers cannot see.
std::unique_ptr<moveit::core::AttachedBody> bodyOf(const std::string& id, const moveit::core::LinkModel* link,
                                                   const std::shared_ptr<const shapes::Shape>& shape,
                                                   const std::set<std::string>& touch_links,
                                                   const Eigen::Matrix4d& pose, double scale, double padding) {
  moveit::core::vector_Isometry3d poses{isometryOf(pose)};
  std::unique_ptr<moveit::core::AttachedBody> body;
  try {
    body = std::make_unique<moveit::core::AttachedBody>(link, id, moveit::core::AttachedBody::ShapeList{shape}, poses,
                                                        touch_links);
  } catch (const std::invalid_argument&) {
    return nullptr;
  }
  body->setScale(scale);
  body->setPadding(padding);
  return body;
}

std::string joined(const std::vector<double>& values) {
  std::ostringstream text;
  for (size_t i = 0; i < values.size(); ++i) text << (i ? "," : "") << values[i];
  return text.str();
}

}  // namespace

void ManipulatorPlanScene::attachBody(std::unique_ptr<moveit::core::AttachedBody> body) {
  const std::string id = body->getName();
  const shapes::ShapeConstPtr unpadded =
      body->getUnpaddedShapes().empty() ? nullptr : body->getUnpaddedShapes().front();
  // Attaching replaces a body of the same id only once the new one is accepted.
  robot_state_->attachBody(std::move(body));
  tellCheckersAboutAttachedBodies();
  // Built by the checkers just now: a mesh without an inside is tested by its triangles alone.
  const auto solid = bramlock::internal::meshSolidOf(unpadded, 1.0);
  if (solid && !solid->isSolid()) {
    BRAMLOCK_WARN("attached mesh '{}' is an open surface, not a solid (an obstacle wholly inside it is not seen)", id);
  }
}

// The checkers pair their attached-body geometry with the state's bodies, so
// every change of the bodies must reach all four of them.
void ManipulatorPlanScene::tellCheckersAboutAttachedBodies() {
  forgetGeometry();
  for (const auto& robot :
       {collision_robot_, collision_robot_gripper_, collision_robot_unpadded_, collision_robot_unpadded_simplify_}) {
    robot->updatedAttachBodyGeometry(*robot_state_);
  }
}

int ManipulatorPlanScene::addAttachedCollisionObjectToLink(const std::string& id, const std::string& link_name,
                                                           std::set<std::string> touch_links, Eigen::Matrix4d pose,
                                                           double* box_size, double scale, double padding) {
  if (!usableBox(box_size) || !attachablePose(pose)) {
    std::puts(kUnusableBox.c_str());
    return -1;
  }
  const moveit::core::LinkModel* link = nullptr;
  if (getLink(link_name, link) != 0) {
    std::puts(kLinkLookupFailed.c_str());
    return -1;
  }
  auto body = bodyOf(id, link, std::make_shared<const shapes::Box>(box_size[0], box_size[1], box_size[2]), touch_links,
                     pose, scale, padding);
  if (!body || !withinReach(*body)) {
    std::puts(kUnusableBox.c_str());
    return -1;
  }
  if (world_->hasObject(id)) world_->removeObject(id);
  robot_state_->update(false);
  const char* format = robot_state_->hasAttachedBody(id)
                           ? "robot_state_ does hasAttachedBody,shapes '%s' attached to tcp link '%s' (%f %f %f)\n"
                           : "robot_state_ not hasAttachedBody,shapes '%s' attached to link '%s' (%f %f %f)\n";
  std::printf(format, id.c_str(), link_name.c_str(), box_size[0], box_size[1], box_size[2]);
  attachBody(std::move(body));
  return 0;
}

int ManipulatorPlanScene::addAttachedEndEffectorToLink(const std::string& id, const std::string& link_name,
                                                       std::set<std::string> touch_links, Eigen::Matrix4d pose,
                                                       std::string mesh_path, double scale, double padding) {
  std::shared_ptr<const shapes::Shape> mesh;
  try {
    const bramlock::internal::MeshFile file = bramlock::internal::loadMeshFile(mesh_path);
    mesh = file.mesh;
    if (!mesh) {
      BRAMLOCK_ERROR("mesh {} {}", mesh_path, file.reason);
      return -1;
    }
    BRAMLOCK_INFO("Mesh created from path: {}", mesh_path);
  } catch (const std::exception& e) {
    BRAMLOCK_ERROR("Exception: {}", e.what());
    return -1;
  }
  if (!attachablePose(pose)) {
    BRAMLOCK_ERROR("pose of the attached end effector is not a rigid pose near its link");
    return -1;
  }
  const moveit::core::LinkModel* link = nullptr;
  if (getLink(link_name, link) != 0) {
    BRAMLOCK_ERROR("{}", kLinkLookupFailed);
    return -1;
  }
  auto body = bodyOf(id, link, mesh, touch_links, pose, scale, padding);
  if (!body || !withinReach(*body)) {
    BRAMLOCK_ERROR(
        "mesh {} has a vertex that is not finite or lies farther than {:g} m from its frame (scale {:g}), or a "
        "triangle naming a vertex it lacks",
        mesh_path, kMaxPaddingOrScale, body ? body->getScale() : scale);
    return -1;
  }
  robot_state_->update(false);
  if (robot_state_->hasAttachedBody(id)) {
    BRAMLOCK_INFO("{}robot_state_ has AttachedBody,shapes '{}' attached to link '{}' {}", DIM, id, link_name, RESET);
  } else {
    BRAMLOCK_INFO("{}robot_state_ has not AttachedBody,shapes '{}' attached to link '{}' {}", DIM, id, link_name,
                  RESET);
  }
  attachBody(std::move(body));
  return 0;
}

int ManipulatorPlanScene::removeAttachedCollisionObjectFromLink(const std::string& id) {
  if (robot_state_->hasAttachedBody(id)) robot_state_->clearAttachedBody(id);
  std::printf("remove '%s' AttachedBody \n", id.c_str());
  tellCheckersAboutAttachedBodies();
  return 0;
}

// A gripper shows as a joint of the planned group that is not active.
bool ManipulatorPlanScene::hasGripper() const {
  return planned_group_ && planned_group_->getActiveJointModels().size() < planned_group_->getJointModels().size();
}

bool ManipulatorPlanScene::paddingAllowed(double padding) const {
  if (!hasGripper()) {
    std::puts("The robot does not have gripper.");
    return false;
  }
  if (!std::isfinite(padding)) {
    std::puts("padding must be finite.");
    return false;
  }
  if (std::abs(padding) > kMaxPaddingOrScale) {
    std::puts("padding must be at most 1e6.");
    return false;
  }
  return true;
}

// A gripper link the model lacks (or none given) would take the padding
// without any geometry changing.
bool ManipulatorPlanScene::gripperPaddingAllowed(double padding) const {
  return paddingAllowed(padding) && gripperLinkKnown();
}

bool ManipulatorPlanScene::gripperLinkKnown() const {
  if (robot_model_->hasLinkModel(gripper_link_name_)) return true;
  std::printf("gripper link '%s' is not a link of the robot.\n", gripper_link_name_.c_str());
  return false;
}

int ManipulatorPlanScene::setGripperPadding(double padding) {
  if (!gripperPaddingAllowed(padding)) return -1;
  collision_robot_->setLinkPadding(gripper_link_name_, padding);
  forgetGeometry();
  return 0;
}

int ManipulatorPlanScene::setGripperPadding(std::shared_ptr<collision_detection::CollisionRobot> robot,
                                            double padding) {
  if (!robot || !gripperPaddingAllowed(padding)) return -1;
  std::cout << "gripper_name:" << gripper_link_name_ << std::endl;
  robot->setLinkPadding(gripper_link_name_, padding);
  forgetGeometry();
  return 0;
}

int ManipulatorPlanScene::setRobotPadding(double padding) {
  if (!paddingAllowed(padding)) return -1;
  // One rebuild of the padded geometry for all links at once.
  std::map<std::string, double> paddings{{kBaseLink, 0.0}};
  const std::vector<std::string>& links = planned_group_->getLinkModelNames();
  for (size_t i = 2; i < links.size(); ++i) paddings[links[i]] = padding;
  collision_robot_->setLinkPadding(paddings);
  collision_robot_gripper_->setLinkPadding(kBaseLink, 0.0);
  forgetGeometry();
  return 0;
}

int ManipulatorPlanScene::recoverRobotPadding() { return setRobotPadding(robot_padding_); }

std::vector<std::vector<double>> ManipulatorPlanScene::interpolate(double* from, double* to) {
  std::vector<std::vector<double>> states;
  unsigned int segments = 0;
  if (!prepareMotion(from, to, CheckRoad::kPlanning, segments)) return states;
  for (unsigned int k = 1; k < segments; ++k) {
    interpolateSegment(k, segments);
    if (isValid(planned_input_state_)) {
      states.push_back(motion_scratch_);
    } else {
      BRAMLOCK_WARN("interpolate failed,joints is {}", joined(motion_scratch_));
    }
  }
  return states;
}
