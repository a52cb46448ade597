#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"

#include <cassert>
#include <cstdio>

#include <fcl/broadphase/broadphase_dynamic_AABB_tree.h>

#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/attached_body.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "object_tree.h"
#include "octree_prefilter.h"
#include "pair_verdicts.h"
#include "placed_blocks.h"
#include "query_setup.h"

namespace collision_detection {

using bramlock::internal::actOnVerdict;
using bramlock::internal::collideObjects;
using bramlock::internal::distanceRequestFor;
using bramlock::internal::LeasedObjectTree;
using bramlock::internal::measureObjects;
using bramlock::internal::PairVerdictCache;
using bramlock::internal::PairVerdicts;
using bramlock::internal::PlacedRobot;
using bramlock::internal::placeRobotObjects;
using bramlock::internal::posesArePlaceable;
using bramlock::internal::reportContinuousUnsupported;
using bramlock::internal::reportUnplacedState;
using bramlock::internal::sideIndex;

namespace {

// Builds this robot's broad phase at `state` and the other robot's objects at
// `other_state`; false when a pose of either cannot be placed.
bool placeBothRobots(const CollisionRobotFCL& robot, const moveit::core::RobotState& state,
                     const CollisionRobot& other_robot, const moveit::core::RobotState& other_state,
                     FCLManager& manager, PlacedRobot& other_objects) {
  const bool other_placed = placeRobotObjects(other_robot, other_state, other_objects);
  return robot.allocSelfCollisionBroadPhase(state, manager) && other_placed;
}

// The robot's objects at `state` and the broad-phase tree over them; false
// (no tree built) when a pose cannot be placed.
bool placeSelfTree(const CollisionRobotFCL& robot, const moveit::core::RobotState& state, PlacedRobot& objects,
                   LeasedObjectTree& tree) {
  placeObjects(robot, state, objects);
  if (!posesArePlaceable(objects.objects)) return false;
  tree->build(objects.objects);
  return true;
}

// Whether a pair that the callback would test may collide. The tree hands
// over exactly the pairs whose boxes overlap, and the narrow phase finds
// nothing between objects provably apart, in whichever order the tree puts
// them (cost requests take every pair to the narrow phase, as the callback does).
bool testedPairMayCollide(const std::vector<fcl::CollisionObjectd*>& objects, const PairVerdicts& verdicts,
                          const CollisionRequest& req) {
  for (const auto& [first, second] : verdicts.testedPairs()) {
    const fcl::CollisionObjectd& a = *objects[first];
    const fcl::CollisionObjectd& b = *objects[second];
    if (!a.getAABB().overlap(b.getAABB())) continue;
    if (req.compute_cost || !bramlock::internal::provablyApart(a, b)) return true;
  }
  return false;
}

struct VerdictData {
  CollisionData* cdata;
  const PairVerdicts* verdicts;
};

bool selfVerdictCallback(fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, void* data) {
  const VerdictData& known = *static_cast<const VerdictData*>(data);
  if (known.cdata->done) return true;
  return actOnVerdict(known.verdicts->of(sideIndex(o1), sideIndex(o2)), o1, o2, *known.cdata);
}

// An object of the geometry at the origin, its box taken from the geometry's
// local box as it stands. FCL's constructors (all but the one given no
// geometry) measure that box again over every vertex, writing it into a
// geometry that queries of other checkers may be reading meanwhile.
class PrototypeObject : public fcl::CollisionObjectd {
 public:
  explicit PrototypeObject(const std::shared_ptr<fcl::CollisionGeometryd>& geometry) : fcl::CollisionObjectd(nullptr) {
    cgeom = geometry;
    cgeom_const = geometry;
    user_data = nullptr;
    computeAABB();
  }
};

void measureSelf(LeasedObjectTree& tree, const DistanceRequest& req, DistanceResult& res) {
  DistanceData ddata(&req, &res);
  tree->distance(&ddata, &distanceCallback);
}

}  // namespace

CollisionRobotFCL::CollisionRobotFCL(const RobotModelConstPtr& model, double padding, double scale)
    : CollisionRobot(model, padding, scale),
      placed_blocks(std::make_unique<bramlock::internal::PlacedBlocks>()),
      owners_revision(bramlock::internal::freshOwnersRevision()),
      self_verdicts(std::make_unique<PairVerdictCache>()) {
  link_geometries.resize(robot_model->getLinkGeometryCount());
  link_objects.resize(robot_model->getLinkGeometryCount());
  for (const moveit::core::LinkModel* link : robot_model->getLinkModelsWithCollisionGeometry()) {
    buildLinkGeometry(link, true);
  }
}

CollisionRobotFCL::CollisionRobotFCL(const CollisionRobotFCL& other)
    : CollisionRobot(other),
      link_geometries(other.link_geometries),
      link_objects(other.link_objects),
      placed_blocks(std::make_unique<bramlock::internal::PlacedBlocks>()),
      owners_revision(bramlock::internal::freshOwnersRevision()),
      self_verdicts(std::make_unique<PairVerdictCache>()) {}

CollisionRobotFCL::~CollisionRobotFCL() = default;

// A shape without geometry keeps its slot empty (or, on a rebuild, its old geometry).
void CollisionRobotFCL::buildLinkGeometry(const moveit::core::LinkModel* link, bool report_failures) {
  const double scale = getLinkScale(link->getName());
  const double padding = getLinkPadding(link->getName());
  const auto& shapes = link->getShapes();
  for (size_t i = 0; i < shapes.size(); ++i) {
    FCLGeometryConstPtr geometry = createCollisionGeometry(shapes[i], scale, padding, link, static_cast<int>(i));
    if (!geometry) {
      if (report_failures) {
        std::printf("collision_detection.fcl----Unable to construct collision geometry for link '%s'",
                    link->getName().c_str());
      }
      continue;
    }
    const size_t slot = link->getFirstCollisionBodyTransformIndex() + i;
    link_objects[slot] = std::make_shared<const fcl::CollisionObjectd>(geometry->geometry);
    link_geometries[slot] = std::move(geometry);
  }
}

void CollisionRobotFCL::renewOwners() {
  owners_revision = bramlock::internal::freshOwnersRevision();
  self_verdicts->clear();
}

void CollisionRobotFCL::updatedPaddingOrScaling(const std::vector<std::string>& links) {
  placed_blocks->clear();
  renewOwners();
  for (const std::string& name : links) {
    const moveit::core::LinkModel* link = robot_model->getLinkModel(name);
    if (!link) {
      std::printf("collision_detection.fcl----Updating padding or scaling for unknown link: '%s'", name.c_str());
      continue;
    }
    buildLinkGeometry(link, false);
  }
}

void CollisionRobotFCL::getAttachedBodyObjects(const moveit::core::AttachedBody* ab,
                                               std::vector<FCLGeometryConstPtr>& geoms) const {
  // The body's scale and padding are already part of its shapes.
  const auto& shapes = ab->getShapes();
  for (size_t i = 0; i < shapes.size(); ++i) {
    FCLGeometryConstPtr geometry = createCollisionGeometry(shapes[i], ab, static_cast<int>(i));
    if (geometry) geoms.push_back(std::move(geometry));
  }
}

CollisionRobotFCL::AttachedBodyGeometry CollisionRobotFCL::attachedGeometryOf(
    const moveit::core::AttachedBody* body) const {
  AttachedBodyGeometry entry{body, body->getName(), body->getShapes(), {}, {}};
  getAttachedBodyObjects(body, entry.geometries);
  for (const FCLGeometryConstPtr& geometry : entry.geometries) {
    entry.prototypes.push_back(std::make_shared<const fcl::CollisionObjectd>(PrototypeObject(geometry->geometry)));
  }
  return entry;
}

void CollisionRobotFCL::updatedAttachBodyGeometry(const RobotState& state) {
  attached_geometries.clear();
  renewOwners();
  std::vector<const moveit::core::AttachedBody*> bodies;
  state.getAttachedBodies(bodies);
  for (const moveit::core::AttachedBody* body : bodies) attached_geometries.push_back(attachedGeometryOf(body));
}

// The state may have lost or replaced bodies since the geometry was built
// without telling this checker; geometry whose owner tag points at another
// (possibly freed) body must never reach the callbacks.
const CollisionRobotFCL::AttachedBodyGeometry* CollisionRobotFCL::findAttachedGeometry(
    const moveit::core::AttachedBody* body) const {
  for (const AttachedBodyGeometry& entry : attached_geometries) {
    if (entry.body == body && entry.id == body->getName() && entry.shapes == body->getShapes()) return &entry;
  }
  return nullptr;
}

namespace {

// A copy of the prototype, which keeps its geometry's box, placed at `pose`.
FCLCollisionObjectPtr placedCopy(const fcl::CollisionObjectd& prototype, const Eigen::Isometry3d& pose) {
  auto object = std::make_shared<fcl::CollisionObjectd>(prototype);
  object->setTransform(pose);
  object->computeAABB();
  return object;
}

}  // namespace

// A body attached since the geometry was last rebuilt gets its geometry built
// here, by the same code, for this query alone: it is checked all the same.
bool CollisionRobotFCL::appendAttachedBodyObjects(const RobotState& state, FCLObject& fcl_obj) const {
  std::vector<const moveit::core::AttachedBody*> bodies;
  state.getAttachedBodies(bodies);
  bool built_here = false;
  for (const moveit::core::AttachedBody* body : bodies) {
    const AttachedBodyGeometry* entry = findAttachedGeometry(body);
    AttachedBodyGeometry unrefreshed{};
    if (!entry) {
      unrefreshed = attachedGeometryOf(body);
      entry = &unrefreshed;
      built_here = true;
    }
    const auto& transforms = body->getGlobalCollisionBodyTransforms();
    for (size_t i = 0; i < entry->geometries.size(); ++i) {
      const size_t index = entry->geometries[i]->geometry_data->shape_index;
      if (index >= transforms.size()) continue;
      fcl_obj.objects.push_back(placedCopy(*entry->prototypes[i], transforms[index]));
      fcl_obj.geometries.push_back(entry->geometries[i]);
    }
  }
  return built_here;
}

void CollisionRobotFCL::constructFCLObject(const RobotState& state, FCLObject& fcl_obj) const {
  PlacedRobot placed;
  bramlock::internal::placeObjects(*this, state, placed);
  fcl_obj.objects.reserve(fcl_obj.objects.size() + placed.objects.size());
  for (fcl::CollisionObjectd& link_object : *placed.links) fcl_obj.objects.emplace_back(placed.links, &link_object);
  for (FCLCollisionObjectPtr& object : placed.attached.objects) fcl_obj.objects.push_back(std::move(object));
  for (FCLGeometryConstPtr& geometry : placed.attached.geometries) fcl_obj.geometries.push_back(std::move(geometry));
}

}  // namespace collision_detection

