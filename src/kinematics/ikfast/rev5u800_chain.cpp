#include "rev5u800_chain.h"

#include <cmath>

#include "common/rotation_math.h"

namespace bramlock {
namespace internal {
namespace rev5u800 {
namespace {

// Every frame of the chain that the Jacobian needs: joint axes and points on them.
struct ChainFrames {
  std::array<Eigen::Vector3d, 6> axes;
  std::array<Eigen::Vector3d, 6> points;
  Pose tool;
};

// r turned about its own z or y axis: only two columns change, so this spares
// a full matrix product.
Eigen::Matrix3d turnedAboutZ(const Eigen::Matrix3d& r, double c, double s) {
  Eigen::Matrix3d m;
  m.col(0) = c * r.col(0) + s * r.col(1);
  m.col(1) = c * r.col(1) - s * r.col(0);
  m.col(2) = r.col(2);
  return m;
}

Eigen::Matrix3d turnedAboutY(const Eigen::Matrix3d& r, double c, double s) {
  Eigen::Matrix3d m;
  m.col(0) = c * r.col(0) - s * r.col(2);
  m.col(1) = r.col(1);
  m.col(2) = c * r.col(2) + s * r.col(0);
  return m;
}

// Joints 3 and 5 turn about -y.
ChainFrames chainFrames(const JointTrig& t) {
  ChainFrames f;
  const Eigen::Matrix3d r1 = turnedAboutZ(Eigen::Matrix3d::Identity(), t.c[0], t.s[0]);
  const Eigen::Matrix3d r2 = turnedAboutY(r1, t.c[1], t.s[1]);
  const Eigen::Matrix3d r3 = turnedAboutY(r2, t.c[2], -t.s[2]);
  const Eigen::Matrix3d r4 = turnedAboutZ(r3, t.c[3], t.s[3]);
  const Eigen::Matrix3d r5 = turnedAboutY(r4, t.c[4], -t.s[4]);
  f.points[0] = Eigen::Vector3d::Zero();
  f.points[1] = Eigen::Vector3d(0, 0, kBaseHeight);
  f.points[2] = f.points[1] + kUpperArmX * r2.col(0) + kUpperArmZ * r2.col(2);
  f.points[3] = f.points[2] + kForearmX * r3.col(0);
  f.points[4] = f.points[3] + kForearmZ * r4.col(2);
  f.tool.position = f.points[4] + kWristOffset * r5.col(1) + kToolOffset * r5.col(2);
  f.points[5] = f.tool.position;
  f.axes[0] = Eigen::Vector3d::UnitZ();
  f.axes[1] = r1.col(1);
  f.axes[2] = -r2.col(1);
  f.axes[3] = r3.col(2);
  f.axes[4] = -r4.col(1);
  f.axes[5] = r5.col(2);
  f.tool.rotation = turnedAboutZ(r5, t.c[5], t.s[5]);
  return f;
}

// Geometric Jacobian at the tool point: rows 0-2 its linear velocity, rows 3-5
// the angular velocity, both in the base frame.
Eigen::Matrix<double, 6, 6> jacobianOf(const ChainFrames& f) {
  Eigen::Matrix<double, 6, 6> j;
  for (int i = 0; i < 6; ++i) {
    j.block<3, 1>(0, i) = f.axes[i].cross(f.tool.position - f.points[i]);
    j.block<3, 1>(3, i) = f.axes[i];
  }
  return j;
}

// Starts further off than this are not near a solution: Newton would wander.
constexpr double kNearSolution = 1e-3;
// Already two orders inside the accepted error: a Newton step would change nothing a caller sees.
constexpr double kConverged = 1e-12;
constexpr double kAccepted = 1e-10;
constexpr int kMaxNewtonSteps = 10;

}  // namespace

JointTrig trigOf(const Joints& q) {
  JointTrig t;
  for (int i = 0; i < 6; ++i) {
    t.c[i] = std::cos(q[i]);
    t.s[i] = std::sin(q[i]);
  }
  return t;
}

Pose forwardKinematics(const Joints& q) { return chainFrames(trigOf(q)).tool; }

PoseError poseError(const Pose& reached, const Pose& target) {
  return {(target.position - reached.position).norm(),
          bramlock::internal::rotation_math::rotationAngle(target.rotation * reached.rotation.transpose())};
}

bool polish(const Pose& target, Joints& q, JointTrig trig) {
  for (int step = 0;; ++step) {
    const ChainFrames f = chainFrames(trig);
    const PoseError error = poseError(f.tool, target);
    if (!(error.position <= kNearSolution && error.rotation <= kNearSolution)) return false;
    if ((error.position <= kConverged && error.rotation <= kConverged) || step == kMaxNewtonSteps) {
      return error.position <= kAccepted && error.rotation <= kAccepted;
    }
    Eigen::Matrix<double, 6, 1> e;
    e.head<3>() = target.position - f.tool.position;
    e.tail<3>() = bramlock::internal::rotation_math::rotationVector(target.rotation * f.tool.rotation.transpose());
    const Eigen::Matrix<double, 6, 1> dq = jacobianOf(f).partialPivLu().solve(e);
    if (!dq.allFinite()) return false;
    for (int i = 0; i < 6; ++i) q[i] += dq[i];
    trig = trigOf(q);
  }
}

}  // namespace rev5u800
}  // namespace internal
}  // namespace bramlock
