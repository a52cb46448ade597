#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <geometric_shapes/shapes.h>
#include <urdf_model/model.h>
#include <urdf_parser/urdf_parser.h>

#include "bramlock_arm_planning_core/robot_model/exceptions.h"
#include "bramlock_arm_planning_core/robot_model/floating_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/planar_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/prismatic_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/revolute_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "expect_throw_message.h"
#include "test_arm.h"
#include "test_support.h"

namespace {

using bramlock_test::OutputCapture;
using moveit::core::JointModel;
using moveit::core::RobotModel;
using Names = std::vector<std::string>;

const std::string kEdges = "robot_model_edges/";

std::string edgesDirectory() { return bramlock_test::fixturePath(kEdges); }

struct Loaded {
  std::unique_ptr<RobotModel> model;
  std::string out;
};

Loaded load(const std::string& directory, const std::string& urdf, const std::string& srdf,
            const moveit::core::MdhTable& table = {}) {
  OutputCapture capture;
  auto model = std::make_unique<RobotModel>(directory, urdf, srdf, table);
  return {std::move(model), capture.out()};
}

Loaded loadEdge(const std::string& urdf, const std::string& srdf) { return load(edgesDirectory(), urdf, srdf); }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

Eigen::Isometry3d mdhTransform(double alpha, double a, double d, double theta) {
  return Eigen::AngleAxisd(alpha, Eigen::Vector3d::UnitX()) * Eigen::Translation3d(a, 0, 0) *
         Eigen::Translation3d(0, 0, d) * Eigen::AngleAxisd(theta, Eigen::Vector3d::UnitZ());
}

TEST(RobotModelConstruction, NumbersJointsLinksAndVariablesDepthFirst) {
  const auto model = bramlock_test::loadTestArm();
  // A link's children follow joint names, not the order of the file.
  EXPECT_EQ(model->getJointModelNames(),
            (Names{"world_joint", "joint1", "joint2", "joint3", "joint4", "joint5", "joint6", "tool_joint",
                   "finger_joint", "finger_mimic_joint", "sensor_pan_joint"}));
  EXPECT_EQ(model->getLinkModelNames(), (Names{"base_link", "link1", "link2", "link3", "link4", "link5", "link6",
                                               "tool_link", "finger_link", "finger_mimic_link", "sensor_link"}));
  EXPECT_EQ(model->getVariableNames(), (Names{"joint1", "joint2", "joint3", "joint4", "joint5", "joint6",
                                              "finger_joint", "finger_mimic_joint", "sensor_pan_joint"}));
  EXPECT_EQ(model->getActiveJointModelNames(),
            (Names{"joint1", "joint2", "joint3", "joint4", "joint5", "joint6", "finger_joint", "sensor_pan_joint"}));
  EXPECT_EQ(model->getActiveJointModelStartIndex(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 8}));
  for (size_t i = 0; i < model->getJointModelCount(); ++i) EXPECT_EQ(model->getJointModels()[i]->getJointIndex(), i);
  for (size_t i = 0; i < model->getLinkModelCount(); ++i) EXPECT_EQ(model->getLinkModels()[i]->getLinkIndex(), i);
  EXPECT_EQ(model->getVariableCount(), 9u);
  EXPECT_EQ(model->getJointModel("tool_joint")->getFirstVariableIndex(), 6u);
  EXPECT_EQ(model->getJointModel("finger_joint")->getFirstVariableIndex(), 6u);
  EXPECT_EQ(model->getVariableIndex("joint3"), 2u);
  EXPECT_EQ(model->getVariableIndex("sensor_pan_joint"), 8u);
  EXPECT_EQ(model->getJointOfVariable(7)->getName(), "finger_mimic_joint");
  EXPECT_EQ(model->getSingleDOFJointModels().size(), 9u);
  EXPECT_TRUE(model->getMultiDOFJointModels().empty());
  ASSERT_EQ(model->getContinuousJointModels().size(), 1u);
  EXPECT_EQ(model->getContinuousJointModels()[0]->getName(), "sensor_pan_joint");

  EXPECT_EQ(model->getRootJoint()->getName(), "world_joint");
  EXPECT_EQ(model->getRootLink()->getName(), "base_link");
  EXPECT_EQ(model->getModelFrame(), "base_link");
  EXPECT_EQ(model->getName(), "test_arm");
  EXPECT_EQ(model->getLinkModel("tool_link")->getParentLinkModel()->getName(), "link6");
  EXPECT_EQ(model->getLinkModel("link6")->getChildJointModels().size(), 1u);
  EXPECT_EQ(model->getLinkModel("base_link")->getChildJointModels().size(), 2u);
}

