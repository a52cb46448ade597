#include "octree_prefilter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <fcl/geometry/bvh/BVH_model.h>
#include <fcl/geometry/octree/octree.h>
#include <fcl/geometry/shape/box.h>
#include <fcl/geometry/shape/utility.h>
#include <fcl/math/bv/OBB.h>
#include <fcl/math/bv/OBBRSS.h>
#include <fcl/math/bv/utility.h>
#include <fcl/narrowphase/detail/gjk_solver_libccd.h>

#include "solid_mesh_model.h"

namespace bramlock {
namespace internal {

namespace {

// Far above the rounding of the box arithmetic and the tolerance of FCL's
// box-against-shape tests, so that a pair judged clear is clear by any of them.
constexpr double kMargin = 1e-3;
constexpr double kRigidTolerance = 1e-9;
// Widens the separating-axis sums against rounding and near-parallel edges.
constexpr double kAxisSlack = 1e-9;

const fcl::OcTreed* octreeOf(const fcl::CollisionObjectd& object) {
  const fcl::CollisionGeometryd* geometry = object.collisionGeometry().get();
  if (!geometry || geometry->getNodeType() != fcl::GEOM_OCTREE) return nullptr;
  return static_cast<const fcl::OcTreed*>(geometry);
}

// Columns of unit length and at right angles to each other, within the
// tolerance, read in place (a 3x3 product and a temporary cost more than the
// test they serve); any value that is not finite fails.
bool isRigid(const fcl::Transform3d& pose) {
  const Eigen::Matrix4d& m = pose.matrix();
  for (int i = 0; i < 3; ++i) {
    for (int j = i; j < 3; ++j) {
      const double dot = m(0, i) * m(0, j) + m(1, i) * m(1, j) + m(2, i) * m(2, j);
      if (!(std::abs(dot - (i == j ? 1.0 : 0.0)) <= kRigidTolerance)) return false;
    }
  }
  return pose.translation().allFinite();
}

// The inverse of the octree's pose, or null when the pose is not rigid. All
// links of a query meet the octree at one pose: the last pose seen (compared
// bit for bit) is kept with its verdict and inverse.
const fcl::Transform3d* inverseOfOctreePose(const fcl::Transform3d& pose) {
  struct Kept {
    Eigen::Matrix4d pose = Eigen::Matrix4d::Constant(std::numeric_limits<double>::quiet_NaN());
    bool rigid = false;  // as a pose of NaNs is
    fcl::Transform3d inverse;
  };
  thread_local Kept kept;
  if (std::memcmp(pose.data(), kept.pose.data(), sizeof(double) * 16) != 0) {
    kept.pose = pose.matrix();
    kept.rigid = isRigid(pose);
    if (kept.rigid) kept.inverse = pose.inverse(Eigen::Isometry);
  }
  return kept.rigid ? &kept.inverse : nullptr;
}

// The other object's local bounding box carried into the octree's frame and
// grown by the margin: as an oriented box, and the axis-aligned box around it.
struct CarriedBox {
  Eigen::Vector3d centre;
  Eigen::Matrix3d axes;      // columns: the box's axes in the octree's frame
  Eigen::Matrix3d abs_axes;  // |axes|, slightly enlarged against rounding
  Eigen::Vector3d half;
  double largest_half = 0.0;
  fcl::AABBd bounds;
};

// The other object's pose in the frame whose inverse pose is given; none
// where its own pose is not rigid.
std::optional<fcl::Transform3d> relativePose(const fcl::Transform3d& frame_inverse,
                                             const fcl::CollisionObjectd& other) {
  if (!isRigid(other.getTransform())) return std::nullopt;
  return frame_inverse * other.getTransform();
}

// A box of the other object's (its own bounding box, or a part of it, in its
// frame) carried by the other object's relative pose.
bool carryBox(const fcl::Transform3d& relative, const Eigen::Vector3d& low, const Eigen::Vector3d& high,
              CarriedBox& carried) {
  // A box never computed (FCL's empty box) bounds nothing.
  if ((low.array() > high.array()).any()) return false;
  carried.centre = relative * ((low + high) * 0.5);
  carried.axes = relative.linear();
  carried.abs_axes = carried.axes.cwiseAbs().array() + kAxisSlack;
  carried.half = 0.5 * (high - low) + Eigen::Vector3d::Constant(kMargin);
  carried.largest_half = carried.half.maxCoeff();
  const Eigen::Vector3d reach = carried.abs_axes * carried.half;
  carried.bounds.min_ = carried.centre - reach;
  carried.bounds.max_ = carried.centre + reach;
  return carried.bounds.min_.allFinite() && carried.bounds.max_.allFinite() && carried.half.allFinite();
}

// The other object's local bounding box carried into the frame whose inverse pose is given.
bool carryInto(const fcl::Transform3d& frame_inverse, const fcl::CollisionObjectd& other, CarriedBox& carried) {
  const std::optional<fcl::Transform3d> relative = relativePose(frame_inverse, other);
  const fcl::AABBd& local = other.collisionGeometry()->aabb_local;
  return relative && carryBox(*relative, local.min_, local.max_, carried);
}

// Separating-axis test of an axis-aligned node box against the carried box
// on the carried box's axes and the nine edge cross products (the node's own
// axes are those of the bounding box, tested before).
bool separatedFromNode(const CarriedBox& carried, const Eigen::Vector3d& node_centre,
                       const Eigen::Vector3d& node_half) {
  const Eigen::Vector3d t = carried.centre - node_centre;
  const Eigen::Matrix3d& r = carried.axes;
  const Eigen::Matrix3d& abs_r = carried.abs_axes;
  const Eigen::Vector3d& b = carried.half;
  for (int j = 0; j < 3; ++j) {
    if (std::abs(t.dot(r.col(j))) > node_half.dot(abs_r.col(j)) + b[j]) return true;
  }
  // The other two axes of each axis, without a division per pair.
  static constexpr int kNext[3] = {1, 2, 0};
  static constexpr int kAfterNext[3] = {2, 0, 1};
  for (int i = 0; i < 3; ++i) {
    const int i1 = kNext[i], i2 = kAfterNext[i];
    for (int j = 0; j < 3; ++j) {
      const int j1 = kNext[j], j2 = kAfterNext[j];
      const double node_radius = node_half[i1] * abs_r(i2, j) + node_half[i2] * abs_r(i1, j);
      const double box_radius = b[j1] * abs_r(i, j2) + b[j2] * abs_r(i, j1);
      if (std::abs(t[i2] * r(i1, j) - t[i1] * r(i2, j)) > node_radius + box_radius) return true;
    }
  }
  return false;
}

// A node's box; kept apart from fcl::AABBd, whose constructor is not inlined.
struct NodeBox {
  Eigen::Vector3d min;
  Eigen::Vector3d max;
};

// The box of a node's child, split at the node's middle as FCL splits it:
// bit k of the child index selects the upper half along axis k.
NodeBox childBox(const NodeBox& node_box, const Eigen::Vector3d& middle, unsigned int child) {
  NodeBox box{node_box.min, middle};
  for (int axis = 0; axis < 3; ++axis) {
    if ((child >> axis) & 1u) {
      box.min[axis] = middle[axis];
      box.max[axis] = node_box.max[axis];
    }
  }
  return box;
}

fcl::AABBd asAabb(const NodeBox& box) {
  fcl::AABBd aabb;
  aabb.min_ = box.min;
  aabb.max_ = box.max;
  return aabb;
}

// Mirrors FCL's descent without cost computation: it enters occupied nodes
// only and tests occupied leaves, each as the box of its node. Only the
// children whose halves meet the bounding box are looked at; nodes no larger
// than the carried box also have to meet the oriented box itself. Hands every
// occupied leaf so reached to `visit` until it returns true (then true).
// Most nodes on the way down meet the bounding box in one child only: those
// are followed in a loop.
template <typename Visit>
bool visitReachedLeaves(const fcl::OcTreed& tree, const fcl::OcTreed::OcTreeNode* node, NodeBox node_box,
                        const CarriedBox& carried, const Visit& visit) {
  const fcl::AABBd& box = carried.bounds;
  while (true) {
    if (!tree.isNodeOccupied(node)) return false;
    const Eigen::Vector3d middle = (node_box.min + node_box.max) * 0.5;
    const Eigen::Vector3d node_half = 0.5 * (node_box.max - node_box.min);
    if (node_half.maxCoeff() <= carried.largest_half && separatedFromNode(carried, middle, node_half)) return false;
    if (!tree.nodeHasChildren(node)) return visit(asAabb(node_box));
    // The halves along each axis that meet the bounding box (the node itself meets it).
    int first[3], last[3];
    bool single = true;
    for (int axis = 0; axis < 3; ++axis) {
      first[axis] = box.min_[axis] > middle[axis];
      last[axis] = box.max_[axis] >= middle[axis];
      single = single && first[axis] == last[axis];
    }
    if (single) {
      const unsigned int child = first[0] | (first[1] << 1) | (first[2] << 2);
      if (!tree.nodeChildExists(node, child)) return false;
      node = tree.getNodeChild(node, child);
      node_box = childBox(node_box, middle, child);
      continue;
    }
    for (int z = first[2]; z <= last[2]; ++z) {
      for (int y = first[1]; y <= last[1]; ++y) {
        for (int x = first[0]; x <= last[0]; ++x) {
          const unsigned int child = x | (y << 1) | (z << 2);
          if (!tree.nodeChildExists(node, child)) continue;
          if (visitReachedLeaves(tree, tree.getNodeChild(node, child), childBox(node_box, middle, child), carried,
                                 visit)) {
            return true;
          }
        }
      }
    }
    return false;
  }
}

// An occupied node below which the descent starts, with its box.
struct StartNode {
  const fcl::OcTreed::OcTreeNode* node;
  NodeBox box;
};

// Occupied nodes whose ancestors are all occupied, covering every occupied
// leaf the descent from the root can reach: the deepest level of the tree
// holding no more than kMaxStartNodes such nodes (leaves above it stay as
// they are). Testing their boxes saves the descent the long single-child
// chains that lead from the root (16 levels) to the obstacles.
std::vector<StartNode> startNodesOf(const fcl::OcTreed& tree) {
  constexpr size_t kMaxStartNodes = 32;
  std::vector<StartNode> level;
  const fcl::OcTreed::OcTreeNode* root = tree.getRoot();
  if (!root || !tree.isNodeOccupied(root)) return level;
  const fcl::AABBd root_box = tree.getRootBV();
  level.push_back({root, NodeBox{root_box.min_, root_box.max_}});
  while (true) {
    std::vector<StartNode> next;
    bool deeper = false;
    for (const StartNode& start : level) {
      if (!tree.nodeHasChildren(start.node)) {
        next.push_back(start);
        continue;
      }
      deeper = true;
      const Eigen::Vector3d middle = (start.box.min + start.box.max) * 0.5;
      for (unsigned int child = 0; child < 8; ++child) {
        if (!tree.nodeChildExists(start.node, child)) continue;
        const fcl::OcTreed::OcTreeNode* node = tree.getNodeChild(start.node, child);
        if (tree.isNodeOccupied(node)) next.push_back({node, childBox(start.box, middle, child)});
      }
    }
    if (!deeper || next.size() > kMaxStartNodes) return level;
    level.swap(next);
  }
}

// An octree's start nodes ordered by the lower x of their boxes, with the
// widest extent in x among them: the nodes a box can meet lie in one run.
struct StartNodes {
  std::vector<StartNode> nodes;
  double widest_x = 0.0;
};

StartNodes orderedStartNodesOf(const fcl::OcTreed& tree) {
  StartNodes start{startNodesOf(tree), 0.0};
  std::sort(start.nodes.begin(), start.nodes.end(),
            [](const StartNode& a, const StartNode& b) { return a.box.min.x() < b.box.min.x(); });
  for (const StartNode& node : start.nodes)
    start.widest_x = std::max(start.widest_x, node.box.max.x() - node.box.min.x());
  return start;
}

// The start nodes of the last few octrees met, each known by its geometry
// (held weakly, so a new octree at a freed one's address is not taken for
// it) and its root node.
class StartNodeCache {
 public:
  const StartNodes& startNodes(const fcl::CollisionObjectd& octree_object, const fcl::OcTreed& tree) {
    const fcl::OcTreed::OcTreeNode* root = tree.getRoot();
    for (const Entry& entry : entries_) {
      if (entry.tree == &tree && entry.root == root && !entry.geometry.expired()) return entry.nodes;
    }
    Entry& entry = entries_[next_];
    next_ = (next_ + 1) % entries_.size();
    entry.geometry = octree_object.collisionGeometry();
    entry.tree = &tree;
    entry.root = root;
    entry.nodes = orderedStartNodesOf(tree);
    return entry.nodes;
  }

