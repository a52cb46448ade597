#pragma once

#include <vector>

#include <Eigen/Dense>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_solver.h"
#include "bramlock_arm_planning_core/kinematics/inverse_kinematics_solver.h"
#include "bramlock_arm_planning_core/kinematics/kinematics_interface.h"

// Kinematics of the 6-axis REV5-U800 arm. Forward and numeric inverse
// kinematics run on the KDL chain of the arm URDF (InverseKinematicsSolver),
// which setMdhPara loads; the all-solutions form with a reference starts from
// the closed-form solver and refines every candidate numerically. Poses are
// 4x4 transforms of link6 in base_link, in metres.
//
// Inverse kinematics results: 0 solved, -1 not solved. Slots 2, 5 and 6 also
// return -1, with their output emptied, when T is not 4x4 or the reference
// holds fewer than six values, or either holds a value that is not finite. The object holds solvers that refer to its
// KDL chain, so it is neither copied nor moved.
class BRAMLOCK_EXPORT Rev5U800Kinematics : public KinematicsInterface {
 public:
  Rev5U800Kinematics();
  Rev5U800Kinematics(const Rev5U800Kinematics&) = delete;
  Rev5U800Kinematics& operator=(const Rev5U800Kinematics&) = delete;
  Rev5U800Kinematics(Rev5U800Kinematics&&) = delete;
  Rev5U800Kinematics& operator=(Rev5U800Kinematics&&) = delete;

  // Stores the table, prints it and reloads the numeric solver's URDF (which
  // throws when bramlock_arm_description is not installed).
  int setMdhPara(std::vector<double> zds, std::vector<double> xas, std::vector<double> alphas,
                 std::vector<double> qzeros) override;
  // Pose of link6 for the first six values of q (fewer throw std::invalid_argument).
  // An empty (0x0) matrix when there is no chain to compute it on: before
  // setMdhPara or after a failed URDF load.
  Eigen::MatrixXd forwardKinematics(std::vector<double> q) override;
  // One numeric solve seeded with ref_q; q is emptied first.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q, std::vector<double>& q) override;
  // Not provided: -1, q untouched.
  int inverseKinematics(Eigen::MatrixXd T, int* arm_config, std::vector<double>& q) override;
  // Not provided: -1, q untouched.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double>& q) override;
  // Clears the list and appends every numeric solve from eight fixed seeds that
  // succeeds (duplicates kept, values not wrapped).
  int inverseKinematics(Eigen::MatrixXd T, std::vector<std::vector<double>>& solutions) override;
  // Clears the list; the closed-form solutions, then ref_q, then zeros each
  // seed one numeric solve; solutions within 0.01 rad in every joint of an
  // earlier one are dropped.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q,
                        std::vector<std::vector<double>>& solutions) override;
  // Smallest singular value of the chain Jacobian at q; -1 (value untouched)
  // when q does not hold one value per joint or there is no chain.
  int getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue) override;

  // True when the smallest singular value at q is below threshold; a failed
  // measure counts as not singular.
  bool isSingular(const std::vector<double>& q, double threshold);
  // True when q reaches T within the numeric solver's position and rotation bounds.
  bool checkInverseKkinematics(const std::vector<double>& q, const Eigen::MatrixXd& T);
  // Fills the Jacobian from the joint axis and origin caches, which nothing
  // fills: they hold zeros (entry 0: axis z, origin 0), so the result is zero.
  void computeJacobian();
  // Geometric Jacobian of the last MDH frame's origin over the first
  // q.size() joints (at most six): column i = (z_i x (p_n - p_i), z_i).
  Eigen::MatrixXd computeJacobian(const std::vector<double>& q);
  // computeJacobian(), then a copy of its result.
  Eigen::MatrixXd getJacobian();
  // Modified-DH link matrix RotX(alpha) * TransX(a) * RotZ(theta) * TransZ(d).
  Eigen::MatrixXd get_a_mdh_transform(double d, double a, double cos_alpha, double sin_alpha, double cos_theta,
                                      double sin_theta);
  // Standard-DH link matrix RotZ(theta) * TransZ(d) * TransX(a) * RotX(alpha).
  Eigen::MatrixXd get_a_transform(double d, double a, double cos_alpha, double sin_alpha, double cos_theta,
                                  double sin_theta);
  // False when a value is NaN or infinite; an empty vector is valid.
  bool checkVectorDoubleValid(std::vector<double> v) const;

 private:
  // Appends the numeric solve of T from seed to solutions when it succeeds.
  void appendNumericSolve(const Eigen::Matrix4d& T, const std::vector<double>& seed,
                          std::vector<std::vector<double>>& solutions);

  int dof_ = 6;
  std::vector<double> cos_alpha_;
  std::vector<double> sin_alpha_;
  std::vector<Eigen::Vector3d> z_axes_;
  std::vector<Eigen::Vector3d> origins_;
  Eigen::MatrixXd jacobian_;
  std::vector<int> joint_types_ = std::vector<int>(6, 1);  // 1 revolute, otherwise prismatic
  InverseKinematicsSolver ik_solver_;
  IkfastSolver ikfast_solver_;
};