TEST(RobotModelConstruction, CollisionGeometryAndBodyIndices) {
  const auto model = bramlock_test::loadTestArm();
  EXPECT_EQ(model->getLinkModelNamesWithCollisionGeometry(), model->getLinkModelNames());
  EXPECT_EQ(model->getLinkGeometryCount(), 12u);
  EXPECT_EQ(model->getLinkModel("link3")->getShapes().size(), 2u);
  EXPECT_EQ(model->getLinkModel("link3")->getFirstCollisionBodyTransformIndex(), 3);
  EXPECT_EQ(model->getLinkModel("link4")->getFirstCollisionBodyTransformIndex(), 5);
  EXPECT_EQ(model->getLinkModel("sensor_link")->getFirstCollisionBodyTransformIndex(), 11);
  const auto& link2 = *model->getLinkModel("link2");
  ASSERT_EQ(link2.getShapes()[0]->type, shapes::MESH);
  EXPECT_TRUE(link2.getShapeExtentsAtOrigin().isApprox(Eigen::Vector3d(0.38, 0.1, 0.1), 1e-6));
  EXPECT_TRUE(link2.getCenteredBoundingBoxOffset().isApprox(Eigen::Vector3d(0.19, 0, 0), 1e-6));
  EXPECT_EQ(link2.getVisualMeshFilename(), "package://test_arm_description/meshes/upper_arm.stl");
  EXPECT_TRUE(link2.getVisualMeshScale().isApprox(Eigen::Vector3d(0.38, 0.1, 0.1)));
  // The cylinder of link3 lies along x: the two shapes span 0.145 there.
  EXPECT_TRUE(model->getLinkModel("link3")->getShapeExtentsAtOrigin().isApprox(Eigen::Vector3d(0.145, 0.12, 0.12)));
  // tool_link's visual is a mesh; base_link's visual is a box, so it has no visual mesh.
  EXPECT_EQ(model->getLinkModel("tool_link")->getVisualMeshFilename(),
            "package://test_arm_description/meshes/flange.stl");
  EXPECT_EQ(model->getLinkModel("base_link")->getVisualMeshFilename(), "");
}

TEST(RobotModelConstruction, ArmJointsTakeTheirMdhColumnsAndOriginsFollowThem) {
  const Loaded loaded =
      load(bramlock_test::testArmDirectory(), "test_arm.urdf", "test_arm.srdf", bramlock_test::testArmMdhTable());
  const auto& model = *loaded.model;
  const auto table = bramlock_test::testArmMdhTable();
  for (int k = 0; k < 6; ++k) {
    const JointModel* joint = model.getJointModel("joint" + std::to_string(k + 1));
    EXPECT_EQ(joint->getZd(), table[0][k]);
    EXPECT_EQ(joint->getXa(), table[1][k]);
    EXPECT_EQ(joint->getQzero(), table[2][k]);
    EXPECT_EQ(joint->getAlpha(), table[3][k]);
    const Eigen::Isometry3d expected =
        mdhTransform(joint->getAlpha(), joint->getXa(), joint->getZd(), joint->getQzero());
    EXPECT_TRUE(joint->getChildLinkModel()->getJointOriginTransform().isApprox(expected, 1e-9)) << k;
    EXPECT_TRUE(joint->getXyz().isApprox(expected.translation(), 1e-12) || expected.translation().isZero());
  }
  // The other joints print their kind's line; the arm joints print nothing.
  EXPECT_EQ(count(loaded.out, "generate Mdh Para failed!!!"), 4u) << loaded.out;
  EXPECT_TRUE(contains(loaded.out, "Fixed joint generate Mdh Para failed!!!\n"));
  EXPECT_EQ(count(loaded.out, "PRISMATIC joint generate Mdh Para failed!!!\n"), 2u);
  EXPECT_TRUE(contains(loaded.out, "CONTINUOUS joint generate Mdh Para failed!!!\n"));
  EXPECT_EQ(model.getJointModel("tool_joint")->getZd(), 0.0);
}

