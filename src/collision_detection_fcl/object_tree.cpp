#include "object_tree.h"

#include <algorithm>
#include <cassert>
#include <limits>

namespace bramlock {
namespace internal {

namespace {

// The manager's default: more leaves than this are split top-down, fewer are joined.
constexpr long kJoinedLeaves = 2;

double centre(const fcl::AABBd& box, int axis) { return (box.min_[axis] + box.max_[axis]) * 0.5; }

int widestAxis(const fcl::AABBd& box) {
  const double extent[3] = {box.width(), box.height(), box.depth()};
  int axis = 0;
  if (extent[1] > extent[0]) axis = 1;
  if (extent[2] > extent[axis]) axis = 2;
  return axis;
}

// The calling thread's trees not leased at the moment; room is kept for every
// tree made, so giving one back never allocates.
struct SpareTrees {
  std::vector<std::unique_ptr<ObjectTree>> trees;
  size_t made = 0;
};

SpareTrees& spareTrees() {
  thread_local SpareTrees spare;
  return spare;
}

}  // namespace

void ObjectTree::build(const std::vector<fcl::CollisionObjectd*>& objects) {
  nodes.clear();
  leaves.clear();
  root = nullptr;
  if (objects.empty()) return;
  // A tree over n leaves has 2n - 1 nodes; the storage never moves while it is built.
  nodes.reserve(2 * objects.size() - 1);
  for (fcl::CollisionObjectd* object : objects) {
    Node* leaf = newNode();
    leaf->bv = object->getAABB();
    leaf->data = object;
    leaves.push_back(leaf);
  }
  root = topDown(leaves.begin(), leaves.end());
}

void ObjectTree::collide(void* cdata, fcl::CollisionCallBack<double> callback) {
  if (root) fcl::detail::dynamic_AABB_tree::selfCollisionRecurse<double>(root, cdata, callback);
}

void ObjectTree::distance(void* cdata, fcl::DistanceCallBack<double> callback) {
  double min_dist = std::numeric_limits<double>::max();
  if (root) fcl::detail::dynamic_AABB_tree::selfDistanceRecurse<double>(root, cdata, callback, min_dist);
}

ObjectTree::Node* ObjectTree::newNode() {
  assert(nodes.size() < nodes.capacity());
  return &nodes.emplace_back();
}

ObjectTree::Node* ObjectTree::joined(Node* first, Node* second) {
  Node* node = newNode();
  node->bv = first->bv + second->bv;
  node->children[0] = first;
  node->children[1] = second;
  first->parent = node;
  second->parent = node;
  return node;
}

// The manager's top-down build: the median along the widest axis of the
// leaves' box splits them, selected by the same std::nth_element call.
ObjectTree::Node* ObjectTree::topDown(NodeIterator begin, NodeIterator end) {
  const long count = end - begin;
  if (count == 1) return *begin;
  if (count == kJoinedLeaves) return joined(begin[0], begin[1]);
  fcl::AABBd box = (*begin)->bv;
  for (NodeIterator it = begin + 1; it < end; ++it) box += (*it)->bv;
  const int axis = widestAxis(box);
  const NodeIterator middle = begin + count / 2;
  std::nth_element(begin, middle, end,
                   [axis](const Node* a, const Node* b) { return centre(a->bv, axis) < centre(b->bv, axis); });
  // The two halves' boxes join to `box` exactly: boxes merge by min and max.
  Node* lower = topDown(begin, middle);
  return joined(lower, topDown(middle, end));
}

LeasedObjectTree::LeasedObjectTree() {
  SpareTrees& spare = spareTrees();
  if (spare.trees.empty()) {
    spare.trees.reserve(spare.made + 1);
    tree = std::make_unique<ObjectTree>();
    ++spare.made;
  } else {
    tree = std::move(spare.trees.back());
    spare.trees.pop_back();
  }
}

LeasedObjectTree::~LeasedObjectTree() { spareTrees().trees.push_back(std::move(tree)); }

}  // namespace internal
}  // namespace bramlock
