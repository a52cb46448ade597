#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/fcl_geometry.h"

namespace bramlock {
namespace internal {

// Geometry built per shape, keyed by the shape's control block so that an
// expired shape can still be found and dropped.
struct FCLShapeCache {
  using Map = std::map<std::weak_ptr<const shapes::Shape>, std::shared_ptr<collision_detection::FCLGeometry>,
                       std::owner_less<std::weak_ptr<const shapes::Shape>>>;

  // Every this many insertions the entries of vanished shapes are dropped.
  static constexpr std::uint32_t kCleanInterval = 100;

  void insert(const shapes::ShapeConstPtr& shape, const std::shared_ptr<collision_detection::FCLGeometry>& geometry);
  // Resets the insertion count and drops the entries of vanished shapes.
  void clean();

  Map entries;
  std::uint32_t insert_count = 0;
};

// The calling thread's cache of one bounding-volume type and owner kind.
template <typename BV, typename Owner>
FCLShapeCache& GetShapeCache() {
  static thread_local FCLShapeCache cache;
  return cache;
}

}  // namespace internal
}  // namespace bramlock
