#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <geometric_shapes/mesh_operations.h>
#include <geometric_shapes/shapes.h>

#include "expect_throw_message.h"
#include "solid_mesh_makers.h"
#include "state_test_support.h"
#include "test_support.h"

namespace {

using bramlock_test::OutputCapture;
using bramlock_test::transformsNear;
using moveit::core::AttachedBody;
using moveit::core::LinkModel;
using moveit::core::RobotModel;
using moveit::core::RobotState;
using moveit::core::vector_Isometry3d;

const std::string kAttachLine = "--------------------RobotState::attachBody--------------------0\n";

Eigen::Isometry3d offset(double x, double y, double z) { return Eigen::Isometry3d(Eigen::Translation3d(x, y, z)); }

std::unique_ptr<AttachedBody> box(const LinkModel* link, const std::string& id, double size = 0.1) {
  return std::make_unique<AttachedBody>(link, id,
                                        AttachedBody::ShapeList{std::make_shared<shapes::Box>(size, size, size)},
                                        vector_Isometry3d{offset(0, 0, 0.1)}, std::set<std::string>{"link6"});
}

double boxSide(const AttachedBody& body) { return static_cast<const shapes::Box&>(*body.getShapes()[0]).size[0]; }

std::vector<double> meshVertices(const shapes::Shape& shape) {
  const auto& mesh = static_cast<const shapes::Mesh&>(shape);
  return std::vector<double>(mesh.vertices, mesh.vertices + 3 * mesh.vertex_count);
}

class AttachedBodies : public ::testing::Test {
 protected:
  // (id, body, attached?) for every callback call; declared before the state,
  // whose destructor still reports to it.
  std::vector<std::tuple<std::string, const AttachedBody*, bool>> calls_;
  std::shared_ptr<const RobotModel> model_ = bramlock_test::loadStateTestArm();
  RobotState state_ = bramlock_test::updatedDefaultState(model_);

