#pragma once

#include "bramlock_arm_planning_core/export.h"

// Modified Denavit-Hartenberg parameters of one joint.
struct BRAMLOCK_EXPORT ArmMDHParams {
  double alpha = 0.0;
  double a = 0.0;
  double d = 0.0;
  double theta = 0.0;  // zero-angle offset
  bool valid = false;
};
