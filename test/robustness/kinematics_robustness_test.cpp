// Bad numbers at the arm kinematics: a pose or reference that holds NaN or an
// infinity fails with the class's code and leaves the outputs as they were;
// no form ever reports success with a value that is not finite.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bad_numbers.h"
#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_rev5u800.h"
#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_solver.h"
#include "bramlock_arm_planning_core/kinematics/inverse_kinematics_solver.h"
#include "bramlock_arm_planning_core/kinematics/joints_table.h"
#include "bramlock_arm_planning_core/kinematics/kestrel_bot_v3_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/realman_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/rev5u800_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/rml63b_kinematics.h"
#include "expect_throw_message.h"
#include "test_support.h"

namespace {

using robustness::allFinite;
using robustness::kNaN;

struct Table {
  std::vector<double> zd, xa, alpha, qzero;
};

const Table kRealman = {{0.2405, 0, 0, 0.210, 0, 0.144},
                        {0, 0, 0.256, 0, 0, 0},
                        {0.0, M_PI_2, 0.0, M_PI_2, -M_PI_2, M_PI_2},
                        {0, M_PI_2, M_PI_2, 0, 0, 0}};
const Table kKestrel = {
    {0.2, 0, 0, 0, 0.1}, {0, 0.05, 0.3, 0.25, 0.03}, {0.0, M_PI_2, 0.0, 0.0, -M_PI_2}, {0, 0, 0, 0, 0}};
const Table kRml63b = {{0.172, 0, 0, 0.40581, 0, 0.115289},
                       {0, -0.085659, 0.381051, 0.071459, 0, 0},
                       {0.0, -M_PI_2, 0.0, M_PI_2, -M_PI_2, -M_PI_2},
                       {0, -1.57413, 1.571861, 0.010472, 3.145607, M_PI}};
const Table kRev5u800 = {{0.328, 0, 0, 0.4, -0.136, 0.1035},
                         {0, 0, 0.40310999864793257, -0.05, 0, 0},
                         {0, -M_PI / 2, M_PI, -M_PI / 2, M_PI / 2, -M_PI / 2},
                         {0, -1.4464444615013292, -1.4464444615013292, 0, 0, 0}};

// Collects what went wrong while the arms print, reported once output is back.
class Findings {
 public:
  void expect(bool ok, const std::string& what) {
    if (!ok) failures_ += what + "\n";
  }
  void report() const { EXPECT_TRUE(failures_.empty()) << failures_; }

 private:
  std::string failures_;
};

template <typename Arm>
std::shared_ptr<Arm> makeArm(const Table& table) {
  auto arm = std::make_shared<Arm>();
  bramlock_test::OutputCapture quiet;
  EXPECT_EQ(arm->setMdhPara(table.zd, table.xa, table.alpha, table.qzero), 0);
  return arm;
}

// A reachable pose: the arm's own forward kinematics of seeded joint values.
template <typename Arm>
Eigen::MatrixXd reachablePose(Arm& arm, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> angle(-1.0, 1.0);
  std::vector<double> q(static_cast<size_t>(arm.getRobotType().axis_num));
  for (double& value : q) value = angle(engine);
  return arm.forwardKinematics(q);
}

// Runs check(T, name) for every entry of the rotation and translation rows of
// pose replaced by every bad number.
template <typename Check>
void forEveryBadPose(const Eigen::MatrixXd& pose, Check check) {
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 4; ++column) {
      for (double bad : robustness::badNumbers()) {
        Eigen::MatrixXd T = pose;
        T(row, column) = bad;
        check(T, std::isfinite(bad), robustness::caseName("pose", static_cast<size_t>(4 * row + column), bad));
      }
    }
  }
}

const std::vector<double> kUntouched = {7.0, 7.0};
const std::vector<std::vector<double>> kUntouchedList = {{7.0}};

// The forms every closed-form arm shares: a non-finite pose fails with code
// and leaves the output alone; a huge finite one never succeeds with a value
// that is not finite.
template <typename Arm>
void checkSharedForms(Arm& arm, const Eigen::MatrixXd& pose, int code, Findings& findings) {
  bramlock_test::OutputCapture quiet;
  forEveryBadPose(pose, [&](const Eigen::MatrixXd& T, bool finite, const std::string& name) {
    std::vector<std::vector<double>> solutions = kUntouchedList;
    const int all = arm.inverseKinematics(T, solutions);
    if (!finite) {
      findings.expect(all == code && solutions == kUntouchedList, "all-solutions form, " + name);
    } else {
      findings.expect(all != 0 || allFinite(solutions), "all-solutions form, " + name);
    }
    std::vector<std::vector<double>> seeded = kUntouchedList;
    const int with_reference = arm.inverseKinematics(T, std::vector<double>(6, 0.1), seeded);
    findings.expect(finite ? (with_reference != 0 || allFinite(seeded)) : seeded == kUntouchedList,
                    "seeded all-solutions form, " + name);
  });
}

