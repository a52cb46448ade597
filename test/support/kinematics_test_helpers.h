#pragma once

#include <cmath>
#include <random>
#include <vector>

#include <Eigen/Dense>
#include <kdl/chain.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/jntarray.hpp>

namespace kinematics_test {

struct MdhTable {
  std::vector<double> zd, xa, alpha, qzero;
};

inline std::vector<double> randomJoints(std::mt19937& rng, size_t count, double range = M_PI) {
  std::uniform_real_distribution<double> uniform(-range, range);
  std::vector<double> q(count);
  for (double& value : q) value = uniform(rng);
  return q;
}

// Largest difference of the rotation and translation entries.
inline double poseError(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
  return (a.topRows(3) - b.topRows(3)).cwiseAbs().maxCoeff();
}

// Largest per-joint difference once whole turns are removed.
inline double angleDistance(const std::vector<double>& a, const std::vector<double>& b) {
  double largest = 0.0;
  for (size_t i = 0; i < a.size(); ++i) {
    largest = std::max(largest, std::fabs(std::remainder(a[i] - b[i], 2 * M_PI)));
  }
  return largest;
}

inline bool containsModTwoPi(const std::vector<std::vector<double>>& solutions, const std::vector<double>& q,
                             double tolerance = 1e-8) {
  for (const auto& solution : solutions) {
    if (angleDistance(solution, q) < tolerance) return true;
  }
  return false;
}

inline Eigen::MatrixXd transZ(double distance) {
  Eigen::MatrixXd T = Eigen::MatrixXd::Identity(4, 4);
  T(2, 3) = distance;
  return T;
}

// Geometric Jacobian (linear rows 0-2, angular rows 3-5, at the end frame's
// origin) of a forward-kinematics function by central differences.
template <typename ForwardKinematics>
Eigen::MatrixXd numericJacobian(ForwardKinematics forward, const std::vector<double>& q, double step = 1e-6) {
  Eigen::MatrixXd J(6, q.size());
  const Eigen::MatrixXd T = forward(q);
  for (size_t i = 0; i < q.size(); ++i) {
    std::vector<double> plus = q, minus = q;
    plus[i] += step;
    minus[i] -= step;
    const Eigen::MatrixXd dT = (forward(plus) - forward(minus)) / (2 * step);
    const Eigen::Matrix3d omega = dT.topLeftCorner(3, 3) * T.topLeftCorner(3, 3).transpose();
    J.block<3, 1>(0, i) = dT.block<3, 1>(0, 3);
    J.block<3, 1>(3, i) = Eigen::Vector3d(omega(2, 1), omega(0, 2), omega(1, 0));
  }
  return J;
}

// Smallest singular value of a matrix. Defined once in its own source file:
// the SVD template is expensive to compile in every test file.
double smallestSingularValue(const Eigen::MatrixXd& matrix);

// Smallest singular value of the numeric Jacobian: how far q is from a singularity.
template <typename ForwardKinematics>
double distanceFromSingularity(ForwardKinematics forward, const std::vector<double>& q) {
  return smallestSingularValue(numericJacobian(forward, q));
}

// The same MDH table as a KDL chain: segment i turns about z by q[i], then
// moves d[i] along z and on by the next joint's twist, length and zero angle
// (this KDL does not apply joint offsets).
inline KDL::Chain mdhChain(const MdhTable& table) {
  KDL::Chain chain;
  auto twistAndLength = [&table](size_t i) {
    return KDL::Frame(KDL::Rotation::RotX(table.alpha[i]), KDL::Vector(table.xa[i], 0, 0)) *
           KDL::Frame(KDL::Rotation::RotZ(table.qzero[i]));
  };
  chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::None), twistAndLength(0)));
  for (size_t i = 0; i < table.zd.size(); ++i) {
    KDL::Frame tip(KDL::Vector(0, 0, table.zd[i]));
    if (i + 1 < table.zd.size()) tip = tip * twistAndLength(i + 1);
    chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ), tip));
  }
  return chain;
}

inline Eigen::MatrixXd kdlPose(const KDL::Chain& chain, const std::vector<double>& q) {
  KDL::ChainFkSolverPos_recursive solver(chain);
  KDL::JntArray joints(q.size());
  for (size_t i = 0; i < q.size(); ++i) joints(i) = q[i];
  KDL::Frame frame;
  solver.JntToCart(joints, frame);
  Eigen::MatrixXd T = Eigen::MatrixXd::Identity(4, 4);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) T(r, c) = frame.M(r, c);
    T(r, 3) = frame.p(r);
  }
  return T;
}

}  // namespace kinematics_test