  const LinkModel* link(const std::string& name) const { return model_->getLinkModel(name); }
  void record() {
    state_.setAttachedBodyUpdateCallback(
        [this](AttachedBody* body, bool attached) { calls_.emplace_back(body->getName(), body, attached); });
  }
  void attach(std::unique_ptr<AttachedBody> body) {
    OutputCapture quiet;
    state_.attachBody(std::move(body));
  }
  std::vector<std::string> ids() const {
    std::vector<const AttachedBody*> bodies;
    state_.getAttachedBodies(bodies);
    std::vector<std::string> result;
    for (const AttachedBody* body : bodies) result.push_back(body->getName());
    return result;
  }
};

TEST_F(AttachedBodies, ScaleAndPaddingChangeUnsharedShapesInPlace) {
  std::unique_ptr<AttachedBody> body = box(link("tool_link"), "cup");
  const shapes::Shape* original = body->getShapes()[0].get();
  body->setScale(2.0);
  body->setPadding(0.05);
  EXPECT_EQ(body->getShapes()[0].get(), original);
  EXPECT_DOUBLE_EQ(boxSide(*body), 0.3);
  EXPECT_EQ(body->getScale(), 2.0);
  EXPECT_EQ(body->getPadding(), 0.05);
}

TEST_F(AttachedBodies, ScaleAndPaddingCloneSharedShapes) {
  const auto shared = std::make_shared<shapes::Box>(0.1, 0.2, 0.3);
  AttachedBody body(link("link6"), "cup", {shared}, {offset(0, 0, 0)}, {});
  body.setScale(3.0);
  EXPECT_NE(body.getShapes()[0].get(), shared.get());
  EXPECT_DOUBLE_EQ(boxSide(body), 0.3);
  EXPECT_DOUBLE_EQ(shared->size[0], 0.1);
  // The clone is now the body's own: padding changes it in place.
  const shapes::Shape* clone = body.getShapes()[0].get();
  body.setPadding(0.01);
  EXPECT_EQ(body.getShapes()[0].get(), clone);
  EXPECT_DOUBLE_EQ(boxSide(body), 0.32);
}

// A mesh is scaled in its own frame, to the last bit as the loader scales a
// mesh file (a URDF mesh's scale): a box written in millimetres standing on
// its base stays on it. A padding stays in metres around the scaled mesh
// whichever of the two is set first.
TEST_F(AttachedBodies, MeshesScaleInTheirOwnFrameAsTheLoaderScalesThem) {
  bramlock_test::TempDir dir;
  const std::filesystem::path file = dir.path() / "box_mm.stl";
  bramlock_test::writeFile(file, bramlock_test::asciiStl(bramlock_test::boxMesh({-40, -30, 0}, {40, 30, 100})));
  const std::string uri = "file://" + file.string();
  const std::shared_ptr<const shapes::Shape> written(shapes::createMeshFromResource(uri));
  const std::shared_ptr<const shapes::Shape> loaded(
      shapes::createMeshFromResource(uri, Eigen::Vector3d::Constant(0.001)));
  ASSERT_TRUE(written && loaded);
  const auto bodyOfWritten = [&] { return AttachedBody(link("link6"), "tool", {written}, {offset(0, 0, 0)}, {}); };

  AttachedBody scaled = bodyOfWritten();
  scaled.setScale(0.001);
  EXPECT_EQ(meshVertices(*scaled.getShapes()[0]), meshVertices(*loaded));
  const std::vector<double> vertices = meshVertices(*loaded);
  for (size_t i = 2; i < vertices.size(); i += 3) EXPECT_NEAR(vertices[i], 0.05, 0.05 + 1e-12) << "standing on z 0";

  scaled.setPadding(0.01);
  AttachedBody padded_first = bodyOfWritten();
  padded_first.setPadding(0.01);
  padded_first.setScale(0.001);
  EXPECT_EQ(meshVertices(*padded_first.getUnpaddedShapes()[0]), meshVertices(*loaded));
  EXPECT_EQ(meshVertices(*padded_first.getShapes()[0]), meshVertices(*scaled.getShapes()[0]));
  EXPECT_EQ(meshVertices(*written), meshVertices(*bodyOfWritten().getShapes()[0])) << "the shared mesh is left alone";
}

TEST_F(AttachedBodies, OutOfRangeScaleAndPaddingFallBackToNeutral) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double scale : {0.0, -1.0, nan, inf, 1e7}) {
    SCOPED_TRACE(scale);
    std::unique_ptr<AttachedBody> body = box(link("link6"), "cup");
    OutputCapture capture;
    body->setScale(scale);
    EXPECT_FALSE(capture.out().empty());
    EXPECT_EQ(body->getScale(), 1.0);
    EXPECT_DOUBLE_EQ(boxSide(*body), 0.1);
  }
  for (double padding : {nan, inf, 1e7}) {
    SCOPED_TRACE(padding);
    std::unique_ptr<AttachedBody> body = box(link("link6"), "cup");
    OutputCapture capture;
    body->setPadding(padding);
    EXPECT_FALSE(capture.out().empty());
    EXPECT_EQ(body->getPadding(), 0.0);
    EXPECT_DOUBLE_EQ(boxSide(*body), 0.1);
  }
  std::unique_ptr<AttachedBody> body = box(link("link6"), "cup");
  OutputCapture capture;
  body->setPadding(-0.1);
  body->setPadding(0.0);
  body->setScale(1e-5);
  EXPECT_EQ(capture.out(), "padding<0.0 error,padding will set to 0.0\n");
  EXPECT_EQ(body->getScale(), 1e-5);
}

TEST_F(AttachedBodies, ConstructionChecksShapesAgainstPoses) {
  const auto shape = std::make_shared<shapes::Sphere>(0.1);
  EXPECT_THROW_MESSAGE(AttachedBody(link("link6"), "cup", {shape, shape}, {offset(0, 0, 0)}, {}), std::invalid_argument,
                       "^AttachedBody 'cup': 2 shapes but 1 poses$");
  Eigen::Isometry3d bad = offset(0, 0, 0);
  bad(1, 3) = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW_MESSAGE(AttachedBody(link("link6"), "cup", {shape}, {bad}, {}), std::invalid_argument,
                       "^AttachedBody 'cup': pose 0 is not finite$");
  // Shapes the checkers cannot see; their index counts the null shapes left out.
  auto mesh = std::make_shared<shapes::Mesh>(3, 1);
  std::fill(mesh->vertices, mesh->vertices + 9, 0.0);
  const unsigned int corners[] = {0, 1, 3};
  std::copy(corners, corners + 3, mesh->triangles);
  auto flat = std::make_shared<shapes::Box>(0.1, 0.1, 0.1);
  flat->size[1] = -0.1;
  const std::vector<shapes::ShapeConstPtr> unseen_shapes = {
      mesh, flat, std::make_shared<shapes::Sphere>(std::numeric_limits<double>::quiet_NaN())};
  for (const shapes::ShapeConstPtr& unseen : unseen_shapes) {
    EXPECT_THROW_MESSAGE(AttachedBody(link("link6"), "cup", {nullptr, unseen}, {offset(0, 0, 0), offset(0, 0, 0)}, {}),
                         std::invalid_argument, "^AttachedBody 'cup': shape 1 cannot be checked$");
  }
  const AttachedBody body(link("link6"), "cup", {nullptr, shape}, {offset(1, 0, 0), offset(0, 2, 0)}, {});
  ASSERT_EQ(body.getShapes().size(), 1u);
  EXPECT_EQ(body.getFixedTransforms()[0].translation().y(), 2.0);
  EXPECT_EQ(body.getGlobalCollisionBodyTransforms().size(), 1u);
}

