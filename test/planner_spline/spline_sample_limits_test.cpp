// Every sample a spline planner hands back keeps the limits the caller asked for, re-checked
// independently of the planner: an own spline through the returned waypoints at the returned knot
// times, central differences of the returned positions, the tool frame's velocity from the
// dynamics layer and torques by inverse dynamics.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bramlock_arm_planning_core/planner/cubic_spline_trajectory.h"
#include "bramlock_arm_planning_core/planner/quintic_spline_trajectory.h"
#include "seeded_paths.h"
#include "spline_test_helpers.h"
#include "trajectory_recheck.h"

namespace {

using spline_test::LimitKind;
using spline_test::Path;
using spline_test::PathKind;

constexpr double kTolerance = 0.01;
constexpr int kIterations = 1000;
// Central differences of 1 ms samples miss the derivatives by a little more where segments last
// only a few milliseconds.
constexpr double kDifferenceSlack = 0.005;

template <class Planner>
class Open : public Planner {
 public:
  using Planner::ee_frame_id_;
  using Planner::model_;
  using Planner::torque_limits_;
};

struct Cubic {
  using Planner = CubicSplineTrajectory;
  using Spline = CubicSplineM;
  static constexpr const char* kName = "cubic";
};

struct Quintic {
  using Planner = QuinticSplineTrajectory;
  using Spline = QuinticSplineInterpolator;
  static constexpr const char* kName = "quintic";
};

// A planner of one flavour set up for one kind of limit.
template <class Flavour>
struct LimitedPlanner {
  Open<typename Flavour::Planner> planner;
  LimitKind kind;

  explicit LimitedPlanner(LimitKind limit_kind) : kind(limit_kind) {
    spline_test::logged([&] {
      if (kind != LimitKind::kJoint) {
        EXPECT_TRUE(planner.setRobotModel(spline_test::armUrdfPath(), "end_effector"));
      }
      planner.enableTorqueConstraints(kind == LimitKind::kTorque);
    });
  }

  TrajectoryResult plan(const Path& path, const std::vector<WaypointConstraints>& limits) {
    TrajectoryResult result;
    spline_test::logged(
        [&] { result = planner.generateTimeOptimalTrajectory(path, limits, kTolerance, kIterations, false); });
    return result;
  }

  spline_test::RecheckSetup setup() const {
    spline_test::RecheckSetup setup;
    setup.model = planner.model_;
    setup.tool_frame = planner.ee_frame_id_;
    setup.torque_limited = kind == LimitKind::kTorque;
    setup.default_torque_limits = planner.torque_limits_;
    return setup;
  }

  // Plans and, on success, re-checks every sample; false when planning failed.
  bool planAndRecheck(const Path& path, const std::vector<WaypointConstraints>& limits, const std::string& label) {
    const TrajectoryResult result = plan(path, limits);
    if (!result.success) {
      EXPECT_TRUE(result.trajectory.empty()) << label;
      return false;
    }
    expectWithinLimits(result, limits, label);
    return true;
  }

  // Plans a path that must converge and re-checks every sample.
  void expectPlannedWithinLimits(const Path& path, const std::vector<WaypointConstraints>& limits,
                                 const std::string& label) {
    const TrajectoryResult result = plan(path, limits);
    ASSERT_TRUE(result.success) << label;
    expectWithinLimits(result, limits, label);
  }

