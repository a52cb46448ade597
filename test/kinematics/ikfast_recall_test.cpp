#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_rev5u800.h"
#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_solver.h"
#include "kinematics_test_helpers.h"
#include "rev5u800_fixture.h"

namespace {

using kinematics_test::angleDistance;

// Round trips of seeded random joint vectors: how often the generating vector
// comes back, split by the Jacobian's smallest singular value, and every fault
// of the returned lists (pose not reproduced, near-duplicates).
struct RecallSweep {
  int conditioned = 0;  // poses with sigma >= 1e-2
  int conditioned_found = 0;
  int fair = 0;  // poses with sigma >= 1e-3
  int fair_found = 0;
  int poses_without_solution = 0;
  int solutions = 0;
  int max_solutions = 0;
  int wrong_poses = 0;
  int near_duplicates = 0;
  double worst_position = 0.0;
  double worst_rotation = 0.0;

  void run(unsigned seed, int count) {
    const KDL::Chain chain = rev5u800_test::fixtureChain();
    std::mt19937 random(seed);
    IkfastSolver solver;
    for (int i = 0; i < count; ++i) {
      const std::vector<double> q = kinematics_test::randomJoints(random, 6);
      const Eigen::Matrix4d pose = rev5u800_test::computeFkPose(q);
      const double sigma = rev5u800_test::kdlSmallestSingularValue(chain, q);
      std::vector<std::vector<double>> found;
      if (!solver.ikfastComputeIk(pose, found)) ++poses_without_solution;
      bool generating_found = false;
      for (size_t a = 0; a < found.size(); ++a) {
        generating_found = generating_found || angleDistance(found[a], q) <= 1e-6;
        const rev5u800_test::PoseDifference error =
            rev5u800_test::poseDifference(rev5u800_test::kdlPose(chain, found[a]), pose);
        worst_position = std::max(worst_position, error.position);
        worst_rotation = std::max(worst_rotation, error.rotation);
        if (error.position > 1e-9 || error.rotation > 1e-9) ++wrong_poses;
        for (size_t b = a + 1; b < found.size(); ++b) near_duplicates += angleDistance(found[a], found[b]) <= 1e-6;
      }
      solutions += static_cast<int>(found.size());
      max_solutions = std::max(max_solutions, static_cast<int>(found.size()));
      if (sigma >= 1e-3) {
        ++fair;
        fair_found += generating_found;
      }
      if (sigma >= 1e-2) {
        ++conditioned;
        conditioned_found += generating_found;
      }
    }
    std::printf(
        "recall sigma>=1e-2: %d/%d (%.3f%%), sigma>=1e-3: %d/%d (%.3f%%); %d solutions (max %d), "
        "%d poses without solution, worst error %.3g m %.3g rad\n",
        conditioned_found, conditioned, 100.0 * conditioned_found / conditioned, fair_found, fair,
        100.0 * fair_found / fair, solutions, max_solutions, poses_without_solution, worst_position, worst_rotation);
  }
};

// Every list is sound whatever the recall: poses reproduced, no near-duplicates, at most 16.
void expectSoundLists(const RecallSweep& sweep) {
  EXPECT_EQ(sweep.wrong_poses, 0);
  EXPECT_EQ(sweep.near_duplicates, 0);
  EXPECT_LE(sweep.max_solutions, 16);
  EXPECT_EQ(sweep.poses_without_solution, 0);
}

TEST(IkfastRecall, FiveHundredPosesComeBack) {
  RecallSweep sweep;
  sweep.run(20261207, 500);
  expectSoundLists(sweep);
  EXPECT_GE(sweep.conditioned_found, sweep.conditioned - 1);
  EXPECT_GE(sweep.fair_found, sweep.fair - 2);
}

TEST(IkfastRecall, SlowTenThousandPoses) {
  RecallSweep sweep;
  sweep.run(7, 10000);
  expectSoundLists(sweep);
  EXPECT_GE(sweep.conditioned_found, 0.999 * sweep.conditioned);
  EXPECT_GE(sweep.fair_found, 0.995 * sweep.fair);
}

}  // namespace