TEST(RobotModelConstruction, WithoutTableEveryJointKeepsZeroMdhValues) {
  const Loaded loaded = load(bramlock_test::testArmDirectory(), "test_arm.urdf", "test_arm.srdf");
  EXPECT_EQ(count(loaded.out, "REVOLUTE joint generate Mdh Para failed!!!\n"), 6u);
  EXPECT_EQ(loaded.model->getJointModel("joint4")->getAlpha(), 0.0);
  EXPECT_TRUE(loaded.model->getMdhTable().empty());
  OutputCapture capture;
  RobotModel three_argument(bramlock_test::testArmDirectory(), "test_arm.urdf", "test_arm.srdf");
  EXPECT_EQ(three_argument.getJointModel("joint2")->getXa(), 0.0);
}

TEST(RobotModelConstruction, BoundsFromLimitsAndSafetyControllers) {
  const auto model = bramlock_test::loadTestArm();
  const auto& joint1 = model->getJointModel("joint1")->getVariableBounds()[0];
  EXPECT_TRUE(joint1.position_bounded_);
  EXPECT_EQ(joint1.min_position_, -2.9);  // the soft limit is inside the hard one
  EXPECT_EQ(joint1.max_position_, 3.05);  // the hard limit is inside the soft one
  EXPECT_EQ(joint1.max_velocity_, 3.1);
  EXPECT_EQ(joint1.min_velocity_, -3.1);
  EXPECT_TRUE(joint1.velocity_bounded_);
  EXPECT_FALSE(joint1.acceleration_bounded_);
  const auto& joint2 = model->getJointModel("joint2")->getVariableBounds()[0];
  EXPECT_EQ(joint2.min_position_, -2.2);
  EXPECT_EQ(joint2.max_position_, 2.2);
  const auto& finger = model->getJointModel("finger_joint")->getVariableBounds()[0];
  EXPECT_EQ(finger.min_position_, 0.0);
  EXPECT_EQ(finger.max_position_, 0.04);
  const auto* pan = dynamic_cast<const moveit::core::RevoluteJointModel*>(model->getJointModel("sensor_pan_joint"));
  ASSERT_NE(pan, nullptr);
  EXPECT_TRUE(pan->isContinuous());
  EXPECT_FALSE(pan->getVariableBounds()[0].position_bounded_);
  EXPECT_EQ(pan->getVariableBounds()[0].max_position_, M_PI);
  EXPECT_EQ(pan->getVariableBounds()[0].max_velocity_, 1.5);
  const auto* slide =
      dynamic_cast<const moveit::core::PrismaticJointModel*>(model->getJointModel("finger_mimic_joint"));
  EXPECT_EQ(slide->getAxis(), Eigen::Vector3d(0, -1, 0));
  EXPECT_TRUE(pan->isPassive());
  EXPECT_FALSE(model->getJointModel("joint1")->isPassive());
  EXPECT_EQ(model->getJointModel("joint1")->getDistanceFactor(), 1.0);
  EXPECT_EQ(model->getJointModel("tool_joint")->getDistanceFactor(), 0.0);
}

TEST(RobotModelConstruction, DescendantsAndRigidAttachments) {
  const auto model = bramlock_test::loadTestArm();
  const JointModel* joint5 = model->getJointModel("joint5");
  Names descendants;
  for (const JointModel* joint : joint5->getDescendantJointModels()) descendants.push_back(joint->getName());
  EXPECT_EQ(descendants, (Names{"joint6", "tool_joint", "finger_joint", "finger_mimic_joint"}));
  EXPECT_EQ(joint5->getNonFixedDescendantJointModels().size(), 3u);
  EXPECT_EQ(joint5->getDescendantLinkModels().size(), 4u);
  EXPECT_EQ(joint5->getDescendantLinkModels().front()->getName(), "link6");
  // The mimic twin counts as below its source.
  const JointModel* finger = model->getJointModel("finger_joint");
  ASSERT_EQ(finger->getDescendantJointModels().size(), 1u);
  EXPECT_EQ(finger->getDescendantJointModels()[0]->getName(), "finger_mimic_joint");

  const auto* link6 = model->getLinkModel("link6");
  const auto* tool = model->getLinkModel("tool_link");
  ASSERT_EQ(link6->getAssociatedFixedTransforms().size(), 1u);
  EXPECT_TRUE(
      link6->getAssociatedFixedTransforms().at(tool).isApprox(Eigen::Isometry3d(Eigen::Translation3d(0, 0, 0.05))));
  EXPECT_TRUE(
      tool->getAssociatedFixedTransforms().at(link6).isApprox(Eigen::Isometry3d(Eigen::Translation3d(0, 0, -0.05))));
  EXPECT_TRUE(model->getLinkModel("link3")->getAssociatedFixedTransforms().empty());
  EXPECT_EQ(RobotModel::getRigidlyConnectedParentLinkModel(tool), link6);
  EXPECT_EQ(RobotModel::getRigidlyConnectedParentLinkModel(link6), link6);
  EXPECT_EQ(RobotModel::getRigidlyConnectedParentLinkModel(model->getRootLink()), model->getRootLink());
  EXPECT_EQ(RobotModel::getRigidlyConnectedParentLinkModel(nullptr), nullptr);
}

