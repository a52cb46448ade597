#pragma once

#include <array>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Core>

#include "bramlock_arm_planning_core/collision_detection/contact_types.h"
#include "bramlock_arm_planning_core/export.h"

namespace collision_detection {

// One measured distance between two bodies.
struct BRAMLOCK_EXPORT DistanceResultsData {
  double distance = std::numeric_limits<double>::max();
  std::array<Eigen::Vector3d, 2> nearest_points{{Eigen::Vector3d::Zero(), Eigen::Vector3d::Zero()}};
  std::array<std::string, 2> link_names;
  std::array<BodyType, 2> body_types{{WORLD_OBJECT, WORLD_OBJECT}};
  Eigen::Vector3d normal = Eigen::Vector3d::Zero();
};

// The answer of one distance query. Distances are measured between the
// surfaces FCL tests: an obstacle wholly inside a mesh, which the collision
// checks against the world count as a collision, is at a positive distance.
struct BRAMLOCK_EXPORT DistanceResult {
  using DistanceMap = std::map<std::pair<std::string, std::string>, std::vector<DistanceResultsData>>;

  bool collision = false;
  DistanceResultsData minimum_distance;  // the overall minimum
  DistanceMap distances;                 // per pair of body names
};

}  // namespace collision_detection
