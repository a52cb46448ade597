#pragma once

#include <cstddef>
#include <limits>
#include <set>
#include <string>

#include "bramlock_arm_planning_core/export.h"

namespace moveit {
namespace core {
class LinkModel;
}
}  // namespace moveit

namespace collision_detection {

class AllowedCollisionMatrix;

// Which distance records a query keeps.
enum DistanceRequestType : int {
  GLOBAL_MINIMUM = 0,    // only the smallest distance over all pairs
  ONE_PER_PAIR = 1,      // one record for each pair of bodies
  LIMITED_PER_PAIR = 2,  // up to max_contacts_per_body records for each pair
  ALL_PER_PAIR = 3,      // every record below the threshold
};

// The options of one distance query.
struct BRAMLOCK_EXPORT DistanceRequest {
  bool nearest_points = false;
  bool signed_distance = false;
  DistanceRequestType type = GLOBAL_MINIMUM;
  size_t max_contacts_per_body = 1;
  std::string group_name;
  const std::set<const moveit::core::LinkModel*>* active_links = nullptr;  // null: every link
  const AllowedCollisionMatrix* acm = nullptr;                             // null: no pair allowed
  double distance_threshold = std::numeric_limits<double>::max();
  bool verbose = false;
};

}  // namespace collision_detection
