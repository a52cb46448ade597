#pragma once

#include <cstddef>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/collision_detection/contact_types.h"
#include "bramlock_arm_planning_core/export.h"

namespace collision_detection {

// The answer of one collision query. The FCL checkers set `collision` (and
// the distance and cost sources when asked) but record no contacts, even
// with want_contacts: contact_count stays 0 and contacts stays empty.
struct BRAMLOCK_EXPORT CollisionResult {
  using ContactMap = std::map<std::pair<std::string, std::string>, std::vector<Contact>>;

  bool collision = false;
  double distance = std::numeric_limits<double>::max();  // set when compute_distance was asked
  size_t contact_count = 0;
  ContactMap contacts;  // per pair of body names; left empty by the FCL checkers
  std::set<CostSource> cost_sources;
};

}  // namespace collision_detection
