#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"

#include <algorithm>
#include <cassert>
#include <cstdio>

#include <fcl/broadphase/broadphase_dynamic_AABB_tree.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "pair_verdicts.h"
#include "query_setup.h"

namespace collision_detection {

using bramlock::internal::collideObjects;
using bramlock::internal::distanceRequestFor;
using bramlock::internal::measureObjects;
using bramlock::internal::PairVerdictCache;
using bramlock::internal::PairVerdicts;
using bramlock::internal::placeRobotObjects;
using bramlock::internal::reportContinuousUnsupported;
using bramlock::internal::reportUnplacedState;

namespace {

WorldPtr orNewWorld(const WorldPtr& world) { return world ? world : std::make_shared<World>(); }

// A robot object's pairs with the mirrored objects: the mirrored object
// (o1) is found among the listed ones by address, the robot object by its index.
struct VerdictData {
  CollisionData* cdata;
  const PairVerdicts* verdicts;
  const std::vector<fcl::CollisionObjectd*>* listed;
};

bool worldVerdictCallback(fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, void* data) {
  const VerdictData& known = *static_cast<const VerdictData*>(data);
  if (known.cdata->done) return true;
  const auto row = std::lower_bound(known.listed->begin(), known.listed->end(), o1);
  assert(row != known.listed->end() && *row == o1);
  const size_t index = static_cast<size_t>(row - known.listed->begin());
  return bramlock::internal::actOnVerdict(known.verdicts->of(index, bramlock::internal::sideIndex(o2)), o1, o2,
                                          *known.cdata);
}

}  // namespace

const std::string CollisionDetectorAllocatorFCL::NAME = "FCL";

CollisionWorldFCL::CollisionWorldFCL()
    : CollisionWorld(),
      manager(std::make_unique<fcl::DynamicAABBTreeCollisionManagerd>()),
      verdicts(std::make_unique<PairVerdictCache>()) {
  observe();
  objectsChanged();
}

CollisionWorldFCL::CollisionWorldFCL(const WorldPtr& world)
    : CollisionWorld(orNewWorld(world)),
      manager(std::make_unique<fcl::DynamicAABBTreeCollisionManagerd>()),
      verdicts(std::make_unique<PairVerdictCache>()) {
  observe();
  objectsChanged();
  this->world->notifyObserverAllObjects(observer_handle, World::CREATE);
}

CollisionWorldFCL::CollisionWorldFCL(const CollisionWorldFCL& other, const WorldPtr& world)
    : CollisionWorld(other, orNewWorld(world)),
      manager(std::make_unique<fcl::DynamicAABBTreeCollisionManagerd>()),
      objects_by_id(other.objects_by_id),
      verdicts(std::make_unique<PairVerdictCache>()) {
  for (auto& entry : objects_by_id) entry.second.registerTo(manager.get());
  observe();
  objectsChanged();
}

CollisionWorldFCL::~CollisionWorldFCL() { world->removeObserver(observer_handle); }

void CollisionWorldFCL::observe() {
  observer_handle = world->addObserver(
      [this](const World::ObjectConstPtr& obj, World::Action action) { notifyObjectChange(obj, action); });
}

void CollisionWorldFCL::constructFCLObject(const World::Object* obj, FCLObject& fcl_obj) const {
  for (size_t i = 0; i < obj->shapes.size(); ++i) {
    FCLGeometryConstPtr geometry = createCollisionGeometry(obj->shapes[i], obj);
    if (!geometry) {
      // Checks would pass through this shape unseen (sizes not finite, or a type FCL lacks).
      std::printf("world object '%s': shape %zu gets no collision geometry\n", obj->id.c_str(), i);
      continue;
    }
    fcl_obj.objects.push_back(std::make_shared<fcl::CollisionObjectd>(geometry->geometry, obj->shape_poses[i]));
    fcl_obj.geometries.push_back(std::move(geometry));
  }
}

void CollisionWorldFCL::updateFCLObject(const std::string& id) {
  std::puts("CollisionWorldFCL::updateFCLObject");
  // One search of the mirror per update: adding objects one by one stays cheap.
  const auto [mirrored, fresh] = objects_by_id.try_emplace(id);
  if (!fresh) {
    mirrored->second.unregisterFrom(manager.get());
    mirrored->second.clear();
  }
  const World::ObjectConstPtr obj = world_const->getObject(id);
  if (!obj) {
    objects_by_id.erase(mirrored);
    objectsChanged();
    return;
  }
  FCLObject& fcl_obj = mirrored->second;
  constructFCLObject(obj.get(), fcl_obj);
  fcl_obj.registerTo(manager.get());
  objectsChanged();
}

void CollisionWorldFCL::notifyObjectChange(const World::ObjectConstPtr& obj, World::Action action) {
  if (action != World::DESTROY) {
    updateFCLObject(obj->id);
    return;
  }
  auto mirrored = objects_by_id.find(obj->id);
  if (mirrored == objects_by_id.end()) return;
  mirrored->second.unregisterFrom(manager.get());
  objects_by_id.erase(mirrored);
  objectsChanged();
}

void CollisionWorldFCL::objectsChanged() {
  listing_current.store(false, std::memory_order_release);
  owners_revision = bramlock::internal::freshOwnersRevision();
  verdicts->clear();
}

const std::vector<fcl::CollisionObjectd*>& CollisionWorldFCL::listedObjects() const {
  if (listing_current.load(std::memory_order_acquire)) return listed_objects;
  const std::lock_guard<std::mutex> lock(listing_mutex);
  if (!listing_current.load(std::memory_order_relaxed)) {
    listed_objects.clear();
    for (const auto& entry : objects_by_id) {
      for (const FCLCollisionObjectPtr& object : entry.second.objects) listed_objects.push_back(object.get());
    }
    std::sort(listed_objects.begin(), listed_objects.end());
    listing_current.store(true, std::memory_order_release);
  }
  return listed_objects;
}

void CollisionWorldFCL::setWorld(const WorldPtr& new_world) {
  if (new_world && new_world == world) return;
  world->removeObserver(observer_handle);
  manager->clear();
  objects_by_id.clear();
  objectsChanged();
  cleanCollisionGeometryCache();
  CollisionWorld::setWorld(new_world);
  observe();
  world->notifyObserverAllObjects(observer_handle, World::CREATE);
}

void CollisionWorldFCL::checkRobotCollision(const CollisionRequest& req, CollisionResult& res,
                                            const CollisionRobot& robot, const RobotState& state) const {
  checkRobotCollisionHelper(req, res, robot, state, nullptr);
}

void CollisionWorldFCL::checkRobotCollision(const CollisionRequest& req, CollisionResult& res,
                                            const CollisionRobot& robot, const RobotState& state,
                                            const AllowedCollisionMatrix& acm) const {
  checkRobotCollisionHelper(req, res, robot, state, &acm);
}

void CollisionWorldFCL::checkRobotCollision(const CollisionRequest&, CollisionResult&, const CollisionRobot&,
                                            const RobotState&, const RobotState&) const {
  reportContinuousUnsupported();
}

void CollisionWorldFCL::checkRobotCollision(const CollisionRequest&, CollisionResult&, const CollisionRobot&,
                                            const RobotState&, const RobotState&, const AllowedCollisionMatrix&) const {
  reportContinuousUnsupported();
}

void CollisionWorldFCL::checkWorldCollision(const CollisionRequest& req, CollisionResult& res,
                                            const CollisionWorld& other_world) const {
  checkWorldCollisionHelper(req, res, other_world, nullptr);
}

void CollisionWorldFCL::checkWorldCollision(const CollisionRequest& req, CollisionResult& res,
                                            const CollisionWorld& other_world,
                                            const AllowedCollisionMatrix& acm) const {
  checkWorldCollisionHelper(req, res, other_world, &acm);
}

void CollisionWorldFCL::checkRobotCollisionHelper(const CollisionRequest& req, CollisionResult& res,
                                                  const CollisionRobot& robot, const RobotState& state,
                                                  const AllowedCollisionMatrix* acm) const {
  bramlock::internal::PlacedRobot robot_objects;
  if (!placeRobotObjects(robot, state, robot_objects)) return reportUnplacedState(res);
  CollisionData cdata(&req, &res, acm);
  cdata.enableGroup(robot.getRobotModel());
  if (req.verbose) {
    collideObjects(*manager, robot_objects.objects, cdata);
  } else {
    collideByVerdicts(robot_objects, cdata);
  }
  if (req.compute_distance) {
    DistanceResult dres;
    measureObjects(*manager, robot_objects.objects, distanceRequestFor(req, acm, cdata.active_links), dres);
    res.distance = dres.minimum_distance.distance;
  }
}

// Each robot object against the manager, as collideObjects goes, with the
// verdicts taken from the table remembered for these owners.
void CollisionWorldFCL::collideByVerdicts(const bramlock::internal::PlacedRobot& robot_objects,
                                          CollisionData& cdata) const {
  const std::vector<fcl::CollisionObjectd*>& listed = listedObjects();
  const std::shared_ptr<const PairVerdicts> known =
      verdicts->verdicts({owners_revision, &listed, listed.size()},
                         {robot_objects.owners_revision, &robot_objects.objects, robot_objects.linkCount()}, cdata);
  VerdictData data{&cdata, known.get(), &listed};
  collideObjects(*manager, robot_objects.objects, cdata, &data, &worldVerdictCallback);
}

void CollisionWorldFCL::checkWorldCollisionHelper(const CollisionRequest& req, CollisionResult& res,
                                                  const CollisionWorld& other_world,
                                                  const AllowedCollisionMatrix* acm) const {
  const auto& other = dynamic_cast<const CollisionWorldFCL&>(other_world);
  CollisionData cdata(&req, &res, acm);
  manager->collide(other.manager.get(), &cdata, &collisionCallback);
  if (req.compute_distance) {
    DistanceResult dres;
    distanceWorld(distanceRequestFor(req, acm, nullptr), dres, other_world);
    res.distance = dres.minimum_distance.distance;
  }
}

void CollisionWorldFCL::distanceRobot(const DistanceRequest& req, DistanceResult& res, const CollisionRobot& robot,
                                      const RobotState& state) const {
  bramlock::internal::PlacedRobot robot_objects;
  if (!placeRobotObjects(robot, state, robot_objects)) return reportUnplacedState(res);
  measureObjects(*manager, robot_objects.objects, req, res);
}

void CollisionWorldFCL::distanceWorld(const DistanceRequest& req, DistanceResult& res,
                                      const CollisionWorld& other_world) const {
  const auto& other = dynamic_cast<const CollisionWorldFCL&>(other_world);
  DistanceData ddata(&req, &res);
  manager->distance(other.manager.get(), &ddata, &distanceCallback);
}

}  // namespace collision_detection
