// The trees over a mesh part the spokes of a fan into wedges of neighbours,
// also where its rim is a little uneven (a rim vertex merged with one a few
// steps away, as a file's reader merges near copies): a box or a ray near the
// apex but clear of the fan meets only a few of their boxes. Parted along the
// spokes' length, on which their centres lie at about one place, the spokes
// fall into a middle and both flanks, whose boxes reach across the whole fan
// at its apex, and such a box meets hundreds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <fcl/geometry/bvh/BVH_model.h>
#include <fcl/math/bv/OBB.h>
#include <fcl/math/bv/OBBRSS.h>
#include <fcl/math/bv/utility.h>

#include "collision_detection_fcl/link_tree_batch.h"
#include "collision_detection_fcl/solid/ray_tree.h"
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

TEST(FanTrees, ARayFromBesideTheApexOpensFewBoxesOfTheRayTree) {
  const TriangleMesh cone = unevenCone();
  std::vector<bramlock::internal::Corners> triangles;
  for (const fcl::Triangle& t : cone.triangles) {
    triangles.push_back(
        {static_cast<std::uint32_t>(t[0]), static_cast<std::uint32_t>(t[1]), static_cast<std::uint32_t>(t[2])});
  }
  const bramlock::internal::RayTree tree(cone.points, triangles);
  const auto opened = [&tree](const Eigen::Vector3d& start, int axis, int sign) {
    std::vector<std::uint32_t> listed;
    std::size_t budget = 1;
    while (!tree.listAlongRay(start, axis, sign, budget, listed)) {
      ++budget;
      listed.clear();
    }
    return budget;
  };
  // The inside test takes the cheapest of the six rays.
  for (const Eigen::Vector3d& place : besideTheApex()) {
    std::size_t cheapest = std::numeric_limits<std::size_t>::max();
    for (int axis = 0; axis < 3; ++axis) {
      for (const int sign : {-1, 1}) cheapest = std::min(cheapest, opened(place, axis, sign));
    }
    EXPECT_LE(cheapest, 32u) << place.transpose();
  }
}

}  // namespace
