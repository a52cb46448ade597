#pragma once

#include <string>
#include <vector>

class ManipulatorPlanScene;

namespace plan_demo {

// Fills the scene's octomap with a block of voxels around the tip of the
// planned group halfway (in joint space) between start and goal, where the
// direct motion passes. Returns a line saying where it stands and whether it
// blocks the direct motion, or why there is none.
std::string placeObstacle(ManipulatorPlanScene& scene, const std::vector<double>& start,
                          const std::vector<double>& goal);

}  // namespace plan_demo
