#pragma once

#include <array>
#include <vector>

#include <Eigen/Dense>
#include <kdl/chain.hpp>

// The REV5-U800 fixture arm as an independent oracle: its KDL chain from the
// fixture URDF, the closed-form forward kinematics and pose comparison.
namespace rev5u800_test {

// KDL chain base_link -> link6 of the fixture URDF (fails the test when it does not load).
KDL::Chain fixtureChain();

// Tool pose of the chain for q as a 4x4 matrix.
Eigen::Matrix4d kdlPose(const KDL::Chain& chain, const std::vector<double>& q);

// Smallest singular value of the 6x6 chain Jacobian at the tool point.
double kdlSmallestSingularValue(const KDL::Chain& chain, const std::vector<double>& q);

// Tool pose of the closed-form solver's forward kinematics as a 4x4 matrix.
Eigen::Matrix4d computeFkPose(const std::vector<double>& q);

struct PoseDifference {
  double position;  // metres
  double rotation;  // radians
};
PoseDifference poseDifference(const Eigen::Matrix4d& a, const Eigen::Matrix4d& b);

}  // namespace rev5u800_test