  void expectWithinLimits(const TrajectoryResult& result, const std::vector<WaypointConstraints>& limits,
                          const std::string& label) const {
    const spline_test::PeakRatios peak =
        spline_test::recheckTrajectory<typename Flavour::Spline>(result.trajectory, limits, setup());
    const double allowed = 1.0 + kTolerance + 1e-9;
    EXPECT_LE(peak.velocity, allowed) << label;
    EXPECT_LE(peak.acceleration, allowed) << label;
    EXPECT_LE(peak.difference_velocity, allowed + kDifferenceSlack) << label;
    EXPECT_LE(peak.difference_acceleration, allowed + kDifferenceSlack) << label;
    EXPECT_LE(peak.linear, allowed) << label;
    EXPECT_LE(peak.angular, allowed) << label;
    EXPECT_LE(peak.torque, allowed) << label;
    EXPECT_LT(peak.position_error, 1e-9) << label;
    EXPECT_LT(peak.record_error, 1e-9) << label;
  }
};

std::string seededLabel(LimitKind kind, PathKind path_kind, unsigned seed) {
  return std::string(spline_test::limitKindName(kind)) + ", " + spline_test::pathKindName(path_kind) + ", seed " +
         std::to_string(seed);
}

// Successes per planner and limit kind over a sweep.
class ConvergenceCounts {
 public:
  void add(const std::string& planner, LimitKind kind, bool success) {
    Count& count = counts_[planner + " / " + spline_test::limitKindName(kind)];
    ++count.tried;
    count.converged += success ? 1 : 0;
  }
  void print(const char* sweep) const {
    for (const auto& [name, count] : counts_) {
      std::printf("[ rates    ] %s: %s converged %d of %d\n", sweep, name.c_str(), count.converged, count.tried);
    }
  }

