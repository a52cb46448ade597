#include "bramlock_arm_planning_core/collision_detection_fcl/fcl_geometry.h"

#include <algorithm>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <map>
#include <tuple>
#include <utility>

#include <fcl/geometry/bvh/BVH_model.h>
#include <fcl/geometry/octree/octree.h>
#include <fcl/geometry/shape/box.h>
#include <fcl/geometry/shape/cone.h>
#include <fcl/geometry/shape/cylinder.h>
#include <fcl/geometry/shape/plane.h>
#include <fcl/geometry/shape/sphere.h>
#include <fcl/math/bv/OBBRSS.h>

#include "bramlock_arm_planning_core/robot_model/link_model.h"
#include "bramlock_arm_planning_core/robot_state/attached_body.h"
#include "collision_detection/shape_extent.h"
#include "fcl_shape_cache.h"
#include "link_tree_batch.h"
#include "piece_splitter.h"
#include "solid_mesh_model.h"
#include "weak_shape_map.h"

namespace collision_detection {

using bramlock::internal::FCLShapeCache;
using bramlock::internal::GetShapeCache;
using bramlock::internal::isPlainScaling;
using bramlock::internal::LinkTreeBatch;
using bramlock::internal::MeshTreeInput;

using bramlock::internal::attachSolid;
using bramlock::internal::Cavities;
using bramlock::internal::isCheckable;
using bramlock::internal::SolidMeshModel;
using bramlock::internal::WeakShapeMap;

CollisionGeometryData::CollisionGeometryData(const moveit::core::LinkModel* link, int index)
    : owner_type(LINK), shape_index(index), owner(link) {}

CollisionGeometryData::CollisionGeometryData(const moveit::core::AttachedBody* body, int index)
    : owner_type(ATTACHED_BODY), shape_index(index), owner(body) {}

CollisionGeometryData::CollisionGeometryData(const World::Object* object)
    : owner_type(WORLD_OBJECT), shape_index(0), owner(object) {}

const moveit::core::LinkModel* CollisionGeometryData::link() const {
  assert(owner_type == LINK);
  return static_cast<const moveit::core::LinkModel*>(owner);
}

const moveit::core::AttachedBody* CollisionGeometryData::attachedBody() const {
  assert(owner_type == ATTACHED_BODY);
  return static_cast<const moveit::core::AttachedBody*>(owner);
}

const World::Object* CollisionGeometryData::worldObject() const {
  assert(owner_type == WORLD_OBJECT);
  return static_cast<const World::Object*>(owner);
}

const std::string& CollisionGeometryData::getID() const {
  switch (owner_type) {
    case LINK:
      return link()->getName();
    case ATTACHED_BODY:
      return attachedBody()->getName();
    default:
      return worldObject()->id;
  }
}

const moveit::core::LinkModel* CollisionGeometryData::getLink() const {
  switch (owner_type) {
    case LINK:
      return link();
    case ATTACHED_BODY:
      return attachedBody()->getAttachedLink();
    default:
      return nullptr;
  }
}

FCLGeometry::FCLGeometry(std::shared_ptr<fcl::CollisionGeometryd> fcl_geometry,
                         std::shared_ptr<CollisionGeometryData> data)
    : geometry(std::move(fcl_geometry)) {
  setGeometryData(std::move(data));
}

void FCLGeometry::setGeometryData(std::shared_ptr<CollisionGeometryData> data) {
  geometry_data = std::move(data);
  geometry->setUserData(geometry_data.get());
}

void FCLObject::registerTo(fcl::BroadPhaseCollisionManagerd* manager) {
  if (objects.empty()) return;
  std::vector<fcl::CollisionObjectd*> raw;
  raw.reserve(objects.size());
  for (const FCLCollisionObjectPtr& object : objects) raw.push_back(object.get());
  manager->registerObjects(raw);
}

void FCLObject::unregisterFrom(fcl::BroadPhaseCollisionManagerd* manager) {
  for (const FCLCollisionObjectPtr& object : objects) manager->unregisterObject(object.get());
}

void FCLObject::clear() {
  objects.clear();
  geometries.clear();
}

namespace {

void printUnsupported(int type) {
  std::printf("collision_common[887]:This shape type (%d) is not supported using FCL yet", type);
}

MeshTreeInput meshTreeInput(const shapes::Mesh& mesh) {
  MeshTreeInput input;
  if (mesh.vertex_count == 0 || mesh.triangle_count == 0) return input;
  input.triangles.reserve(mesh.triangle_count);
  for (unsigned int t = 0; t < mesh.triangle_count; ++t) {
    const unsigned int* corner = mesh.triangles + 3 * t;
    input.triangles.emplace_back(corner[0], corner[1], corner[2]);
  }
  input.points.reserve(mesh.vertex_count);
  for (unsigned int v = 0; v < mesh.vertex_count; ++v) {
    const double* xyz = mesh.vertices + 3 * v;
    input.points.emplace_back(xyz[0], xyz[1], xyz[2]);
  }
  return input;
}

// Sized up front, so FCL neither grows nor trims its arrays on the way.
std::shared_ptr<SolidMeshModel> buildMeshModel(const MeshTreeInput& input) {
  auto model = std::make_shared<SolidMeshModel>();
  if (input.points.empty() || input.triangles.empty()) return model;
  const auto fcl_splitter = model->bv_splitter;
  model->bv_splitter = splitterFor(input);
  model->beginModel(static_cast<int>(input.triangles.size()), static_cast<int>(input.points.size()));
  model->addSubModel(input.points, input.triangles);
  model->endModel();
  // The split rule (a piece splitter with its lists) is needed only while the tree is built.
  model->bv_splitter = fcl_splitter;
  return model;
}

// The FCL geometry of a shape, or null (with the unsupported-type message)
// for a missing shape, an unknown type or an octree shape without a tree.
std::shared_ptr<fcl::CollisionGeometryd> buildGeometry(const shapes::Shape* shape) {
  if (!shape) {
    printUnsupported(shapes::UNKNOWN_SHAPE);
    return nullptr;
  }
  switch (shape->type) {
    case shapes::SPHERE:
      return std::make_shared<fcl::Sphered>(static_cast<const shapes::Sphere*>(shape)->radius);
    case shapes::CYLINDER: {
      const auto* cylinder = static_cast<const shapes::Cylinder*>(shape);
      return std::make_shared<fcl::Cylinderd>(cylinder->radius, cylinder->length);
    }
    case shapes::CONE: {
      const auto* cone = static_cast<const shapes::Cone*>(shape);
      return std::make_shared<fcl::Coned>(cone->radius, cone->length);
    }
    case shapes::BOX: {
      const double* size = static_cast<const shapes::Box*>(shape)->size;
      return std::make_shared<fcl::Boxd>(size[0], size[1], size[2]);
    }
    case shapes::PLANE: {
      const auto* plane = static_cast<const shapes::Plane*>(shape);
      return std::make_shared<fcl::Planed>(plane->a, plane->b, plane->c, plane->d);
    }
    case shapes::MESH:
      return buildMeshModel(meshTreeInput(*static_cast<const shapes::Mesh*>(shape)));
    case shapes::OCTREE: {
      const auto& tree = static_cast<const shapes::OcTree*>(shape)->octree;
      if (tree) return std::make_shared<fcl::OcTreed>(tree);
      break;
    }
    default:
      break;
  }
  printUnsupported(shape->type);
  return nullptr;
}

// A mesh also gets the inside of `solid_source` at `solid_scale`, the mesh
// before any padding. The world's meshes keep their cavities hollow.
std::shared_ptr<FCLGeometry> buildTagged(const shapes::ShapeConstPtr& shape,
                                         std::shared_ptr<CollisionGeometryData> data,
                                         const shapes::ShapeConstPtr& solid_source, double solid_scale = 1.0) {
  const Cavities cavities = data->owner_type == WORLD_OBJECT ? Cavities::kHollow : Cavities::kSolid;
  // Any road to here, not only the world's, gets no geometry rather than a broken one.
  if (shape && !isCheckable(*shape)) return nullptr;
  std::shared_ptr<fcl::CollisionGeometryd> geometry = buildGeometry(shape.get());
  if (!geometry) return nullptr;
  geometry->computeLocalAABB();
  attachSolid(*geometry, solid_source, solid_scale, cavities);
  return std::make_shared<FCLGeometry>(std::move(geometry), std::move(data));
}

// `build` makes the geometry when the cache cannot hand one out.
template <typename BV, typename Build>
FCLGeometryConstPtr createCachedLinkGeometry(const shapes::ShapeConstPtr& shape, const moveit::core::LinkModel* link,
                                             int shape_index, const Build& build) {
  FCLShapeCache& cache = GetShapeCache<BV, moveit::core::LinkModel>();
  auto found = shape ? cache.entries.find(shape) : cache.entries.end();
  if (found != cache.entries.end()) {
    const std::shared_ptr<FCLGeometry>& cached = found->second;
    const CollisionGeometryData& data = *cached->geometry_data;
    if (data.owner == link && data.shape_index == shape_index) return cached;
    // Held by nobody but the cache: re-tag it instead of building anew.
    if (cached.use_count() == 1) {
      cached->setGeometryData(std::make_shared<CollisionGeometryData>(link, shape_index));
      return cached;
    }
  }
  std::shared_ptr<FCLGeometry> built = build();
  if (built) cache.insert(shape, built);
  return built;
}

// The link geometry of `shape`, the source scaled and padded: with the tree a
// live batch built ahead for (source, scale, padding), or else built here.
std::shared_ptr<FCLGeometry> buildLinkGeometry(const shapes::ShapeConstPtr& source, double scale, double padding,
                                               const shapes::ShapeConstPtr& shape, const moveit::core::LinkModel* link,
                                               int shape_index) {
  auto data = std::make_shared<CollisionGeometryData>(link, shape_index);
  if (LinkTreeBatch* batch = LinkTreeBatch::active()) {
    std::shared_ptr<fcl::CollisionGeometryd> tree = batch->take(source, scale, padding);
    if (tree) {
      attachSolid(*tree, source, scale);
      return std::make_shared<FCLGeometry>(std::move(tree), std::move(data));
    }
  }
  return buildTagged(shape, std::move(data), source, scale);
}

// Geometry by source shape, scale and padding, for as long as anything holds
// it: the checkers of one model (a scene makes four) then share one tree per
// variant instead of each building an identical one.
class SharedGeometries {
 public:
  // The geometry held for the variant if it was built for `owner`'s shape.
  std::shared_ptr<FCLGeometry> find(const shapes::ShapeConstPtr& shape, double scale, double padding,
                                    const CollisionGeometryData& owner) const {
    std::shared_ptr<FCLGeometry> geometry = held(shape, scale, padding);
    if (!geometry) return nullptr;
    const CollisionGeometryData& data = *geometry->geometry_data;
    return data.sameObject(owner) && data.shape_index == owner.shape_index ? geometry : nullptr;
  }