TEST(RobotModelConstruction, CommonRootsTableIsSymmetricAndRootsReachBothJoints) {
  const auto model = bramlock_test::loadTestArm();
  const size_t n = model->getJointModelCount();
  const auto& table = model->getCommonJointRoots();
  ASSERT_EQ(table.size(), n * n);
  auto reaches = [&](size_t root, size_t joint) {
    if (root == joint) return true;
    for (const JointModel* d : model->getJointModel(root)->getDescendantJointModels()) {
      if (d->getJointIndex() == joint) return true;
    }
    return false;
  };
  for (size_t i = 0; i < n; ++i) {
    EXPECT_EQ(table[i + i * n], static_cast<int>(i));
    for (size_t j = 0; j < n; ++j) {
      ASSERT_EQ(table[i + j * n], table[j + i * n]) << i << "," << j;
      const size_t root = static_cast<size_t>(table[i + j * n]);
      ASSERT_TRUE(reaches(root, i) && reaches(root, j)) << i << "," << j << " -> " << root;
    }
  }
  const auto root = [&](const char* a, const char* b) {
    return model->getCommonRoot(model->getJointModel(a), model->getJointModel(b))->getName();
  };
  EXPECT_EQ(root("joint3", "joint5"), "joint3");
  EXPECT_EQ(root("joint6", "sensor_pan_joint"), "world_joint");
  EXPECT_EQ(root("finger_mimic_joint", "finger_joint"), "finger_joint");
  EXPECT_EQ(root("finger_joint", "joint2"), "joint2");
}

TEST(RobotModelConstruction, MeshPathForms) {
  bramlock_test::TempDir dir;
  std::ifstream in(bramlock_test::fixturePath(kEdges + "mesh_forms.urdf.in"));
  std::stringstream text;
  text << in.rdbuf();
  std::string urdf = text.str();
  const std::string token = "@TEST_ARM_DIR@";
  for (size_t at = urdf.find(token); at != std::string::npos; at = urdf.find(token)) {
    urdf.replace(at, token.size(), bramlock_test::testArmDirectory());
  }
  bramlock_test::writeFile(dir.path() / "mesh_forms.urdf", urdf);
  // The URDF and SRDF come from the temporary directory; package references from the resource directory.
  const std::string relative_to_resources =
      std::filesystem::relative(dir.path(), bramlock_test::testArmDirectory()).string() + "/";
  const Loaded loaded = load(bramlock_test::testArmDirectory(), relative_to_resources + "mesh_forms.urdf", "none.srdf");
  const std::string& out = loaded.out;
  const std::string meshes = bramlock_test::testArmDirectory() + "test_arm_description/meshes/";
  EXPECT_TRUE(contains(out, "mesh path is :file://" + meshes + "flange.stl\n")) << out;
  EXPECT_TRUE(contains(out, "mesh path is :file://" + meshes + "upper_arm.stl\n")) << out;
  EXPECT_EQ(count(out, "mesh path is :file://" + meshes + "flange.stl\n"), 2u) << out;
  EXPECT_EQ(count(out, "file://file://"), 0u);
  EXPECT_TRUE(contains(out, "Failed to load mesh 'file://" + meshes +
                                "missing.stl' for link 'missing_mesh_link': it cannot be opened\n"))
      << out;

  const RobotModel& model = *loaded.model;
  EXPECT_EQ(model.getLinkModel("base_link")->getShapes().size(), 1u);
  EXPECT_TRUE(
      model.getLinkModel("file_uri_link")->getShapeExtentsAtOrigin().isApprox(Eigen::Vector3d(0.16, 0.16, 0.04), 1e-6));
  EXPECT_TRUE(
      model.getLinkModel("plain_path_link")->getShapeExtentsAtOrigin().isApprox(Eigen::Vector3d(1, 1, 1), 1e-6));
  EXPECT_TRUE(model.getLinkModel("missing_mesh_link")->getShapes().empty());
  EXPECT_EQ(model.getLinkModel("missing_mesh_link")->getVisualMeshFilename(),
            "package://test_arm_description/meshes/missing.stl");
  EXPECT_EQ(model.getLinkModelNamesWithCollisionGeometry(), (Names{"base_link", "file_uri_link", "plain_path_link"}));
}

