// The trees over a mesh part the spokes of a fan into wedges of neighbours,
// also where its rim is a little uneven (a rim vertex merged with one a few
// steps away, as a file's reader merges near copies): a box near the apex but
// clear of the fan meets only a few of their boxes, and so does a segment
// across the fan near its apex, its spokes clipped to a cube round it.
// Parted along the spokes' length, on which their centres lie at about one
// place, the spokes fall into a middle and both flanks, whose boxes reach
// across the whole fan at its apex, and such a box meets hundreds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include <fcl/geometry/bvh/BVH_model.h>
#include <fcl/math/bv/OBB.h>
#include <fcl/math/bv/OBBRSS.h>
#include <fcl/math/bv/utility.h>

#include "collision_detection_fcl/link_tree_batch.h"
#include "collision_detection_fcl/solid/clipped_tree.h"
#include "solid_mesh_makers.h"

namespace {

using bramlock_test::TriangleMesh;

constexpr double kHeight = 0.04;

// A cone of 1,024 sides, its rim vertex 300 merged with rim vertex 296.
TriangleMesh unevenCone() {
  TriangleMesh cone = bramlock_test::coneMesh(kHeight, 0.01, 1024, 1);
  for (fcl::Triangle& triangle : cone.triangles) {
    for (int corner = 0; corner < 3; ++corner) {
      if (triangle[corner] == 2 + 300) triangle[corner] = 2 + 296;
    }
  }
  return cone;
}

// 4 mm off the axis, 2 mm below the apex, all round it: 3.5 mm clear of the cone.
std::vector<Eigen::Vector3d> besideTheApex() {
  std::vector<Eigen::Vector3d> places;
  for (int k = 0; k < 16; ++k) {
    const double angle = 2.0 * M_PI * (k + 0.5) / 16;
    places.emplace_back(0.004 * std::cos(angle), 0.004 * std::sin(angle), kHeight - 0.002);
  }
  return places;
}

TEST(FanTrees, ABoxBesideTheApexMeetsFewBoxesOfTheCollisionTree) {
  const TriangleMesh cone = unevenCone();
  bramlock::internal::MeshTreeInput input;
  input.points.assign(cone.points.begin(), cone.points.end());
  input.triangles = cone.triangles;
  const auto geometry = bramlock::internal::buildLinkMeshTree(input);
  ASSERT_NE(geometry, nullptr);
  const auto& tree = static_cast<const fcl::BVHModel<fcl::OBBRSSd>&>(*geometry);
  for (const Eigen::Vector3d& place : besideTheApex()) {
    const Eigen::Vector3d half = Eigen::Vector3d::Constant(0.0005);
    fcl::OBBd box;
    fcl::convertBV(fcl::AABBd(place - half, place + half), fcl::Transform3d::Identity(), box);
    int met = 0;
    std::vector<int> pending = {0};
    while (!pending.empty()) {
      const fcl::BVNode<fcl::OBBRSSd>& node = tree.getBV(pending.back());
      pending.pop_back();
      if (!node.bv.obb.overlap(box)) continue;
      ++met;
      if (node.isLeaf()) continue;
      pending.push_back(node.leftChild());
      pending.push_back(node.rightChild());
    }
    EXPECT_LE(met, 16) << place.transpose();
  }
}

// Whether the segment from p to q crosses the triangle's inside (Moller and Trumbore).
bool segmentCrosses(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c,
                    const Eigen::Vector3d& p, const Eigen::Vector3d& q) {
  const Eigen::Vector3d along = q - p, ab = b - a, ac = c - a;
  const Eigen::Vector3d h = along.cross(ac);
  const double det = ab.dot(h);
  if (det == 0.0) return false;
  const Eigen::Vector3d s = p - a, sab = s.cross(ab);
  const double u = s.dot(h) / det, v = along.dot(sab) / det, t = ac.dot(sab) / det;
  return u > 0.0 && v > 0.0 && u + v < 1.0 && t > 0.0 && t < 1.0;
}

TEST(FanTrees, ASegmentBesideTheApexOpensFewBoxesOfTheTreeOverTheSpokesWithinItsCube) {
  const TriangleMesh cone = unevenCone();
  std::vector<bramlock::internal::Corners> triangles;
  for (const fcl::Triangle& t : cone.triangles) {
    triangles.push_back(
        {static_cast<std::uint32_t>(t[0]), static_cast<std::uint32_t>(t[1]), static_cast<std::uint32_t>(t[2])});
  }
  std::vector<std::uint32_t> all(triangles.size());
  std::iota(all.begin(), all.end(), 0u);
  // A cube about the apex holding the places, and the cone's own box.
  const Eigen::Vector3d middle(0.0, 0.0, kHeight - 0.002), half = Eigen::Vector3d::Constant(0.005);
  const Eigen::AlignedBox3d cube(middle - half, middle + half);
  const Eigen::AlignedBox3d whole(Eigen::Vector3d(-0.01, -0.01, 0.0), Eigen::Vector3d(0.01, 0.01, kHeight));
  const bramlock::internal::ClippedTree clipped(cone.points, triangles, all.data(), all.data() + all.size(), cube);
  const bramlock::internal::ClippedTree unclipped(cone.points, triangles, all.data(), all.data() + all.size(), whole);
  std::size_t most_clipped = 0, most_unclipped = 0;
  // Segments from beside the apex across the cone, 0.4 mm from its axis at most.
  int crossed = 0;
  for (const Eigen::Vector3d& place : besideTheApex()) {
    for (int axis = 0; axis < 2; ++axis) {
      Eigen::Vector3d start = place;
      start[1 - axis] *= 0.1;
      Eigen::Vector3d end = start;
      end[axis] = -start[axis];
      std::vector<std::uint32_t> listed, listed_unclipped;
      most_clipped = std::max(most_clipped, clipped.listAlongSegment(start, axis, end[axis], listed));
      most_unclipped = std::max(most_unclipped, unclipped.listAlongSegment(start, axis, end[axis], listed_unclipped));
      std::sort(listed.begin(), listed.end());
      for (std::uint32_t t = 0; t < triangles.size(); ++t) {
        const auto& c = triangles[t];
        if (!segmentCrosses(cone.points[c[0]], cone.points[c[1]], cone.points[c[2]], start, end)) continue;
        ++crossed;
        EXPECT_TRUE(std::binary_search(listed.begin(), listed.end(), t)) << t << " " << start.transpose();
      }
    }
  }
  EXPECT_GE(crossed, 64);
  EXPECT_LE(most_clipped, 128u);
  EXPECT_GE(most_unclipped, 2 * most_clipped);
}

}  // namespace
