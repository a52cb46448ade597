#pragma once

#include <memory>
#include <vector>

#include <Eigen/Dense>
#include <kdl/chain.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/chainiksolverpos_lma.hpp>

#include "bramlock_arm_planning_core/export.h"

// Numeric kinematics of the REV5-U800 arm on a KDL chain "base_link" ->
// "link6" loaded from the arm URDF below the share directory of
// bramlock_arm_description. Poses are 4x4 transforms of link6 in base_link.
// Usable after updateMDH; the solvers keep work buffers (one caller at a time)
// and references to the chain, so the object is neither copied nor moved.
class BRAMLOCK_EXPORT InverseKinematicsSolver {
 public:
  InverseKinematicsSolver() = default;
  ~InverseKinematicsSolver();
  InverseKinematicsSolver(const InverseKinematicsSolver&) = delete;
  InverseKinematicsSolver& operator=(const InverseKinematicsSolver&) = delete;
  InverseKinematicsSolver(InverseKinematicsSolver&&) = delete;
  InverseKinematicsSolver& operator=(InverseKinematicsSolver&&) = delete;

  // Reloads the URDF and rebuilds chain and solvers; the chain, and so every
  // result, comes from the URDF, not from the table. Load failures are logged at ERROR and leave
  // a chain without joints, on which every operation below fails. Throws the
  // ament index's exception when bramlock_arm_description is not installed.
  void updateMDH(const std::vector<double>& zd, const std::vector<double>& xa, const std::vector<double>& alpha,
                 const std::vector<double>& qzero);

  // Modified DH link transform RotX(alpha) * TransX(a) * RotZ(theta) * TransZ(d).
  static Eigen::Matrix4d mdhMatrix(double alpha, double a, double d, double theta);

  // Pose of the chain tip; every entry NaN when there is no chain (failed
  // load, no updateMDH) or q holds fewer values than the chain has joints.
  Eigen::Matrix4d forwardKinematics(const Eigen::VectorXd& q);

  // Position difference T1 - T2, then the rotation vector of R1 * R2^T.
  Eigen::VectorXd poseError(const Eigen::Matrix4d& T1, const Eigen::Matrix4d& T2);

  // One Levenberg-Marquardt solve seeded with q_init; ok tells success (false
  // for fewer than six seed values, and when T, the seed or the result holds
  // a value that is not finite). Returns the solver's six values either way.
  Eigen::VectorXd inverseKinematics(const Eigen::Matrix4d& T, bool& ok, const Eigen::VectorXd& q_init);

  // Smallest singular value of a square J, else smallest eigenvalue of J^T J.
  // Throws std::invalid_argument for an empty J or one holding NaN or infinity.
  double getMinEigenvalue(const Eigen::MatrixXd& J);
  // The above for the chain Jacobian at q: 0, or -1 with min_eigenvalue
  // untouched when it cannot be computed (no chain, q not one value per chain
  // joint, or a value of q that is not finite).
  int getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue);

  // Bounds of a pose check on the position and rotation error norms.
  double posTolerance() const { return pos_tolerance_; }
  double rotTolerance() const { return rot_tolerance_; }

 private:
  double pos_tolerance_ = 0.01;
  double rot_tolerance_ = 1e-5;
  KDL::Chain chain_;
  std::shared_ptr<KDL::ChainIkSolverPos_LMA> ik_solver_;
  std::shared_ptr<KDL::ChainFkSolverPos_recursive> fk_solver_;
};

// Rotation vector (axis times angle, angle in [0, pi]) of R_b * R_a^T, in the base frame.
BRAMLOCK_EXPORT Eigen::Vector3d rotationError(const Eigen::Matrix3d& R_a, const Eigen::Matrix3d& R_b);
