#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/export.h"

// The scene as the planner and the trajectory generator see it. Joint vectors
// passed as double* hold one value per variable of the planned group, in the
// group's variable order (radians, metres for prismatic joints).
class BRAMLOCK_EXPORT PlanSceneInterface {
 public:
  virtual ~PlanSceneInterface() = default;

  // One (minimum, maximum) position per joint; returns the joint count, or a
  // negative code when the bounds cannot be given.
  virtual int getPlanSpaceBounds(std::vector<std::pair<double, double>>& bounds) = 0;
  // Per-joint velocity and acceleration limits; returns the joint count, or 0
  // when no limits are known.
  virtual int getVmaxAndAmax(std::vector<double>& vmax, std::vector<double>& amax) = 0;
  // True when the state is free of collision.
  virtual bool isValid(double* joints) = 0;
  // The same question under the checkers used while simplifying a path.
  virtual bool isValidSimplify(double* joints) = 0;
  // True when the straight joint-space motion is free of collision, end state included.
  virtual bool checkMotion(double* from, double* to) = 0;
  // The same question under the checkers used while simplifying a path.
  virtual bool checkMotionSimplify(double* from, double* to) = 0;
  // The robot model's maximum extent in joint space: the scale of planner steps.
  virtual double getMaximumExtent() = 0;
  // True when a densely sampled motion (a trajectory's millisecond samples, one vector per state
  // with one value per variable of the planned group, in execution order) is free of collision.
  // On false, failing_index (when not null) holds the index of a sample found in collision or
  // unusable (a vector of another size than the first, or empty input). This form tests every
  // sample with isValid; a scene that bounds how far its geometry moves may test fewer samples,
  // as long as none lies further from a tested one than its motion checks allow.
  virtual bool checkSampledMotion(const std::vector<std::vector<double>>& samples, std::size_t* failing_index);
};