 private:
  struct Count {
    int tried = 0;
    int converged = 0;
  };
  std::map<std::string, Count> counts_;
};

// Plans seeds [first, last] of every path kind under every limit kind with both planners and
// re-checks every success.
void sweep(unsigned first, unsigned last, const char* name) {
  ConvergenceCounts counts;
  for (LimitKind kind : spline_test::kLimitKinds) {
    LimitedPlanner<Cubic> cubic(kind);
    LimitedPlanner<Quintic> quintic(kind);
    for (PathKind path_kind : spline_test::kPathKinds) {
      for (unsigned seed = first; seed <= last; ++seed) {
        const Path path = spline_test::seededPath(path_kind, seed);
        const auto limits = spline_test::seededLimits(kind, seed, path.size());
        const std::string label = seededLabel(kind, path_kind, seed);
        counts.add(Cubic::kName, kind, cubic.planAndRecheck(path, limits, "cubic, " + label));
        counts.add(Quintic::kName, kind, quintic.planAndRecheck(path, limits, "quintic, " + label));
      }
    }
  }
  counts.print(name);
}

TEST(SplineSampleLimits, SeededPathsKeepEveryLimitOnEverySample) { sweep(1, 1, "short sweep"); }

TEST(SplineSampleLimits, SlowSeededPathsKeepEveryLimitOnEverySample) { sweep(3, 22, "long sweep"); }

// Total durations the planners gave these seeded paths before every sample was checked; each
// met its limits everywhere, so the check leaves it as it was.
struct RecordedPlan {
  LimitKind limits;
  PathKind path;
  unsigned seed;
  double total;
};
const RecordedPlan kCubicRecorded[] = {
    {LimitKind::kJoint, PathKind::kRandomWalk, 1u, 2.9787523743672373},
    {LimitKind::kJoint, PathKind::kRandomWalk, 2u, 5.4624159933428027},
    {LimitKind::kJoint, PathKind::kSpreadPoints, 2u, 11.76656147683719},
    {LimitKind::kJoint, PathKind::kRepeatedWaypoints, 1u, 1.6875486751775832},
    {LimitKind::kJoint, PathKind::kRepeatedWaypoints, 2u, 3.065933689589301},
    {LimitKind::kJoint, PathKind::kNearlyCollinear, 1u, 1.2957171654496213},
    {LimitKind::kJoint, PathKind::kNearlyCollinear, 2u, 1.7280960083563017},
    {LimitKind::kJoint, PathKind::kTinyMoves, 1u, 0.033303463986120205},
    {LimitKind::kJoint, PathKind::kTinyMoves, 2u, 0.061071667412483245},
    {LimitKind::kToolSpeed, PathKind::kRandomWalk, 1u, 6.9875643319784144},
    {LimitKind::kToolSpeed, PathKind::kRandomWalk, 2u, 6.2141717990985841},
    {LimitKind::kToolSpeed, PathKind::kRepeatedWaypoints, 1u, 2.3198979960744213},
    {LimitKind::kToolSpeed, PathKind::kRepeatedWaypoints, 2u, 3.0650624202459498},
    {LimitKind::kToolSpeed, PathKind::kNearlyCollinear, 1u, 2.8841023503825394},
    {LimitKind::kToolSpeed, PathKind::kNearlyCollinear, 2u, 1.8367878474156654},
    {LimitKind::kToolSpeed, PathKind::kTinyMoves, 1u, 0.033303463986120205},
    {LimitKind::kToolSpeed, PathKind::kTinyMoves, 2u, 0.061071667412483245},
    {LimitKind::kTorque, PathKind::kRandomWalk, 1u, 2.9773853835410322},
    {LimitKind::kTorque, PathKind::kRandomWalk, 2u, 5.4624159933428027},
    {LimitKind::kTorque, PathKind::kSpreadPoints, 2u, 11.76656147683719},
    {LimitKind::kTorque, PathKind::kRepeatedWaypoints, 1u, 1.6875486751775832},
    {LimitKind::kTorque, PathKind::kRepeatedWaypoints, 2u, 3.065933689589301},
    {LimitKind::kTorque, PathKind::kNearlyCollinear, 1u, 1.2957171654496213},
    {LimitKind::kTorque, PathKind::kNearlyCollinear, 2u, 1.7280960083563017},
    {LimitKind::kTorque, PathKind::kTinyMoves, 1u, 0.033303463986120205},
    {LimitKind::kTorque, PathKind::kTinyMoves, 2u, 0.061071667412483245},
};
const RecordedPlan kQuinticRecorded[] = {
    {LimitKind::kJoint, PathKind::kRepeatedWaypoints, 2u, 3.045219317643542},
    {LimitKind::kJoint, PathKind::kNearlyCollinear, 1u, 1.406213438667236},
    {LimitKind::kJoint, PathKind::kNearlyCollinear, 2u, 1.8755693064046071},
    {LimitKind::kToolSpeed, PathKind::kRandomWalk, 1u, 6.9875643319784144},
    {LimitKind::kToolSpeed, PathKind::kRepeatedWaypoints, 2u, 3.0446244685338422},
    {LimitKind::kToolSpeed, PathKind::kNearlyCollinear, 1u, 2.8841023503825394},
    {LimitKind::kToolSpeed, PathKind::kNearlyCollinear, 2u, 1.9629519604154564},
    {LimitKind::kTorque, PathKind::kRepeatedWaypoints, 2u, 3.045219317643542},
    {LimitKind::kTorque, PathKind::kNearlyCollinear, 1u, 1.406213438667236},
    {LimitKind::kTorque, PathKind::kNearlyCollinear, 2u, 1.8755693064046071},
};

template <class Flavour, std::size_t N>
void expectRecordedTotals(const RecordedPlan (&recorded)[N]) {
  for (const RecordedPlan& plan : recorded) {
    LimitedPlanner<Flavour> planner(plan.limits);
    const Path path = spline_test::seededPath(plan.path, plan.seed);
    const TrajectoryResult result = planner.plan(path, spline_test::seededLimits(plan.limits, plan.seed, path.size()));
    ASSERT_TRUE(result.success) << Flavour::kName << " " << plan.seed;
    EXPECT_EQ(result.trajectory.back().time, plan.total)
        << Flavour::kName << ", " << spline_test::limitKindName(plan.limits) << ", "
        << spline_test::pathKindName(plan.path) << ", seed " << plan.seed;
  }
}

TEST(SplineSampleLimits, PathsThatMetTheirLimitsEverywhereKeepTheirDurations) {
  expectRecordedTotals<Cubic>(kCubicRecorded);
  expectRecordedTotals<Quintic>(kQuinticRecorded);
}

template <class Flavour>
class SampleLimits : public ::testing::Test {};

using Flavours = ::testing::Types<Cubic, Quintic>;
TYPED_TEST_SUITE(SampleLimits, Flavours);

std::vector<WaypointConstraints> uniform(std::size_t points, const WaypointConstraints& record) {
  return std::vector<WaypointConstraints>(points, record);
}

// Five waypoints with a 7.75 s segment whose tool speed peaked 0.3 s after its first knot, at 1.8
// times the limit, between the optimiser's check points.
TYPED_TEST(SampleLimits, ToolSpeedPeakBetweenCheckPointsOfALongSegment) {
  const Path path = spline_test::longSegmentPath();
  WaypointConstraints limits =
      spline_test::limits(std::vector<double>(6, 3.0), {9.8972244405459673, 11.524941476783814, 8.8459460644792056,
                                                        12.784890087152528, 12.561564403927624, 8.0287709840710466});
  limits.cartesian.enabled = true;
  limits.cartesian.max_linear_velocity = 0.72247630907656213;
  limits.cartesian.max_angular_velocity = 2.1671022361876688;
  LimitedPlanner<TypeParam>(LimitKind::kToolSpeed)
      .expectPlannedWithinLimits(path, uniform(path.size(), limits), TypeParam::kName);
}

// Three waypoints whose quintic trajectory passed joint 4's acceleration limit by 1.67 % at
// 1.912 s, between check points.
TYPED_TEST(SampleLimits, JointAccelerationPeakBetweenCheckPoints) {
  const Path path = {{1.6543359967188063, -1.5295801454363325, -0.0042332470880193096, -0.6894400292055316,
                      1.303050334098369, -3.9076452370025088},
                     {0.70155312558722016, -1.3964464633727491, -0.68542611943486209, 0.16238263528857155,
                      1.1138415807086151, -3.2584627890361277},
                     {1.0375939168266792, -0.92864229221566319, -0.39502382232897593, 0.61845797633291011,
                      1.9341142439083943, -3.1435829784643365}};
  const WaypointConstraints limits = spline_test::limits({2.4240836275806172, 1.2153417176722336, 2.1638146965059502,
                                                          1.7359903544597635, 1.2982792158460081, 2.7427303347900223},
                                                         {9.7194150237758645, 6.0446876199705626, 5.9400616939625035,
                                                          2.5574904760293107, 2.8882359145187948, 2.3412903473782789});
  LimitedPlanner<TypeParam>(LimitKind::kJoint)
      .expectPlannedWithinLimits(path, uniform(path.size(), limits), TypeParam::kName);
}

// Four waypoints, each moving one joint by 1e-4 rad: with every calm segment tightened, two
// segments stayed a few per cent over their limits for all 1000 iterations (the cubic planner
// converges in under 100).
TYPED_TEST(SampleLimits, TinyMovesOfOneJointEach) {
  Path path(1, std::vector<double>(6, 0.0));
  for (std::size_t joint = 0; joint < 3; ++joint) {
    path.push_back(path.back());
    path.back()[joint] += 1e-4;
  }
  const WaypointConstraints limits = spline_test::limits(std::vector<double>(6, 1.0), std::vector<double>(6, 1.0));
  LimitedPlanner<TypeParam>(LimitKind::kJoint)
      .expectPlannedWithinLimits(path, uniform(path.size(), limits), TypeParam::kName);
}

// Seeded paths on which the quintic planner stalled the same way, under each limit kind.
TEST(SplineSampleLimits, QuinticPathsWhereTighteningStalled) {
  struct Stalled {
    LimitKind limits;
    PathKind path;
    unsigned seed;
  };
  const Stalled stalled[] = {
      {LimitKind::kJoint, PathKind::kRandomWalk, 2u},     {LimitKind::kJoint, PathKind::kRandomWalk, 6u},
      {LimitKind::kJoint, PathKind::kSpreadPoints, 13u},  {LimitKind::kJoint, PathKind::kTinyMoves, 1u},
      {LimitKind::kJoint, PathKind::kTinyMoves, 5u},      {LimitKind::kToolSpeed, PathKind::kSpreadPoints, 8u},
      {LimitKind::kToolSpeed, PathKind::kTinyMoves, 24u}, {LimitKind::kTorque, PathKind::kRandomWalk, 30u},
  };
  for (const Stalled& plan : stalled) {
    LimitedPlanner<Quintic> planner(plan.limits);
    const Path path = spline_test::seededPath(plan.path, plan.seed);
    const auto limits = spline_test::seededLimits(plan.limits, plan.seed, path.size());
    planner.expectPlannedWithinLimits(path, limits, seededLabel(plan.limits, plan.path, plan.seed));
  }
}

}  // namespace
