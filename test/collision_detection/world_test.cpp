#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/collision_detection/world.h"
#include "test_support.h"

namespace {

using bramlock_test::OutputCapture;
using collision_detection::World;
using Names = std::vector<std::string>;
using Shapes = std::vector<World::ShapeConstPtr>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

World::ShapeConstPtr box() { return std::make_shared<shapes::Box>(1.0, 1.0, 1.0); }

Eigen::Isometry3d at(double x, double y = 0.0, double z = 0.0) {
  return Eigen::Isometry3d(Eigen::Translation3d(x, y, z));
}

// One notification as an observer saw it.
struct Seen {
  std::string id;
  int action;
  size_t shapes;
  bool operator==(const Seen& other) const {
    return id == other.id && action == other.action && shapes == other.shapes;
  }
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
  return out << "{" << seen.id << ", " << seen.action << ", " << seen.shapes << "}";
}

// Registers an observer that records every notification, with whether the
// object was still in the world at that moment.
struct Recorder {
  explicit Recorder(World& world) : world(world) {
    handle = world.addObserver([this](const World::ObjectConstPtr& obj, World::Action action) {
      seen.push_back({obj->id, action, obj->shapes.size()});
      present.push_back(this->world.hasObject(obj->id));
    });
  }
  World& world;
  World::ObserverHandle handle;
  std::vector<Seen> seen;
  std::vector<bool> present;
};

class WorldTest : public ::testing::Test {
 protected:
  World world_;
  Recorder recorder_{world_};
  World::ShapeConstPtr a_ = box();
  World::ShapeConstPtr b_ = box();
};

TEST_F(WorldTest, AddingShapesCreatesThenExtends) {
  world_.addToObject("x", a_, at(1));
  world_.addToObject("x", Shapes{b_}, World::PoseVector{at(2)});
  EXPECT_EQ(recorder_.seen, (std::vector<Seen>{{"x", 9, 1}, {"x", 8, 2}}));
  const World::ObjectConstPtr x = world_.getObject("x");
  ASSERT_TRUE(x);
  EXPECT_EQ(x->shapes, (Shapes{a_, b_}));
  EXPECT_DOUBLE_EQ(x->shape_poses[1].translation().x(), 2.0);
  EXPECT_FALSE(world_.getObject("y"));
  EXPECT_FALSE(world_.hasObject("y"));
}

TEST_F(WorldTest, RefusedAdditionsChangeNothing) {
  {
    OutputCapture capture;
    world_.addToObject("x", Shapes{a_, b_}, World::PoseVector{at(0)});
    EXPECT_EQ(capture.out(),
              "collision_detection,Number of shapes and number of poses do not match. Not adding this object to "
              "collision world.\n");
  }
  world_.addToObject("x", Shapes{}, World::PoseVector{});
  for (const double bad : {kNaN, kInf, -kInf}) {
    OutputCapture capture;
    world_.addToObject("x", a_, at(bad));
    world_.addToObject("x", Shapes{a_, b_}, World::PoseVector{at(0), at(0, 0, bad)});
    const std::string refused =
        "collision_detection,A shape pose is not finite. Not adding this object to collision world.\n";
    EXPECT_EQ(capture.out(), refused + refused);
  }
  EXPECT_TRUE(world_.getObjectIds().empty());
  EXPECT_TRUE(recorder_.seen.empty());
}

TEST_F(WorldTest, ShapesAreFoundByIdentity) {
  world_.addToObject("x", Shapes{a_, b_}, World::PoseVector{at(0), at(1)});
  const World::ShapeConstPtr equal_to_a = box();
  EXPECT_FALSE(world_.moveShapeInObject("x", equal_to_a, at(5)));
  EXPECT_FALSE(world_.removeShapeFromObject("x", equal_to_a));
  EXPECT_FALSE(world_.moveShapeInObject("nope", a_, at(5)));
  EXPECT_FALSE(world_.removeShapeFromObject("nope", a_));

  EXPECT_TRUE(world_.moveShapeInObject("x", b_, at(5)));
  EXPECT_DOUBLE_EQ(world_.getObject("x")->shape_poses[1].translation().x(), 5.0);
  EXPECT_FALSE(world_.moveShapeInObject("x", b_, at(kNaN)));
  EXPECT_DOUBLE_EQ(world_.getObject("x")->shape_poses[1].translation().x(), 5.0);

  EXPECT_TRUE(world_.removeShapeFromObject("x", a_));
  EXPECT_EQ(world_.getObject("x")->shapes, Shapes{b_});
  EXPECT_DOUBLE_EQ(world_.getObject("x")->shape_poses[0].translation().x(), 5.0);
  EXPECT_TRUE(world_.removeShapeFromObject("x", b_));
  EXPECT_FALSE(world_.hasObject("x"));

  // Removing the last shape destroys the object: observers see it empty, still listed.
  EXPECT_EQ(recorder_.seen, (std::vector<Seen>{{"x", 9, 2}, {"x", 4, 2}, {"x", 16, 1}, {"x", 2, 0}}));
  EXPECT_EQ(recorder_.present.back(), true);
}

TEST_F(WorldTest, MoveObjectPremultiplies) {
  const Eigen::Isometry3d turned = at(1, 2, 3) * Eigen::AngleAxisd(0.5, Eigen::Vector3d::UnitZ());
  world_.addToObject("x", Shapes{a_, b_}, World::PoseVector{turned, at(0, 1)});
  const Eigen::Isometry3d transform = at(0.001, 0, 0) * Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitX());
  EXPECT_TRUE(world_.moveObject("x", transform));
  const World::ObjectConstPtr x = world_.getObject("x");
  EXPECT_TRUE(x->shape_poses[0].isApprox(transform * turned, 1e-14));
  // The rotation about x takes (0, 1, 0) to (0, 0, 1) before the shift.
  EXPECT_TRUE(x->shape_poses[1].translation().isApprox(Eigen::Vector3d(0.001, 0, 1), 1e-14));
  EXPECT_EQ(recorder_.seen.size(), 2u);