// Each size, each vertex coordinate of a tetrahedron and a plane's offset
// set beyond 1e6 m in turn: the body refuses it as the world would; at 1e6 m
// the same shape is taken.
TEST_F(AttachedBodies, ShapesBeyondTheExtentThrow) {
  const auto shapesAt = [](double far) {
    std::vector<shapes::ShapeConstPtr> result;
    for (int axis = 0; axis < 3; ++axis) {
      double size[3] = {0.1, 0.1, 0.1};
      size[axis] = far;
      result.push_back(std::make_shared<shapes::Box>(size[0], size[1], size[2]));
    }
    result.push_back(std::make_shared<shapes::Sphere>(far));
    result.push_back(std::make_shared<shapes::Cylinder>(far, 0.1));
    result.push_back(std::make_shared<shapes::Cylinder>(0.1, far));
    result.push_back(std::make_shared<shapes::Cone>(far, 0.1));
    result.push_back(std::make_shared<shapes::Cone>(0.1, far));
    for (int entry = 0; entry < 12; ++entry) {
      auto mesh = std::make_shared<shapes::Mesh>(4, 4);
      const double vertices[12] = {0, 0, 0, 0.1, 0, 0, 0, 0.1, 0, 0, 0, 0.1};
      std::copy(vertices, vertices + 12, mesh->vertices);
      mesh->vertices[entry] = entry % 2 ? -far : far;
      const unsigned int corners[12] = {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3};
      std::copy(corners, corners + 12, mesh->triangles);
      result.push_back(mesh);
    }
    result.push_back(std::make_shared<shapes::Plane>(0.0, 0.0, 2.0, 2.0 * far));
    return result;
  };
  const std::vector<shapes::ShapeConstPtr> far_shapes = shapesAt(2e6);
  ASSERT_EQ(far_shapes.size(), 21u);
  for (size_t i = 0; i < far_shapes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_THROW_MESSAGE(AttachedBody(link("link6"), "cup", {far_shapes[i]}, {offset(0, 0, 0)}, {}),
                         std::invalid_argument, "^AttachedBody 'cup': shape 0 cannot be checked$");
  }
  for (const shapes::ShapeConstPtr& edge : shapesAt(1e6)) {
    EXPECT_NO_THROW(AttachedBody(link("link6"), "cup", {edge}, {offset(0, 0, 0)}, {}));
  }
}

TEST_F(AttachedBodies, SameIdReplacesTheOldBodyWithCallbacks) {
  record();
  OutputCapture capture;
  state_.attachBody(box(link("link6"), "cup"));
  const AttachedBody* first = state_.getAttachedBody("cup");
  state_.attachBody(box(link("tool_link"), "cup"));
  EXPECT_EQ(capture.out(), kAttachLine + kAttachLine);
  const AttachedBody* second = state_.getAttachedBody("cup");
  ASSERT_EQ(calls_.size(), 3u);
  EXPECT_EQ(calls_[0], std::make_tuple(std::string("cup"), first, true));
  EXPECT_EQ(calls_[1], std::make_tuple(std::string("cup"), first, false));
  EXPECT_EQ(calls_[2], std::make_tuple(std::string("cup"), second, true));
  EXPECT_EQ(second->getAttachedLinkName(), "tool_link");
}

TEST_F(AttachedBodies, AFailedAttachKeepsTheBodyOfTheSameId) {
  attach(box(link("link6"), "cup"));
  record();
  const auto other_model = bramlock_test::loadStateTestArm();
  OutputCapture quiet;
  try {
    state_.attachBody(box(nullptr, "cup"));
    FAIL() << "attached without a link";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Invalid link.");
  }
  EXPECT_THROW_MESSAGE(state_.attachBody(box(other_model->getLinkModel("link6"), "cup")), std::runtime_error,
                       "^Invalid link\\.$");
  EXPECT_THROW_MESSAGE(state_.attachBody(nullptr), std::invalid_argument, "^RobotState::attachBody: null body$");
  ASSERT_TRUE(state_.hasAttachedBody("cup"));
  EXPECT_EQ(state_.getAttachedBody("cup")->getAttachedLink(), link("link6"));
  EXPECT_TRUE(calls_.empty());
}