TEST(RobotModelConstruction, EmptyPackageReferenceThrows) {
  OutputCapture capture;
  try {
    RobotModel model(edgesDirectory(), "empty_package.urdf", "none.srdf");
    FAIL() << "no exception";
  } catch (const moveit::core::Exception& error) {
    EXPECT_STREQ(error.what(), "Error retrieving file []: Package name must not be empty");
  }
}

TEST(RobotModelConstruction, UnreadableOrBrokenUrdfThrows) {
  OutputCapture capture;
  const std::string dir = edgesDirectory();
  try {
    RobotModel model(dir, "absent.urdf", "none.srdf");
    FAIL() << "no exception";
  } catch (const moveit::core::Exception& error) {
    EXPECT_EQ(std::string(error.what()),
              "Error retrieving file [" + dir + "absent.urdf]: Unable to read the URDF file");
  }
  try {
    RobotModel model(dir, "broken.urdf", "none.srdf");
    FAIL() << "no exception";
  } catch (const moveit::core::Exception& error) {
    EXPECT_EQ(std::string(error.what()),
              "Error retrieving file [" + dir + "broken.urdf]: Unable to parse the URDF file");
  }
  EXPECT_THROW_MESSAGE(RobotModel(nullptr, std::make_shared<srdf::Model>()), moveit::core::Exception,
                       "^Error retrieving file \\[\\]: No URDF model was given$");
}

TEST(RobotModelConstruction, BrokenSrdfLeavesAnAssumedFixedRoot) {
  const Loaded loaded = load(bramlock_test::testArmDirectory(), "test_arm.urdf", "../robot_model_edges/broken.srdf");
  EXPECT_TRUE(contains(loaded.out, "No root/virtual joint specified in SRDF. Assuming fixed joint\n"));
  EXPECT_EQ(loaded.model->getRootJoint()->getName(), "ASSUMED_FIXED_ROOT_JOINT");
  EXPECT_EQ(loaded.model->getRootJoint()->getType(), JointModel::FIXED);
  EXPECT_TRUE(loaded.model->getSRDF()->getGroups().empty());
  EXPECT_FALSE(loaded.model->getJointModel("sensor_pan_joint")->isPassive());
}

TEST(RobotModelConstruction, MimicChainsUnknownSourcesAndMismatches) {
  const Loaded loaded = loadEdge("mimic.urdf", "no_virtual_joint.srdf");
  const RobotModel& model = *loaded.model;
  EXPECT_TRUE(contains(loaded.out, "Joint 'd' cannot mimic unknown joint 'ghost'")) << loaded.out;
  EXPECT_TRUE(contains(loaded.out, "Join 'planar_p' cannot mimic joint 'a' because they have different number of DOF"));
  const JointModel* a = model.getJointModel("a");
  const JointModel* c = model.getJointModel("c");
  EXPECT_EQ(model.getJointModel("b")->getMimic(), a);
  EXPECT_EQ(c->getMimic(), a);
  EXPECT_DOUBLE_EQ(c->getMimicFactor(), 6.0);
  EXPECT_DOUBLE_EQ(c->getMimicOffset(), 3 * 0.1 + 0.2);
  EXPECT_EQ(model.getJointModel("d")->getMimic(), nullptr);
  EXPECT_EQ(model.getJointModel("planar_p")->getMimic(), nullptr);
  EXPECT_EQ(a->getMimicRequests().size(), 2u);
  Names mimics;
  for (const JointModel* joint : model.getMimicJointModels()) mimics.push_back(joint->getName());
  EXPECT_EQ(mimics, (Names{"b", "c"}));
  EXPECT_EQ(model.getActiveJointModelNames(), (Names{"a", "d", "planar_p"}));
  EXPECT_EQ(model.getMultiDOFJointModels().size(), 1u);

  std::vector<double> state(model.getVariableCount(), 0.0);
  state[model.getVariableIndex("a")] = 0.3;
  model.updateMimicJoints(state.data());
  EXPECT_DOUBLE_EQ(state[model.getVariableIndex("b")], 0.7);
  EXPECT_DOUBLE_EQ(state[model.getVariableIndex("c")], 6 * 0.3 + 0.5);
}

