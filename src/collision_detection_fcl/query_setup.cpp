#include "query_setup.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"

namespace bramlock {
namespace internal {

using namespace collision_detection;

namespace {

const LinkModelSet* lookUpGroupLinks(const moveit::core::RobotModel& model, const std::string& group_name) {
  if (!model.hasJointModelGroup(group_name)) return nullptr;
  return &model.getJointModelGroup(group_name)->getUpdatedLinkModelsSet();
}

// The calling thread's last answer: queries ask for the same model and group
// over and over. The weak pointer holds the model's control block, so no
// other model can take the remembered one's place unnoticed.
struct LastGroup {
  std::weak_ptr<const moveit::core::RobotModel> owner;
  const moveit::core::RobotModel* model = nullptr;
  std::string name;
  const LinkModelSet* links = nullptr;

  bool answers(const std::shared_ptr<const moveit::core::RobotModel>& asked, const std::string& group_name) const {
    return model == asked.get() && !owner.owner_before(asked) && !asked.owner_before(owner) && name == group_name;
  }
};

}  // namespace

const LinkModelSet* groupLinks(const std::shared_ptr<const moveit::core::RobotModel>& model,
                               const std::string& group_name) {
  thread_local LastGroup last;
  if (!last.answers(model, group_name)) last = {model, model.get(), group_name, lookUpGroupLinks(*model, group_name)};
  return last.links;
}

DistanceRequest distanceRequestFor(const CollisionRequest& req, const AllowedCollisionMatrix* acm,
                                   const LinkModelSet* active_links) {
  DistanceRequest dreq;
  dreq.group_name = req.group_name;
  dreq.active_links = active_links;
  dreq.acm = acm;
  return dreq;
}

namespace {

// Squared sizes of boxes this far apart still fit in a double.
constexpr double kLargestCoordinate = 1e100;

// Read through the pose itself: FCL's rotation and translation getters return copies.
bool isPlaceable(const fcl::CollisionObjectd& object) {
  const Eigen::Matrix4d& pose = object.getTransform().matrix();
  return pose.topLeftCorner<3, 3>().allFinite() &&
         (pose.topRightCorner<3, 1>().cwiseAbs().array() <= kLargestCoordinate).all();
}

}  // namespace

bool posesArePlaceable(const std::vector<fcl::CollisionObjectd*>& objects) {
  return std::all_of(objects.begin(), objects.end(),
                     [](const fcl::CollisionObjectd* object) { return isPlaceable(*object); });
}

bool posesArePlaceable(const FCLObject& objects) {
  return std::all_of(objects.objects.begin(), objects.objects.end(),
                     [](const FCLCollisionObjectPtr& object) { return isPlaceable(*object); });
}

bool placeRobotObjects(const CollisionRobot& robot, const moveit::core::RobotState& state, PlacedRobot& objects) {
  placeObjects(dynamic_cast<const CollisionRobotFCL&>(robot), state, objects);
  return posesArePlaceable(objects.objects);
}

void collideObjects(fcl::BroadPhaseCollisionManagerd& manager, const std::vector<fcl::CollisionObjectd*>& objects,
                    const CollisionData& cdata, void* data, fcl::CollisionCallBack<double> callback) {
  for (size_t i = 0; i < objects.size() && !cdata.done; ++i) manager.collide(objects[i], data, callback);
}

void collideObjects(fcl::BroadPhaseCollisionManagerd& manager, const std::vector<fcl::CollisionObjectd*>& objects,
                    CollisionData& cdata) {
  collideObjects(manager, objects, cdata, &cdata, &collisionCallback);
}

void measureObjects(fcl::BroadPhaseCollisionManagerd& manager, const std::vector<fcl::CollisionObjectd*>& objects,
                    const DistanceRequest& req, DistanceResult& res) {
  DistanceData ddata(&req, &res);
  for (size_t i = 0; i < objects.size() && !ddata.done; ++i) manager.distance(objects[i], &ddata, &distanceCallback);
}

namespace {

void printUnplacedState() {
  std::puts(
      "collision_detection.fcl----Robot state has poses that are not finite or too far out: reported as a collision");
}

}  // namespace

void reportUnplacedState(CollisionResult& res) {
  printUnplacedState();
  res.collision = true;
  res.distance = 0.0;
}

void reportUnplacedState(DistanceResult& res) {
  printUnplacedState();
  res.collision = true;
  res.minimum_distance.distance = 0.0;
}

void reportContinuousUnsupported() {
  std::printf("collision_detection.fcl----FCL continuous collision checking not yet implemented");
}

}  // namespace internal
}  // namespace bramlock
