#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <stdexcept>

#include "arm_test_support.h"
#include "bramlock_arm_planning_core/kinematics/realman_kinematics.h"
#include "expect_throw_message.h"

using kinematics_test::MdhTable;
using kinematics_test::printedBy;
using kinematics_test::regularJointVectors;

namespace {

const std::vector<double> kAlphas = {0.0, M_PI_2, 0.0, M_PI_2, -M_PI_2, M_PI_2};
// The convention slot 2 reads its reference in.
const MdhTable kReferenceConventionTable = {
    {0.2405, 0, 0, 0.210, 0, 0.144}, {0, 0, 0.256, 0, 0, 0}, kAlphas, {0, M_PI_2, M_PI_2, 0, 0, 0}};

// Tables the closed form covers: standard-DH d2 = d5 = 0, a4 = a5 = a6 = 0.
std::vector<MdhTable> closedFormTables() {
  return {
      kReferenceConventionTable,
      {{0.3, 0, 0.05, 0.4, 0, 0.1}, {0, 0.08, 0.35, 0.04, 0, 0}, kAlphas, {0.1, -0.3, 0.5, 0.2, -0.4, 1.0}},
      {{0.25, 0, -0.07, 0.3, 0, 0.12}, {0, -0.05, 0.3, -0.03, 0, 0}, kAlphas, {0, 0, 0, 0, 0, 0}},
  };
}

std::shared_ptr<RealmanKinematics> makeArm(const MdhTable& table) {
  return kinematics_test::makeArm<RealmanKinematics>(table);
}

}  // namespace

TEST(RealmanKinematics, EverySolutionReproducesThePoseAndTheGeneratorIsAmongThem) {
  std::mt19937 rng(101);
  for (const MdhTable& table : closedFormTables()) {
    auto arm = makeArm(table);
    for (const auto& q : regularJointVectors(*arm, rng, 200)) {
      const Eigen::MatrixXd T = arm->forwardKinematics(q);
      std::vector<std::vector<double>> solutions;
      int result;
      printedBy([&] { result = arm->inverseKinematics(T, solutions); });
      ASSERT_EQ(result, 0);
      ASSERT_LE(solutions.size(), 8u);
      for (const auto& solution : solutions) {
        EXPECT_LT(kinematics_test::poseError(arm->forwardKinematics(solution), T), 1e-10);
      }
      EXPECT_TRUE(kinematics_test::containsModTwoPi(solutions, q));
    }
  }
}

TEST(RealmanKinematics, ReferenceFormKeepsTheReferenceConfigurationAndJointSix) {
  std::mt19937 rng(102);
  auto arm = makeArm(kReferenceConventionTable);
  for (const auto& q : regularJointVectors(*arm, rng, 200)) {
    std::vector<double> solution;
    int result;
    printedBy([&] { result = arm->inverseKinematics(arm->forwardKinematics(q), q, solution); });
    ASSERT_EQ(result, 0);
    for (size_t i = 0; i < 5; ++i) EXPECT_NEAR(std::remainder(solution[i] - q[i], 2 * M_PI), 0.0, 1e-8);
    EXPECT_NEAR(solution[5], q[5], 1e-8);
    // The wrist flag alone comes from the reference, whatever the table.
    std::vector<double> flipped_wrist_reference = q;
    flipped_wrist_reference[4] = q[4] >= 0 ? -0.5 : 0.5;
    flipped_wrist_reference[5] += 0.3;  // flipping the wrist turns joint 6 by exactly pi: no tie
    printedBy([&] { result = arm->inverseKinematics(arm->forwardKinematics(q), flipped_wrist_reference, solution); });
    ASSERT_EQ(result, 0);
    EXPECT_EQ(solution[4] >= 0, flipped_wrist_reference[4] >= 0);
    EXPECT_LT(std::fabs(solution[5] - flipped_wrist_reference[5]), M_PI);
  }
}

