#pragma once

#include <array>
#include <vector>

#include <Eigen/Dense>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/kinematics/kinematics_interface.h"

// Kinematics of the 6-axis RML63-B arm over its modified-DH chain: forward
// kinematics that keeps every joint frame, geometric Jacobians, a singularity
// test, and an analytic inverse kinematics that returns every solution.
//
// Frames: forwardKinematics returns the tool point, 0.17 beyond the sixth
// joint frame along its z axis, while the inverse kinematics solves for the
// sixth joint frame itself. A pose from forwardKinematics must therefore be
// moved back by 0.17 along its z axis (T * TransZ(-0.17)) before it is solved.
//
// The inverse kinematics reads d1, d4, d6, a1 (xa[1]), a2, a3 and the zero
// angles, and holds for this arm's alphas with xa[0] = xa[4] = xa[5] = 0 and
// zd[1] = zd[2] = zd[4] = 0. Joint vectors must hold six values (the Jacobian
// at q: one to six) and poses at least 3x4; otherwise std::invalid_argument.
class BRAMLOCK_EXPORT Rml63BKinematics : public KinematicsInterface {
 public:
  Rml63BKinematics();

  // Stores the table, logs a banner and prints it.
  int setMdhPara(std::vector<double> zds, std::vector<double> xas, std::vector<double> alphas,
                 std::vector<double> qzeros) override;
  // Pose of the tool point; also keeps every joint frame for computeJacobian().
  Eigen::MatrixXd forwardKinematics(std::vector<double> q) override;
  // Not provided: return -1 and leave q untouched.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q, std::vector<double>& q) override;
  int inverseKinematics(Eigen::MatrixXd T, int* arm_config, std::vector<double>& q) override;
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double>& q) override;
  // Every solution for the sixth joint frame at T, each value in [-pi, pi],
  // and after each solution whose sixth value is not 0 a twin with that value
  // moved by 2pi (so up to 16). Order: base angle atan2(wy, wx) then the
  // opposite one; per base angle the two elbow branches; per arm the two wrist
  // flips. The list is cleared first. Results: 0; -31 the wrist centre lies on
  // the base axis; -32 a wrist angle below 1e-4 ("q5 is zero, singular");
  // -1 no solution. Prints its working on standard output and logs the list.
  // A pose holding NaN or infinity gives -1 before the list is cleared.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<std::vector<double>>& solutions) override;
  // The all-solutions form; ref_q is not used.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q,
                        std::vector<std::vector<double>>& solutions) override;
  // No conditioning measure: returns 0 and leaves min_eigenvalue unwritten.
  int getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue) override;

  // 6x6 Jacobian of the frames of the last forwardKinematics (zeros before the
  // first), linear rows for the origin of the fourth joint frame (the wrist centre).
  void computeJacobian();
  Eigen::MatrixXd getJacobian();
  // 6xn Jacobian at the first n joints (n = q.size(), 1 to 6), without the tool:
  // linear rows z_i x p_i, angular rows z_i.
  Eigen::MatrixXd computeJacobian(const std::vector<double>& q);
  // True when the smallest singular value of computeJacobian(q) is below
  // threshold; then, for six values, logs q and that value.
  bool isSingular(const std::vector<double>& q, double threshold);
  // False when a value is NaN or infinite; an empty vector is valid.
  bool checkVectorDoubleValid(std::vector<double> v) const;
  Eigen::MatrixXd get_a_mdh_transform(double d, double a, double cos_alpha, double sin_alpha, double cos_theta,
                                      double sin_theta);
  Eigen::MatrixXd get_a_transform(double d, double a, double cos_alpha, double sin_alpha, double cos_theta,
                                  double sin_theta);

 private:
  using ArmSolution = std::array<double, 3>;  // joint values of the first three joints

  // The arm's joints 1 to 3 for the wrist centre of T (up to four).
  std::vector<ArmSolution> solveArm(const Eigen::Matrix4d& T, const Eigen::Vector3d& wrist) const;
  void printArmCheck(const std::vector<ArmSolution>& arms, const Eigen::Vector3d& wrist) const;
  // Appends the wrist flips of every arm solution; -32 at a singular wrist, else 0.
  int solveWrist(const Eigen::Matrix4d& T, const std::vector<ArmSolution>& arms,
                 std::vector<std::vector<double>>& found) const;

  static constexpr int dof_ = 6;
  static constexpr double tool_length_ = 0.17;

  Eigen::MatrixXd jacobian_ = Eigen::MatrixXd::Zero(6, dof_);
  std::array<double, dof_> cos_alpha_{};
  std::array<double, dof_> sin_alpha_{};
  // Entry 0 is the base frame, entry i + 1 joint i's frame after the last
  // forwardKinematics (entry 6 holds the tool point's origin).
  std::vector<Eigen::Vector3d> z_axes_;
  std::vector<Eigen::Vector3d> origins_;
  std::array<int, dof_> joint_types_{1, 1, 1, 1, 1, 1};  // 1 revolute, else prismatic
};
