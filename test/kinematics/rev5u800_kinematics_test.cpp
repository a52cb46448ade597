#include <gtest/gtest.h>

#include <ament_index_cpp/get_package_prefix.hpp>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "arm_test_support.h"
#include "bramlock_arm_planning_core/console_color_codes.h"
#include "bramlock_arm_planning_core/kinematics/inverse_kinematics_solver.h"
#include "bramlock_arm_planning_core/kinematics/rev5u800_kinematics.h"
#include "expect_throw_message.h"
#include "rev5u800_fixture.h"
#include "test_support.h"

using kinematics_test::angleDistance;
using kinematics_test::MdhTable;
using kinematics_test::printedBy;

namespace {

static_assert(!std::is_copy_constructible_v<Rev5U800Kinematics> && !std::is_move_constructible_v<Rev5U800Kinematics> &&
                  !std::is_copy_assignable_v<Rev5U800Kinematics> && !std::is_move_assignable_v<Rev5U800Kinematics>,
              "the arm holds solvers that refer to its chain");
static_assert(!std::is_copy_constructible_v<InverseKinematicsSolver> &&
                  !std::is_move_constructible_v<InverseKinematicsSolver> &&
                  !std::is_copy_assignable_v<InverseKinematicsSolver> &&
                  !std::is_move_assignable_v<InverseKinematicsSolver>,
              "the solver's KDL solvers refer to its chain");

const MdhTable kFixtureTable = {{0.328, 0, 0, 0.4, -0.136, 0.1035},
                                {0, 0, 0.40310999864793257, -0.05, 0, 0},
                                {0, -M_PI / 2, M_PI, -M_PI / 2, M_PI / 2, -M_PI / 2},
                                {0, -1.4464444615013292, -1.4464444615013292, 0, 0, 0}};

// Every test finds the description package in the fixture prefix.
class Rev5U800 : public ::testing::Test {
 protected:
  std::shared_ptr<Rev5U800Kinematics> makeArm() { return kinematics_test::makeArm<Rev5U800Kinematics>(kFixtureTable); }

  // Pose of the last MDH frame from the arm's own table and link matrices.
  static Eigen::MatrixXd mdhPose(Rev5U800Kinematics& arm, const std::vector<double>& q) {
    Eigen::MatrixXd T = Eigen::MatrixXd::Identity(4, 4);
    for (size_t i = 0; i < q.size(); ++i) {
      const double theta = q[i] + arm.qzero[i];
      T *= arm.get_a_mdh_transform(arm.zd[i], arm.xa[i], std::cos(arm.alpha[i]), std::sin(arm.alpha[i]),
                                   std::cos(theta), std::sin(theta));
    }
    return T;
  }