TEST(RealmanKinematics, SingleSolutionFormPrefersSmallUpperArmThenBaseThenWristAngles) {
  std::mt19937 rng(103);
  auto arm = makeArm(closedFormTables()[1]);
  for (const auto& q : regularJointVectors(*arm, rng, 100)) {
    const Eigen::MatrixXd T = arm->forwardKinematics(q);
    std::vector<std::vector<double>> all;
    std::vector<double> chosen;
    int result;
    printedBy([&] { arm->inverseKinematics(T, all); });
    const std::string text = printedBy([&] { result = arm->inverseKinematics(T, chosen); });
    ASSERT_EQ(result, 0);
    EXPECT_NE(text.find("第一次逆解有" + std::to_string(all.size()) + "组解\n"), std::string::npos);
    ASSERT_TRUE(kinematics_test::containsModTwoPi(all, chosen, 1e-12));
    auto upper_arm = [](const std::vector<double>& s) { return std::fabs(s[1]) + std::fabs(s[2]); };
    double smallest = 1e9;
    for (const auto& s : all) smallest = std::min(smallest, upper_arm(s));
    EXPECT_LT(upper_arm(chosen) - smallest, 0.01);
    for (const auto& s : all) {
      if (upper_arm(s) - smallest >= 0.01) continue;
      EXPECT_GE(std::fabs(s[0]), std::fabs(chosen[0]) - 1e-6);
      if (std::fabs(std::fabs(s[0]) - std::fabs(chosen[0])) < 1e-6) {
        EXPECT_GE(std::fabs(s[3]), std::fabs(chosen[3]));
      }
    }
  }
}

TEST(RealmanKinematics, AllSolutionsComeInFlagOrderThroughTheSingleConfigurationForm) {
  std::mt19937 rng(104);
  auto arm = makeArm(closedFormTables()[2]);
  const std::vector<double> q = regularJointVectors(*arm, rng, 1)[0];
  const Eigen::MatrixXd T = arm->forwardKinematics(q);
  std::vector<std::vector<double>> all, expected;
  std::string text = printedBy([&] { arm->inverseKinematics(T, q, all); });
  for (int k = 0; k < 8; ++k) {
    int flags[3] = {(k >> 2) & 1, (k >> 1) & 1, k & 1};
    std::vector<double> single;
    if (printedBy([&] { arm->inverseKinematics(T, flags, single); }).empty()) expected.push_back(single);
  }
  EXPECT_EQ(all, expected);
  std::ostringstream lines;  // the stream's default number format
  for (const auto& s : all) {
    lines << "q:";
    for (size_t i = 0; i < s.size(); ++i) lines << (i ? "," : "") << s[i];
    lines << "\n";
  }
  EXPECT_EQ(text, lines.str());
}