TEST(KinematicsRobustness, RealmanFailsOnNonFinitePosesAndReferences) {
  auto arm = makeArm<RealmanKinematics>(kRealman);
  const Eigen::MatrixXd pose = reachablePose(*arm, 1);
  Findings findings;
  checkSharedForms(*arm, pose, -1, findings);
  {
    bramlock_test::OutputCapture quiet;
    forEveryBadPose(pose, [&](const Eigen::MatrixXd& T, bool finite, const std::string& name) {
      for (int k = 0; k < 8; ++k) {
        int flags[3] = {(k >> 2) & 1, (k >> 1) & 1, k & 1};
        std::vector<double> q = kUntouched;
        const int result = arm->inverseKinematics(T, flags, q);
        findings.expect(finite ? (result != 0 || allFinite(q)) : (result == -1 && q == kUntouched),
                        "flag form, " + name);
      }
      std::vector<double> q = kUntouched;
      const int best = arm->inverseKinematics(T, q);
      findings.expect(finite ? (best != 0 || allFinite(q)) : (best == -1 && q == kUntouched), "best form, " + name);
      q = kUntouched;
      const int referenced = arm->inverseKinematics(T, std::vector<double>(6, 0.1), q);
      findings.expect(finite ? (referenced != 0 || allFinite(q)) : (referenced == -1 && q == kUntouched),
                      "reference form, " + name);
    });
    const std::vector<double> reference = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
    for (size_t i = 0; i < reference.size(); ++i) {
      for (double bad : robustness::nonFiniteNumbers()) {
        std::vector<double> q = kUntouched;
        const int result = arm->inverseKinematics(pose, robustness::withEntry(reference, i, bad), q);
        findings.expect(result == -1 && q == kUntouched, robustness::caseName("reference", i, bad));
      }
    }
  }
  findings.report();
}

TEST(KinematicsRobustness, RealmanThresholdsThatAreNotNumbersNeverGiveNaNSolutions) {
  auto arm = makeArm<RealmanKinematics>(kRealman);
  const Eigen::MatrixXd pose = reachablePose(*arm, 2);
  arm->set_singular_threshold(kNaN, kNaN, kNaN);
  std::vector<std::vector<double>> solutions;
  bramlock_test::OutputCapture quiet;
  const int result = arm->inverseKinematics(pose, solutions);
  quiet.out();
  EXPECT_TRUE(result != 0 || allFinite(solutions));
}

TEST(KinematicsRobustness, NullConfigurationFlagsAreRefused) {
  auto realman = makeArm<RealmanKinematics>(kRealman);
  auto kestrel = makeArm<KestrelBotV3Kinematics>(kKestrel);
  std::vector<double> q = kUntouched;
  EXPECT_EQ(realman->inverseKinematics(reachablePose(*realman, 3), nullptr, q), -1);
  EXPECT_EQ(kestrel->inverseKinematics(reachablePose(*kestrel, 3), nullptr, q), -1);
  EXPECT_EQ(q, kUntouched);
  realman->get_arm_type({0.1, 0.2, 0.3, 0.4, 0.5, 0.6}, nullptr);  // writes nowhere, and survives
}

TEST(KinematicsRobustness, KestrelBotV3ReportsNotANumberAndKeepsTheCallersVector) {
  auto arm = makeArm<KestrelBotV3Kinematics>(kKestrel);
  const Eigen::MatrixXd pose = reachablePose(*arm, 4);
  Findings findings;
  checkSharedForms(*arm, pose, -10, findings);
  {
    bramlock_test::OutputCapture quiet;
    forEveryBadPose(pose, [&](const Eigen::MatrixXd& T, bool finite, const std::string& name) {
      for (int k = 0; k < 4; ++k) {
        int flags[2] = {k >> 1, k & 1};
        std::vector<double> q = kUntouched;
        const int result = arm->inverseKinematics(T, flags, q);
        findings.expect(result == 0 ? allFinite(q) : q == kUntouched, "flag form, " + name);
        findings.expect(finite || result == -10, "flag form code, " + name);
      }
    });
  }
  findings.report();
}

TEST(KinematicsRobustness, Rml63BFailsOnNonFinitePoses) {
  auto arm = makeArm<Rml63BKinematics>(kRml63b);
  Findings findings;
  checkSharedForms(*arm, reachablePose(*arm, 5), -1, findings);
  findings.report();
}

