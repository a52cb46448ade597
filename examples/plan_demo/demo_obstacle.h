#pragma once

#include <string>
#include <vector>

class ManipulatorPlanScene;

namespace plan_demo {

// Fills the scene's octomap with a block of voxels around the tip of the
// planned group at a point of the direct (joint-space) motion from start to
// goal. Halfway is tried first, then points further from it; the first place
// that leaves start and goal free and blocks the direct motion wins, else the
// first that leaves them free. When no place does, the block stays halfway.
// Returns a line saying where it stands, whether it blocks the direct motion
// or covers the start or goal, or why there is none.
std::string placeObstacle(ManipulatorPlanScene& scene, const std::vector<double>& start,
                          const std::vector<double>& goal);

// Empties the scene's world; false when the scene refuses.
bool clearObstacle(ManipulatorPlanScene& scene);

}  // namespace plan_demo
