// A world shape FCL gets no geometry for is named on the console instead of
// being dropped silently; the object's other shapes still take part.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/collision_detection/world.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "test_support.h"

namespace {

namespace cd = collision_detection;

Eigen::Isometry3d at(double x) { return Eigen::Isometry3d(Eigen::Translation3d(x, 0.0, 0.0)); }

}  // namespace

TEST(WorldShapeReport, ShapesWithSizesThatAreNotFiniteAreNamed) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  auto world = std::make_shared<cd::World>();
  cd::CollisionWorldFCL checker(world);
  bramlock_test::OutputCapture capture;
  world->addToObject("good", std::make_shared<shapes::Box>(0.1, 0.1, 0.1), at(0.0));
  world->addToObject("shelf", std::make_shared<shapes::Box>(0.1, nan, 0.1), at(1.0));
  world->addToObject("pole", std::make_shared<shapes::Cylinder>(inf, 1.0), at(2.0));
  const std::string out = capture.out();
  EXPECT_EQ(out.find("'good'"), std::string::npos) << out;
  EXPECT_NE(out.find("world object 'shelf': shape 0 gets no collision geometry\n"), std::string::npos) << out;
  EXPECT_NE(out.find("world object 'pole': shape 0 gets no collision geometry\n"), std::string::npos) << out;
}
