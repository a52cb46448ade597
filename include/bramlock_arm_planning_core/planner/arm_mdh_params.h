#pragma once

// Modified Denavit-Hartenberg parameters of one joint.
struct ArmMDHParams {
  double alpha = 0.0;
  double a = 0.0;
  double d = 0.0;
  double theta = 0.0;  // zero-angle offset
  bool valid = false;
};
