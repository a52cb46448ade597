#include "box_set.h"

#include <algorithm>

namespace bramlock {
namespace internal {

namespace {

// Fewer boxes than this are tried one by one.
constexpr std::size_t kMostInTurn = 8;

bool meets(const Eigen::AlignedBox3d& box, const Eigen::Vector3d& low, const Eigen::Vector3d& high) {
  return (low.array() <= box.max().array()).all() && (high.array() >= box.min().array()).all();
}

}  // namespace

BoxSet::BoxSet(std::vector<Eigen::AlignedBox3d> boxes) : boxes_(std::move(boxes)) {
  if (boxes_.size() <= kMostInTurn) return;
  order_.resize(boxes_.size());
  for (std::uint32_t k = 0; k < order_.size(); ++k) order_[k] = k;
  build(0, static_cast<std::uint32_t>(boxes_.size()));
}

// Splits the boxes at the median of their centres along the bounds' longest side.
std::uint32_t BoxSet::build(std::uint32_t first, std::uint32_t last) {
  const auto index = static_cast<std::uint32_t>(nodes_.size());
  Eigen::AlignedBox3d bounds;
  for (std::uint32_t k = first; k < last; ++k) bounds.extend(boxes_[order_[k]]);
  nodes_.push_back(Node{bounds, first, last, 0});
  if (last - first <= kMostInTurn / 2) return index;
  int axis = 0;
  bounds.sizes().maxCoeff(&axis);
  const std::uint32_t middle = first + (last - first) / 2;
  std::nth_element(order_.begin() + first, order_.begin() + middle, order_.begin() + last,
                   [this, axis](std::uint32_t a, std::uint32_t b) {
                     return boxes_[a].min()[axis] + boxes_[a].max()[axis] <
                            boxes_[b].min()[axis] + boxes_[b].max()[axis];
                   });
  build(first, middle);
  const std::uint32_t second = build(middle, last);
  nodes_[index].second = second;
  return index;
}

bool BoxSet::anyMeets(const Eigen::Vector3d& low, const Eigen::Vector3d& high) const {
  return anyVisitedNear([&](const Eigen::AlignedBox3d& box) { return meets(box, low, high); },
                        [](std::uint32_t) { return true; });
}

}  // namespace internal
}  // namespace bramlock
