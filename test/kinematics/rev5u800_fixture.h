#pragma once

#include <array>
#include <random>
#include <vector>

#include <Eigen/Dense>
#include <kdl/chain.hpp>

// The REV5-U800 fixture arm as an independent oracle: its KDL chain from the
// fixture URDF, seeded random joint vectors and pose comparison.
namespace rev5u800_test {

// KDL chain base_link -> link6 of the fixture URDF (fails the test when it does not load).
KDL::Chain fixtureChain();

// Tool pose of the chain for q as a 4x4 matrix.
Eigen::Matrix4d kdlPose(const KDL::Chain& chain, const std::vector<double>& q);

// Smallest singular value of the 6x6 chain Jacobian at the tool point.
double kdlSmallestSingularValue(const KDL::Chain& chain, const std::vector<double>& q);

// Joint vectors uniform in [-pi, pi]^6.
class RandomJoints {
 public:
  explicit RandomJoints(unsigned seed) : engine_(seed) {}
  std::vector<double> next();

 private:
  std::mt19937_64 engine_;
};

struct PoseDifference {
  double position;  // metres
  double rotation;  // radians
};
PoseDifference poseDifference(const Eigen::Matrix4d& a, const Eigen::Matrix4d& b);

// Largest joint difference, each taken modulo 2 pi.
double jointDistance(const std::vector<double>& a, const std::vector<double>& b);

}  // namespace rev5u800_test
