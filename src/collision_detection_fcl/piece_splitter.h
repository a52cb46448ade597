#pragma once

#include <memory>

#include <fcl/geometry/bvh/detail/BV_splitter_base.h>
#include <fcl/math/bv/OBBRSS.h>

#include "link_tree_batch.h"

namespace bramlock {
namespace internal {

// The split rule of FCL's tree over a mesh of a few pieces far apart, or null
// for any other mesh (FCL's own rule, which splits at the mean of the
// triangles' centres, serves it). FCL's rule cuts a large piece in two and
// keeps each half together with far pieces for many levels, so every box near
// the large piece descends nodes that reach across the gap; this rule first
// parts a node's largest piece from the rest.
std::shared_ptr<fcl::detail::BVSplitterBase<fcl::OBBRSSd>> pieceSplitterFor(const MeshTreeInput& input);

}  // namespace internal
}  // namespace bramlock