  // Whoever it was built for.
  std::shared_ptr<FCLGeometry> held(const shapes::ShapeConstPtr& shape, double scale, double padding) const {
    return entries_.held(shape, scale, padding);
  }

  // The held geometry of `owner`'s variant, else the one `build` makes, kept from now on.
  template <typename Build>
  std::shared_ptr<FCLGeometry> findOrBuild(const shapes::ShapeConstPtr& shape, double scale, double padding,
                                           const CollisionGeometryData& owner, const Build& build) {
    std::shared_ptr<FCLGeometry> geometry = find(shape, scale, padding, owner);
    if (geometry) return geometry;
    geometry = build();
    if (geometry) entries_.put(shape, scale, padding, geometry);
    return geometry;
  }

 private:
  WeakShapeMap<FCLGeometry> entries_;
};

// The calling thread's records, like the shape caches unlocked and per thread.
SharedGeometries& scaledLinkGeometries() {
  static thread_local SharedGeometries geometries;
  return geometries;
}

SharedGeometries& attachedGeometries() {
  static thread_local SharedGeometries geometries;
  return geometries;
}

// The shape itself when neither scale nor padding change it, else a scaled
// and padded clone; null for a non-finite scale or padding.
shapes::ShapeConstPtr scaledAndPadded(const shapes::ShapeConstPtr& shape, double scale, double padding) {
  if (!shape || isPlainScaling(scale, padding)) return shape;
  if (!std::isfinite(scale) || !std::isfinite(padding)) return nullptr;
  std::shared_ptr<shapes::Shape> clone(shape->clone());
  clone->scaleAndPadd(scale, padding);
  return clone;
}

// The plain form of the owner's kind where scale and padding change nothing;
// else the scaled and padded clone's geometry, with the inside of the shape
// only scaled.
template <typename... Owner>
FCLGeometryConstPtr createScaledGeometry(const shapes::ShapeConstPtr& shape, double scale, double padding,
                                         Owner... owner) {
  const shapes::ShapeConstPtr scaled = scaledAndPadded(shape, scale, padding);
  if (shape && !scaled) return nullptr;
  if (scaled == shape) return createCollisionGeometry(shape, owner...);
  return buildTagged(scaled, std::make_shared<CollisionGeometryData>(owner...), shape, scale);
}

// The body's shape before its padding, where `shape` is the body's own shape at that index.
shapes::ShapeConstPtr unpaddedShapeOf(const moveit::core::AttachedBody* body, int index,
                                      const shapes::ShapeConstPtr& shape) {
  if (!body || index < 0) return shape;
  const size_t at = static_cast<size_t>(index);
  const auto& padded = body->getShapes();
  const auto& unpadded = body->getUnpaddedShapes();
  return at < padded.size() && at < unpadded.size() && padded[at] == shape ? unpadded[at] : shape;
}

}  // namespace

FCLGeometryConstPtr createCollisionGeometry(const shapes::ShapeConstPtr& shape, const moveit::core::LinkModel* link,
                                            int shape_index) {
  return createCachedLinkGeometry<fcl::OBBRSSd>(
      shape, link, shape_index, [&] { return buildLinkGeometry(shape, 1.0, 0.0, shape, link, shape_index); });
}

// The clone still goes through the link cache as its key, exactly as when
// every call built anew; only the tree is taken from an earlier identical one.
FCLGeometryConstPtr createCollisionGeometry(const shapes::ShapeConstPtr& shape, double scale, double padding,
                                            const moveit::core::LinkModel* link, int shape_index) {
  if (!shape || isPlainScaling(scale, padding)) return createCollisionGeometry(shape, link, shape_index);
  const shapes::ShapeConstPtr scaled = scaledAndPadded(shape, scale, padding);
  if (!scaled) return nullptr;
  return createCachedLinkGeometry<fcl::OBBRSSd>(scaled, link, shape_index, [&] {
    return scaledLinkGeometries().findOrBuild(shape, scale, padding, CollisionGeometryData(link, shape_index), [&] {
      return buildLinkGeometry(shape, scale, padding, scaled, link, shape_index);
    });
  });
}

// The scene's checkers each ask for the same body's geometry: they share it.
FCLGeometryConstPtr createCollisionGeometry(const shapes::ShapeConstPtr& shape, const moveit::core::AttachedBody* body,
                                            int shape_index) {
  const CollisionGeometryData owner(body, shape_index);
  return attachedGeometries().findOrBuild(shape, 1.0, 0.0, owner, [&] {
    return buildTagged(shape, std::make_shared<CollisionGeometryData>(owner),
                       unpaddedShapeOf(body, shape_index, shape));
  });
}

FCLGeometryConstPtr createCollisionGeometry(const shapes::ShapeConstPtr& shape, double scale, double padding,
                                            const moveit::core::AttachedBody* body, int shape_index) {
  if (!shape || isPlainScaling(scale, padding)) return createCollisionGeometry(shape, body, shape_index);
  const shapes::ShapeConstPtr scaled = scaledAndPadded(shape, scale, padding);
  if (!scaled) return nullptr;
  const CollisionGeometryData owner(body, shape_index);
  return attachedGeometries().findOrBuild(shape, scale, padding, owner, [&] {
    return buildTagged(scaled, std::make_shared<CollisionGeometryData>(owner), shape, scale);
  });
}

FCLGeometryConstPtr createCollisionGeometry(const shapes::ShapeConstPtr& shape, const World::Object* object) {
  return buildTagged(shape, std::make_shared<CollisionGeometryData>(object), shape);
}

FCLGeometryConstPtr createCollisionGeometry(const shapes::ShapeConstPtr& shape, double scale, double padding,
                                            const World::Object* object) {
  return createScaledGeometry(shape, scale, padding, object);
}

void cleanCollisionGeometryCache() {
  GetShapeCache<fcl::OBBRSSd, World::Object>().clean();
  GetShapeCache<fcl::OBBRSSd, moveit::core::AttachedBody>().clean();
}

}  // namespace collision_detection

