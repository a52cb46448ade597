#pragma once

#include <string>
#include <vector>

#include "demo_timing.h"

class PlanSceneInterface;

namespace toppra {
class GeometricPath;
}

namespace plan_demo {

// A trajectory sampled for a collision check: the time of every sample and the
// joint values there.
struct TimedSamples {
  std::vector<double> times;
  Path positions;
};

// Samples a trajectory whose parameter is time (0 to duration) every
// kSamplePeriod, the end included, with samples added evenly in time where a
// joint moves more than kMaxJointStep from one sample to the next.
constexpr double kSamplePeriod = 0.001;  // s
constexpr double kMaxJointStep = 0.002;  // rad (m for prismatic joints)
TimedSamples sampleDensely(const toppra::GeometricPath& trajectory, double duration);

// Parameterises a cubic spline through the waypoints with TOPP-RA under the
// joint limits (one per joint), reports its duration, samples the result
// densely and has the scene check the samples (checkSampledMotion). Adds the
// outcome of the check to checks. False when the parameterisation fails or a
// sample is in collision.
bool timeWithToppra(const Path& path, const std::vector<double>& vmax, const std::vector<double>& amax,
                    PlanSceneInterface& scene, Summary& summary, std::vector<std::string>& checks);

}  // namespace plan_demo