TEST(RobotModelConstruction, MimicCycleClearsEveryMimic) {
  const Loaded loaded = loadEdge("mimic_cycle.urdf", "no_virtual_joint.srdf");
  EXPECT_EQ(count(loaded.out, "Cycle found in joint that mimic each other. Ignoring all mimic joints."), 1u);
  for (const JointModel* joint : loaded.model->getJointModels()) {
    EXPECT_EQ(joint->getMimic(), nullptr) << joint->getName();
    EXPECT_TRUE(joint->getMimicRequests().empty());
  }
  EXPECT_EQ(loaded.model->getJointModel("z")->getMimicFactor(), 0.0);
  EXPECT_TRUE(loaded.model->getMimicJointModels().empty());
  EXPECT_EQ(loaded.model->getActiveJointModels().size(), 3u);
}

TEST(RobotModelConstruction, RootWithoutVirtualJoint) {
  const Loaded loaded = loadEdge("small.urdf", "no_virtual_joint.srdf");
  EXPECT_TRUE(contains(loaded.out, "No root/virtual joint specified in SRDF. Assuming fixed joint\n"));
  EXPECT_TRUE(contains(loaded.out, "Loading robot model 'small_robot'...\nroot model_frame_:base_link\n"));
  EXPECT_EQ(loaded.model->getRootJoint()->getName(), "ASSUMED_FIXED_ROOT_JOINT");
  EXPECT_EQ(loaded.model->getModelFrame(), "base_link");
  EXPECT_EQ(loaded.model->getRootJoint()->getVariableCount(), 0u);
}

TEST(RobotModelConstruction, FloatingRootWithJointProperties) {
  const Loaded loaded = loadEdge("small.urdf", "floating_root.srdf");
  const RobotModel& model = *loaded.model;
  EXPECT_EQ(model.getModelFrame(), "odom");
  const auto* root = dynamic_cast<const moveit::core::FloatingJointModel*>(model.getRootJoint());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->getName(), "odom_joint");
  EXPECT_EQ(root->getAngularDistanceWeight(), 0.5);
  EXPECT_EQ(root->getDistanceFactor(), 7.0);
  EXPECT_EQ(model.getVariableCount(), 8u);
  EXPECT_EQ(model.getVariableIndex("joint_a"), 7u);
  EXPECT_EQ(model.getVariableIndex("odom_joint"), 0u);
  EXPECT_EQ(model.getVariableIndex("odom_joint/rot_w"), 6u);
  const std::string& out = loaded.out;
  EXPECT_TRUE(contains(out, "Cannot apply property motion_model to joint type: Floating")) << out;
  EXPECT_EQ(count(out, "Extra characters after property check_motion_max_det_distance\n"), 1u);
  EXPECT_TRUE(contains(out, "Unknown joint property: wheel_base"));
  EXPECT_TRUE(contains(out, "Cannot apply property min_translational_distance to joint type: Revolute"));
  EXPECT_FALSE(contains(out, "heavy"));
  EXPECT_EQ(model.getJointModel("joint_a")->getDistanceFactor(), 1.0);
}

TEST(RobotModelConstruction, PlanarRootWithDiffDriveProperties) {
  const Loaded loaded = loadEdge("small.urdf", "planar_root.srdf");
  const auto* root = dynamic_cast<const moveit::core::PlanarJointModel*>(loaded.model->getRootJoint());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(loaded.model->getModelFrame(), "odom");
  EXPECT_EQ(root->getMotionModel(), moveit::core::PlanarJointModel::DIFF_DRIVE);
  EXPECT_EQ(root->getMinTranslationalDistance(), 0.01);
  EXPECT_EQ(root->getAngularDistanceWeight(), 2.0);
  EXPECT_TRUE(root->isPassive());
  EXPECT_TRUE(contains(loaded.out, "Valid values are 'holonomic' and 'diff_drive'"));
  EXPECT_EQ(loaded.model->getVariableNames().front(), "base_joint/x");
}

TEST(RobotModelConstruction, OutOfRangePropertyNumberThrows) {
  OutputCapture capture;
  EXPECT_THROW(RobotModel(edgesDirectory(), "small.urdf", "out_of_range_property.srdf"), std::out_of_range);
}

