#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "bramlock_arm_planning_core/planner/constraint_evaluators.h"
#include "bramlock_arm_planning_core/planner/cubic_spline_m.h"
#include "bramlock_arm_planning_core/planner/quintic_spline_interpolator.h"
#include "bramlock_arm_planning_core/planner/spline_coefficients.h"
#include "expect_throw_message.h"

namespace {

struct Knots {
  std::vector<double> times;
  std::vector<double> values;
  std::vector<double> durations;
};

Knots randomKnots(std::mt19937& rng, int count) {
  std::uniform_real_distribution<double> duration(0.05, 2.0);
  std::uniform_real_distribution<double> value(-2.0, 2.0);
  Knots knots;
  double t = 0.0;
  for (int i = 0; i < count; ++i) {
    knots.times.push_back(t);
    knots.values.push_back(value(rng));
    if (i + 1 < count) {
      knots.durations.push_back(duration(rng));
      t += knots.durations.back();
    }
  }
  return knots;
}

// Slopes of a moment spline at the start and end of segment i, from its closed form.
double cubicStartSlope(const CubicSplineM& spline, std::size_t i) {
  const double h = spline.times[i + 1] - spline.times[i];
  return (spline.values[i + 1] - spline.values[i]) / h - h * (2.0 * spline.moments[i] + spline.moments[i + 1]) / 6.0;
}
double cubicEndSlope(const CubicSplineM& spline, std::size_t i) {
  const double h = spline.times[i + 1] - spline.times[i];
  return (spline.values[i + 1] - spline.values[i]) / h + h * (spline.moments[i] + 2.0 * spline.moments[i + 1]) / 6.0;
}

QuinticSplineCoefficients quinticSegment(const QuinticSplineInterpolator& spline, std::size_t i) {
  return QuinticSplineCoefficients::fromHermite(spline.positions[i], spline.positions[i + 1], spline.velocities[i],
                                                spline.velocities[i + 1], spline.accelerations[i],
                                                spline.accelerations[i + 1], spline.times[i + 1] - spline.times[i]);
}

// A cubic polynomial p(t) = 0.3 - 0.8 t + 0.5 t^2 - 0.2 t^3 and its derivatives.
double cubicP(double t) { return 0.3 + t * (-0.8 + t * (0.5 - 0.2 * t)); }
double cubicV(double t) { return -0.8 + t * (1.0 - 0.6 * t); }
double cubicA(double t) { return 1.0 - 1.2 * t; }

}  // namespace

TEST(CubicSplineM, StraightLineHasNoMoments) {
  const CubicSplineM line({0.0, 1.0}, {0.0, 1.0}, 1.0, 1.0);
  EXPECT_EQ(line.count, 2);
  EXPECT_NEAR(line.moments[0], 0.0, 1e-15);
  EXPECT_NEAR(line.moments[1], 0.0, 1e-15);
  const CubicSplineM longer({0.0, 0.5, 2.0, 2.5}, {1.0, 2.0, 5.0, 6.0}, 2.0, 2.0);
  for (double moment : longer.moments) EXPECT_NEAR(moment, 0.0, 1e-12);
}

