#pragma once

#include <memory>

#include <fcl/geometry/bvh/detail/BV_splitter_base.h>
#include <fcl/math/bv/OBBRSS.h>

#include "link_tree_batch.h"

namespace bramlock {
namespace internal {

// The split rule of FCL's tree over the mesh: FCL's, at the mean of the
// triangles' centres, but along the axis of the node's box along which the
// centres vary the most (not always its first, along which a fan's centres
// crowd). Over a mesh of a few pieces far apart it first parts a node's
// largest piece from the rest: FCL's rule cuts a large piece in two and keeps
// each half together with far pieces for many levels, so every box near the
// large piece descends nodes that reach across the gap.
std::shared_ptr<fcl::detail::BVSplitterBase<fcl::OBBRSSd>> splitterFor(const MeshTreeInput& input);

}  // namespace internal
}  // namespace bramlock
