#include "octree_prefilter.h"

#include <fcl/geometry/octree/octree.h>

namespace collision_detection {

namespace {

// Far above the rounding of the box arithmetic and the tolerance of FCL's
// box-against-shape tests, so that a pair judged clear is clear by any of them.
constexpr double kMargin = 1e-3;
constexpr double kRigidTolerance = 1e-9;

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

// The other object's local bounding box carried into the octree's frame
// (the box around the carried box), grown by the margin.
bool boxInOctreeFrame(const fcl::CollisionObjectd& octree_object, const fcl::CollisionObjectd& other,
                      fcl::AABBd& box) {
  if (!isRigid(octree_object.getTransform()) || !isRigid(other.getTransform())) return false;
  const fcl::AABBd& local = other.collisionGeometry()->aabb_local;
  // A box never computed (FCL's empty box) bounds nothing.
  if ((local.min_.array() > local.max_.array()).any()) return false;
  const fcl::Transform3d relative = octree_object.getTransform().inverse(Eigen::Isometry) * other.getTransform();
  const Eigen::Vector3d centre = relative * local.center();
  const Eigen::Vector3d half =
      relative.linear().cwiseAbs() * (0.5 * (local.max_ - local.min_)) + Eigen::Vector3d::Constant(kMargin);
  box.min_ = centre - half;
  box.max_ = centre + half;
  return box.min_.allFinite() && box.max_.allFinite();
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
// children whose halves meet the box are looked at.
bool reachesOccupiedLeaf(const fcl::OcTreed& tree, const fcl::OcTreed::OcTreeNode* node, const fcl::AABBd& node_box,
                         const fcl::AABBd& box) {
  if (!tree.isNodeOccupied(node)) return false;
  if (!tree.nodeHasChildren(node)) return true;
  const Eigen::Vector3d middle = (node_box.min_ + node_box.max_) * 0.5;
  // The halves along each axis that meet the box (the node itself meets it).
  const Eigen::Array3i first = (box.min_.array() > middle.array()).cast<int>();
  const Eigen::Array3i last = (box.max_.array() >= middle.array()).cast<int>();
  for (int z = first[2]; z <= last[2]; ++z) {
    for (int y = first[1]; y <= last[1]; ++y) {
      for (int x = first[0]; x <= last[0]; ++x) {
        const unsigned int child = x | (y << 1) | (z << 2);
        if (!tree.nodeChildExists(node, child)) continue;
        if (reachesOccupiedLeaf(tree, tree.getNodeChild(node, child), childBox(node_box, middle, child), box)) {
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
  fcl::AABBd box;
  if (!boxInOctreeFrame(octree_object, other, box)) return false;
  const fcl::OcTreed::OcTreeNode* root = tree.getRoot();
  if (!root) return true;
  const fcl::AABBd root_box = tree.getRootBV();
  return !root_box.overlap(box) || !reachesOccupiedLeaf(tree, root, root_box, box);
}

}  // namespace collision_detection
