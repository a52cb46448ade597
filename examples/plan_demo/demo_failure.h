#pragma once

#include <string>
#include <vector>

class ManipulatorPlanScene;

namespace plan_demo {

// The meaning of a code of runPlanPipeline.
std::string pipelineMeaning(int code);

// Why the pipeline failed with the code on this start and goal, found by
// asking the scene what the planner asked it: which pose collides (with the
// obstacle, or even in an empty world), which joint lies outside its bounds,
// whether the scene has limits for every joint. May empty the scene's world.
std::string planningFailureCause(ManipulatorPlanScene& scene, const std::vector<double>& start,
                                 const std::vector<double>& goal, int code);

}  // namespace plan_demo