  EXPECT_TRUE(world_.moveObject("x", Eigen::Isometry3d::Identity()));
  EXPECT_TRUE(world_.moveObject("x", at(1e-14)));  // within the identity's tolerance
  EXPECT_FALSE(world_.moveObject("nope", transform));
  EXPECT_EQ(recorder_.seen.size(), 2u);

  // Transforms that would leave a pose non-finite are refused whole.
  Eigen::Isometry3d overflowing = Eigen::Isometry3d::Identity();
  overflowing.linear() *= 1.5e308;
  const Eigen::Isometry3d before = world_.getObject("x")->shape_poses[0];
  for (const Eigen::Isometry3d& bad : {at(kNaN), at(kInf), at(0, -kInf), overflowing}) {
    EXPECT_FALSE(world_.moveObject("x", bad));
    EXPECT_TRUE(world_.getObject("x")->shape_poses[0].isApprox(before));
  }
  EXPECT_EQ(recorder_.seen.size(), 2u);
}

TEST_F(WorldTest, RemovalAndClearingNotifyBeforeRemoving) {
  world_.addToObject("b", a_, at(0));
  world_.addToObject("a", b_, at(0));
  recorder_.seen.clear();
  recorder_.present.clear();
  EXPECT_FALSE(world_.removeObject("nope"));
  world_.clearObjects();
  EXPECT_EQ(recorder_.seen, (std::vector<Seen>{{"a", 2, 1}, {"b", 2, 1}}));
  EXPECT_EQ(recorder_.present, (std::vector<bool>{true, true}));
  EXPECT_TRUE(world_.getObjectIds().empty());

  world_.addToObject("c", a_, at(0));
  EXPECT_TRUE(world_.removeObject("c"));
  EXPECT_EQ(recorder_.seen.back(), (Seen{"c", 2, 1}));
  EXPECT_TRUE(recorder_.present.back());
  EXPECT_FALSE(world_.hasObject("c"));
}

TEST_F(WorldTest, CopiesShareRecordsUntilChanged) {
  world_.addToObject("x", a_, at(1));
  world_.addToObject("y", b_, at(2));
  World copy(world_);
  EXPECT_EQ(copy.getObjectIds(), (Names{"x", "y"}));
  EXPECT_EQ(copy.getObject("x"), world_.getObject("x"));

  const World::ObjectConstPtr before = world_.getObject("x");
  EXPECT_TRUE(copy.moveObject("x", at(1)));
  EXPECT_NE(copy.getObject("x"), world_.getObject("x"));
  EXPECT_DOUBLE_EQ(copy.getObject("x")->shape_poses[0].translation().x(), 2.0);
  EXPECT_DOUBLE_EQ(world_.getObject("x")->shape_poses[0].translation().x(), 1.0);
  EXPECT_EQ(world_.getObject("x"), before);
  EXPECT_EQ(copy.getObject("y"), world_.getObject("y"));
  EXPECT_EQ(recorder_.seen.size(), 2u);  // the copy has no observers

  // A record held by a caller is not changed under it either.
  EXPECT_TRUE(world_.moveShapeInObject("x", a_, at(7)));
  EXPECT_DOUBLE_EQ(before->shape_poses[0].translation().x(), 1.0);
  EXPECT_DOUBLE_EQ(world_.getObject("x")->shape_poses[0].translation().x(), 7.0);

  world_.clearObjects();
  EXPECT_EQ(copy.getObjectIds(), (Names{"x", "y"}));
}