TEST(RealmanKinematics, SingularAndUnreachablePosesGiveTheirCodesAndTexts) {
  auto arm = makeArm(kReferenceConventionTable);
  int flags[3] = {1, 1, 1};
  std::vector<double> q;
  auto solve = [&](const Eigen::MatrixXd& T) {
    int result;
    const std::string text = printedBy([&] { result = arm->inverseKinematics(T, flags, q); });
    return std::make_pair(result, text);
  };
  Eigen::MatrixXd on_base_axis = Eigen::MatrixXd::Identity(4, 4);
  on_base_axis(2, 3) = 0.5;
  EXPECT_EQ(solve(on_base_axis), std::make_pair(1001, std::string("overhead singularity error!!!\n")));
  Eigen::MatrixXd out_of_reach = Eigen::MatrixXd::Identity(4, 4);
  out_of_reach(0, 3) = 2.0;
  EXPECT_EQ(solve(out_of_reach), std::make_pair(1002, std::string("j3 singularity error!!!\n")));
  const Eigen::MatrixXd straight_wrist = arm->forwardKinematics({0.3, 0.2, 0.9, 0.4, 0.0, 0.1});
  EXPECT_EQ(solve(straight_wrist), std::make_pair(1003, std::string("j5 singularity error!!!\n")));
  Eigen::MatrixXd stretched_rotation = straight_wrist;
  stretched_rotation.col(2).head(3) *= 1.01;
  EXPECT_EQ(solve(stretched_rotation), std::make_pair(1004, std::string("cosTheta05 value is larger than 1!!!\n")));

  std::vector<std::vector<double>> solutions = {{1, 2, 3, 4, 5, 6}};
  std::string text = printedBy([&] { EXPECT_EQ(arm->inverseKinematics(out_of_reach, solutions), -1); });
  EXPECT_TRUE(solutions.empty());
  EXPECT_NE(text.find("第一次所有臂参数都无法逆解\n"), std::string::npos);
  text = printedBy([&] { EXPECT_EQ(arm->inverseKinematics(out_of_reach, q), -1); });
  EXPECT_NE(text.find("第一次所有臂参数都无法逆解\n"), std::string::npos);

  const std::vector<double> far_reference = {0.3, 0.2, 0.9, 0.4, 0.5, 20.0};
  const Eigen::MatrixXd regular = arm->forwardKinematics({0.3, 0.2, 0.9, 0.4, 0.5, 0.1});
  text = printedBy([&] { EXPECT_EQ(arm->inverseKinematics(regular, far_reference, q), 1005); });
  EXPECT_EQ(text, "slove j6 error!!!\n");
}

TEST(RealmanKinematics, WithoutWristThresholdAStraightOrFoldedWristStillReproducesThePose) {
  auto arm = makeArm(closedFormTables()[1]);
  arm->set_singular_threshold(0.0025, 0.0004, 0.0);
  // Joint 5 at minus its zero angle is a straight wrist, a further pi a folded one.
  for (double bend : {0.0, M_PI}) {
    const std::vector<double> generator = {0.3, 0.2, 0.9, 0.4, bend + 0.4, 0.1};
    const Eigen::MatrixXd T = arm->forwardKinematics(generator);
    for (int wrist : {0, 1}) {
      int flags[3] = {1, 1, wrist};
      std::vector<double> q;
      int result;
      printedBy([&] { result = arm->inverseKinematics(T, flags, q); });
      ASSERT_EQ(result, 0) << "bend " << bend;
      EXPECT_LT(kinematics_test::poseError(arm->forwardKinematics(q), T), 1e-9) << "bend " << bend;
    }
  }
}

TEST(RealmanKinematics, ClosedFormPoseMatchesTheLinkChain) {
  std::mt19937 rng(105);
  for (const MdhTable& table : closedFormTables()) {
    auto arm = makeArm(table);
    for (const auto& q : regularJointVectors(*arm, rng, 20)) {
      double closed[6];
      for (size_t i = 0; i < 6; ++i) closed[i] = q[i] + table.qzero[i] - (i == 1 ? M_PI_2 : 0.0);
      closed[2] -= M_PI_2;
      EXPECT_LT(kinematics_test::poseError(arm->forward_kinematics(closed), arm->forwardKinematics(q)), 1e-12);
    }
  }
}

TEST(RealmanKinematics, ArmTypeFlagsOfAJointVector) {
  auto arm = makeArm(kReferenceConventionTable);
  int flags[4];
  arm->get_arm_type({0, 0.5, 0.3, 0, 0.2, M_PI}, flags);
  EXPECT_EQ(std::vector<int>(flags, flags + 4), (std::vector<int>{-1, -1, 1, 1}));
  arm->get_arm_type({0, -0.5, -0.3, 0, -0.2, -M_PI}, flags);
  EXPECT_EQ(std::vector<int>(flags, flags + 4), (std::vector<int>{1, 1, -1, -1}));
  arm->get_arm_type({0, 0, 0, 0, 0, 3.0}, flags);
  EXPECT_EQ(flags[3], 0);
}

