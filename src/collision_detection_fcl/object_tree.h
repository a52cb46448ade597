#pragma once

#include <memory>
#include <vector>

#include <fcl/broadphase/broadphase_dynamic_AABB_tree.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/fcl_geometry.h"

namespace bramlock {
namespace internal {

// FCL's dynamic AABB tree over one query's objects, built exactly as a fresh
// DynamicAABBTreeCollisionManager builds it when the objects are registered in
// one call (median split on the widest axis, two leaves joined), so a self
// query visits the same pairs in the same order. Unlike the manager it keeps
// its node storage between builds and holds no object table.
class ObjectTree {
 public:
  // Replaces the tree by one over the objects, in their order; the objects
  // must outlive the queries on this build.
  void build(const std::vector<fcl::CollisionObjectd*>& objects);

  // Every overlapping pair of the objects, until the callback returns true.
  void collide(void* cdata, fcl::CollisionCallBack<double> callback);
  void distance(void* cdata, fcl::DistanceCallBack<double> callback);

 private:
  using Node = fcl::DynamicAABBTreeCollisionManagerd::DynamicAABBNode;
  using NodeIterator = std::vector<Node*>::iterator;

  Node* newNode();
  Node* joined(Node* first, Node* second);
  Node* topDown(NodeIterator begin, NodeIterator end);

  std::vector<Node> nodes;
  std::vector<Node*> leaves;
  Node* root = nullptr;
};

// A tree for one query, taken from the calling thread's spare trees and given
// back at the end; a query started inside another query takes its own.
class LeasedObjectTree {
 public:
  LeasedObjectTree();
  ~LeasedObjectTree();
  LeasedObjectTree(const LeasedObjectTree&) = delete;
  LeasedObjectTree& operator=(const LeasedObjectTree&) = delete;

  ObjectTree* operator->() { return tree.get(); }

 private:
  std::unique_ptr<ObjectTree> tree;
};

}  // namespace internal
}  // namespace bramlock
