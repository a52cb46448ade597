#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <fcl/narrowphase/collision_object.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/fcl_geometry.h"

namespace bramlock {
namespace internal {

using PlacedBlock = std::vector<fcl::CollisionObjectd>;

// A robot checker's objects of one query: the link objects in a block taken
// for the query, then the attached bodies' objects. `objects` lists them all
// in that order, each marked with its index there (sideIndex).
struct PlacedRobot {
  std::shared_ptr<PlacedBlock> links;
  collision_detection::FCLObject attached;
  std::vector<fcl::CollisionObjectd*> objects;
  // Drawn afresh whenever the owners of the objects change, never shared with
  // another checker or with a query whose attached bodies' geometry was built
  // for it alone: pair verdicts remembered under it stay right.
  std::uint64_t owners_revision = 0;

  size_t linkCount() const { return links->size(); }
};

// One robot checker's blocks of link objects, kept for reuse: a block that no
// query and no caller holds any more is placed again instead of copied anew
// from the prototypes. Queries may take blocks on several threads at once.
class PlacedBlocks {
 public:
  // A block of one copy of each prototype present, in order, that nobody
  // else holds; its objects' poses are left as they were.
  std::shared_ptr<PlacedBlock> take(const std::vector<std::shared_ptr<const fcl::CollisionObjectd>>& prototypes);
  // Drops the kept blocks: the prototypes changed.
  void clear();

 private:
  // Enough for every query of several threads at once; blocks beyond are not kept.
  static constexpr size_t kKept = 16;

  std::mutex mutex;
  std::vector<std::shared_ptr<PlacedBlock>> kept;
};

}  // namespace internal
}  // namespace bramlock
