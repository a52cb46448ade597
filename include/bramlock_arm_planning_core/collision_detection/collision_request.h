#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "bramlock_arm_planning_core/export.h"

namespace collision_detection {

struct CollisionResult;

// The options of one collision query.
struct BRAMLOCK_EXPORT CollisionRequest {
  virtual ~CollisionRequest() = default;

  std::string group_name;  // joint group whose links take part; empty for all
  bool compute_distance = false;
  bool compute_cost = false;
  // With it, a collision ends the search only at max_contacts; the FCL
  // checkers record no contacts (see CollisionResult), so they search on.
  bool want_contacts = false;
  size_t max_contacts = 1;
  size_t max_contacts_per_pair = 1;  // carried for callers
  size_t max_cost_sources = 1;
  double min_cost_density = 0.2;                        // carried for callers
  std::function<bool(const CollisionResult&)> is_done;  // carried for callers
  bool verbose = false;
};

}  // namespace collision_detection