 private:
  struct Entry {
    std::weak_ptr<const fcl::CollisionGeometryd> geometry;
    const fcl::OcTreed* tree = nullptr;
    const fcl::OcTreed::OcTreeNode* root = nullptr;
    StartNodes nodes;
  };
  std::array<Entry, 4> entries_;
  size_t next_ = 0;
};

// Closed boxes, as the descent picks the children that meet the bounding box.
bool meets(const NodeBox& node_box, const fcl::AABBd& bounds) {
  return (node_box.min.array() <= bounds.max_.array()).all() && (bounds.min_.array() <= node_box.max.array()).all();
}

// The octree and the other object of a pair holding exactly one octree.
struct OctreePair {
  const fcl::OcTreed* tree = nullptr;
  const fcl::CollisionObjectd* octree_object = nullptr;
  const fcl::CollisionObjectd* other = nullptr;
};

bool splitOctreePair(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2, OctreePair& pair) {
  const fcl::OcTreed* tree1 = octreeOf(o1);
  const fcl::OcTreed* tree2 = octreeOf(o2);
  if ((tree1 != nullptr) == (tree2 != nullptr)) return false;
  pair.tree = tree1 ? tree1 : tree2;
  pair.octree_object = tree1 ? &o1 : &o2;
  pair.other = tree1 ? &o2 : &o1;
  return true;
}

// The piece a leaf is handed with where the descent is made for the whole object.
constexpr std::size_t kWholeObject = std::numeric_limits<std::size_t>::max();

// act(node) for the start nodes whose boxes meet the bounds until it returns
// true (then true). Any order of the nodes gives the same answer: those left
// out before the run end below the bounds' lower x (twice the widest extent
// covers any rounding), those after it begin above their upper x.
template <typename Act>
bool anyStartNodeMeeting(const StartNodes& start, const fcl::AABBd& bounds, const Act& act) {
  const double lowest_start = bounds.min_.x() - 2.0 * start.widest_x;
  auto node = std::lower_bound(start.nodes.begin(), start.nodes.end(), lowest_start,
                               [](const StartNode& a, double x) { return a.box.min.x() < x; });
  for (; node != start.nodes.end() && node->box.min.x() <= bounds.max_.x(); ++node) {
    if (meets(node->box, bounds) && act(*node)) return true;
  }
  return false;
}

// Every occupied leaf the descent reaches, handed to `visit` with the index
// of the piece it was reached for, as above; false (nothing visited) when the
// other object cannot be carried into the octree's frame. With `pieces`,
// boxes in the other object's frame that hold all of it that matters (the
// pieces of a mesh), the descent is made for each of them instead of its
// whole bounding box, so that what lies between them is never visited (a
// leaf near two of them is visited for each); groups of pieces far from the
// octree's start nodes are passed over whole.
template <typename Visit>
bool visitLeavesNear(const OctreePair& pair, bool& carried_over, const BoxSet* pieces, const Visit& visit) {
  const fcl::Transform3d* octree_inverse = inverseOfOctreePose(pair.octree_object->getTransform());
  const std::optional<fcl::Transform3d> relative =
      octree_inverse ? relativePose(*octree_inverse, *pair.other) : std::nullopt;
  carried_over = relative.has_value();
  if (!carried_over) return false;
  thread_local StartNodeCache cache;
  const StartNodes& start = cache.startNodes(*pair.octree_object, *pair.tree);
  const auto visitAround = [&](const CarriedBox& part, std::size_t piece) {
    const auto visit_piece = [&visit, piece](const fcl::AABBd& leaf) { return visit(leaf, piece); };
    return anyStartNodeMeeting(start, part.bounds, [&](const StartNode& node) {
      return visitReachedLeaves(*pair.tree, node.node, node.box, part, visit_piece);
    });
  };
  if (!pieces) {
    const fcl::AABBd& local = pair.other->collisionGeometry()->aabb_local;
    CarriedBox whole;
    carried_over = carryBox(*relative, local.min_, local.max_, whole);
    return carried_over && visitAround(whole, kWholeObject);
  }
  // A box that cannot be carried stops the search, with nothing visited.
  CarriedBox carried;
  const auto near = [&](const Eigen::AlignedBox3d& box) {
    carried_over = carried_over && carryBox(*relative, box.min(), box.max(), carried);
    return !carried_over || anyStartNodeMeeting(start, carried.bounds, [](const StartNode&) { return true; });
  };
  // `near` has just carried the piece's own box.
  const bool reached =
      pieces->anyVisitedNear(near, [&](std::uint32_t piece) { return !carried_over || visitAround(carried, piece); });
  return carried_over && reached;
}

using MeshModel = fcl::BVHModel<fcl::OBBRSSd>;

// Leaves carried into the frame of a checker's mesh: whether a leaf's
// centre lies inside the mesh. The transform is made at the first leaf; most
// pairs reach none.
class LeafInMeshFrame {
 public:
  LeafInMeshFrame(const MeshSolid* inside, const fcl::Transform3d& octree_pose, const fcl::Transform3d& mesh_pose)
      : inside_(inside), octree_pose_(octree_pose), mesh_pose_(mesh_pose) {}

