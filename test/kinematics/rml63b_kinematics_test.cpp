#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>

#include "arm_test_support.h"
#include "bramlock_arm_planning_core/kinematics/rml63b_kinematics.h"
#include "expect_throw_message.h"

using kinematics_test::MdhTable;
using kinematics_test::printedBy;
using kinematics_test::regularJointVectors;

namespace {

const std::vector<double> kAlphas = {0.0, -M_PI_2, 0.0, M_PI_2, -M_PI_2, -M_PI_2};
// The library's built-in MDH values of this arm.
const MdhTable kBuiltInTable = {{0.172, 0, 0, 0.40581, 0, 0.115289},
                                {0, -0.085659, 0.381051, 0.071459, 0, 0},
                                kAlphas,
                                {0, -1.57413, 1.571861, 0.010472, 3.145607, M_PI}};
const MdhTable kSyntheticTable = {
    {0.2, 0, 0, 0.35, 0, 0.1}, {0, 0.05, 0.3, 0.04, 0, 0}, kAlphas, {0, -M_PI_2, M_PI_2, 0, 0, 0}};
constexpr double kToolLength = 0.17;

std::shared_ptr<Rml63BKinematics> makeArm(const MdhTable& table) {
  return kinematics_test::makeArm<Rml63BKinematics>(table);
}

// The pose of the sixth joint frame, the one the inverse kinematics solves for.
Eigen::MatrixXd flangePose(Rml63BKinematics& arm, const std::vector<double>& q) {
  return arm.forwardKinematics(q) * kinematics_test::transZ(-kToolLength);
}

int solveAll(Rml63BKinematics& arm, const Eigen::MatrixXd& T, std::vector<std::vector<double>>& solutions,
             std::string* text = nullptr) {
  int result;
  const std::string printed = printedBy([&] { result = arm.inverseKinematics(T, solutions); });
  if (text) *text = printed;
  return result;
}

bool allFinite(const std::vector<std::vector<double>>& solutions) {
  for (const auto& s : solutions) {
    for (double v : s) {
      if (!std::isfinite(v)) return false;
    }
  }
  return true;
}

}  // namespace

TEST(Rml63BKinematics, EverySolutionReproducesTheFlangePoseAndTheGeneratorIsAmongThem) {
  std::mt19937 rng(401);
  for (const MdhTable& table : {kBuiltInTable, kSyntheticTable}) {
    auto arm = makeArm(table);
    for (const auto& q : regularJointVectors(*arm, rng, 200)) {
      const Eigen::MatrixXd T = flangePose(*arm, q);
      std::vector<std::vector<double>> solutions;
      ASSERT_EQ(solveAll(*arm, T, solutions), 0);
      for (const auto& solution : solutions) {
        EXPECT_LT(kinematics_test::poseError(flangePose(*arm, solution), T), 1e-10);
      }
      EXPECT_TRUE(kinematics_test::containsModTwoPi(solutions, q));
    }
  }
}

