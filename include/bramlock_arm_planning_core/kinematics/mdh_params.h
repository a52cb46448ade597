#pragma once

#include "bramlock_arm_planning_core/export.h"

// One joint's modified Denavit-Hartenberg parameters; the link transform is
// RotX(alpha) * TransX(a) * RotZ(theta + q) * TransZ(d).
struct BRAMLOCK_EXPORT MDHParams {
  double alpha = 0.0;  // twist about the previous x axis, radians
  double a = 0.0;      // length along the previous x axis
  double d = 0.0;      // offset along the joint's z axis
  double theta = 0.0;  // zero-angle offset of the joint, radians
};