  // Asked for each piece the leaf is reached for, only that piece's box is tried.
  bool centreInside(const fcl::AABBd& leaf, std::size_t piece) {
    if (!inside_) return false;
    const Eigen::Vector3d centre = meshFromOctree() * ((leaf.min_ + leaf.max_) * 0.5);
    return piece == kWholeObject ? inside_->contains(centre) : inside_->containsInPiece(centre, piece);
  }

 private:
  const fcl::Transform3d& meshFromOctree() {
    if (!mesh_from_octree_) mesh_from_octree_ = mesh_pose_.inverse(Eigen::Isometry) * octree_pose_;
    return *mesh_from_octree_;
  }

  const MeshSolid* inside_;
  const fcl::Transform3d& octree_pose_;
  const fcl::Transform3d& mesh_pose_;
  std::optional<fcl::Transform3d> mesh_from_octree_;
};

// The boxes of a checker's mesh's pieces, where it has several: the leaves
// near none of them the triangles cannot reach.
const BoxSet* piecesOf(const SolidMeshModel* model) {
  return model && !model->pieceBoxes().empty() ? &model->pieceBoxes() : nullptr;
}

// The node of the mesh's tree below which a leaf reached for the piece is
// tested: triangles of other pieces it meets lie in their pieces' boxes, for
// which the leaf is reached too.
int startNodeOf(const SolidMeshModel* model, std::size_t piece) {
  return piece == kWholeObject ? 0 : model->pieceNodes()[piece];
}

const MeshModel* meshOf(const fcl::CollisionObjectd& object) {
  const fcl::CollisionGeometryd* geometry = object.collisionGeometry().get();
  if (!geometry || geometry->getNodeType() != fcl::BV_OBBRSS) return nullptr;
  const auto* mesh = static_cast<const MeshModel*>(geometry);
  // FCL tests a mesh only where its cost density marks it occupied.
  return mesh->getNumBVs() > 0 && mesh->isOccupied() ? mesh : nullptr;
}

// FCL's leaf test of one occupied octree leaf against the mesh's triangles:
// those whose bounding volumes overlap the leaf's box are tested with the
// same solver, box and poses as FCL's octree-against-mesh traversal uses.
class LeafAgainstMesh {
 public:
  LeafAgainstMesh(const MeshModel& mesh, const fcl::Transform3d& octree_pose, const fcl::Transform3d& mesh_pose)
      : mesh_(mesh), octree_pose_(octree_pose), mesh_pose_(mesh_pose) {
    solver_.collision_tolerance = kGjkTolerance;
  }