TEST_F(WorldTest, UpdatingShapesReplacesAndNotifies) {
  world_.addToObject("x", Shapes{a_, b_}, World::PoseVector{at(0), at(1)});
  const World::ShapeConstPtr c = box();
  {
    OutputCapture capture;
    EXPECT_EQ(world_.updateToObject("x", c, at(3), 1), 0);
    EXPECT_EQ(capture.out(), "updateShapeInObject object,shape id:1\n");
  }
  const World::ObjectConstPtr x = world_.getObject("x");
  EXPECT_EQ(x->shapes, (Shapes{a_, c}));
  EXPECT_DOUBLE_EQ(x->shape_poses[1].translation().x(), 3.0);
  EXPECT_EQ(recorder_.seen.back(), (Seen{"x", World::REMOVE_SHAPE | World::ADD_SHAPE, 2}));

  const size_t notified = recorder_.seen.size();
  for (const int index : {-1, 2}) {
    OutputCapture capture;
    EXPECT_EQ(world_.updateToObject("x", c, at(4), index), -1);
    EXPECT_EQ(capture.out(), "updateShapeInObject object,shape id:" + std::to_string(index) +
                                 "\n idx =" + std::to_string(index) + " is illegal\n");
  }
  {
    OutputCapture capture;
    EXPECT_EQ(world_.updateToObject("x", c, at(kNaN), 0), -1);
    EXPECT_EQ(capture.out(), "updateShapeInObject object,shape id:0\n pose is not finite\n");
  }
  {
    OutputCapture capture;
    EXPECT_EQ(world_.updateShapeInObject(nullptr, 0, c, at(0)), -1);
    EXPECT_EQ(capture.out(), "updateShapeInObject object,shape id:0\n idx =0 is illegal\n");
  }
  EXPECT_EQ(world_.getObject("x")->shapes, (Shapes{a_, c}));
  EXPECT_EQ(recorder_.seen.size(), notified);

  // An absent object is created, stays empty when refused, and nobody hears of it.
  {
    OutputCapture capture;
    EXPECT_EQ(world_.updateToObject("y", c, at(0), 0), -1);
    EXPECT_EQ(capture.out(), "updateShapeInObject object,shape id:0\n idx =0 is illegal\n");
  }
  ASSERT_TRUE(world_.hasObject("y"));
  EXPECT_TRUE(world_.getObject("y")->shapes.empty());
  EXPECT_EQ(recorder_.seen.size(), notified);
}

TEST_F(WorldTest, ObserversAreCalledInOrderAndCanBeRemoved) {
  std::vector<int> calls;
  const World::ObserverHandle first =
      world_.addObserver([&](const World::ObjectConstPtr&, World::Action) { calls.push_back(1); });
  const World::ObserverHandle second =
      world_.addObserver([&](const World::ObjectConstPtr&, World::Action) { calls.push_back(2); });
  EXPECT_TRUE(first == first);
  EXPECT_TRUE(first != second);
  EXPECT_TRUE(World::ObserverHandle() != first);
  world_.addToObject("x", a_, at(0));
  EXPECT_EQ(calls, (std::vector<int>{1, 2}));

  world_.addToObject("w", b_, at(0));
  calls.clear();
  recorder_.seen.clear();
  world_.notifyObserverAllObjects(recorder_.handle, World::CREATE);
  EXPECT_EQ(recorder_.seen, (std::vector<Seen>{{"w", 1, 1}, {"x", 1, 1}}));
  EXPECT_TRUE(calls.empty());

  world_.removeObserver(first);
  // The freed record's place may go to the next observer; the old handle
  // must still name nobody.
  const World::ObserverHandle third =
      world_.addObserver([&](const World::ObjectConstPtr&, World::Action) { calls.push_back(3); });
  EXPECT_TRUE(third != first);
  world_.removeObserver(first);  // no longer registered: ignored
  world_.removeObserver(World::ObserverHandle());
  world_.notifyObserverAllObjects(first, World::CREATE);
  EXPECT_TRUE(calls.empty());
  world_.removeObject("x");
  EXPECT_EQ(calls, (std::vector<int>{2, 3}));
  world_.removeObserver(third);

  // An empty callback raises when it is due; the ones before it have run.
  world_.addObserver(World::ObserverCallbackFn());
  calls.clear();
  EXPECT_THROW(world_.addToObject("z", a_, at(0)), std::bad_function_call);
  EXPECT_EQ(calls, (std::vector<int>{2}));
}

TEST(World, DestructionTellsNoObserver) {
  int calls = 0;
  {
    World world;
    world.addToObject("x", box(), Eigen::Isometry3d::Identity());
    world.addObserver([&](const World::ObjectConstPtr&, World::Action) { ++calls; });
  }
  EXPECT_EQ(calls, 0);
}

}  // namespace