namespace bramlock {
namespace internal {

// The links' objects of one query live in one block: they are placed and
// dropped together, and the block is placed again by a later query.
void placeObjects(const collision_detection::CollisionRobotFCL& robot, const moveit::core::RobotState& state,
                  PlacedRobot& placed) {
  placed.links = robot.placed_blocks->take(robot.link_objects);
  auto object = placed.links->begin();
  for (const collision_detection::FCLGeometryConstPtr& geometry : robot.link_geometries) {
    if (!geometry || !geometry->geometry) continue;
    const collision_detection::CollisionGeometryData& owner = *geometry->geometry_data;
    object->setTransform(state.getCollisionBodyTransform(owner.link(), owner.shape_index));
    object->computeAABB();
    ++object;
  }
  assert(object == placed.links->end());
  // Owners made for this query alone must never meet verdicts remembered for others at their addresses.
  const bool owners_made_here = robot.appendAttachedBodyObjects(state, placed.attached);
  placed.owners_revision = owners_made_here ? freshOwnersRevision() : robot.owners_revision;
  placed.objects.reserve(placed.links->size() + placed.attached.objects.size());
  for (fcl::CollisionObjectd& link_object : *placed.links) placed.objects.push_back(&link_object);
  for (const auto& attached : placed.attached.objects) placed.objects.push_back(attached.get());
  markSideIndices(placed.objects);
}

}  // namespace internal
}  // namespace bramlock