TEST(KinematicsRobustness, MdhTablesHoldingNonFiniteValuesAreRefused) {
  auto arm = makeArm<RealmanKinematics>(kRealman);
  const std::vector<double> zd_before = arm->zd;
  for (size_t column = 0; column < 4; ++column) {
    for (size_t i = 0; i < 6; ++i) {
      for (double bad : robustness::nonFiniteNumbers()) {
        std::vector<std::vector<double>> table = {kRealman.zd, kRealman.xa, kRealman.alpha, kRealman.qzero};
        table[column][i] = bad;
        bramlock_test::OutputCapture quiet;
        const int result = arm->setMdhPara(table[0], table[1], table[2], table[3]);
        quiet.out();
        EXPECT_LT(result, 0) << robustness::caseName("table column " + std::to_string(column), i, bad);
      }
    }
  }
  EXPECT_EQ(arm->zd, zd_before);
}

// The comparison helpers never call a NaN or infinite alpha equal, and
// sequences of different lengths differ without reading past the shorter.
TEST(KinematicsRobustness, RobotTypesWithAlphasThatAreNotFiniteNeverMatch) {
  const std::vector<double> alphas = {0.0, M_PI / 2, 0.0, 0.0, -M_PI / 2, 0.0};
  bramlock_test::OutputCapture quiet;
  for (size_t i = 0; i < alphas.size(); ++i) {
    for (double bad : robustness::nonFiniteNumbers()) {
      const std::vector<double> other = robustness::withEntry(alphas, i, bad);
      EXPECT_FALSE(KinematicsInterface::checkRobotTypeEqual({6, alphas}, {6, other}))
          << robustness::caseName("a", i, bad);
      EXPECT_FALSE(KinematicsInterface::checkVectorEqual(other, other)) << robustness::caseName("a", i, bad);
    }
  }
  EXPECT_FALSE(KinematicsInterface::checkVectorEqual(alphas, {}));
  EXPECT_FALSE(KinematicsInterface::checkRobotTypeEqual({6, alphas}, {6, {0.0}}));
}

// The pose helpers of the sample table are plain conversions: a NaN comes
// back as NaN, never as a value that looks like a pose (roll, pitch and yaw
// once passed over NaN entries the angles do not read).
TEST(KinematicsRobustness, PoseTableConversionsPassNaNThrough) {
  for (int entry = 0; entry < 12; ++entry) {
    Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
    pose(entry / 4, entry % 4) = kNaN;
    EXPECT_FALSE(allFinite(JointsTable::rotationMatrixToQuaternion(pose))) << entry;
    EXPECT_FALSE(allFinite(JointsTable::matrix4dToXYZRPY(pose))) << entry;
  }
  const std::array<float, 7> huge = JointsTable::vectorToFloatArray(std::vector<double>(7, 1e300));
  EXPECT_TRUE(std::isinf(huge[0]));  // beyond float: the search then finds nothing
}

// The description and planning packages found in the fixture prefix.
class WithFixturePackages : public ::testing::Test {
 protected:
  bramlock_test::ScopedEnvironment environment_{{{"AMENT_PREFIX_PATH", bramlock_test::amentPrefixPath()}}};
};

TEST_F(WithFixturePackages, Rev5U800MeasuresWithoutAChainFailInsteadOfAborting) {
  Rev5U800Kinematics arm;
  double measure = 5.0;
  EXPECT_EQ(arm.getMinEigenvalue({}, measure), -1);
  EXPECT_EQ(arm.getMinEigenvalue(std::vector<double>(6, 0.1), measure), -1);
  EXPECT_EQ(measure, 5.0);
  EXPECT_FALSE(arm.isSingular({}, 0.01));
  EXPECT_FALSE(arm.isSingular(std::vector<double>(6, 0.1), 0.01));
}

TEST_F(WithFixturePackages, Rev5U800NonFiniteJointValuesHaveNoMeasure) {
  auto arm = makeArm<Rev5U800Kinematics>(kRev5u800);
  const std::vector<double> q = {0.1, -0.4, 0.5, 0.2, 0.7, -0.3};
  for (size_t i = 0; i < q.size(); ++i) {
    for (double bad : robustness::nonFiniteNumbers()) {
      double measure = 5.0;
      EXPECT_EQ(arm->getMinEigenvalue(robustness::withEntry(q, i, bad), measure), -1);
      EXPECT_EQ(measure, 5.0);
      EXPECT_FALSE(arm->isSingular(robustness::withEntry(q, i, bad), 1e9));
    }
  }
  double measure = 0.0;
  EXPECT_EQ(arm->getMinEigenvalue(q, measure), 0);
  EXPECT_TRUE(std::isfinite(measure));
}