TEST(Rml63BKinematics, RegularPoseGivesSixteenSolutionsInArmOrderWithTwins) {
  std::mt19937 rng(402);
  auto arm = makeArm(kSyntheticTable);
  int sixteen = 0;
  for (const auto& q : regularJointVectors(*arm, rng, 50)) {
    std::vector<std::vector<double>> solutions;
    std::string text;
    ASSERT_EQ(solveAll(*arm, flangePose(*arm, q), solutions, &text), 0);
    if (solutions.size() != 16) continue;
    ++sixteen;
    for (size_t i = 0; i < 16; i += 2) {
      const auto& solution = solutions[i];
      const auto& twin = solutions[i + 1];
      for (double v : solution) EXPECT_LE(std::fabs(v), M_PI);
      EXPECT_EQ(std::vector<double>(twin.begin(), twin.begin() + 5),
                std::vector<double>(solution.begin(), solution.begin() + 5));
      EXPECT_NEAR(twin[5], solution[5] - std::copysign(2 * M_PI, solution[5]), 1e-15);
      // Four entries per arm solution, two arm solutions per base angle.
      EXPECT_EQ(std::vector<double>(solution.begin(), solution.begin() + 3),
                std::vector<double>(solutions[i / 4 * 4].begin(), solutions[i / 4 * 4].begin() + 3));
      EXPECT_EQ(solution[0], solutions[i / 8 * 8][0]);
    }
    // The first base angle points at the wrist centre.
    const Eigen::MatrixXd T = flangePose(*arm, q);
    const Eigen::Vector3d wrist = T.block<3, 1>(0, 3) - kSyntheticTable.zd[5] * T.block<3, 1>(0, 2);
    EXPECT_NEAR(solutions[0][0], std::atan2(wrist.y(), wrist.x()), 1e-12);
    EXPECT_NE(text.find("initial solution 16: "), std::string::npos);
    EXPECT_NE(text.find(std::string(70, '=')), std::string::npos);
  }
  EXPECT_GT(sixteen, 40);
}

TEST(Rml63BKinematics, WristCentreOnTheBaseAxisOnlyIsRejected) {
  auto arm = makeArm(kSyntheticTable);
  Eigen::MatrixXd on_axis = Eigen::MatrixXd::Identity(4, 4);
  on_axis(2, 3) = 0.8;
  std::vector<std::vector<double>> solutions = {{1, 2, 3, 4, 5, 6}};
  std::string text;
  EXPECT_EQ(solveAll(*arm, on_axis, solutions, &text), -31);
  EXPECT_TRUE(solutions.empty());
  EXPECT_EQ(text, "");
  // A wrist centre in the base y-z plane is an ordinary pose.
  const std::vector<double> q = {M_PI_2, 0.3, 0.4, 0.5, 0.6, 0.7};
  const Eigen::MatrixXd T = flangePose(*arm, q);
  ASSERT_LT(std::fabs(T(0, 3) - kSyntheticTable.zd[5] * T(0, 2)), 1e-8);
  ASSERT_EQ(solveAll(*arm, T, solutions), 0);
  EXPECT_TRUE(kinematics_test::containsModTwoPi(solutions, q));
}

TEST(Rml63BKinematics, SingularWristAndUnreachablePoses) {
  auto arm = makeArm(kBuiltInTable);
  std::vector<std::vector<double>> solutions;
  std::string text;
  // Joint 5 at minus its zero angle stretches the wrist.
  const Eigen::MatrixXd straight_wrist = flangePose(*arm, {0.3, 0.2, 0.1, 0.4, -3.145607, 0.5});
  EXPECT_EQ(solveAll(*arm, straight_wrist, solutions, &text), -32);
  EXPECT_TRUE(solutions.empty());
  EXPECT_NE(text.find("q5 is zero, singular\n"), std::string::npos);

  Eigen::MatrixXd far = straight_wrist;
  far(0, 3) += 3.0;
  EXPECT_EQ(solveAll(*arm, far, solutions, &text), -1);
  EXPECT_TRUE(solutions.empty());
  size_t first = text.find("j3 singularity error!!! ");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(text.find("j3 singularity error!!! ", first + 1), std::string::npos);
  EXPECT_EQ(text.find("initial solution"), std::string::npos);
}

TEST(Rml63BKinematics, NeverANumberThatIsNot) {
  std::mt19937 rng(403);
  std::uniform_real_distribution<double> position(-0.9, 0.9);
  std::normal_distribution<double> normal;
  auto arm = makeArm(kBuiltInTable);
  for (int i = 0; i < 300; ++i) {
    Eigen::MatrixXd T = Eigen::MatrixXd::Identity(4, 4);
    T.topLeftCorner(3, 3) =
        Eigen::Quaterniond(normal(rng), normal(rng), normal(rng), normal(rng)).normalized().toRotationMatrix();
    T.block<3, 1>(0, 3) = Eigen::Vector3d(position(rng), position(rng), position(rng));
    std::vector<std::vector<double>> solutions;
    const int result = solveAll(*arm, T, solutions);
    EXPECT_TRUE(result == 0 || result == -1 || result == -32) << result;
    EXPECT_TRUE(allFinite(solutions));
    EXPECT_EQ(solutions.empty(), result != 0);
  }
}

