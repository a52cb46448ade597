#include "written_winding.h"

#include <algorithm>

namespace bramlock {
namespace internal {

namespace {

constexpr double kClearlyInside = 0.9;
constexpr double kClearlyOutside = 0.1;
// How far from every triangle a point must lie to be clearly outside, in metres.
constexpr double kClearance = 0.01;

}  // namespace

WrittenWinding::WrittenWinding(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& triangles)
    : points_(points) {
  // Turning a triangle's corners round keeps its winding.
  std::vector<Corners> from_lowest = triangles;
  for (Corners& corners : from_lowest)
    std::rotate(corners.begin(), std::min_element(corners.begin(), corners.end()), corners.end());
  std::sort(from_lowest.begin(), from_lowest.end());
  for (std::size_t begin = 0, end = 0; begin < from_lowest.size(); begin = end) {
    RimCap fan;
    fan.apex = points_[from_lowest[begin][0]];
    fan.vector_area.setZero();
    fan.first_edge = static_cast<std::uint32_t>(edges_.size());
    for (end = begin; end < from_lowest.size() && from_lowest[end][0] == from_lowest[begin][0]; ++end) {
      const Eigen::Vector3d& b = points_[from_lowest[end][1]];
      const Eigen::Vector3d& c = points_[from_lowest[end][2]];
      fan.vector_area += 0.5 * (b - fan.apex).cross(c - fan.apex);
      fan.radius = std::max({fan.radius, (b - fan.apex).norm(), (c - fan.apex).norm()});
      edges_.push_back({from_lowest[end][1], from_lowest[end][2]});
    }
    fan.last_edge = static_cast<std::uint32_t>(edges_.size());
    fans_.push_back(fan);
  }
  fans_.arrange(points_, edges_);
}

bool WrittenWinding::clearlyInside(const Eigen::Vector3d& point) const {
  return fans_.reaches(points_, edges_, point, kClearlyInside, true);
}

bool WrittenWinding::clearlyOutside(const Eigen::Vector3d& point) const {
  return !fans_.reaches(points_, edges_, point, kClearlyOutside, true) &&
         fans_.allFartherThan(points_, edges_, point, kClearance);
}

}  // namespace internal
}  // namespace bramlock
