#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "bramlock_arm_planning_core/planner/waypoint_constraints.h"
#include "test_support.h"

namespace spline_test {

inline std::string armUrdfPath() {
  return bramlock_test::amentPrefixPath() +
         "/share/bramlock_arm_description/urdf/RAV5-A800-Z4O3V4I/RAV5-A800-Z4O3V4I.urdf";
}

inline std::string dynamicsFixture(const std::string& name) { return bramlock_test::fixturePath("dynamics/" + name); }

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

}  // namespace spline_test