  // Against the triangles below the node of the mesh's tree.
  bool collides(const fcl::AABBd& leaf, int node) const {
    Leaf placed{leaf, {}, {}};
    fcl::convertBV(leaf, octree_pose_, placed.volume);
    return reaches(node, placed);
  }

 private:
  // A leaf as the traversal places it; the box for the triangle tests is
  // made when the first triangle is reached, most leaves reach none.
  struct Leaf {
    const fcl::AABBd& bounds;
    fcl::OBBd volume;
    std::optional<std::pair<fcl::Boxd, fcl::Transform3d>> box;
  };

  bool reaches(int index, Leaf& leaf) const {
    const fcl::BVNode<fcl::OBBRSSd>& node = mesh_.getBV(index);
    fcl::OBBd node_volume;
    fcl::convertBV(node.bv, mesh_pose_, node_volume);
    if (!leaf.volume.overlap(node_volume)) return false;
    if (!node.isLeaf()) return reaches(node.leftChild(), leaf) || reaches(node.rightChild(), leaf);
    if (!leaf.box) {
      leaf.box.emplace();
      fcl::constructBox(leaf.bounds, octree_pose_, leaf.box->first, leaf.box->second);
    }
    const fcl::Triangle& triangle = mesh_.tri_indices[node.primitiveId()];
    return solver_.shapeTriangleIntersect(leaf.box->first, leaf.box->second, mesh_.vertices[triangle[0]],
                                          mesh_.vertices[triangle[1]], mesh_.vertices[triangle[2]], mesh_pose_, nullptr,
                                          nullptr, nullptr);
  }

