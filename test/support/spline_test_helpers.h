#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "bramlock_arm_planning_core/planner/cubic_spline_trajectory.h"
#include "bramlock_arm_planning_core/planner/quintic_spline_trajectory.h"
#include "bramlock_arm_planning_core/planner/waypoint_constraints.h"
#include "test_support.h"

namespace spline_test {

inline std::string armUrdfPath() {
  return bramlock_test::amentPrefixPath() +
         "/share/bramlock_arm_description/urdf/RAV5-A800-Z4O3V4I/RAV5-A800-Z4O3V4I.urdf";
}

inline std::string dynamicsFixture(const std::string& name) { return bramlock_test::fixturePath("dynamics/" + name); }

// Five waypoints whose second segment lasts several seconds at the tool-speed limit: between the
// optimiser's check points the tool's speed once peaked at 1.8 times that limit.
inline std::vector<std::vector<double>> longSegmentPath() {
  return {{0.90367626326326045, -1.1815908300354541, 0.52908424782318697, 1.2132161907863677, 0.98794441439131275,
           -3.9445522821343726},
          {0.60945374107359396, -0.83277284678707497, -0.11032410893399103, 1.3258597199612752, 1.8849983247045299,
           -3.7975194482128813},
          {0.35923429953957831, -0.8889182203071071, -0.7034724829312442, 1.9750516098737634, 1.7783957534937622,
           -3.0068631303163582},
          {0.88174881525479698, -0.27299950214985746, -0.048183838613637953, 1.0689748402652155, 1.9949999999999999,
           -3.3826604268399771},
          {-0.012898574951706099, -0.40296298960925792, 0.93693682869216888, 0.52155334920874574, 1.9949999999999999,
           -4.3511685431697016}};
}

// A model and its work data.
struct LoadedModel {
  std::shared_ptr<bramlock::dynamics::Model> model;
  std::unique_ptr<bramlock::dynamics::Data> data;

  explicit LoadedModel(const std::string& urdf_path)
      : model(bramlock::dynamics::Model::fromUrdfFile(urdf_path)),
        data(std::make_unique<bramlock::dynamics::Data>(model)) {}
};

// The log lines of a captured output, without their running numbers.
inline std::vector<std::string> logLines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream stream(out);
  const std::string tag = "[INFO] ";
  for (std::string line; std::getline(stream, line);) {
    const std::size_t at = line.find(tag);
    if (at != std::string::npos) lines.push_back(line.substr(at + tag.size()));
  }
  return lines;
}

// Runs body with the output captured and returns the log lines it wrote.
template <class Body>
std::vector<std::string> logged(Body body) {
  bramlock_test::OutputCapture capture;
  body();
  return logLines(capture.out());
}

// The fixture of the tests run on both spline flavours: a probe of the
// flavour's planner and the log lines of a call.
template <template <class> class Probe, class Texts>
class ProbedPlanner : public ::testing::Test {
 protected:
  template <class Body>
  std::vector<std::string> logged(Body body) {
    return spline_test::logged(body);
  }

  Probe<typename Texts::Planner> planner;
};

inline WaypointConstraints limits(std::vector<double> vmax, std::vector<double> amax, std::vector<double> torque = {}) {
  WaypointConstraints record;
  record.vmax = std::move(vmax);
  record.amax = std::move(amax);
  record.torque_max = std::move(torque);
  return record;
}

// The planner of that type ("cubic_spline" or "quintic_spline") on its own, without a dynamics
// model, timing the path under the same limits at every waypoint as the spline road calls it; its
// console output is swallowed.
inline std::vector<TrajectoryData> plannerTrajectory(const std::string& type,
                                                     const std::vector<std::vector<double>>& path,
                                                     const std::vector<double>& vmax, const std::vector<double>& amax) {
  std::unique_ptr<ITrajectoryPlanner> planner;
  if (type == "cubic_spline") {
    planner = std::make_unique<CubicSplineTrajectory>();
  } else {
    planner = std::make_unique<QuinticSplineTrajectory>();
  }
  bramlock_test::OutputCapture quiet;
  return planner->generateTimeOptimalTrajectory(path, vmax, amax, 0.01, 1000, false, CartesianConstraints()).trajectory;
}

}  // namespace spline_test
