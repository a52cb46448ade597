#pragma once

#include <array>

#include <Eigen/Dense>

// Geometry of the REV5-U800 chain from the base to the tool point, shared by
// the forward kinematics and the closed-form solver.
namespace bramlock {
namespace internal {
namespace rev5u800 {

using Joints = std::array<double, 6>;

constexpr double kBaseHeight = 0.328;      // joint 2 above the base
constexpr double kUpperArmX = 0.04999839;  // joint 3 from joint 2, in joint 2's frame
constexpr double kUpperArmZ = 0.39999729;
constexpr double kForearmX = -0.05;     // joint 4's axis from joint 3
constexpr double kForearmZ = 0.4;       // joint 5 along joint 4's axis
constexpr double kWristOffset = 0.136;  // joint 6's axis from joint 4's, along joint 5's axis
constexpr double kToolOffset = 0.1035;  // tool point along joint 6's axis

// The degree of the chain's joint-6 polynomial: no pose has more solutions.
constexpr size_t kMaxSolutions = 16;

struct Pose {
  Eigen::Matrix3d rotation;
  Eigen::Vector3d position;
};

// Cosine and sine of every joint angle: all the forward kinematics needs.
struct JointTrig {
  std::array<double, 6> c, s;
};
JointTrig trigOf(const Joints& q);

// Tool pose of a joint vector.
Pose forwardKinematics(const Joints& q);

// Position error (metres) and rotation angle error (radians) of a pose against a target.
struct PoseError {
  double position;
  double rotation;
};
PoseError poseError(const Pose& reached, const Pose& target);

// Newton steps on the forward kinematics from q, whose cosines and sines are
// trig, towards the target; true when the pose is reproduced within 1e-10 in
// position and rotation.
bool polish(const Pose& target, Joints& q, JointTrig trig);

}  // namespace rev5u800
}  // namespace internal
}  // namespace bramlock