TEST(RobotModelConstruction, VirtualJointsThatDoNotFitAreSkipped) {
  const Loaded loaded = loadEdge("small.urdf", "skipped_virtual_joints.srdf");
  const std::string& out = loaded.out;
  EXPECT_TRUE(contains(out,
                       "Skipping virtual joint 'elsewhere' because its child frame 'other_link' does not match "
                       "the URDF frame 'base_link'"))
      << out;
  EXPECT_TRUE(contains(out, "Skipping virtual joint 'no_parent' because its parent frame is empty"));
  EXPECT_FALSE(contains(out, "strange"));
  EXPECT_EQ(loaded.model->getRootJoint()->getName(), "world_joint");
  EXPECT_EQ(loaded.model->getRootJoint()->getType(), JointModel::FIXED);
  EXPECT_EQ(loaded.model->getModelFrame(), "base_link");
}

TEST(RobotModelConstruction, WorldRootTakesAFixedJointUntilAMatchingOneReplacesIt) {
  const Loaded replaced = loadEdge("world_root.urdf", "world_root.srdf");
  EXPECT_EQ(replaced.model->getRootJoint()->getName(), "floating_world");
  EXPECT_EQ(replaced.model->getRootJoint()->getType(), JointModel::FLOATING);
  EXPECT_EQ(replaced.model->getModelFrame(), "map");
  EXPECT_FALSE(replaced.model->hasJointModel("fixed_world"));
  EXPECT_EQ(replaced.model->getRootLink()->getName(), "world");
  EXPECT_FALSE(contains(replaced.out, "Skipping"));

  const Loaded kept = loadEdge("world_root.urdf", "world_root_fixed_only.srdf");
  EXPECT_EQ(kept.model->getRootJoint()->getName(), "fixed_world");
  EXPECT_EQ(kept.model->getModelFrame(), "world");
  EXPECT_FALSE(contains(kept.out, "No root/virtual joint"));
}

TEST(RobotModelConstruction, UnknownUrdfJointTypeLeavesTheSubtreeOut) {
  std::shared_ptr<urdf::ModelInterface> urdf_model = urdf::parseURDFFile(edgesDirectory() + "small.urdf");
  ASSERT_TRUE(urdf_model);
  std::const_pointer_cast<urdf::Joint>(urdf_model->getJoint("joint_a"))->type = urdf::Joint::UNKNOWN;
  OutputCapture capture;
  RobotModel model(urdf_model, nullptr);
  EXPECT_TRUE(contains(capture.out(), "Unknown joint type: 0"));
  EXPECT_EQ(model.getJointModelCount(), 1u);
  EXPECT_FALSE(model.hasLinkModel("link_a"));
  EXPECT_TRUE(contains(capture.out(), "No geometry is associated to any robot links\n"));
}

TEST(RobotModelConstruction, UrdfWithoutRootLinkGivesAnEmptyModel) {
  OutputCapture capture;
  RobotModel model(std::make_shared<urdf::ModelInterface>(), std::make_shared<srdf::Model>());
  EXPECT_EQ(capture.out(), "Loading robot model ''...\nNo root link found\n");
  EXPECT_EQ(model.getRootJoint(), nullptr);
  EXPECT_EQ(model.getRootLink(), nullptr);
  EXPECT_EQ(model.getJointModelCount(), 0u);
  EXPECT_EQ(model.getMaximumExtent(), 0.0);
}

}  // namespace

TEST(RobotModelConstruction, RelativeDescriptionDirectoryStillLoadsMeshes) {
  const std::string relative =
      std::filesystem::relative(bramlock_test::testArmDirectory(), std::filesystem::current_path()).string() + "/";
  ASSERT_NE(relative.front(), '/');
  const Loaded loaded = load(relative, "test_arm.urdf", "test_arm.srdf");
  const std::string meshes = bramlock_test::testArmDirectory() + "test_arm_description/meshes/";
  EXPECT_TRUE(contains(loaded.out, "mesh path is :file://" + meshes + "upper_arm.stl\n")) << loaded.out;
  EXPECT_FALSE(contains(loaded.out, "Failed to load mesh")) << loaded.out;
  ASSERT_EQ(loaded.model->getLinkModel("link2")->getShapes().size(), 1u);
  EXPECT_NE(loaded.model->getLinkModel("link2")->getShapes()[0], nullptr);
}