  // The tolerance the collision callback asks of FCL's solver.
  static constexpr double kGjkTolerance = 1e-6;

  const MeshModel& mesh_;
  const fcl::Transform3d& octree_pose_;
  const fcl::Transform3d& mesh_pose_;
  fcl::detail::GJKSolver_libccd<double> solver_;
};

}  // namespace

bool provablyApart(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2) {
  const fcl::AABBd& local = o1.collisionGeometry()->aabb_local;
  if (!isRigid(o1.getTransform()) || !local.min_.allFinite() || !local.max_.allFinite() ||
      (local.min_.array() > local.max_.array()).any()) {
    return false;
  }
  CarriedBox carried;
  if (!carryInto(o1.getTransform().inverse(Eigen::Isometry), o2, carried)) return false;
  const NodeBox box{local.min_, local.max_};
  return !meets(box, carried.bounds) ||
         separatedFromNode(carried, (box.min + box.max) * 0.5, 0.5 * (box.max - box.min));
}

bool provablyClearOfOctree(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2) {
  OctreePair pair;
  if (!splitOctreePair(o1, o2, pair)) return false;
  bool carried_over = false;
  const bool reached =
      visitLeavesNear(pair, carried_over, nullptr, [](const fcl::AABBd&, std::size_t) { return true; });
  return carried_over && !reached;
}

std::optional<bool> octreeMeshCollision(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2,
                                        bool count_inside) {
  OctreePair pair;
  if (!splitOctreePair(o1, o2, pair)) return std::nullopt;
  const MeshModel* mesh = meshOf(*pair.other);
  if (!mesh) return std::nullopt;
  const fcl::Transform3d& octree_pose = pair.octree_object->getTransform();
  const fcl::Transform3d& mesh_pose = pair.other->getTransform();
  const LeafAgainstMesh test(*mesh, octree_pose, mesh_pose);
  const SolidMeshModel* model = solidMeshModelOf(mesh);
  LeafInMeshFrame in_mesh_frame(count_inside ? insideOf(model) : nullptr, octree_pose, mesh_pose);
  bool carried_over = false;
  // The inside first: one look-up, where the triangles take a descent.
  const bool collides =
      visitLeavesNear(pair, carried_over, piecesOf(model), [&](const fcl::AABBd& leaf, std::size_t piece) {
        return in_mesh_frame.centreInside(leaf, piece) || test.collides(leaf, startNodeOf(model, piece));
      });
  if (!carried_over) return std::nullopt;
  return collides;
}

// Only cost requests come here: kept out of the way of the hot code.
__attribute__((cold)) bool octreeLeafInsideMesh(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2) {
  OctreePair pair;
  if (!splitOctreePair(o1, o2, pair)) return false;
  const SolidMeshModel* model = solidMeshModelOf(pair.other->collisionGeometry().get());
  if (!insideOf(model)) return false;
  LeafInMeshFrame in_mesh_frame(insideOf(model), pair.octree_object->getTransform(), pair.other->getTransform());
  bool carried_over = false;
  return visitLeavesNear(
      pair, carried_over, piecesOf(model),
      [&in_mesh_frame](const fcl::AABBd& leaf, std::size_t piece) { return in_mesh_frame.centreInside(leaf, piece); });
}

}  // namespace internal
}  // namespace bramlock
