#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>

#include "arm_test_support.h"
#include "bramlock_arm_planning_core/kinematics/kestrel_bot_v3_kinematics.h"
#include "expect_throw_message.h"

using kinematics_test::MdhTable;
using kinematics_test::printedBy;

namespace {

const std::vector<double> kAlphas = {0.0, M_PI_2, 0.0, 0.0, -M_PI_2};
const std::vector<double> kJointOffsets = {0.0, M_PI_2, M_PI_2, 0.0, 0.0};

// Tables the closed form covers: a1 = d2 = d3 = d4 = 0.
std::vector<MdhTable> closedFormTables() {
  return {
      {{0.2, 0, 0, 0, 0.1}, {0, 0.05, 0.3, 0.25, 0.03}, kAlphas, {0, 0, 0, 0, 0}},
      {{0.15, 0, 0, 0, 0.08}, {0, 0, 0.35, 0.3, 0}, kAlphas, {0.2, -0.3, 0.4, 0.1, -0.5}},
      {{0.3, 0, 0, 0, 0.12}, {0, -0.04, 0.28, 0.32, 0.05}, kAlphas, {0, M_PI_2, 0, 0, 0}},
  };
}

std::shared_ptr<KestrelBotV3Kinematics> makeArm(const MdhTable& table) {
  return kinematics_test::makeArm<KestrelBotV3Kinematics>(table);
}

// Closed-form elbow angle of q, the one the elbow rule tests.
double elbowAngle(const MdhTable& table, const std::vector<double>& q) {
  return std::remainder(q[2] + table.qzero[2] - kJointOffsets[2], 2 * M_PI);
}

// Random joint vectors clear of singularities and of the elbow rule.
std::vector<std::vector<double>> regularJointVectors(KestrelBotV3Kinematics& arm, const MdhTable& table,
                                                     std::mt19937& rng, int count) {
  return kinematics_test::regularJointVectors(
      arm, rng, count, [&table](const std::vector<double>& q) { return std::fabs(elbowAngle(table, q)) > 0.01; });
}

void expectRoundTrip(KestrelBotV3Kinematics& arm, const std::vector<double>& q) {
  const Eigen::MatrixXd T = arm.forwardKinematics(q);
  std::vector<std::vector<double>> solutions;
  int result;
  printedBy([&] { result = arm.inverseKinematics(T, solutions); });
  ASSERT_EQ(result, 0);
  ASSERT_LE(solutions.size(), 4u);
  for (const auto& solution : solutions) {
    EXPECT_LT(kinematics_test::poseError(arm.forwardKinematics(solution), T), 1e-10);
  }
  EXPECT_TRUE(kinematics_test::containsModTwoPi(solutions, q));
}

}  // namespace

TEST(KestrelBotV3Kinematics, EverySolutionReproducesThePoseAndTheGeneratorIsAmongThem) {
  std::mt19937 rng(201);
  for (const MdhTable& table : closedFormTables()) {
    auto arm = makeArm(table);
    for (const auto& q : regularJointVectors(*arm, table, rng, 200)) {
      expectRoundTrip(*arm, q);
    }
  }
}

TEST(KestrelBotV3Kinematics, HomePoseAndHorizontalRadialToolAxisAreSolved) {
  // At home the wrist angle is 0 (its sine vanishes); the elbow of this table is bent there.
  expectRoundTrip(*makeArm(closedFormTables()[1]), {0, 0, 0, 0, 0});
  for (const MdhTable& table : closedFormTables()) {
    auto arm = makeArm(table);
    SCOPED_TRACE(table.qzero[1]);
    // Links 2 to 4 add up to a vertical x4: the tool z axis is horizontal and radial.
    std::vector<double> radial = {0.3, 0.5, 0.6, 0.0, 0.7};
    radial[3] = M_PI_2 - (radial[1] + table.qzero[1]) - (radial[2] + table.qzero[2]) - table.qzero[3];
    const Eigen::MatrixXd T = arm->forwardKinematics(radial);
    ASSERT_NEAR(T(2, 2), 0.0, 1e-12);
    ASSERT_NEAR(std::fabs(T(0, 2) * T(0, 3) + T(1, 2) * T(1, 3)) / std::hypot(T(0, 3), T(1, 3)), 1.0, 1e-12);
    expectRoundTrip(*arm, radial);
  }
}

