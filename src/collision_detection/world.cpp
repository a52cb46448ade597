#include "bramlock_arm_planning_core/collision_detection/world.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include <geometric_shapes/shapes.h>

#include "shape_extent.h"

namespace collision_detection {

namespace {

bool isFinite(const Eigen::Isometry3d& pose) { return pose.matrix().allFinite(); }

// A shape the checkers would pass through unseen, or whose bounding boxes
// would poison their broad phase, never enters the world.
bool isCheckable(const World::ShapeConstPtr& shape) {
  if (!shape || shape->type == shapes::UNKNOWN_SHAPE) return false;
  if (shape->type == shapes::OCTREE && !static_cast<const shapes::OcTree&>(*shape).octree) return false;
  return bramlock::internal::isCheckableWithin(*shape, World::kMaxShapeExtent);
}

// The first shape that cannot be checked, or -1.
int firstUncheckable(const std::vector<World::ShapeConstPtr>& shapes) {
  const auto it = std::find_if_not(shapes.begin(), shapes.end(), isCheckable);
  return it == shapes.end() ? -1 : static_cast<int>(it - shapes.begin());
}

void printUncheckable(const std::string& id, int index) {
  std::printf(
      "collision_detection,World object '%s': shape %d cannot be checked (null, of unknown type, a size below 0, a "
      "mesh without triangles or with a triangle naming a vertex it lacks, or a size, vertex, plane offset or octree "
      "cell not finite or beyond "
      "%g m). The world keeps the object as it was.\n",
      id.c_str(), index, World::kMaxShapeExtent);
}

// Index of the entry that is this very shape object (not an equal shape), or -1.
int findShape(const World::Object& obj, const World::ShapeConstPtr& shape) {
  const auto it = std::find(obj.shapes.begin(), obj.shapes.end(), shape);
  return it == obj.shapes.end() ? -1 : static_cast<int>(it - obj.shapes.begin());
}

}  // namespace

// Observers belong to one world, so a copy starts without any.
World::World(const World& other) : objects(other.objects) {}

// Members go in reverse order: the observers first, then the objects.
World::~World() = default;

World::ObjectConstPtr World::getObject(const std::string& id) const {
  const auto it = objects.find(id);
  return it == objects.end() ? ObjectConstPtr() : it->second;
}

bool World::hasObject(const std::string& id) const { return objects.count(id) > 0; }

std::vector<std::string> World::getObjectIds() const {
  std::vector<std::string> ids;
  ids.reserve(objects.size());
  for (const auto& entry : objects) ids.push_back(entry.first);
  return ids;
}

World::ObserverHandle World::addObserver(const ObserverCallbackFn& callback) {
  static std::atomic<uint64_t> last_id{0};
  observers.push_back(std::make_unique<Observer>(callback, ++last_id));
  return ObserverHandle(observers.back()->id);
}

void World::removeObserver(ObserverHandle handle) {
  const auto it = findObserver(handle);
  if (it != observers.end()) observers.erase(it);
}

void World::notifyObserverAllObjects(ObserverHandle handle, Action action) const {
  const auto it = findObserver(handle);
  if (it == observers.end()) return;
  for (const auto& entry : objects) (*it)->callback(entry.second, action);
}

World::ObserverList::const_iterator World::findObserver(ObserverHandle handle) const {
  return std::find_if(observers.begin(), observers.end(),
                      [&handle](const std::unique_ptr<Observer>& observer) { return observer->id == handle.id_; });
}

bool World::addToObject(const std::string& id, const ShapeConstPtr& shape, const Eigen::Isometry3d& pose) {
  return addToObject(id, std::vector<ShapeConstPtr>{shape}, PoseVector{pose});
}

bool World::addToObject(const std::string& id, const std::vector<ShapeConstPtr>& shapes, const PoseVector& poses) {
  if (shapes.size() != poses.size()) {
    std::printf(
        "collision_detection,Number of shapes and number of poses do not match. Not adding this object to collision "
        "world.\n");
    return false;
  }
  // A non-finite pose would poison every later query of the object.
  if (!std::all_of(poses.begin(), poses.end(), isFinite)) {
    std::printf("collision_detection,A shape pose is not finite. Not adding this object to collision world.\n");
    return false;
  }
  const int uncheckable = firstUncheckable(shapes);
  if (uncheckable >= 0) {
    printUncheckable(id, uncheckable);
    return false;
  }
  if (shapes.empty()) return false;

  bool created = false;
  const ObjectPtr& obj = uniqueObject(id, &created);
  for (size_t i = 0; i < shapes.size(); ++i) addToObjectInternal(obj, shapes[i], poses[i]);
  notify(obj, static_cast<Action>(created ? (CREATE | ADD_SHAPE) : ADD_SHAPE));
  return true;
}

void World::addToObjectInternal(const ObjectPtr& obj, const ShapeConstPtr& shape, const Eigen::Isometry3d& pose) {
  obj->shapes.push_back(shape);
  obj->shape_poses.push_back(pose);
}

bool World::moveShapeInObject(const std::string& id, const ShapeConstPtr& shape, const Eigen::Isometry3d& pose) {
  const auto it = objects.find(id);
  if (it == objects.end() || !isFinite(pose)) return false;
  const int index = findShape(*it->second, shape);
  if (index < 0) return false;
  const ObjectPtr& obj = uniqueObject(id, nullptr);
  obj->shape_poses[index] = pose;
  notify(obj, MOVE_SHAPE);
  return true;
}

bool World::moveObject(const std::string& id, const Eigen::Isometry3d& transform) {
  const auto it = objects.find(id);
  if (it == objects.end()) return false;
  if (transform.matrix().isApprox(Eigen::Matrix4d::Identity(), 1e-12)) return true;

  // Computed aside, so a transform that makes any pose non-finite changes nothing.
  PoseVector moved;
  moved.reserve(it->second->shape_poses.size());
  for (const Eigen::Isometry3d& pose : it->second->shape_poses) moved.push_back(transform * pose);
  if (!isFinite(transform) || !std::all_of(moved.begin(), moved.end(), isFinite)) return false;

  const ObjectPtr& obj = uniqueObject(id, nullptr);
  obj->shape_poses = moved;
  notify(obj, MOVE_SHAPE);
  return true;
}

bool World::removeShapeFromObject(const std::string& id, const ShapeConstPtr& shape) {
  const auto it = objects.find(id);
  if (it == objects.end()) return false;
  const int index = findShape(*it->second, shape);
  if (index < 0) return false;

  const ObjectPtr& obj = uniqueObject(id, nullptr);
  obj->shapes.erase(obj->shapes.begin() + index);
  obj->shape_poses.erase(obj->shape_poses.begin() + index);
  if (!obj->shapes.empty()) {
    notify(obj, REMOVE_SHAPE);
    return true;
  }
  notify(obj, DESTROY);
  objects.erase(id);
  return true;
}

bool World::removeObject(const std::string& id) {
  const auto it = objects.find(id);
  if (it == objects.end()) return false;
  notify(it->second, DESTROY);
  objects.erase(id);
  return true;
}

void World::clearObjects() {
  for (const auto& entry : objects) notify(entry.second, DESTROY);
  objects.clear();
}

int World::updateToObject(const std::string& id, const ShapeConstPtr& shape, const Eigen::Isometry3d& pose, int index) {
  return updateShapeInObject(uniqueObject(id, nullptr), index, shape, pose);
}

int World::updateShapeInObject(const ObjectPtr& obj, int index, const ShapeConstPtr& shape,
                               const Eigen::Isometry3d& pose) {
  std::printf("updateShapeInObject object,shape id:%d\n", index);
  if (!obj || index < 0 || static_cast<size_t>(index) >= obj->shapes.size()) {
    std::printf(" idx =%d is illegal\n", index);
    return -1;
  }
  if (!isFinite(pose)) {
    std::printf(" pose is not finite\n");
    return -1;
  }
  if (!isCheckable(shape)) {
    printUncheckable(obj->id, index);
    return -1;
  }
  obj->shapes[index] = shape;
  obj->shape_poses[index] = pose;
  // Observers such as the FCL world checker must rebuild the replaced shape.
  notify(obj, static_cast<Action>(REMOVE_SHAPE | ADD_SHAPE));
  return 0;
}

World::ObjectPtr& World::uniqueObject(const std::string& id, bool* created) {
  ObjectPtr& obj = objects[id];
  if (created) *created = !obj;
  if (!obj) {
    obj = std::make_shared<Object>(id);
  } else if (obj.use_count() > 1) {
    obj = std::make_shared<Object>(*obj);
  }
  return obj;
}

void World::notify(const ObjectConstPtr& obj, Action action) const {
  for (const auto& observer : observers) observer->callback(obj, action);
}

}  // namespace collision_detection
