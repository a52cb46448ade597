#include "bramlock_arm_planning_core/collision_detection/collision_robot.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "bramlock_arm_planning_core/robot_model/robot_model.h"

namespace collision_detection {

namespace {

constexpr double kNoPadding = 0.0;
constexpr double kNoScale = 1.0;

// Each check prints why it refuses a value.
bool isFinitePadding(double padding) {
  if (std::isfinite(padding)) return true;
  std::printf("collision_detection---Padding must be finite");
  return false;
}

bool isValidPadding(double padding) {
  if (padding < 0.0) {
    std::printf("collision_detection---Padding cannot be negative");
    return false;
  }
  return isFinitePadding(padding);
}

bool isValidScale(double scale) {
  if (scale < std::numeric_limits<double>::epsilon()) {
    std::printf("collision_detection---Scale must be positive");
    return false;
  }
  if (!std::isfinite(scale)) {
    std::printf("collision_detection---Scale must be finite");
    return false;
  }
  return true;
}

double valueOr(const std::map<std::string, double>& values, const std::string& link, double absent) {
  const auto it = values.find(link);
  return it == values.end() ? absent : it->second;
}

const std::shared_ptr<const moveit::core::RobotModel>& checkedModel(
    const std::shared_ptr<const moveit::core::RobotModel>& model) {
  if (!model) throw std::invalid_argument("collision_detection---Robot model must not be null");
  return model;
}

}  // namespace

CollisionRobot::CollisionRobot(const RobotModelConstPtr& model, double padding, double scale)
    : robot_model(checkedModel(model)) {
  if (!isValidScale(scale)) scale = kNoScale;
  if (!isValidPadding(padding)) padding = kNoPadding;
  for (const std::string& link : robot_model->getLinkModelNamesWithCollisionGeometry()) {
    link_padding[link] = padding;
    link_scale[link] = scale;
  }
}

CollisionRobot::CollisionRobot(const CollisionRobot& other) = default;

CollisionRobot::~CollisionRobot() = default;

void CollisionRobot::updatedAttachBodyGeometry(const RobotState& state) {}

void CollisionRobot::updatedPaddingOrScaling(const std::vector<std::string>& links) {}

double CollisionRobot::getLinkPadding(const std::string& link) const { return valueOr(link_padding, link, kNoPadding); }

double CollisionRobot::getLinkScale(const std::string& link) const { return valueOr(link_scale, link, kNoScale); }

void CollisionRobot::setLinkPadding(const std::string& link, double padding) {
  setForLinks(link_padding, {{link, padding}}, kNoPadding, isFinitePadding);
}

void CollisionRobot::setLinkPadding(const std::map<std::string, double>& padding) {
  setForLinks(link_padding, padding, kNoPadding, isFinitePadding);
}

void CollisionRobot::setLinkScale(const std::string& link, double scale) {
  setForLinks(link_scale, {{link, scale}}, kNoScale, isValidScale);
}

void CollisionRobot::setLinkScale(const std::map<std::string, double>& scale) {
  setForLinks(link_scale, scale, kNoScale, isValidScale);
}

void CollisionRobot::setPadding(double padding) {
  if (isValidPadding(padding)) setForEveryCollisionLink(link_padding, padding, kNoPadding);
}

void CollisionRobot::setScale(double scale) {
  if (isValidScale(scale)) setForEveryCollisionLink(link_scale, scale, kNoScale);
}

void CollisionRobot::setForEveryCollisionLink(std::map<std::string, double>& values, double value, double absent) {
  std::vector<std::string> changed;
  for (const std::string& link : robot_model->getLinkModelNamesWithCollisionGeometry()) {
    if (valueOr(values, link, absent) != value) changed.push_back(link);
    values[link] = value;
  }
  if (!changed.empty()) updatedPaddingOrScaling(changed);
}

void CollisionRobot::setForLinks(std::map<std::string, double>& values, const std::map<std::string, double>& new_values,
                                 double absent, bool (*accept)(double)) {
  std::vector<std::string> changed;
  for (const auto& entry : new_values) {
    if (!accept(entry.second)) continue;
    if (valueOr(values, entry.first, absent) != entry.second) changed.push_back(entry.first);
    values[entry.first] = entry.second;
  }
  if (!changed.empty()) updatedPaddingOrScaling(changed);
}

}  // namespace collision_detection