TEST_F(WithFixturePackages, Rev5U800NonFinitePosesAndReferencesFailWithEmptiedOutputs) {
  auto arm = makeArm<Rev5U800Kinematics>(kRev5u800);
  const Eigen::MatrixXd pose = arm->forwardKinematics({0.1, -0.4, 0.5, 0.2, 0.7, -0.3});
  Findings findings;
  {
    bramlock_test::OutputCapture quiet;
    for (int entry : {1, 3, 11}) {  // a rotation entry, x and z
      for (double bad : robustness::badNumbers()) {
        Eigen::MatrixXd T = pose;
        T(entry / 4, entry % 4) = bad;
        const std::string name = robustness::caseName("pose", static_cast<size_t>(entry), bad);
        std::vector<double> q = kUntouched;
        const int numeric = arm->inverseKinematics(T, std::vector<double>(6, 0.1), q);
        findings.expect(numeric == 0 ? allFinite(q) && std::isfinite(bad) : q.empty(), "numeric form, " + name);
        std::vector<std::vector<double>> solutions = kUntouchedList;
        const int seeded = arm->inverseKinematics(T, std::vector<double>(6, 0.1), solutions);
        findings.expect(seeded == 0 ? allFinite(solutions) && std::isfinite(bad) : solutions.empty(),
                        "seeded form, " + name);
      }
    }
    for (double bad : robustness::nonFiniteNumbers()) {
      std::vector<double> q = kUntouched;
      findings.expect(arm->inverseKinematics(pose, robustness::withEntry(std::vector<double>(6, 0.1), 2, bad), q) == -1,
                      robustness::caseName("reference", 2, bad));
      std::vector<std::vector<double>> solutions = kUntouchedList;
      Eigen::MatrixXd T = pose;
      T(0, 3) = bad;
      findings.expect(arm->inverseKinematics(T, solutions) == -1 && solutions.empty(),
                      robustness::caseName("all-solutions pose", 3, bad));
    }
  }
  findings.report();
}

TEST_F(WithFixturePackages, PoseTableFindsNoNeighboursOfPosesThatAreNotNumbers) {
  bramlock_test::OutputCapture quiet;
  JointsTable table;
  quiet.out();
  for (int entry = 0; entry < 12; ++entry) {
    for (double bad : robustness::badNumbers()) {
      Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
      pose(entry / 4, entry % 4) = bad;
      const auto neighbours = table.getNeighbors(pose, 5);
      EXPECT_TRUE(allFinite(neighbours)) << robustness::caseName("pose", static_cast<size_t>(entry), bad);
      if (entry % 4 == 3) {
        EXPECT_TRUE(neighbours.empty()) << robustness::caseName("pose", static_cast<size_t>(entry), bad);
      }
    }
  }
}

TEST(KinematicsRobustness, NumericSolverRefusesWhatItCannotSolveOrMeasure) {
  InverseKinematicsSolver solver;  // no chain: nothing loaded
  EXPECT_THROW_MESSAGE(solver.getMinEigenvalue(Eigen::MatrixXd()), std::invalid_argument,
                       "^the smallest singular value needs a non-empty matrix of finite values$");
  EXPECT_THROW_MESSAGE(solver.getMinEigenvalue(Eigen::MatrixXd::Constant(6, 6, kNaN)), std::invalid_argument,
                       "^the smallest singular value needs a non-empty matrix of finite values$");
  EXPECT_NEAR(solver.getMinEigenvalue(Eigen::MatrixXd::Identity(6, 6)), 1.0, 1e-15);
  bool ok = true;
  Eigen::Matrix4d T = Eigen::Matrix4d::Identity();
  T(1, 3) = kNaN;
  solver.inverseKinematics(T, ok, Eigen::VectorXd::Zero(6));
  EXPECT_FALSE(ok);
}

TEST(KinematicsRobustness, ClosedFormEntryRefusesNullAndNonFinitePoses) {
  const double rotation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  ikfast::IkSolutionList<double> solutions;
  EXPECT_FALSE(ComputeIk(nullptr, rotation, nullptr, solutions));
  const double translation[3] = {0.3, 0.1, 0.5};
  EXPECT_FALSE(ComputeIk(translation, nullptr, nullptr, solutions));
  for (double bad : robustness::badNumbers()) {
    for (size_t i = 0; i < 3; ++i) {
      double position[3] = {0.3, 0.1, 0.5};
      position[i] = bad;
      EXPECT_FALSE(ComputeIk(position, rotation, nullptr, solutions)) << robustness::caseName("position", i, bad);
      EXPECT_EQ(solutions.GetNumSolutions(), 0u);
    }
  }
  IkfastSolver solver;
  std::vector<std::vector<double>> found;
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  pose(2, 2) = kNaN;
  EXPECT_FALSE(solver.ikfastComputeIk(pose, found));
  EXPECT_TRUE(found.empty());
}

}  // namespace
