#include "bramlock_arm_planning_core/plan_scene/plan_scene_interface.h"

bool PlanSceneInterface::checkSampledMotion(const std::vector<std::vector<double>>& samples,
                                            std::size_t* failing_index) {
  for (std::size_t i = 0; i < samples.size(); ++i) {
    std::vector<double> state = samples[i];
    if (state.empty() || state.size() != samples.front().size() || !isValid(state.data())) {
      if (failing_index) *failing_index = i;
      return false;
    }
  }
  if (samples.empty() && failing_index) *failing_index = 0;
  return !samples.empty();
}