TEST(RealmanKinematics, MdhTableIsCheckedConvertedAndPrinted) {
  auto arm = makeArm(kReferenceConventionTable);
  const MdhTable& t = kReferenceConventionTable;
  std::string text = printedBy([&] { EXPECT_EQ(arm->setMdhPara({0, 0, 0, 0, 0}, t.xa, t.alpha, t.qzero), -1); });
  EXPECT_EQ(text, "the size of zds,xas,alphas,qzeros not equal\n");
  std::vector<double> wrong_alphas = t.alpha;
  wrong_alphas[1] = -M_PI_2;
  text = printedBy([&] { EXPECT_EQ(arm->setMdhPara(t.zd, t.xa, wrong_alphas, t.qzero), -2); });
  EXPECT_EQ(text, "alpha sequence not equal\nthe input robot type is not right!!!\n");
  EXPECT_EQ(arm->zd, t.zd);
  EXPECT_EQ(arm->alpha, (std::vector<double>{M_PI_2, 0, M_PI_2, -M_PI_2, M_PI_2, 0}));
  EXPECT_EQ(arm->xa, (std::vector<double>{0, 0.256, 0, 0, 0, 0}));

  text = printedBy([&] { EXPECT_EQ(arm->setMdhPara(t.zd, t.xa, t.alpha, t.qzero), 0); });
  EXPECT_EQ(text.substr(0, text.find("1(")),
            "######################sdh para##########################\n"
            "0(zd xa alpha qzero)=(0.240500,0.000000,1.570796,0.000000)\n");
}

TEST(RealmanKinematics, ShortJointVectorsAndSmallPosesAreRejected) {
  auto arm = makeArm(kReferenceConventionTable);
  const Eigen::MatrixXd T = arm->forwardKinematics({0.3, 0.2, 0.9, 0.4, 0.5, 0.1});
  std::vector<double> q;
  std::vector<std::vector<double>> solutions;
  int flags[3] = {1, 1, 1};
  EXPECT_THROW_MESSAGE(arm->forwardKinematics({0, 0, 0, 0, 0}), std::invalid_argument,
                       "^joint vector holds 5 values, the arm has 6 joints$");
  EXPECT_THROW_MESSAGE(arm->inverseKinematics(T, std::vector<double>(5, 0.0), q), std::invalid_argument,
                       "^joint vector holds 5 values, the arm has 6 joints$");
  EXPECT_THROW_MESSAGE(arm->inverseKinematics(T.topRows(2), flags, q), std::invalid_argument,
                       "^pose is 2x4, at least 3x4 is needed$");
  EXPECT_THROW_MESSAGE(arm->inverseKinematics(T.leftCols(3), solutions), std::invalid_argument,
                       "^pose is 4x3, at least 3x4 is needed$");
  EXPECT_THROW_MESSAGE(arm->inverseKinematics(T.topRows(2), q), std::invalid_argument,
                       "^pose is 2x4, at least 3x4 is needed$");
  std::vector<double> unchanged = {7, 7, 7, 7, 7, 7};
  EXPECT_EQ(arm->inverseKinematics(T.topRows(3), flags, unchanged), 0);  // 3x4 is enough
  double eigenvalue = -3.0;
  EXPECT_EQ(arm->getMinEigenvalue(q, eigenvalue), 0);
  EXPECT_EQ(eigenvalue, -3.0);
}

TEST(RealmanKinematics, ForwardKinematicsAgreesWithKdlOnTheModifiedDhChain) {
  std::mt19937 rng(106);
  for (const MdhTable& table : closedFormTables()) {
    auto arm = makeArm(table);
    const KDL::Chain chain = kinematics_test::mdhChain(table);
    for (int i = 0; i < 50; ++i) {
      const std::vector<double> q = kinematics_test::randomJoints(rng, 6);
      EXPECT_LT(kinematics_test::poseError(arm->forwardKinematics(q), kinematics_test::kdlPose(chain, q)), 1e-12);
    }
  }
}
