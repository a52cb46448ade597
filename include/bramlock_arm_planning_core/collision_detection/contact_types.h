#pragma once

#include <array>
#include <string>

#include <Eigen/Core>

#include "bramlock_arm_planning_core/export.h"

namespace collision_detection {

// Kind of a body taking part in a collision query. The FCL geometry's owner
// tag uses the same numbers.
enum BodyType : int {
  LINK = 0,
  ATTACHED_BODY = 1,
  WORLD_OBJECT = 2,
};

// One contact between two bodies: where it lies, its normal and how deep the
// bodies overlap, then the two bodies.
struct BRAMLOCK_EXPORT Contact {
  Eigen::Vector3d pos = Eigen::Vector3d::Zero();
  Eigen::Vector3d normal = Eigen::Vector3d::Zero();
  double depth = 0.0;
  std::string body_name_1;
  BodyType body_type_1 = WORLD_OBJECT;
  std::string body_name_2;
  BodyType body_type_2 = WORLD_OBJECT;
};

// A box of space with a collision cost.
struct BRAMLOCK_EXPORT CostSource {
  std::array<double, 3> aabb_min{{0.0, 0.0, 0.0}};
  std::array<double, 3> aabb_max{{0.0, 0.0, 0.0}};
  double cost = 0.0;

  // Highest cost first, then by the corners. A total order even with NaN
  // values (they sort last), so a set of sources stays well formed.
  bool operator<(const CostSource& other) const;
};

}  // namespace collision_detection
