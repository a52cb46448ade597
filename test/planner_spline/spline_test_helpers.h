#pragma once

#include <memory>
#include <string>

#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
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

}  // namespace spline_test
