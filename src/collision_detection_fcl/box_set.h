#pragma once

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
