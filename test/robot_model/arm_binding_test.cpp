// End to end: a URDF whose joint origins are generated from an MDH table, the
// same table handed to the robot model, and the solver the model binds. The
// solver's forward kinematics must equal the model's own chain of joint
// transforms, and its inverse kinematics must give the generating joints back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "bramlock_arm_planning_core/kinematics/kestrel_bot_v3_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/realman_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/rev5u800_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/rml63b_kinematics.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "test_support.h"

namespace {

using bramlock_test::OutputCapture;
using moveit::core::JointModel;
using moveit::core::JointModelGroup;
using moveit::core::LinkModel;
using moveit::core::RobotModel;
using Solutions = std::vector<std::vector<double>>;

struct Mdh {
  std::vector<double> zd, xa, alpha, qzero;
};

struct ArmCase {
  std::string name;
  Mdh table;
  double tool_length;  // beyond the last joint frame, in the solver's forward kinematics
  std::function<bool(KinematicsInterface*)> is_expected_class;
  std::function<int(KinematicsInterface&, const Eigen::MatrixXd&, Solutions&)> solve_all;
  std::function<bool(const std::vector<double>&)> accept = [](const std::vector<double>&) { return true; };
  double ik_tolerance = 1e-8;
  bool keeps_standard_dh = false;  // converts the table it is given
};

void PrintTo(const ArmCase& arm, std::ostream* out) { *out << arm.name; }

// The standard-DH form of an MDH column: a and alpha move one joint up.
std::vector<double> shiftedUp(const std::vector<double>& column) {
  std::vector<double> shifted(column.begin() + 1, column.end());
  shifted.push_back(0.0);
  return shifted;
}

template <typename Arm>
bool isA(KinematicsInterface* solver) {
  return dynamic_cast<Arm*>(solver) != nullptr;
}

int solveWithoutReference(KinematicsInterface& solver, const Eigen::MatrixXd& T, Solutions& solutions) {
  return solver.inverseKinematics(T, solutions);
}

int solveFromZeros(KinematicsInterface& solver, const Eigen::MatrixXd& T, Solutions& solutions) {
  return solver.inverseKinematics(T, std::vector<double>(6, 0.0), solutions);
}

std::vector<ArmCase> armCases() {
  const Mdh realman = {{0.3, 0, 0.05, 0.4, 0, 0.1},
                       {0, 0.08, 0.35, 0.04, 0, 0},
                       {0.0, M_PI_2, 0.0, M_PI_2, -M_PI_2, M_PI_2},
                       {0.1, -0.3, 0.5, 0.2, -0.4, 1.0}};
  const Mdh kestrel = {
      {0.3, 0, 0, 0, 0.12}, {0, -0.04, 0.28, 0.32, 0.05}, {0.0, M_PI_2, 0.0, 0.0, -M_PI_2}, {0, M_PI_2, 0, 0, 0}};
  const Mdh rml = {{0.2, 0, 0, 0.35, 0, 0.1},
                   {0, 0.05, 0.3, 0.04, 0, 0},
                   {0.0, -M_PI_2, 0.0, M_PI_2, -M_PI_2, -M_PI_2},
                   {0, -M_PI_2, M_PI_2, 0, 0, 0}};
  // The arm of the description package's URDF, which this solver computes on.
  const Mdh rev5 = {{0.328, 0, 0, 0.4, -0.136, 0.1035},
                    {0, 0, 0.40310999864793257, -0.05, 0, 0},
                    {0, -M_PI_2, M_PI, -M_PI_2, M_PI_2, -M_PI_2},
                    {0, -1.4464444615013292, -1.4464444615013292, 0, 0, 0}};
  std::vector<ArmCase> cases;
  ArmCase realman_case{"realman", realman, 0.0, isA<RealmanKinematics>, solveWithoutReference};
  realman_case.keeps_standard_dh = true;
  cases.push_back(realman_case);
  ArmCase kestrel_case{"kestrel", kestrel, 0.0, isA<KestrelBotV3Kinematics>, solveWithoutReference};
  // The closed form takes a straight elbow for a singular one.
  kestrel_case.accept = [kestrel](const std::vector<double>& q) {
    return std::fabs(std::remainder(q[2] + kestrel.qzero[2] - M_PI_2, 2 * M_PI)) > 0.01;
  };
  cases.push_back(kestrel_case);
  cases.push_back({"rml63b", rml, 0.17, isA<Rml63BKinematics>, solveWithoutReference});
  ArmCase rev5_case{"rev5u800", rev5, 0.0, isA<Rev5U800Kinematics>, solveFromZeros};
  rev5_case.ik_tolerance = 1e-6;  // numerically refined
  cases.push_back(rev5_case);
  return cases;
}

std::string originElement(double d, double a, double alpha, double qzero) {
  const Eigen::Matrix3d rotation =
      (Eigen::AngleAxisd(alpha, Eigen::Vector3d::UnitX()) * Eigen::AngleAxisd(qzero, Eigen::Vector3d::UnitZ()))
          .toRotationMatrix();
  const Eigen::Vector3d yaw_pitch_roll = rotation.eulerAngles(2, 1, 0);
  char text[256];
  std::snprintf(text, sizeof(text), "<origin xyz=\"%.17g %.17g %.17g\" rpy=\"%.17g %.17g %.17g\"/>", a,
                -d * std::sin(alpha), d * std::cos(alpha), yaw_pitch_roll[2], yaw_pitch_roll[1], yaw_pitch_roll[0]);
  return text;
}

// Joint i's origin is RotX(alpha) TransX(a) TransZ(d) RotZ(qzero) of MDH row i.
std::string mdhArmUrdf(const std::string& name, const Mdh& table) {
  std::string urdf = "<?xml version=\"1.0\"?>\n<robot name=\"" + name + "\">\n  <link name=\"base_link\"/>\n";
  for (size_t i = 0; i < table.zd.size(); ++i) {
    const std::string joint = std::to_string(i + 1);
    const std::string parent = i == 0 ? "base_link" : "link" + std::to_string(i);
    urdf += "  <joint name=\"joint" + joint + "\" type=\"revolute\">\n    <parent link=\"" + parent +
            "\"/><child link=\"link" + joint + "\"/>\n    " +
            originElement(table.zd[i], table.xa[i], table.alpha[i], table.qzero[i]) +
            "<axis xyz=\"0 0 1\"/>\n    <limit lower=\"-3.2\" upper=\"3.2\" effort=\"10\" velocity=\"3\"/>\n"
            "  </joint>\n  <link name=\"link" +
            joint + "\"/>\n";
  }
  return urdf + "</robot>\n";
}

std::string armSrdf(const std::string& name, size_t joints) {
  std::string srdf = "<?xml version=\"1.0\"?>\n<robot name=\"" + name + "\">\n";
  srdf += "  <group name=\"arm\"><chain base_link=\"base_link\" tip_link=\"link" + std::to_string(joints) +
          "\"/></group>\n  <group name=\"arm_copy\">";
  for (size_t i = 1; i <= joints; ++i) srdf += "<joint name=\"joint" + std::to_string(i) + "\"/>";
  srdf += "</group>\n  <group name=\"pair\"><joint name=\"joint1\"/><joint name=\"joint2\"/></group>\n</robot>\n";
  return srdf;
}

moveit::core::MdhTable modelTable(const Mdh& table) { return {table.zd, table.xa, table.qzero, table.alpha}; }

struct LoadedArm {
  std::shared_ptr<RobotModel> model;
  std::string out;
};

LoadedArm loadArm(const ArmCase& arm, const bramlock_test::TempDir& dir) {
  bramlock_test::writeFile(dir.path() / "arm.urdf", mdhArmUrdf(arm.name, arm.table));
  bramlock_test::writeFile(dir.path() / "arm.srdf", armSrdf(arm.name, arm.table.zd.size()));
  OutputCapture capture;
  auto model = std::make_shared<RobotModel>(dir.path().string() + "/", "arm.urdf", "arm.srdf", modelTable(arm.table));
  return {model, capture.out()};
}

// Pose of the last arm link in the base link, from the model's joint transforms.
Eigen::Matrix4d modelChainPose(const RobotModel& model, const std::vector<double>& q) {
  std::vector<const LinkModel*> links;
  for (const LinkModel* link = model.getLinkModel("link" + std::to_string(q.size())); link->getParentLinkModel();
       link = link->getParentLinkModel()) {
    links.insert(links.begin(), link);
  }
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  for (const LinkModel* link : links) {
    const JointModel* joint = link->getParentJointModel();
    Eigen::Isometry3d motion;
    joint->computeTransform(&q[joint->getFirstVariableIndex()], motion);
    pose = pose * link->getJointOriginTransform() * motion;
  }
  return pose.matrix();
}

Eigen::Matrix4d transZ(double length) {
  Eigen::Matrix4d T = Eigen::Matrix4d::Identity();
  T(2, 3) = length;
  return T;
}

// Smallest singular value of the chain's geometric Jacobian by central differences.
double distanceFromSingularity(const RobotModel& model, const std::vector<double>& q) {
  const double step = 1e-6;
  Eigen::MatrixXd jacobian(6, q.size());
  const Eigen::Matrix3d rotation = modelChainPose(model, q).topLeftCorner<3, 3>();
  for (size_t i = 0; i < q.size(); ++i) {
    std::vector<double> plus = q, minus = q;
    plus[i] += step;
    minus[i] -= step;
    const Eigen::Matrix4d d = (modelChainPose(model, plus) - modelChainPose(model, minus)) / (2 * step);
    const Eigen::Matrix3d omega = d.topLeftCorner<3, 3>() * rotation.transpose();
    jacobian.block<3, 1>(0, i) = d.block<3, 1>(0, 3);
    jacobian.block<3, 1>(3, i) = Eigen::Vector3d(omega(2, 1), omega(0, 2), omega(1, 0));
  }
  return Eigen::JacobiSVD<Eigen::MatrixXd>(jacobian).singularValues().minCoeff();
}

bool containsModTwoPi(const Solutions& solutions, const std::vector<double>& q, double tolerance) {
  for (const auto& solution : solutions) {
    if (solution.size() < q.size()) continue;
    double largest = 0.0;
    for (size_t i = 0; i < q.size(); ++i) {
      largest = std::max(largest, std::fabs(std::remainder(solution[i] - q[i], 2 * M_PI)));
    }
    if (largest < tolerance) return true;
  }
  return false;
}

class ArmBinding : public ::testing::TestWithParam<ArmCase> {
 protected:
  // The REV5-U800 solver loads the description package's URDF when bound.
  bramlock_test::ScopedEnvironment environment_{{{"AMENT_PREFIX_PATH", bramlock_test::amentPrefixPath()}}};
  bramlock_test::TempDir dir_;
};

TEST_P(ArmBinding, MdhAlphasBindTheArmClassWithTheActiveJointsTable) {
  const ArmCase& arm = GetParam();
  const LoadedArm loaded = loadArm(arm, dir_);
  const JointModelGroup* group = loaded.model->getJointModelGroup("arm");
  const std::shared_ptr<KinematicsInterface>& solver = group->getKinematicsInterface();
  ASSERT_NE(solver, nullptr) << loaded.out;
  EXPECT_TRUE(arm.is_expected_class(solver.get()));
  EXPECT_EQ(solver->zd, arm.table.zd);
  EXPECT_EQ(solver->xa, arm.keeps_standard_dh ? shiftedUp(arm.table.xa) : arm.table.xa);
  EXPECT_EQ(solver->alpha, arm.keeps_standard_dh ? shiftedUp(arm.table.alpha) : arm.table.alpha);
  EXPECT_EQ(solver->qzero, arm.table.qzero);
  // Both groups of this arm share the registry's one object.
  EXPECT_EQ(loaded.model->getJointModelGroup("arm_copy")->getKinematicsInterface(), solver);
  EXPECT_EQ(solver.use_count(), 3);
  EXPECT_EQ(loaded.model->getJointModelGroup("pair")->getKinematicsInterface(), nullptr);
  EXPECT_NE(loaded.out.find("This joint group does not has the kinematics slover !\n"), std::string::npos);
}

TEST_P(ArmBinding, ForwardKinematicsIsTheModelChainAndInverseKinematicsGivesTheJointsBack) {
  const ArmCase& arm = GetParam();
  const LoadedArm loaded = loadArm(arm, dir_);
  const RobotModel& model = *loaded.model;
  KinematicsInterface& solver = *model.getJointModelGroup("arm")->getKinematicsInterface();
  std::mt19937 rng(1600);
  std::uniform_real_distribution<double> angle(-M_PI, M_PI);
  int checked = 0;
  while (checked < 50) {
    std::vector<double> q(arm.table.zd.size());
    for (double& value : q) value = angle(rng);
    if (!arm.accept(q) || distanceFromSingularity(model, q) < 0.03) continue;
    ++checked;
    const Eigen::Matrix4d chain = modelChainPose(model, q);
    const Eigen::MatrixXd forward = solver.forwardKinematics(q);
    ASSERT_EQ(forward.rows(), 4);
    EXPECT_LT((forward - chain * transZ(arm.tool_length)).cwiseAbs().maxCoeff(), 1e-9);

    Solutions solutions;
    OutputCapture quiet;
    const int result = arm.solve_all(solver, chain, solutions);
    quiet.out();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(containsModTwoPi(solutions, q, arm.ik_tolerance)) << checked;
  }
}

INSTANTIATE_TEST_SUITE_P(FourArms, ArmBinding, ::testing::ValuesIn(armCases()),
                         [](const ::testing::TestParamInfo<ArmCase>& info) { return info.param.name; });

TEST(ArmBindingPackage, OnlyARev5U800GroupNeedsTheDescriptionPackage) {
  bramlock_test::TempDir empty_prefix;
  bramlock_test::ScopedEnvironment environment({{"AMENT_PREFIX_PATH", empty_prefix.path().string()}});
  const std::vector<ArmCase> cases = armCases();
  bramlock_test::TempDir dir;
  EXPECT_NE(loadArm(cases[0], dir).model->getJointModelGroup("arm")->getKinematicsInterface(), nullptr);
  OutputCapture quiet;
  EXPECT_THROW(loadArm(cases[3], dir), std::exception);
}

}  // namespace