namespace collision_detection {

bool CollisionRobotFCL::allocSelfCollisionBroadPhase(const RobotState& state, FCLManager& manager) const {
  manager.manager = std::make_shared<fcl::DynamicAABBTreeCollisionManagerd>();
  constructFCLObject(state, manager.object);
  if (!posesArePlaceable(manager.object)) return false;
  manager.object.registerTo(manager.manager.get());
  return true;
}

void CollisionRobotFCL::checkSelfCollision(const CollisionRequest& req, CollisionResult& res,
                                           const RobotState& state) const {
  checkSelfCollisionHelper(req, res, state, nullptr);
}

void CollisionRobotFCL::checkSelfCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state,
                                           const AllowedCollisionMatrix& acm) const {
  checkSelfCollisionHelper(req, res, state, &acm);
}

void CollisionRobotFCL::checkSelfCollision(const CollisionRequest&, CollisionResult&, const RobotState&,
                                           const RobotState&) const {
  reportContinuousUnsupported();
}

void CollisionRobotFCL::checkSelfCollision(const CollisionRequest&, CollisionResult&, const RobotState&,
                                           const RobotState&, const AllowedCollisionMatrix&) const {
  reportContinuousUnsupported();
}

void CollisionRobotFCL::checkOtherCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state,
                                            const CollisionRobot& other_robot, const RobotState& other_state) const {
  checkOtherCollisionHelper(req, res, state, other_robot, other_state, nullptr);
}