TEST(Rml63BKinematics, ForwardKinematicsIsTheModifiedDhChainPlusTheTool) {
  std::mt19937 rng(404);
  for (const MdhTable& table : {kBuiltInTable, kSyntheticTable}) {
    auto arm = makeArm(table);
    const KDL::Chain chain = kinematics_test::mdhChain(table);
    for (int i = 0; i < 50; ++i) {
      const std::vector<double> q = kinematics_test::randomJoints(rng, 6);
      EXPECT_LT(kinematics_test::poseError(arm->forwardKinematics(q),
                                           kinematics_test::kdlPose(chain, q) * kinematics_test::transZ(kToolLength)),
                1e-12);
    }
  }
}

TEST(Rml63BKinematics, JacobiansAgreeWithFiniteDifferences) {
  std::mt19937 rng(405);
  auto arm = makeArm(kBuiltInTable);
  EXPECT_EQ(arm->getJacobian(), Eigen::MatrixXd::Zero(6, 6));  // no forward kinematics yet
  auto forward = [&arm](const std::vector<double>& q) { return arm->forwardKinematics(q); };
  MdhTable first_four = kBuiltInTable;
  for (auto* table : {&first_four.zd, &first_four.xa, &first_four.alpha, &first_four.qzero}) table->resize(4);
  const KDL::Chain to_wrist = kinematics_test::mdhChain(first_four);
  for (int i = 0; i < 20; ++i) {
    const std::vector<double> q = kinematics_test::randomJoints(rng, 6);
    const Eigen::MatrixXd numeric = kinematics_test::numericJacobian(forward, q);
    const Eigen::MatrixXd T = arm->forwardKinematics(q);
    const Eigen::Vector3d tool = T.block<3, 1>(0, 3);
    const Eigen::Vector3d wrist =
        kinematics_test::kdlPose(to_wrist, std::vector<double>(q.begin(), q.begin() + 4)).block<3, 1>(0, 3);
    const Eigen::MatrixXd member = arm->getJacobian();
    const Eigen::MatrixXd at_q = arm->computeJacobian(q);
    for (int j = 0; j < 6; ++j) {
      const Eigen::Vector3d omega = numeric.col(j).tail(3), tool_velocity = numeric.col(j).head(3);
      const Eigen::Vector3d wrist_velocity = tool_velocity + omega.cross(wrist - tool);
      EXPECT_LT((member.col(j).tail(3) - omega).norm(), 1e-8);
      EXPECT_LT((at_q.col(j).tail(3) - omega).norm(), 1e-8);
      // Member form: velocity of the wrist centre; the other form: z_i x p_i.
      EXPECT_LT((member.col(j).head(3) - wrist_velocity).norm(), 1e-8);
      EXPECT_LT((at_q.col(j).head(3) - (omega.cross(tool) - tool_velocity)).norm(), 1e-8);
    }
    EXPECT_LT(member.col(3).head(3).norm(), 1e-12);
  }
  EXPECT_EQ(arm->computeJacobian({0.1, 0.2, 0.3}).cols(), 3);
}

