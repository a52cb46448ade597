#include "written_winding.h"

#include <algorithm>
#include <utility>

namespace bramlock {
namespace internal {

namespace {

// The triangles as fans after the caps given, and the tree over them all.
void arrangeAsFans(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& triangles, RimCaps& fans,
                   RimCaps::Edges& edges) {
  // Turning a triangle's corners round keeps its winding.
  std::vector<Corners> from_lowest = triangles;
  for (Corners& corners : from_lowest) {
    std::rotate(corners.begin(), std::min_element(corners.begin(), corners.end()), corners.end());
  }
  std::sort(from_lowest.begin(), from_lowest.end());
  for (std::size_t begin = 0, end = 0; begin < from_lowest.size(); begin = end) {
    RimCap fan;
    fan.apex = points[from_lowest[begin][0]];
    fan.vector_area.setZero();
    fan.first_edge = static_cast<std::uint32_t>(edges.size());
    for (end = begin; end < from_lowest.size() && from_lowest[end][0] == from_lowest[begin][0]; ++end) {
      const Eigen::Vector3d& b = points[from_lowest[end][1]];
      const Eigen::Vector3d& c = points[from_lowest[end][2]];
      fan.vector_area += 0.5 * (b - fan.apex).cross(c - fan.apex);
      fan.radius = std::max({fan.radius, (b - fan.apex).norm(), (c - fan.apex).norm()});
      edges.push_back({from_lowest[end][1], from_lowest[end][2]});
    }
    fan.last_edge = static_cast<std::uint32_t>(edges.size());
    fans.push_back(fan);
  }
  fans.arrange(points, edges);
}

}  // namespace

WrittenWinding::WrittenWinding(std::vector<Eigen::Vector3d> points, const std::vector<Corners>& written,
                               const std::vector<Corners>& changed, std::vector<RimCap> caps, RimCaps::Edges cap_edges)
    : points_(std::move(points)), has_changes_(!changed.empty() || !caps.empty()), change_edges_(std::move(cap_edges)) {
  arrangeAsFans(points_, written, fans_, edges_);
  for (const RimCap& cap : caps) changes_.push_back(cap);
  arrangeAsFans(points_, changed, changes_, change_edges_);
}

bool WrittenWinding::reaches(const Eigen::Vector3d& point, double least) const {
  return fans_.reaches(points_, edges_, point, least, true);
}

bool WrittenWinding::fartherThan(const Eigen::Vector3d& point, double distance) const {
  return fans_.allFartherThan(points_, edges_, point, distance);
}

}  // namespace internal
}  // namespace bramlock
