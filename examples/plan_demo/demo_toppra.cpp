#include "demo_toppra.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>

#include "bramlock_arm_planning_core/plan_scene/plan_scene_interface.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_acceleration.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_velocity.h"
#include "bramlock_arm_planning_core/toppra/geometric_path/piecewise_poly_path.h"
#include "bramlock_arm_planning_core/toppra/parametrizer/const_accel.h"
#include "bramlock_arm_planning_core/toppra/toppra_algorithm.h"

namespace plan_demo {
namespace {

// More extra samples than this in one sample period would only come from a
// trajectory far beyond any joint limit; they are not worth the memory.
constexpr int kMaxPartsPerPeriod = 1000;

std::string toppraMeaning(int code) {
  switch (code) {
    case 0:
      return "success";
    case 2:
      return "no controllable set: the limits cannot stop the motion at the end";
    case 3:
      return "the forward pass found no admissible speed";
    default:
      return "unknown code";
  }
}

toppra::Vector vectorOf(const std::vector<double>& values) {
  return Eigen::Map<const toppra::Vector>(values.data(), static_cast<Eigen::Index>(values.size()));
}

// A cubic spline at rest at both ends through the waypoints, over the path
// length in joint space; waypoints that repeat the one before are left out.
std::shared_ptr<toppra::GeometricPath> splineThrough(const Path& path) {
  toppra::Vectors positions;
  std::vector<double> lengths;
  for (const std::vector<double>& waypoint : path) {
    const toppra::Vector q = vectorOf(waypoint);
    const double step = positions.empty() ? 0.0 : (q - positions.back()).norm();
    if (!positions.empty() && step < 1e-9) continue;
    lengths.push_back(lengths.empty() ? 0.0 : lengths.back() + step);
    positions.push_back(q);
  }
  if (positions.size() < 2) return nullptr;
  return std::make_shared<toppra::PiecewisePolyPath>(toppra::PiecewisePolyPath::CubicSpline(
      positions, vectorOf(lengths), {toppra::BoundaryCond("clamped"), toppra::BoundaryCond("clamped")}));
}

std::vector<double> everyPeriod(double duration) {
  std::vector<double> times;
  for (double t = 0.0; t < duration - 1e-9; t = static_cast<double>(times.size()) * kSamplePeriod) times.push_back(t);
  times.push_back(duration);
  return times;
}

Path positionsAt(const toppra::GeometricPath& trajectory, const std::vector<double>& times) {
  Path positions;
  for (const toppra::Vector& q : trajectory.eval(vectorOf(times), 0))
    positions.emplace_back(q.data(), q.data() + q.size());
  return positions;
}

double largestJointStep(const std::vector<double>& from, const std::vector<double>& to) {
  double largest = 0.0;
  for (std::size_t j = 0; j < from.size() && j < to.size(); ++j) largest = std::max(largest, std::abs(to[j] - from[j]));
  return largest;
}

// The times with extra ones spread evenly over each gap whose joints move more
// than kMaxJointStep. Within one sample period a joint moves nearly uniformly,
// so even times give nearly even steps.
std::vector<double> refinedTimes(const std::vector<double>& times, const Path& positions) {
  std::vector<double> refined = {times.front()};
  for (std::size_t k = 1; k < times.size(); ++k) {
    const double step = largestJointStep(positions[k - 1], positions[k]);
    const int parts = step > kMaxJointStep
                          ? static_cast<int>(std::min<double>(std::ceil(step / kMaxJointStep), kMaxPartsPerPeriod))
                          : 1;
    for (int p = 1; p < parts; ++p) refined.push_back(times[k - 1] + (times[k] - times[k - 1]) * p / parts);
    refined.push_back(times[k]);
  }
  return refined;
}

std::string formatMilliseconds(double milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", milliseconds);
  return text;
}

// Has the scene check the samples; adds the outcome to checks and returns
// the failure to append to the TOPP-RA line, empty when every sample passed.
std::string checkSamples(PlanSceneInterface& scene, const TimedSamples& samples, std::vector<std::string>& checks) {
  std::size_t failing = 0;
  if (scene.checkSampledMotion(samples.positions, &failing)) {
    char spacing[64];
    std::snprintf(spacing, sizeof spacing, "at most %g ms and %g rad apart", 1000.0 * kSamplePeriod, kMaxJointStep);
    checks.push_back("TOPP-RA: samples passed the scene's collision check (" + std::to_string(samples.times.size()) +
                     " samples, " + spacing + ")");
    return "";
  }
  const double time = failing < samples.times.size() ? samples.times[failing] : samples.times.back();
  const std::string failure = "in collision at " + formatSeconds(time);
  checks.push_back("TOPP-RA: FAILED the collision check of its samples: " + failure);
  return failure;
}

}  // namespace

TimedSamples sampleDensely(const toppra::GeometricPath& trajectory, double duration) {
  TimedSamples samples;
  const std::vector<double> periodic = everyPeriod(duration);
  samples.times = refinedTimes(periodic, positionsAt(trajectory, periodic));
  samples.positions = positionsAt(trajectory, samples.times);
  return samples;
}

bool timeWithToppra(const Path& path, const std::vector<double>& vmax, const std::vector<double>& amax,
                    PlanSceneInterface& scene, Summary& summary, std::vector<std::string>& checks) {
  const auto started = Clock::now();
  try {
    const auto spline = splineThrough(path);
    if (!spline) {
      summary.line("TOPP-RA", "nothing to parameterise: start and goal coincide");
      checks.push_back("TOPP-RA: nothing to check");
      return true;
    }
    const toppra::Vector v = vectorOf(vmax);
    const toppra::Vector a = vectorOf(amax);
    toppra::algorithm::TOPPRA algorithm({std::make_shared<toppra::constraint::LinearJointVelocity>(-v, v),
                                         std::make_shared<toppra::constraint::LinearJointAcceleration>(-a, a)},
                                        spline);
    const int code = algorithm.computePathParametrization(0.0, 0.0);
    if (code != 0) {
      summary.line("TOPP-RA", std::to_string(code) + " (" + toppraMeaning(code) + ")");
      return false;
    }
    const toppra::parametrizer::ConstAccel timing(spline, algorithm.getGridpoints(), algorithm.getParametrization());
    const std::string computed = formatMilliseconds(1000.0 * secondsSince(started));
    const double duration = timing.getTimes()[timing.getTimes().size() - 1];
    const std::string failure = checkSamples(scene, sampleDensely(timing, duration), checks);
    summary.line("TOPP-RA", formatSeconds(duration) + " (" + std::to_string(algorithm.getN()) +
                                " stages, computed in " + computed + ")" + (failure.empty() ? "" : "; " + failure));
    return failure.empty();
  } catch (const std::exception& error) {
    summary.line("TOPP-RA", std::string("failed: ") + error.what());
    return false;
  }
}

}  // namespace plan_demo