TEST(KestrelBotV3Kinematics, FlagPairsSelectHalfPlaneAndComeInFixedOrder) {
  std::mt19937 rng(202);
  const MdhTable table = closedFormTables()[1];
  auto arm = makeArm(table);
  for (const auto& q : regularJointVectors(*arm, table, rng, 50)) {
    const Eigen::MatrixXd T = arm->forwardKinematics(q);
    std::vector<std::vector<double>> all, expected;
    printedBy([&] { arm->inverseKinematics(T, q, all); });
    for (auto pair : {std::make_pair(0, 0), std::make_pair(1, 0), std::make_pair(1, 1), std::make_pair(0, 1)}) {
      int flags[2] = {pair.first, pair.second};
      std::vector<double> single;
      if (printedBy([&] { arm->inverseKinematics(T, flags, single); }).empty()) {
        expected.push_back(single);
        const double base = single[0] - (kJointOffsets[0] - table.qzero[0]);
        EXPECT_EQ(std::fabs(base) <= M_PI_2, pair.first == 1) << base;
      }
    }
    EXPECT_EQ(all, expected);
  }
}

TEST(KestrelBotV3Kinematics, ElbowRuleAndUnreachablePoses) {
  const MdhTable table = closedFormTables()[0];
  auto arm = makeArm(table);
  // Joint 3 at pi/2 is the closed-form elbow angle 0.
  const std::vector<double> q = {0.3, 0.4, M_PI_2, 0.2, 0.5};
  const Eigen::MatrixXd T = arm->forwardKinematics(q);
  int flags[2] = {1, 1};
  std::vector<double> untouched = {9, 9};
  int result;
  std::string text = printedBy([&] { result = arm->inverseKinematics(T, flags, untouched); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(text, "j3 singularity error!!!\n");
  EXPECT_EQ(untouched, (std::vector<double>{9, 9}));
  std::vector<std::vector<double>> solutions;
  printedBy([&] { result = arm->inverseKinematics(T, solutions); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(solutions.size(), 3u);

  Eigen::MatrixXd far = T;
  far(0, 3) += 5.0;
  text = printedBy([&] { result = arm->inverseKinematics(far, flags, untouched); });
  EXPECT_EQ(result, -10);
  EXPECT_EQ(text, "inverseKinematics not a number!!!!\n");
  EXPECT_EQ(untouched, (std::vector<double>{9, 9}));
  solutions = {{1, 2, 3, 4, 5}};
  text = printedBy([&] { result = arm->inverseKinematics(far, solutions); });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(solutions.empty());
  std::string four_times;
  for (int i = 0; i < 4; ++i) four_times += "inverseKinematics not a number!!!!\n";
  EXPECT_EQ(text, four_times);
}

TEST(KestrelBotV3Kinematics, StubsReportFailureAndWriteNothing) {
  auto arm = makeArm(closedFormTables()[0]);
  const Eigen::MatrixXd T = arm->forwardKinematics({0.1, 0.2, 0.3, 0.4, 0.5});
  std::vector<double> q = {7};
  EXPECT_EQ(arm->inverseKinematics(T, std::vector<double>(5, 0.0), q), -1);
  EXPECT_EQ(arm->inverseKinematics(T, q), -1);
  EXPECT_EQ(q, std::vector<double>{7});
  double eigenvalue = 4.0;
  EXPECT_EQ(arm->getMinEigenvalue({0, 0, 0, 0, 0}, eigenvalue), 0);
  EXPECT_EQ(eigenvalue, 4.0);
}

TEST(KestrelBotV3Kinematics, MdhTableIsCheckedAndPrinted) {
  auto arm = std::make_shared<KestrelBotV3Kinematics>();
  const std::vector<double> six(6, 0.0), five(5, 0.0);
  std::string text = printedBy([&] { EXPECT_EQ(arm->setMdhPara(six, six, six, six), -1); });
  EXPECT_EQ(text, "the size of zds,xas,alphas,qzeros not equal\n");
  text = printedBy([&] { EXPECT_EQ(arm->setMdhPara(five, five, {0, M_PI_2, 0, 0, M_PI_2}, five), -2); });
  EXPECT_EQ(text, "alpha sequence not equal\nthe input robot type is not right!!!\n");
  EXPECT_EQ(arm->alpha, five);
  text = printedBy([&] { EXPECT_EQ(arm->setMdhPara(five, five, {0.1, 1.6, -0.1, 0.05, -1.5}, five), 0); });
  EXPECT_EQ(text.substr(0, text.find("1(")),
            "\033[42m ######################mdh para##########################\033[0m\n"
            "0(zd xa alpha qzero)=(0.000000,0.000000,0.100000,0.000000)\n");
  EXPECT_EQ(arm->getRobotType().axis_num, 5);
}

TEST(KestrelBotV3Kinematics, ValidityOfValuesAndInputSizes) {
  auto arm = makeArm(closedFormTables()[0]);
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(arm->checkVectorDoubleValid({1.0, inf}));
  EXPECT_FALSE(arm->checkVectorDoubleValid({std::nan("")}));
  EXPECT_TRUE(arm->checkVectorDoubleValid({}));
  EXPECT_TRUE(arm->checkVectorDoubleValid({-1e308, 1e308}));
  EXPECT_THROW_MESSAGE(arm->forwardKinematics({0, 0, 0, 0}), std::invalid_argument,
                       "^joint vector holds 4 values, the arm has 5 joints$");
  EXPECT_NO_THROW(arm->forwardKinematics({0, 0, 0, 0, 0, 0}));
  int flags[2] = {1, 1};
  std::vector<double> q;
  std::vector<std::vector<double>> solutions;
  EXPECT_THROW_MESSAGE(arm->inverseKinematics(Eigen::MatrixXd::Identity(3, 3), flags, q), std::invalid_argument,
                       "^pose is 3x3, at least 3x4 is needed$");
  EXPECT_THROW_MESSAGE(arm->inverseKinematics(Eigen::MatrixXd::Identity(2, 4), solutions), std::invalid_argument,
                       "^pose is 2x4, at least 3x4 is needed$");
}

TEST(KestrelBotV3Kinematics, LinkMatricesAreTheModifiedAndStandardConventions) {
  KestrelBotV3Kinematics arm;
  const double alpha = 0.4, theta = -1.1, a = 0.3, d = 0.2;
  const Eigen::Matrix4d rot_x = (Eigen::Affine3d(Eigen::AngleAxisd(alpha, Eigen::Vector3d::UnitX()))).matrix();
  const Eigen::Matrix4d rot_z = (Eigen::Affine3d(Eigen::AngleAxisd(theta, Eigen::Vector3d::UnitZ()))).matrix();
  const Eigen::Matrix4d trans_x = Eigen::Affine3d(Eigen::Translation3d(a, 0, 0)).matrix();
  const Eigen::Matrix4d trans_z = Eigen::Affine3d(Eigen::Translation3d(0, 0, d)).matrix();
  const auto args = std::make_tuple(d, a, std::cos(alpha), std::sin(alpha), std::cos(theta), std::sin(theta));
  EXPECT_LT(
      (std::apply([&](auto... v) { return arm.get_a_mdh_transform(v...); }, args) - rot_x * trans_x * rot_z * trans_z)
          .cwiseAbs()
          .maxCoeff(),
      1e-15);
  EXPECT_LT((std::apply([&](auto... v) { return arm.get_a_transform(v...); }, args) - rot_z * trans_z * trans_x * rot_x)
                .cwiseAbs()
                .maxCoeff(),
            1e-15);
}

TEST(KestrelBotV3Kinematics, ForwardKinematicsAgreesWithKdl) {
  std::mt19937 rng(203);
  MdhTable general = closedFormTables()[2];
  general.xa[0] = 0.07;  // forward kinematics takes any table
  general.zd[2] = -0.05;
  for (const MdhTable& table : {closedFormTables()[1], general}) {
    auto arm = makeArm(table);
    const KDL::Chain chain = kinematics_test::mdhChain(table);
    for (int i = 0; i < 50; ++i) {
      const std::vector<double> q = kinematics_test::randomJoints(rng, 5);
      EXPECT_LT(kinematics_test::poseError(arm->forwardKinematics(q), kinematics_test::kdlPose(chain, q)), 1e-12);
    }
  }
}
