#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <Eigen/StdVector>

#include "bramlock_arm_planning_core/export.h"

namespace shapes {
class Shape;
}

namespace collision_detection {

// The named objects of the environment, each a list of shapes with one pose
// per shape. Observers hear of every change synchronously. Copies of a world
// share their object records until one of them changes a record.
class BRAMLOCK_EXPORT World {
 public:
  using ShapeConstPtr = std::shared_ptr<const shapes::Shape>;
  using PoseVector = std::vector<Eigen::Isometry3d, Eigen::aligned_allocator<Eigen::Isometry3d>>;

  // Bit flags; an observer receives their union.
  enum Action : int {
    CREATE = 1,
    DESTROY = 2,
    MOVE_SHAPE = 4,
    ADD_SHAPE = 8,
    REMOVE_SHAPE = 16,
  };

  struct Object {
    explicit Object(const std::string& object_id) : id(object_id) {}

    std::string id;
    std::vector<ShapeConstPtr> shapes;
    PoseVector shape_poses;  // one per shape, same order

    EIGEN_MAKE_ALIGNED_OPERATOR_NEW
  };
  using ObjectPtr = std::shared_ptr<Object>;
  using ObjectConstPtr = std::shared_ptr<const Object>;

  using ObserverCallbackFn = std::function<void(const ObjectConstPtr&, Action)>;

 private:
  struct Observer {
    Observer(const ObserverCallbackFn& fn, uint64_t observer_id) : callback(fn), id(observer_id) {}
    ObserverCallbackFn callback;
    uint64_t id;
  };

 public:
  // Identifies one registered observer; equal only to itself. Numbers are
  // never reused in a process, so a stale handle cannot name a newer
  // observer that took the freed record's place. A default handle names none.
  class ObserverHandle {
   public:
    ObserverHandle() = default;
    bool operator==(const ObserverHandle& other) const { return id_ == other.id_; }
    bool operator!=(const ObserverHandle& other) const { return id_ != other.id_; }

   private:
    friend class World;
    explicit ObserverHandle(uint64_t id) : id_(id) {}
    uint64_t id_ = 0;
  };

  // The largest size, vertex coordinate, plane offset or octree cell
  // coordinate (in metres) of a shape the world accepts: farther out, the
  // sizes of the checkers' bounding boxes lose the object.
  static constexpr double kMaxShapeExtent = 1e6;

  World() = default;
  // Shares the object records; the copy starts without observers.
  World(const World& other);
  World& operator=(const World&) = delete;
  // Tells no observer.
  virtual ~World();

  ObjectConstPtr getObject(const std::string& id) const;
  bool hasObject(const std::string& id) const;
  std::vector<std::string> getObjectIds() const;

  ObserverHandle addObserver(const ObserverCallbackFn& callback);
  void removeObserver(ObserverHandle handle);
  // Calls that observer once per object, in id order, with the action.
  void notifyObserverAllObjects(ObserverHandle handle, Action action) const;

  // True when the shapes were added. Refused, with a message, when the lists
  // differ in length, a pose is not finite, or a shape cannot be checked: a
  // null shape, one of unknown type, an octree shape without a tree, a size,
  // radius or length below 0, a mesh without triangles or with a triangle
  // naming a vertex the mesh does not have, or geometry that fails kMaxShapeExtent (not finite, beyond it,
  // a plane without a normal, octree cells of no positive size).
  bool addToObject(const std::string& id, const ShapeConstPtr& shape, const Eigen::Isometry3d& pose);
  bool addToObject(const std::string& id, const std::vector<ShapeConstPtr>& shapes, const PoseVector& poses);
  // Shapes are found by identity (the same shape object). Poses that are or
  // would become non-finite are refused (false) and change nothing.
  bool moveShapeInObject(const std::string& id, const ShapeConstPtr& shape, const Eigen::Isometry3d& pose);
  // Premultiplies every shape pose of the object by the transform.
  bool moveObject(const std::string& id, const Eigen::Isometry3d& transform);
  // Removes the whole object with its last shape.
  bool removeShapeFromObject(const std::string& id, const ShapeConstPtr& shape);
  bool removeObject(const std::string& id);
  void clearObjects();
  // Replace the shape and pose at index and tell the observers with
  // REMOVE_SHAPE | ADD_SHAPE, so mirrors rebuild the object: 0, or -1 when the
  // index is out of range, the pose not finite or the shape one addToObject
  // refuses. updateToObject creates an absent object (it stays, empty, when
  // refused) without telling anyone.
  int updateToObject(const std::string& id, const ShapeConstPtr& shape, const Eigen::Isometry3d& pose, int index);
  int updateShapeInObject(const ObjectPtr& obj, int index, const ShapeConstPtr& shape, const Eigen::Isometry3d& pose);

 protected:
  // Appends one shape and its pose to the record.
  virtual void addToObjectInternal(const ObjectPtr& obj, const ShapeConstPtr& shape, const Eigen::Isometry3d& pose);

 private:
  // The stored record of id (created empty when absent), no longer shared
  // with a copy of this world; *created tells whether it is new.
  ObjectPtr& uniqueObject(const std::string& id, bool* created);
  void notify(const ObjectConstPtr& obj, Action action) const;
  using ObserverList = std::vector<std::unique_ptr<Observer>>;
  ObserverList::const_iterator findObserver(ObserverHandle handle) const;

  std::map<std::string, ObjectPtr> objects;
  ObserverList observers;
};

using WorldPtr = std::shared_ptr<World>;
using WorldConstPtr = std::shared_ptr<const World>;

}  // namespace collision_detection