namespace bramlock {
namespace internal {

bool isPlainScaling(double scale, double padding) {
  return std::fabs(scale - 1.0) <= DBL_EPSILON && std::fabs(padding) <= DBL_EPSILON;
}

std::optional<MeshTreeInput> linkMeshTreeInput(const shapes::ShapeConstPtr& shape, double scale, double padding) {
  const shapes::ShapeConstPtr scaled = collision_detection::scaledAndPadded(shape, scale, padding);
  if (!scaled || scaled->type != shapes::MESH || !isCheckable(*scaled)) return std::nullopt;
  return collision_detection::meshTreeInput(static_cast<const shapes::Mesh&>(*scaled));
}

std::shared_ptr<fcl::CollisionGeometryd> buildLinkMeshTree(const MeshTreeInput& input) {
  std::shared_ptr<SolidMeshModel> tree = collision_detection::buildMeshModel(input);
  const bool finished =
      input.points.empty() || input.triangles.empty() || tree->build_state == fcl::BVH_BUILD_STATE_PROCESSED;
  if (!finished) return nullptr;
  tree->computeLocalAABB();
  return tree;
}

std::shared_ptr<const fcl::CollisionGeometryd> heldScaledLinkTree(const shapes::ShapeConstPtr& shape, double scale,
                                                                  double padding) {
  if (!shape || isPlainScaling(scale, padding)) return nullptr;
  const std::shared_ptr<collision_detection::FCLGeometry> geometry =
      collision_detection::scaledLinkGeometries().held(shape, scale, padding);
  return geometry ? geometry->geometry : nullptr;
}

std::shared_ptr<const fcl::CollisionGeometryd> heldPlainLinkTree(const shapes::ShapeConstPtr& shape) {
  const FCLShapeCache::Map& entries = GetShapeCache<fcl::OBBRSSd, moveit::core::LinkModel>().entries;
  const auto entry = shape ? entries.find(shape) : entries.end();
  return entry == entries.end() ? nullptr : entry->second->geometry;
}

void FCLShapeCache::insert(const shapes::ShapeConstPtr& shape,
                           const std::shared_ptr<collision_detection::FCLGeometry>& geometry) {
  entries[shape] = geometry;
  if (++insert_count > kCleanInterval) clean();
}

void FCLShapeCache::clean() {
  insert_count = 0;
  for (auto entry = entries.begin(); entry != entries.end();) {
    if (entry->first.expired()) {
      std::puts("FCLShapeCache() erase!");
      entry = entries.erase(entry);
    } else {
      ++entry;
    }
  }
}

}  // namespace internal
}  // namespace bramlock