  bramlock_test::ScopedEnvironment environment_{{{"AMENT_PREFIX_PATH", bramlock_test::amentPrefixPath()}}};
};

Eigen::Matrix3d rotZ(double angle) { return Eigen::AngleAxisd(angle, Eigen::Vector3d::UnitZ()).toRotationMatrix(); }

TEST_F(Rev5U800, ThreeForwardKinematicsAgree) {
  auto arm = makeArm();
  std::mt19937 random(42);
  double worst_kdl = 0.0, worst_mdh = 0.0;
  for (int i = 0; i < 1000; ++i) {
    const std::vector<double> q = kinematics_test::randomJoints(random, 6);
    const Eigen::MatrixXd closed_form = rev5u800_test::computeFkPose(q);
    worst_kdl = std::max(worst_kdl, kinematics_test::poseError(arm->forwardKinematics(q), closed_form));
    worst_mdh = std::max(worst_mdh, kinematics_test::poseError(mdhPose(*arm, q), closed_form));
  }
  EXPECT_LT(worst_kdl, 1e-12);
  EXPECT_LT(worst_mdh, 1e-12);
}

TEST_F(Rev5U800, SetMdhParaChecksTheTableAndPrintsIt) {
  auto arm = std::make_shared<Rev5U800Kinematics>();
  MdhTable wrong_type = kFixtureTable;
  wrong_type.alpha[2] = 0.0;
  int result = 0;
  EXPECT_EQ(
      printedBy([&] { result = arm->setMdhPara(wrong_type.zd, wrong_type.xa, wrong_type.alpha, wrong_type.qzero); }),
      "alpha sequence not equal\nthe input robot type is not right!!!\n");
  EXPECT_EQ(result, -2);
  std::vector<double> five = {1, 2, 3, 4, 5};
  EXPECT_EQ(
      printedBy([&] { result = arm->setMdhPara(five, kFixtureTable.xa, kFixtureTable.alpha, kFixtureTable.qzero); }),
      "the size of zds,xas,alphas,qzeros not equal\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(arm->zd, std::vector<double>(6, 0.0));
  // Nothing loaded yet: there is no pose to report.
  EXPECT_EQ(arm->forwardKinematics(std::vector<double>(6, 0.0)).size(), 0);

  const std::string printed = printedBy(
      [&] { result = arm->setMdhPara(kFixtureTable.zd, kFixtureTable.xa, kFixtureTable.alpha, kFixtureTable.qzero); });
  EXPECT_EQ(result, 0);
  EXPECT_NE(printed.find("[INFO] \033[42m ######################mdh para########################## \033[0m\n"),
            std::string::npos);
  EXPECT_NE(printed.find("0(zd xa alpha qzero)=(0.328000,0.000000,0.000000,0.000000)\n"), std::string::npos);
  EXPECT_NE(printed.find("[INFO] URDF模型加载成功\n"), std::string::npos);
  EXPECT_NE(printed.find("[INFO] 成功创建机器人链，关节数量:6\n"), std::string::npos);
  EXPECT_EQ(arm->forwardKinematics(std::vector<double>(6, 0.0)).rows(), 4);
}

TEST_F(Rev5U800, ReferenceGuidedSolutionsRoundTrip) {
  auto arm = makeArm();
  std::mt19937 random(7);
  for (int i = 0; i < 100; ++i) {
    const std::vector<double> q = kinematics_test::randomJoints(random, 6);
    const std::vector<double> reference = kinematics_test::randomJoints(random, 6);
    const Eigen::MatrixXd pose = rev5u800_test::computeFkPose(q);
    std::vector<std::vector<double>> solutions = {{1, 2, 3}};
    ASSERT_EQ(printedBy([&] { EXPECT_EQ(arm->inverseKinematics(pose, reference, solutions), 0); }), "");
    EXPECT_TRUE(kinematics_test::containsModTwoPi(solutions, q, 1e-6)) << "pose " << i;
    for (size_t a = 0; a < solutions.size(); ++a) {
      const auto error = rev5u800_test::poseDifference(rev5u800_test::computeFkPose(solutions[a]), pose);
      EXPECT_LT(error.position, 1e-6);
      EXPECT_LT(error.rotation, 1e-6);
      for (size_t b = 0; b < a; ++b) {
        double largest = 0.0;
        for (int j = 0; j < 6; ++j) largest = std::max(largest, std::fabs(solutions[a][j] - solutions[b][j]));
        EXPECT_GT(largest, 0.01) << "near-duplicates " << a << " and " << b;
      }
    }
  }
}

TEST_F(Rev5U800, UnreachablePosesFailWithTheirMessages) {
  auto arm = makeArm();
  Eigen::MatrixXd far = Eigen::MatrixXd::Identity(4, 4);
  far(0, 3) = 3.0;
  std::vector<std::vector<double>> solutions = {{1, 2, 3}};
  int result = 0;
  const std::string printed =
      printedBy([&] { result = arm->inverseKinematics(far, std::vector<double>(6, 0.1), solutions); });
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(solutions.empty());
  EXPECT_NE(printed.find("[WARN] IKFast calculation failed\n"), std::string::npos);
  EXPECT_NE(printed.find("[INFO] IK failed pose is 3,0,0\n"), std::string::npos);

  solutions = {{1, 2, 3}};
  EXPECT_NE(printedBy([&] { result = arm->inverseKinematics(far, solutions); }).find("[INFO] IK failed\n"),
            std::string::npos);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(solutions.empty());

  std::vector<double> q = {1, 2, 3};
  EXPECT_EQ(arm->inverseKinematics(far, std::vector<double>(6, 0.0), q), -1);
  EXPECT_TRUE(q.empty());

  // Not-a-number poses fail the same way instead of escaping as exceptions.
  Eigen::MatrixXd broken = far;
  broken(1, 1) = std::numeric_limits<double>::quiet_NaN();
  printedBy([&] { result = arm->inverseKinematics(broken, std::vector<double>(6, 0.0), solutions); });
  EXPECT_EQ(result, -1);
}

TEST_F(Rev5U800, MalformedArgumentsReturnMinusOneWithEmptiedOutputs) {
  auto arm = makeArm();
  const Eigen::MatrixXd pose = rev5u800_test::computeFkPose({0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
  const Eigen::MatrixXd three_rows = pose.topRows(3);
  std::vector<double> q = {1, 2, 3};
  std::vector<std::vector<double>> solutions = {{1, 2, 3}};
  EXPECT_EQ(arm->inverseKinematics(three_rows, std::vector<double>(6, 0.0), q), -1);
  EXPECT_TRUE(q.empty());
  q = {1, 2, 3};
  EXPECT_EQ(arm->inverseKinematics(pose, std::vector<double>(5, 0.0), q), -1);
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(arm->inverseKinematics(three_rows, solutions), -1);
  EXPECT_TRUE(solutions.empty());
  solutions = {{1, 2, 3}};
  EXPECT_EQ(arm->inverseKinematics(three_rows, std::vector<double>(6, 0.0), solutions), -1);
  EXPECT_TRUE(solutions.empty());
  solutions = {{1, 2, 3}};
  EXPECT_EQ(arm->inverseKinematics(pose, std::vector<double>(5, 0.0), solutions), -1);
  EXPECT_TRUE(solutions.empty());

  // The two forms this arm does not provide leave their output alone.
  q = {1, 2, 3};
  int config[3] = {1, 1, 1};
  EXPECT_EQ(arm->inverseKinematics(pose, config, q), -1);
  EXPECT_EQ(arm->inverseKinematics(pose, q), -1);
  EXPECT_EQ(q, (std::vector<double>{1, 2, 3}));
  EXPECT_THROW_MESSAGE(arm->forwardKinematics({0, 0, 0}), std::invalid_argument,
                       "^joint vector holds 3 values, the arm has 6 joints$");
}

TEST_F(Rev5U800, NumericSolvesFromSeedsAndReference) {
  auto arm = makeArm();
  const std::vector<double> q = {0.4, -0.3, 0.8, 1.2, -0.9, 0.5};
  const Eigen::MatrixXd pose = rev5u800_test::computeFkPose(q);
  std::vector<double> single;
  ASSERT_EQ(arm->inverseKinematics(pose, std::vector<double>{0.45, -0.25, 0.75, 1.1, -0.95, 0.55}, single), 0);
  EXPECT_LT(angleDistance(single, q), 1e-6);
  std::vector<std::vector<double>> solutions;
  ASSERT_EQ(arm->inverseKinematics(pose, solutions), 0);
  EXPECT_LE(solutions.size(), 8u);
  for (const auto& solution : solutions) {
    EXPECT_TRUE(printedBy([&] { EXPECT_TRUE(arm->checkInverseKkinematics(solution, pose)); }).empty());
  }

  InverseKinematicsSolver solver;
  printedBy([&] { solver.updateMDH(kFixtureTable.zd, kFixtureTable.xa, kFixtureTable.alpha, kFixtureTable.qzero); });
  bool ok = false;
  const Eigen::VectorXd solved =
      solver.inverseKinematics(pose, ok, Eigen::Map<const Eigen::VectorXd>(single.data(), 6));
  EXPECT_TRUE(ok);
  EXPECT_LT(rev5u800_test::poseDifference(solver.forwardKinematics(solved), pose).rotation, 1e-6);
  solver.inverseKinematics(pose, ok, Eigen::VectorXd::Zero(5));
  EXPECT_FALSE(ok) << "a short seed fails instead of being read past its end";
  EXPECT_FALSE(solver.forwardKinematics(Eigen::VectorXd::Zero(5)).allFinite());
}

TEST_F(Rev5U800, PoseCheckReportsMisses) {
  auto arm = makeArm();
  const std::vector<double> q = {-1.0, 0.5, 0.2, -0.7, 1.3, 2.1};
  Eigen::MatrixXd pose = arm->forwardKinematics(q);
  bool reached = false;
  EXPECT_EQ(printedBy([&] { reached = arm->checkInverseKkinematics(q, pose); }), "");
  EXPECT_TRUE(reached);
  // A rotation error of 1e-3 rad, far below the old early-return bound, is a miss.
  pose.topLeftCorner(3, 3) = rotZ(1e-3) * pose.topLeftCorner(3, 3);
  const std::string printed = printedBy([&] { reached = arm->checkInverseKkinematics(q, pose); });
  EXPECT_FALSE(reached);
  EXPECT_NE(printed.find("[INFO] " + DIM_YELLOW + "IK error: pos_err_norm:"), std::string::npos) << printed;
  EXPECT_NE(printed.find(",rot_err_norm:0.00099999"), std::string::npos) << printed;
  EXPECT_NE(printed.find(RESET + "\n"), std::string::npos);
}

TEST_F(Rev5U800, MinEigenvalueAndSingularity) {
  auto arm = makeArm();
  const KDL::Chain chain = rev5u800_test::fixtureChain();
  const std::vector<double> q = {0.3, -0.2, 0.9, 0.4, 1.1, -0.6};
  double smallest = -1.0;
  ASSERT_EQ(arm->getMinEigenvalue(q, smallest), 0);
  EXPECT_NEAR(smallest, rev5u800_test::kdlSmallestSingularValue(chain, q), 1e-12);
  double untouched = 123.0;
  EXPECT_EQ(arm->getMinEigenvalue({0, 0, 0, 0, 0}, untouched), -1);
  EXPECT_EQ(untouched, 123.0);

  EXPECT_EQ(printedBy([&] { EXPECT_FALSE(arm->isSingular(q, 0.0)); }), "");
  EXPECT_EQ(printedBy([&] { EXPECT_FALSE(arm->isSingular({0, 0, 0, 0, 0}, 1e300)); }), "");
  const std::string printed = printedBy([&] { EXPECT_TRUE(arm->isSingular(q, 10.0)); });
  EXPECT_NE(printed.find("[INFO] rad: [0.3,-0.2,0.9,0.4,1.1,-0.6] isSingular\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("[INFO] min_coeff is "), std::string::npos);

  InverseKinematicsSolver solver;
  EXPECT_DOUBLE_EQ(solver.getMinEigenvalue(Eigen::MatrixXd::Identity(6, 6)), 1.0);
  EXPECT_NEAR(solver.getMinEigenvalue(2.0 * Eigen::MatrixXd::Identity(6, 3)), 4.0, 1e-12);
}

TEST_F(Rev5U800, JacobianMatchesFiniteDifferences) {
  auto arm = makeArm();
  std::mt19937 random(3);
  for (int i = 0; i < 20; ++i) {
    const std::vector<double> q = kinematics_test::randomJoints(random, 6);
    const Eigen::MatrixXd numeric =
        kinematics_test::numericJacobian([&](const std::vector<double>& v) { return mdhPose(*arm, v); }, q);
    EXPECT_LT((arm->computeJacobian(q) - numeric).cwiseAbs().maxCoeff(), 1e-8);
  }
  // The cache-based form reads caches that nothing fills: a zero Jacobian.
  EXPECT_TRUE(arm->getJacobian().isZero(0.0));
  EXPECT_EQ(arm->getJacobian().cols(), 6);

  MdhTable flat = kFixtureTable;
  flat.zd.assign(6, 0.0);
  flat.xa.assign(6, 0.0);
  printedBy([&] { ASSERT_EQ(arm->setMdhPara(flat.zd, flat.xa, flat.alpha, flat.qzero), 0); });
  const Eigen::MatrixXd J = arm->computeJacobian({0.1, 0.2, 0.3, 0.4, 0.5, 0.6});
  EXPECT_TRUE(J.topRows(3).isZero(0.0));
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(J.block(3, i, 3, 1).norm(), 1.0, 1e-15);
  EXPECT_THROW_MESSAGE(arm->computeJacobian(std::vector<double>(7, 0.0)), std::invalid_argument,
                       "^joint vector holds 7 values, the arm has 6 joints$");
}

TEST_F(Rev5U800, LinkMatricesAndValueChecks) {
  Rev5U800Kinematics arm;
  const double ca = std::cos(0.3), sa = std::sin(0.3), ct = std::cos(1.1), st = std::sin(1.1);
  Eigen::MatrixXd expected_sdh(4, 4);
  expected_sdh << ct, -ca * st, sa * st, 0.2 * ct, st, ca * ct, -sa * ct, 0.2 * st, 0, sa, ca, 0.5, 0, 0, 0, 1;
  EXPECT_LT((arm.get_a_transform(0.5, 0.2, ca, sa, ct, st) - expected_sdh).cwiseAbs().maxCoeff(), 1e-15);
  EXPECT_LT((arm.get_a_mdh_transform(0.5, 0.2, ca, sa, ct, st) - InverseKinematicsSolver::mdhMatrix(0.3, 0.2, 0.5, 1.1))
                .cwiseAbs()
                .maxCoeff(),
            1e-15);
  Eigen::Matrix4d expected_mdh;
  expected_mdh << 1, 0, 0, 0.1, 0, 0, -1, -0.2, 0, 1, 0, 0, 0, 0, 0, 1;
  EXPECT_LT((InverseKinematicsSolver::mdhMatrix(M_PI / 2, 0.1, 0.2, 0) - expected_mdh).cwiseAbs().maxCoeff(), 1e-15);
  EXPECT_TRUE(InverseKinematicsSolver::mdhMatrix(0, 0, 0, 0).isIdentity(0.0));

  EXPECT_FALSE(arm.checkVectorDoubleValid({0, std::numeric_limits<double>::quiet_NaN()}));
  EXPECT_FALSE(arm.checkVectorDoubleValid({1e308, -std::numeric_limits<double>::infinity()}));
  EXPECT_TRUE(arm.checkVectorDoubleValid({}));
}

TEST(RotationError, SmallAnglesAreMeasuredNotZeroed) {
  const Eigen::Matrix3d R = Eigen::AngleAxisd(0.7, Eigen::Vector3d(1, 2, 3).normalized()).toRotationMatrix();
  EXPECT_TRUE(rotationError(R, R).isZero(1e-15));
  EXPECT_LT((rotationError(Eigen::Matrix3d::Identity(), rotZ(0.1)) - Eigen::Vector3d(0, 0, 0.1)).norm(), 1e-15);
  EXPECT_LT((rotationError(rotZ(0.1), Eigen::Matrix3d::Identity()) - Eigen::Vector3d(0, 0, -0.1)).norm(), 1e-15);
  for (double angle : {0.03, 1e-3, 1e-5, 1e-8}) {
    const Eigen::Vector3d error = rotationError(R, rotZ(angle) * R);
    EXPECT_NEAR(error.z(), angle, angle * 1e-6) << angle;
    EXPECT_NEAR(error.head<2>().norm(), 0.0, angle * 1e-6) << angle;
  }
}

TEST(RotationError, HalfTurnsKeepTheirAxis) {
  const Eigen::Vector3d axis = Eigen::Vector3d(-0.3, 0.5, 0.8).normalized();
  for (double angle : {M_PI - 1e-3, M_PI - 1e-7, M_PI - 1e-12, 2.0}) {
    const Eigen::Matrix3d M = Eigen::AngleAxisd(angle, axis).toRotationMatrix();
    EXPECT_LT((rotationError(Eigen::Matrix3d::Identity(), M) - angle * axis).norm(), 1e-9) << angle;
  }
  const Eigen::Vector3d half_turn =
      rotationError(Eigen::Matrix3d::Identity(), Eigen::AngleAxisd(M_PI, axis).toRotationMatrix());
  EXPECT_NEAR(half_turn.norm(), M_PI, 1e-12);
  EXPECT_NEAR(std::fabs(half_turn.normalized().dot(axis)), 1.0, 1e-12);
  EXPECT_LT((rotationError(Eigen::Matrix3d::Identity(), Eigen::Vector3d(1, -1, -1).asDiagonal()) -
             Eigen::Vector3d(M_PI, 0, 0))
                .cwiseAbs()
                .maxCoeff(),
            1e-15);
}

TEST(PoseError, SwappingTheArgumentsNegatesBothParts) {
  InverseKinematicsSolver solver;
  Eigen::Matrix4d a = Eigen::Matrix4d::Identity(), b = Eigen::Matrix4d::Identity();
  a.topLeftCorner<3, 3>() = rotZ(0.2);
  a.topRightCorner<3, 1>() << 0.1, 0.2, 0.3;
  b.topRightCorner<3, 1>() << -0.1, 0.0, 0.5;
  EXPECT_TRUE(solver.poseError(a, a).isZero(1e-15));
  const Eigen::VectorXd forward = solver.poseError(a, b), backward = solver.poseError(b, a);
  EXPECT_LT((forward + backward).norm(), 1e-15);
  EXPECT_LT((forward - (Eigen::VectorXd(6) << 0.2, 0.2, -0.2, 0, 0, 0.2).finished()).norm(), 1e-15);
}

TEST(InverseKinematicsSolverLoading, MissingPackageThrowsTheIndexException) {
  bramlock_test::TempDir empty_prefix;
  bramlock_test::ScopedEnvironment environment({{"AMENT_PREFIX_PATH", empty_prefix.path().string()}});
  Rev5U800Kinematics arm;
  const auto load = [&] {
    arm.setMdhPara(kFixtureTable.zd, kFixtureTable.xa, kFixtureTable.alpha, kFixtureTable.qzero);
  };
  EXPECT_THROW(printedBy(load), ament_index_cpp::PackageNotFoundError);
}

TEST(InverseKinematicsSolverLoading, MissingUrdfIsLoggedAndEveryOperationFails) {
  bramlock_test::TempDir prefix;
  bramlock_test::writeFile(prefix.path() / "share/ament_index/resource_index/packages/bramlock_arm_description", "");
  bramlock_test::writeFile(prefix.path() / "share/bramlock_arm_description/package.xml", "<package/>");
  bramlock_test::ScopedEnvironment environment({{"AMENT_PREFIX_PATH", prefix.path().string()}});
  auto arm = std::make_shared<Rev5U800Kinematics>();
  const std::string printed = printedBy([&] {
    EXPECT_EQ(arm->setMdhPara(kFixtureTable.zd, kFixtureTable.xa, kFixtureTable.alpha, kFixtureTable.qzero), 0);
  });
  const std::string path =
      (prefix.path() / "share/bramlock_arm_description").string() + "/urdf/RAV5-A800-Z4O3V4I/RAV5-A800-Z4O3V4I.urdf";
  EXPECT_NE(printed.find("[ERROR] 无法加载URDF模型:" + path + "\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("[ERROR] 无法从URDF创建KDL树\n"), std::string::npos);
  EXPECT_NE(printed.find("[ERROR] 无法获取机器人链\n"), std::string::npos);

  EXPECT_EQ(arm->forwardKinematics(std::vector<double>(6, 0.0)).size(), 0);
  std::vector<double> q;
  EXPECT_EQ(arm->inverseKinematics(Eigen::MatrixXd::Identity(4, 4), std::vector<double>(6, 0.0), q), -1);
  double smallest = 5.0;
  EXPECT_EQ(arm->getMinEigenvalue(std::vector<double>(6, 0.0), smallest), -1);
  EXPECT_EQ(smallest, 5.0);
  EXPECT_FALSE(arm->checkInverseKkinematics(std::vector<double>(6, 0.0), Eigen::MatrixXd::Identity(4, 4)));
}

}  // namespace