TEST(Rml63BKinematics, SingularityTestLogsOnlySingularSixAxisVectors) {
  auto arm = makeArm(kBuiltInTable);
  const std::vector<double> q = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
  bool singular = true;
  EXPECT_EQ(printedBy([&] { singular = arm->isSingular(q, 0.0); }), "");
  EXPECT_FALSE(singular);
  const std::string text = printedBy([&] { singular = arm->isSingular(q, 1e9); });
  EXPECT_TRUE(singular);
  EXPECT_NE(text.find("[INFO] rad: [0.1,0.2,0.3,0.4,0.5,0.6] isSingular\n"), std::string::npos);
  EXPECT_NE(text.find("[INFO] min_coeff is "), std::string::npos);
  EXPECT_EQ(printedBy([&] { singular = arm->isSingular({0.1, 0.2, 0.3, 0.4, 0.5}, 1e9); }), "");
  EXPECT_TRUE(singular);
}

TEST(Rml63BKinematics, StubsAndTheSeededFormDelegate) {
  auto arm = makeArm(kSyntheticTable);
  const std::vector<double> generator = {0.3, 0.2, 0.1, 0.4, 0.5, 0.6};
  const Eigen::MatrixXd T = flangePose(*arm, generator);
  std::vector<double> q = {7};
  int flags[3] = {1, 1, 1};
  EXPECT_EQ(arm->inverseKinematics(T, generator, q), -1);
  EXPECT_EQ(arm->inverseKinematics(T, flags, q), -1);
  EXPECT_EQ(arm->inverseKinematics(T, q), -1);
  EXPECT_EQ(q, std::vector<double>{7});
  double eigenvalue = 2.0;
  EXPECT_EQ(arm->getMinEigenvalue(generator, eigenvalue), 0);
  EXPECT_EQ(eigenvalue, 2.0);
  std::vector<std::vector<double>> all, seeded;
  solveAll(*arm, T, all);
  printedBy([&] { EXPECT_EQ(arm->inverseKinematics(T, {9, 9, 9, 9, 9, 9}, seeded), 0); });
  EXPECT_EQ(seeded, all);
}

TEST(Rml63BKinematics, InputsAreChecked) {
  auto arm = makeArm(kSyntheticTable);
  EXPECT_THROW_MESSAGE(arm->forwardKinematics({0, 0, 0, 0, 0}), std::invalid_argument,
                       "^joint vector holds 5 values, 6 to 6 are read$");
  EXPECT_THROW_MESSAGE(arm->forwardKinematics({0, 0, 0, 0, 0, 0, 0}), std::invalid_argument,
                       "^joint vector holds 7 values, 6 to 6 are read$");
  EXPECT_THROW_MESSAGE(arm->computeJacobian(std::vector<double>{}), std::invalid_argument,
                       "^joint vector holds 0 values, 1 to 6 are read$");
  EXPECT_THROW_MESSAGE(arm->isSingular(std::vector<double>(7, 0.0), 0.1), std::invalid_argument,
                       "^joint vector holds 7 values, 1 to 6 are read$");
  std::vector<std::vector<double>> solutions;
  EXPECT_THROW_MESSAGE(arm->inverseKinematics(Eigen::MatrixXd::Identity(2, 4), solutions), std::invalid_argument,
                       "^pose is 2x4, at least 3x4 is needed$");

  std::vector<double> wrong_alphas = kAlphas;
  wrong_alphas[1] = M_PI_2;
  const std::string text = printedBy(
      [&] { EXPECT_EQ(arm->setMdhPara(kBuiltInTable.zd, kBuiltInTable.xa, wrong_alphas, kBuiltInTable.qzero), -2); });
  EXPECT_EQ(text, "alpha sequence not equal\nthe input robot type is not right!!!\n");
  EXPECT_EQ(arm->zd, kSyntheticTable.zd);
  const std::string banner =
      printedBy([&] { arm->setMdhPara(kBuiltInTable.zd, kBuiltInTable.xa, kBuiltInTable.alpha, kBuiltInTable.qzero); });
  EXPECT_NE(banner.find("[INFO] \033[42m ######################mdh para########################## \033[0m\n"
                        "0(zd xa alpha qzero)=(0.172000,0.000000,0.000000,0.000000)\n"),
            std::string::npos);
}
