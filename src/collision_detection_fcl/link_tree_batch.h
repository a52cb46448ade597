#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

#include <fcl/geometry/collision_geometry.h>
#include <fcl/math/triangle.h>
#include <geometric_shapes/shapes.h>

namespace moveit {
namespace core {
class RobotModel;
}  // namespace core
}  // namespace moveit

namespace bramlock {
namespace internal {

class MeshSolid;

// Scale and padding of one robot checker's links.
struct LinkScaling {
  double scale;
  double padding;
};

// Whether scale and padding leave a link's shapes as they are.
bool isPlainScaling(double scale, double padding);

// A mesh's vertices and triangles as FCL takes them.
struct MeshTreeInput {
  std::vector<fcl::Vector3d> points;
  std::vector<fcl::Triangle> triangles;
};

// The input of the link geometry of the shape scaled and padded; nothing
// where that geometry would be refused or is no mesh.
std::optional<MeshTreeInput> linkMeshTreeInput(const shapes::ShapeConstPtr& shape, double scale, double padding);

// The mesh's bounding-volume tree with its local box, or null when FCL could
// not finish it. Touches no cache, so any thread may call it.
std::shared_ptr<fcl::CollisionGeometryd> buildLinkMeshTree(const MeshTreeInput& input);

// The tree of the link shape scaled and padded (not plain) that a checker
// built on the calling thread and still holds, or null: the same tree that
// buildLinkMeshTree makes from linkMeshTreeInput.
std::shared_ptr<const fcl::CollisionGeometryd> heldScaledLinkTree(const shapes::ShapeConstPtr& shape, double scale,
                                                                  double padding);
// The same for the link shape as it is, which the calling thread's cache
// keeps once a checker built it, for as long as the shape lives.
std::shared_ptr<const fcl::CollisionGeometryd> heldPlainLinkTree(const shapes::ShapeConstPtr& shape);

// The mesh trees that checkers of the given scalings will ask for, and the
// meshes' insides, built on worker threads while the batch is made; the
// trees' inputs are prepared on the calling thread, so the workers allocate
// little besides the trees and insides. While the batch lives, the calling
// thread's link geometry takes each tree from it (once) instead of building
// it, so everything else - cache insertions, cache keys, messages - happens
// at the same calls as when the checkers build every tree themselves. A tree that could not be built ahead (its worker
// failed, no thread could be started, no memory was left to prepare the batch) is built by the checker as usual, which
// then fails as it always did.
class LinkTreeBatch {
 public:
  using TreeBuilder = std::function<std::shared_ptr<fcl::CollisionGeometryd>(const MeshTreeInput&)>;

  LinkTreeBatch(const moveit::core::RobotModel& model, const std::vector<LinkScaling>& scalings,
                const TreeBuilder& build = buildLinkMeshTree);
  ~LinkTreeBatch();
  LinkTreeBatch(const LinkTreeBatch&) = delete;
  LinkTreeBatch& operator=(const LinkTreeBatch&) = delete;

  // The calling thread's innermost live batch, or null.
  static LinkTreeBatch* active();

  // The tree built ahead for the shape at that scale and padding (plain:
  // 1 and 0), handed out once; null when there is none.
  std::shared_ptr<fcl::CollisionGeometryd> take(const shapes::ShapeConstPtr& shape, double scale, double padding);

 private:
  using Key = std::tuple<const shapes::Shape*, double, double>;
  struct Job {
    shapes::ShapeConstPtr shape;
    LinkScaling scaling;
    MeshTreeInput input;
    std::shared_ptr<fcl::CollisionGeometryd> tree;
    // The first job of a mesh at a scale also builds the mesh's inside,
    // held here until the checkers' geometry holds it.
    bool builds_solid = false;
    std::shared_ptr<const MeshSolid> solid;
  };

  void collectJobs(const moveit::core::RobotModel& model, const std::vector<LinkScaling>& scalings);
  void buildAll(const TreeBuilder& build);

  std::vector<Job> jobs_;
  std::map<Key, size_t> job_of_;
  LinkTreeBatch* outer_;
};

}  // namespace internal
}  // namespace bramlock
