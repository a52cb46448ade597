// Joint axes without a direction are refused; collision meshes that cannot
// be used are listed with their links.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <urdf_model/model.h>
#include <urdf_parser/urdf_parser.h>

#include "bramlock_arm_planning_core/robot_model/exceptions.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "test_support.h"

namespace {

using bramlock_test::OutputCapture;
using moveit::core::RobotModel;

// A base with one joint of the given type and axis, and a link holding the given collision geometry.
std::string oneJointUrdf(const std::string& type, const std::string& axis, const std::string& geometry) {
  return "<?xml version=\"1.0\"?>\n<robot name=\"one\">\n  <link name=\"base_link\"/>\n"
         "  <joint name=\"mover\" type=\"" +
         type +
         "\"><parent link=\"base_link\"/><child link=\"moved\"/>"
         "<axis xyz=\"" +
         axis +
         "\"/><limit lower=\"-1\" upper=\"1\" effort=\"1\" velocity=\"1\"/></joint>\n"
         "  <link name=\"moved\"><collision><geometry>" +
         geometry + "</geometry></collision></link>\n</robot>\n";
}

const char kBox[] = "<box size=\"0.1 0.1 0.1\"/>";

std::unique_ptr<RobotModel> fromText(const std::string& urdf_text, double axis_override = 1.0) {
  std::shared_ptr<urdf::ModelInterface> urdf = urdf::parseURDF(urdf_text);
  if (!urdf) throw std::runtime_error("fixture does not parse");
  if (axis_override != 1.0) urdf->joints_["mover"]->axis.y = axis_override;
  OutputCapture quiet;
  return std::make_unique<RobotModel>(urdf, nullptr);
}

std::string refusal(const std::string& urdf_text, double axis_override = 1.0) {
  try {
    fromText(urdf_text, axis_override);
  } catch (const moveit::core::Exception& error) {
    return error.what();
  }
  return "";
}

}  // namespace

TEST(RobotModelDescriptionChecks, JointAxesWithoutADirectionAreRefusedNamingTheJoint) {
  for (const char* type : {"revolute", "continuous", "prismatic"}) {
    EXPECT_NE(refusal(oneJointUrdf(type, "0 0 0", kBox)).find("joint 'mover'"), std::string::npos) << type;
    for (const double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
      EXPECT_NE(refusal(oneJointUrdf(type, "0 0 1", kBox), bad).find("joint 'mover'"), std::string::npos) << type;
    }
    // Any length gives a direction.
    EXPECT_EQ(refusal(oneJointUrdf(type, "0 0 1e-9", kBox)), "") << type;
  }
}

TEST(RobotModelDescriptionChecks, CollisionMeshesThatCannotBeUsedAreListedWithTheirLinks) {
  bramlock_test::TempDir dir;
  const std::string box = bramlock_test::fixturePath("scene_arm/scene_arm_description/meshes/box.stl");
  const std::string missing = (dir.path() / "missing.stl").string();
  const auto mesh = [](const std::string& file, const char* scale) {
    return "<mesh filename=\"file://" + file + "\" scale=\"" + scale + "\"/>";
  };
  EXPECT_TRUE(fromText(oneJointUrdf("revolute", "0 0 1", mesh(box, "1 1 1")))->getUnusableCollisionMeshes().empty());
  EXPECT_TRUE(fromText(oneJointUrdf("revolute", "0 0 1", kBox))->getUnusableCollisionMeshes().empty());
  for (const auto& [file, scale] : {std::pair{missing, "1 1 1"}, std::pair{box, "0 0 0"}, std::pair{box, "1 1 0"}}) {
    const auto model = fromText(oneJointUrdf("revolute", "0 0 1", mesh(file, scale)));
    const auto& unusable = model->getUnusableCollisionMeshes();
    ASSERT_EQ(unusable.size(), 1u) << file << " " << scale;
    EXPECT_EQ(unusable[0].link, "moved");
    EXPECT_EQ(unusable[0].file, "file://" + file);
  }
}