void CollisionRobotFCL::checkOtherCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state,
                                            const CollisionRobot& other_robot, const RobotState& other_state,
                                            const AllowedCollisionMatrix& acm) const {
  checkOtherCollisionHelper(req, res, state, other_robot, other_state, &acm);
}

void CollisionRobotFCL::checkOtherCollision(const CollisionRequest&, CollisionResult&, const RobotState&,
                                            const RobotState&, const CollisionRobot&, const RobotState&,
                                            const RobotState&) const {
  reportContinuousUnsupported();
}

void CollisionRobotFCL::checkOtherCollision(const CollisionRequest&, CollisionResult&, const RobotState&,
                                            const RobotState&, const CollisionRobot&, const RobotState&,
                                            const RobotState&, const AllowedCollisionMatrix&) const {
  reportContinuousUnsupported();
}

void CollisionRobotFCL::checkSelfCollisionHelper(const CollisionRequest& req, CollisionResult& res,
                                                 const RobotState& state, const AllowedCollisionMatrix* acm) const {
  PlacedRobot objects;
  bramlock::internal::placeObjects(*this, state, objects);
  if (!posesArePlaceable(objects.objects)) return reportUnplacedState(res);
  CollisionData cdata(&req, &res, acm);
  cdata.enableGroup(robot_model);
  if (req.verbose) {
    LeasedObjectTree tree;
    tree->build(objects.objects);
    tree->collide(&cdata, &collisionCallback);
  } else {
    collideSelf(objects, cdata);
  }
  if (req.compute_distance) {
    LeasedObjectTree tree;
    tree->build(objects.objects);
    DistanceResult dres;
    measureSelf(tree, distanceRequestFor(req, acm, cdata.active_links), dres);
    res.distance = dres.minimum_distance.distance;
  }
}

// The verdicts come from the table remembered for these owners; the tree,
// which fixes the order of each pair handed to the narrow phase, is built
// only when a pair to test may collide.
void CollisionRobotFCL::collideSelf(const PlacedRobot& placed, CollisionData& cdata) const {
  const std::vector<fcl::CollisionObjectd*>& objects = placed.objects;
  const bramlock::internal::QuerySide side{placed.owners_revision, &objects, placed.linkCount()};
  const std::shared_ptr<const PairVerdicts> verdicts = self_verdicts->verdicts(side, side, cdata);
  if (!testedPairMayCollide(objects, *verdicts, *cdata.req)) return;
  LeasedObjectTree tree;
  tree->build(objects);
  VerdictData data{&cdata, verdicts.get()};
  tree->collide(&data, &selfVerdictCallback);
}

void CollisionRobotFCL::checkOtherCollisionHelper(const CollisionRequest& req, CollisionResult& res,
                                                  const RobotState& state, const CollisionRobot& other_robot,
                                                  const RobotState& other_state,
                                                  const AllowedCollisionMatrix* acm) const {
  FCLManager manager;
  PlacedRobot other_objects;
  if (!placeBothRobots(*this, state, other_robot, other_state, manager, other_objects)) {
    return reportUnplacedState(res);
  }
  CollisionData cdata(&req, &res, acm);
  cdata.enableGroup(robot_model);
  collideObjects(*manager.manager, other_objects.objects, cdata);
  if (req.compute_distance) {
    DistanceResult dres;
    measureObjects(*manager.manager, other_objects.objects, distanceRequestFor(req, acm, cdata.active_links), dres);
    res.distance = dres.minimum_distance.distance;
  }
}

void CollisionRobotFCL::distanceSelf(const DistanceRequest& req, DistanceResult& res, const RobotState& state) const {
  PlacedRobot objects;
  LeasedObjectTree tree;
  if (!placeSelfTree(*this, state, objects, tree)) return reportUnplacedState(res);
  measureSelf(tree, req, res);
}

void CollisionRobotFCL::distanceOther(const DistanceRequest& req, DistanceResult& res, const RobotState& state,
                                      const CollisionRobot& other_robot, const RobotState& other_state) const {
  FCLManager manager;
  PlacedRobot other_objects;
  if (!placeBothRobots(*this, state, other_robot, other_state, manager, other_objects)) {
    return reportUnplacedState(res);
  }
  measureObjects(*manager.manager, other_objects.objects, req, res);
}

}  // namespace collision_detection
