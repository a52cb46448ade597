#include "octree_prefilter.h"

#include <cmath>

#include <fcl/geometry/octree/octree.h>

namespace collision_detection {

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

bool isRigid(const fcl::Transform3d& pose) {
  const Eigen::Matrix3d rotation = pose.linear();
  return ((rotation.transpose() * rotation - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff() <= kRigidTolerance) &&
         pose.translation().allFinite();
}

// The other object's local bounding box carried into the octree's frame and
// grown by the margin: as an oriented box, and the axis-aligned box around it.
struct CarriedBox {
  Eigen::Vector3d centre;
  Eigen::Matrix3d axes;      // columns: the box's axes in the octree's frame
  Eigen::Matrix3d abs_axes;  // |axes|, slightly enlarged against rounding
  Eigen::Vector3d half;
  fcl::AABBd bounds;
};

bool carryIntoOctreeFrame(const fcl::CollisionObjectd& octree_object, const fcl::CollisionObjectd& other,
                          CarriedBox& carried) {
  if (!isRigid(octree_object.getTransform()) || !isRigid(other.getTransform())) return false;
  const fcl::AABBd& local = other.collisionGeometry()->aabb_local;
  // A box never computed (FCL's empty box) bounds nothing.
  if ((local.min_.array() > local.max_.array()).any()) return false;
  const fcl::Transform3d relative = octree_object.getTransform().inverse(Eigen::Isometry) * other.getTransform();
  carried.centre = relative * local.center();
  carried.axes = relative.linear();
  carried.abs_axes = carried.axes.cwiseAbs().array() + kAxisSlack;
  carried.half = 0.5 * (local.max_ - local.min_) + Eigen::Vector3d::Constant(kMargin);
  const Eigen::Vector3d reach = carried.abs_axes * carried.half;
  carried.bounds.min_ = carried.centre - reach;
  carried.bounds.max_ = carried.centre + reach;
  return carried.bounds.min_.allFinite() && carried.bounds.max_.allFinite() && carried.half.allFinite();
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
  for (int i = 0; i < 3; ++i) {
    const int i1 = (i + 1) % 3, i2 = (i + 2) % 3;
    for (int j = 0; j < 3; ++j) {
      const int j1 = (j + 1) % 3, j2 = (j + 2) % 3;
      const double node_radius = node_half[i1] * abs_r(i2, j) + node_half[i2] * abs_r(i1, j);
      const double box_radius = b[j1] * abs_r(i, j2) + b[j2] * abs_r(i, j1);
      if (std::abs(t[i2] * r(i1, j) - t[i1] * r(i2, j)) > node_radius + box_radius) return true;
    }
  }
  return false;
}

// The box of a node's child, split at the node's middle as FCL splits it:
// bit k of the child index selects the upper half along axis k.
fcl::AABBd childBox(const fcl::AABBd& node_box, const Eigen::Vector3d& middle, unsigned int child) {
  fcl::AABBd box;
  for (int axis = 0; axis < 3; ++axis) {
    const bool upper = (child >> axis) & 1u;
    box.min_[axis] = upper ? middle[axis] : node_box.min_[axis];
    box.max_[axis] = upper ? node_box.max_[axis] : middle[axis];
  }
  return box;
}

// Mirrors FCL's descent without cost computation: it enters occupied nodes
// only and tests occupied leaves, each as the box of its node. Only the
// children whose halves meet the bounding box are looked at; nodes no larger
// than the carried box also have to meet the oriented box itself.
bool reachesOccupiedLeaf(const fcl::OcTreed& tree, const fcl::OcTreed::OcTreeNode* node, const fcl::AABBd& node_box,
                         const CarriedBox& carried) {
  if (!tree.isNodeOccupied(node)) return false;
  const Eigen::Vector3d middle = (node_box.min_ + node_box.max_) * 0.5;
  const Eigen::Vector3d node_half = 0.5 * (node_box.max_ - node_box.min_);
  if (node_half.maxCoeff() <= carried.half.maxCoeff() && separatedFromNode(carried, middle, node_half)) return false;
  if (!tree.nodeHasChildren(node)) return true;
  const fcl::AABBd& box = carried.bounds;
  // The halves along each axis that meet the bounding box (the node itself meets it).
  const Eigen::Array3i first = (box.min_.array() > middle.array()).cast<int>();
  const Eigen::Array3i last = (box.max_.array() >= middle.array()).cast<int>();
  for (int z = first[2]; z <= last[2]; ++z) {
    for (int y = first[1]; y <= last[1]; ++y) {
      for (int x = first[0]; x <= last[0]; ++x) {
        const unsigned int child = x | (y << 1) | (z << 2);
        if (!tree.nodeChildExists(node, child)) continue;
        if (reachesOccupiedLeaf(tree, tree.getNodeChild(node, child), childBox(node_box, middle, child), carried)) {
          return true;
        }
      }
    }
  }
  return false;
}

}  // namespace

bool provablyClearOfOctree(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2) {
  const fcl::OcTreed* tree1 = octreeOf(o1);
  const fcl::OcTreed* tree2 = octreeOf(o2);
  if ((tree1 != nullptr) == (tree2 != nullptr)) return false;
  const fcl::OcTreed& tree = tree1 ? *tree1 : *tree2;
  const fcl::CollisionObjectd& octree_object = tree1 ? o1 : o2;
  const fcl::CollisionObjectd& other = tree1 ? o2 : o1;
  CarriedBox carried;
  if (!carryIntoOctreeFrame(octree_object, other, carried)) return false;
  const fcl::OcTreed::OcTreeNode* root = tree.getRoot();
  if (!root) return true;
  const fcl::AABBd root_box = tree.getRootBV();
  return !root_box.overlap(carried.bounds) || !reachesOccupiedLeaf(tree, root, root_box, carried);
}

}  // namespace collision_detection