TEST(CubicSplineM, ReproducesACubicAndKeepsSlopesContinuousAndClamped) {
  const std::vector<double> times = {0.0, 0.3, 1.1, 1.4, 2.6};
  std::vector<double> values;
  for (double t : times) values.push_back(cubicP(t));
  const CubicSplineM exact(times, values, cubicV(times.front()), cubicV(times.back()));
  for (std::size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(exact.moments[i], cubicA(times[i]), 1e-12);

  std::mt19937 rng(21);
  for (int trial = 0; trial < 20; ++trial) {
    const Knots knots = randomKnots(rng, 2 + trial % 7);
    const CubicSplineM spline(knots.times, knots.values, 0.7, -1.3);
    EXPECT_NEAR(cubicStartSlope(spline, 0), 0.7, 1e-9);
    EXPECT_NEAR(cubicEndSlope(spline, knots.times.size() - 2), -1.3, 1e-9);
    for (std::size_t i = 1; i + 1 < knots.times.size(); ++i) {
      EXPECT_NEAR(cubicEndSlope(spline, i - 1), cubicStartSlope(spline, i), 1e-9);
    }
  }
}

TEST(CubicSplineM, FewerThanTwoKnotsSolveNothing) {
  const CubicSplineM single({0.0}, {3.0}, 1.0, 1.0);
  EXPECT_EQ(single.moments, std::vector<double>({0.0}));
  const CubicSplineM empty({}, {}, 1.0, 1.0);
  EXPECT_TRUE(empty.moments.empty());
  EXPECT_THROW_MESSAGE(CubicSplineM({0.0, 1.0}, {0.0}, 0.0, 0.0), std::invalid_argument,
                       "^a cubic spline needs one value per knot time$");
}

TEST(SolveJointVelocities, GivesTheRestToRestC2CubicOfTheMomentSpline) {
  const std::vector<double> velocities = solveJointVelocities({0.0, 1.0, 2.0}, {1.0, 1.0});
  ASSERT_EQ(velocities.size(), 3u);
  EXPECT_NEAR(velocities[0], 0.0, 1e-15);
  EXPECT_NEAR(velocities[1], 1.5, 1e-15);
  EXPECT_NEAR(velocities[2], 0.0, 1e-15);
  EXPECT_EQ(solveJointVelocities({4.0}, {}), std::vector<double>({0.0}));
  EXPECT_EQ(solveJointVelocities({}, {}), std::vector<double>({0.0}));

  std::mt19937 rng(22);
  for (int trial = 0; trial < 20; ++trial) {
    const Knots knots = randomKnots(rng, 2 + trial % 8);
    const std::vector<double> v = solveJointVelocities(knots.values, knots.durations);
    const CubicSplineM spline(knots.times, knots.values, 0.0, 0.0);
    for (std::size_t i = 0; i + 1 < knots.times.size(); ++i) {
      EXPECT_NEAR(v[i], cubicStartSlope(spline, i), 1e-9);
      const auto segment = CubicSplineCoefficients::fromHermite(knots.values[i], knots.values[i + 1], v[i], v[i + 1],
                                                                knots.durations[i]);
      EXPECT_NEAR(segment.position(knots.durations[i]), knots.values[i + 1], 1e-12);
      EXPECT_NEAR(segment.acceleration(0.0), spline.moments[i], 1e-8);
      EXPECT_NEAR(segment.acceleration(knots.durations[i]), spline.moments[i + 1], 1e-8);
    }
    EXPECT_EQ(v.back(), 0.0);
  }
}

TEST(QuinticSplineInterpolator, StraightLineAndTwoKnotCases) {
  const QuinticSplineInterpolator line({0.0, 1.0, 2.0}, {0.0, 1.0, 2.0}, 1.0, 1.0, 0.0, 0.0);
  EXPECT_NEAR(line.velocities[1], 1.0, 1e-15);
  EXPECT_NEAR(line.accelerations[1], 0.0, 1e-15);
  const QuinticSplineInterpolator two({0.0, 0.7}, {1.0, -1.0}, 0.3, -0.4, 2.0, -5.0);
  EXPECT_EQ(two.velocities, std::vector<double>({0.3, -0.4}));
  EXPECT_EQ(two.accelerations, std::vector<double>({2.0, -5.0}));
  const QuinticSplineInterpolator single({0.0}, {1.0}, 0.3, -0.4, 2.0, -5.0);
  EXPECT_EQ(single.velocities, std::vector<double>({0.0}));
  EXPECT_THROW_MESSAGE(QuinticSplineInterpolator({0.0, 1.0}, {0.0}, 0, 0, 0, 0), std::invalid_argument,
                       "^a quintic spline needs one position per knot time$");
}

TEST(QuinticSplineInterpolator, ReproducesACubicAndKeepsJerkContinuous) {
  const std::vector<double> times = {0.0, 0.4, 0.9, 2.0, 2.3, 3.1};
  std::vector<double> values;
  for (double t : times) values.push_back(cubicP(t));
  const QuinticSplineInterpolator exact(times, values, cubicV(0.0), cubicV(3.1), cubicA(0.0), cubicA(3.1));
  for (std::size_t i = 0; i < times.size(); ++i) {
    EXPECT_NEAR(exact.velocities[i], cubicV(times[i]), 1e-10);
    EXPECT_NEAR(exact.accelerations[i], cubicA(times[i]), 1e-9);
  }

  std::mt19937 rng(23);
  for (int trial = 0; trial < 20; ++trial) {
    const Knots knots = randomKnots(rng, 3 + trial % 7);
    const QuinticSplineInterpolator spline(knots.times, knots.values, 0.0, 0.0, 0.0, 0.0);
    EXPECT_EQ(spline.velocities.front(), 0.0);
    EXPECT_EQ(spline.accelerations.back(), 0.0);
    for (std::size_t i = 1; i + 1 < knots.times.size(); ++i) {
      const auto before = quinticSegment(spline, i - 1);
      const auto after = quinticSegment(spline, i);
      const double h = knots.durations[i - 1];
      const double scale = 1.0 + std::fabs(after.jerk(0.0));
      EXPECT_NEAR(before.position(h), after.position(0.0), 1e-10);
      EXPECT_NEAR(before.velocity(h), after.velocity(0.0), 1e-9);
      EXPECT_NEAR(before.acceleration(h), after.acceleration(0.0), 1e-8 * scale);
      EXPECT_NEAR(before.jerk(h), after.jerk(0.0), 1e-7 * scale);
    }
  }
}