TEST_F(AttachedBodies, ListsAndClearsByGroupAndLink) {
  attach(box(link("link6"), "d_on_link6"));
  attach(box(link("tool_link"), "c_on_tool"));
  attach(box(link("link2"), "b_on_link2"));
  attach(box(link("sensor_link"), "a_on_sensor"));
  attach(box(link("link6"), "e_on_link6"));
  EXPECT_EQ(ids(), (std::vector<std::string>{"a_on_sensor", "b_on_link2", "c_on_tool", "d_on_link6", "e_on_link6"}));

  std::vector<const AttachedBody*> found = {nullptr};
  state_.getAttachedBodies(found, link("link6"));
  EXPECT_EQ(found.size(), 2u);
  state_.getAttachedBodies(found, model_->getJointModelGroup("arm"));
  EXPECT_EQ(found.size(), 4u);
  state_.getAttachedBodies(found, link("link1"));
  EXPECT_TRUE(found.empty());

  record();
  state_.clearAttachedBodies(model_->getJointModelGroup("wrist"));  // links 5 and 6; the last body matches
  EXPECT_EQ(ids(), (std::vector<std::string>{"a_on_sensor", "b_on_link2", "c_on_tool"}));
  EXPECT_EQ(calls_.size(), 2u);
  state_.clearAttachedBodies(link("link2"));
  EXPECT_EQ(ids(), (std::vector<std::string>{"a_on_sensor", "c_on_tool"}));
  EXPECT_TRUE(state_.clearAttachedBody("c_on_tool"));
  EXPECT_FALSE(state_.clearAttachedBody("c_on_tool"));
  state_.clearAttachedBodies();
  EXPECT_TRUE(ids().empty());
  EXPECT_EQ(calls_.size(), 5u);
  for (const auto& call : calls_) EXPECT_FALSE(std::get<2>(call));

  OutputCapture capture;
  EXPECT_EQ(state_.getAttachedBody("c_on_tool"), nullptr);
  EXPECT_EQ(capture.out(), "Attached body 'c_on_tool' not found\n");
}

TEST_F(AttachedBodies, GlobalTransformsFollowTheirLink) {
  attach(box(link("link6"), "cup"));
  const AttachedBody* cup = state_.getAttachedBody("cup");
  EXPECT_TRUE(transformsNear(cup->getGlobalCollisionBodyTransforms()[0],
                             state_.getGlobalLinkTransform(link("link6")) * offset(0, 0, 0.1), 1e-15));
  EXPECT_TRUE(state_.knowsFrameTransform("cup"));

  const double values[] = {0.3, 0.2, -0.4, 1.0, 0.5, -0.7};
  state_.setJointGroupPositions(model_->getJointModelGroup("arm"), values);
  state_.update();
  EXPECT_TRUE(transformsNear(cup->getGlobalCollisionBodyTransforms()[0],
                             state_.getGlobalLinkTransform(link("link6")) * offset(0, 0, 0.1), 1e-15));

  Eigen::Isometry3d target = offset(1, 2, 3);
  state_.updateStateWithLinkAt(link("link6"), target);
  EXPECT_TRUE(transformsNear(cup->getGlobalCollisionBodyTransforms()[0], target * offset(0, 0, 0.1), 1e-15));
}

TEST_F(AttachedBodies, CopiesShareShapesAndReportThroughTheirOwnCallback) {
  std::unique_ptr<AttachedBody> body = box(link("link6"), "cup");
  body->setPadding(0.02);
  attach(std::move(body));
  record();
  int copy_calls = 0;
  {
    OutputCapture quiet;
    RobotState copy(state_);
    const AttachedBody* copied = copy.getAttachedBody("cup");
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->getShapes()[0], state_.getAttachedBody("cup")->getShapes()[0]);
    EXPECT_EQ(copied->getPadding(), 0.02);
    copy.setAttachedBodyUpdateCallback([&copy_calls](AttachedBody*, bool) { ++copy_calls; });
    copy = state_;  // clears its body, then attaches a copy: two calls
  }
  EXPECT_EQ(copy_calls, 3);  // and one more when the copy is destroyed
  EXPECT_TRUE(calls_.empty());
  state_.clearAttachedBodies();
  EXPECT_EQ(calls_.size(), 1u);
}

}  // namespace
