#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include <Eigen/Geometry>

namespace bramlock {
namespace internal {

// Boxes, for asking whether any of them meets a box or holds a point: a few
// are tried in turn, many through a tree of their bounds, so that a mesh of
// many small pieces costs about what one of few does.
class BoxSet {
 public:
  BoxSet() = default;
  explicit BoxSet(std::vector<Eigen::AlignedBox3d> boxes);

  bool empty() const { return boxes_.empty(); }
  // In the order given.
  const std::vector<Eigen::AlignedBox3d>& boxes() const { return boxes_; }
  // Whether some box meets the box from `low` to `high` (faces touching count).
  bool anyMeets(const Eigen::Vector3d& low, const Eigen::Vector3d& high) const;
  bool anyHolds(const Eigen::Vector3d& point) const { return anyMeets(point, point); }
  // visit(k) for each box k that `near` takes, as do the bounds of every
  // group of boxes holding it (so `near` must take any box around one it
  // takes), until visit returns true (then true).
  template <typename Near, typename Visit>
  bool anyVisitedNear(const Near& near, const Visit& visit) const {
    const auto visitBox = [&](std::uint32_t k) { return near(boxes_[k]) && visit(k); };
    if (nodes_.empty()) {
      for (std::uint32_t k = 0; k < boxes_.size(); ++k) {
        if (visitBox(k)) return true;
      }
      return false;
    }
    std::uint32_t pending[64];
    int count = 0;
    pending[count++] = 0;
    while (count > 0) {
      const std::uint32_t index = pending[--count];
      const Node& node = nodes_[index];
      if (!near(node.bounds)) continue;
      if (node.second == 0) {
        if (std::any_of(order_.begin() + node.first, order_.begin() + node.last, visitBox)) return true;
        continue;
      }
      pending[count++] = node.second;
      pending[count++] = index + 1;
    }
    return false;
  }

 private:
  // The bounds of the boxes order_[first, last) names; an inner node's
  // children follow it in the array, the second at `second`.
  struct Node {
    Eigen::AlignedBox3d bounds;
    std::uint32_t first;
    std::uint32_t last;
    std::uint32_t second;
  };
  std::uint32_t build(std::uint32_t first, std::uint32_t last);

  std::vector<Eigen::AlignedBox3d> boxes_;
  std::vector<std::uint32_t> order_;
  std::vector<Node> nodes_;
};

}  // namespace internal
}  // namespace bramlock
