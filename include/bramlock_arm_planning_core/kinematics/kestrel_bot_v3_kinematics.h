#pragma once

#include <array>
#include <cmath>
#include <vector>

#include <Eigen/Dense>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/kinematics/kinematics_interface.h"

// Kinematics of the 5-axis KestrelBot V3 arm: modified-DH forward kinematics of
// the fifth joint frame and a closed-form inverse kinematics with up to four
// solutions, chosen by two flags: arm_config[0] = 1 puts the base angle in
// [-pi/2, pi/2] (front), any other value on the back; arm_config[1] = 1 takes
// the elbow branch asin(k), any other value pi - asin(k).
//
// The closed form reads d1, d5 and a2 to a5 and holds for this arm's alphas
// with a1 = d2 = d3 = d4 = 0. Solutions are the closed-form angles plus each
// joint's offset {0, pi/2, pi/2, 0, 0} minus its zero angle; they are not wrapped.
// Results: 0 solved; -1 elbow angle below 0.0004 in magnitude ("j3 singularity
// error!!!"); -10 a value that is not a finite number ("inverseKinematics not a
// number!!!!") for these poses: one holding NaN or infinity; a position on the
// base axis (px = py = 0, which gives no base angle); and a position out of
// reach, whose wrist centre (the position moved back by d5 along the pose's z
// axis and by a5 along cos(t5) x - sin(t5) y, t5 the fifth angle) lies, in the
// arm plane, at a distance from the second joint's axis outside the elbow band
// [||a3| - |a4||, |a3| + |a4|].
// A null flag array gives -1.
//
// The orientation is not checked: five joints cannot take every orientation,
// and for one they cannot take the answer is still 0 with the closed form's
// angles, whose forward kinematics differs from the pose. Callers that may
// pass poses off the arm's reach compare forwardKinematics of the answer with
// the pose.
class BRAMLOCK_EXPORT KestrelBotV3Kinematics : public KinematicsInterface {
 public:
  KestrelBotV3Kinematics();

  int setMdhPara(std::vector<double> zds, std::vector<double> xas, std::vector<double> alphas,
                 std::vector<double> qzeros) override;
  // Pose of the fifth joint frame; reads the first five values of q.
  Eigen::MatrixXd forwardKinematics(std::vector<double> q) override;
  // Not provided: returns -1 and leaves q untouched.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q, std::vector<double>& q) override;
  // The solution of the two flags; 0, -1 or -10, q untouched unless 0.
  int inverseKinematics(Eigen::MatrixXd T, int* arm_config, std::vector<double>& q) override;
  // Not provided: returns -1 and leaves q untouched.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double>& q) override;
  // Clears the list and appends the solutions of the flag pairs (0,0), (1,0),
  // (1,1), (0,1) that succeed; 0 (a position out of reach leaves the list
  // empty; an orientation out of reach does not, see above), or -10 with the
  // list untouched for a pose holding NaN or infinity.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<std::vector<double>>& solutions) override;
  // The all-solutions form; ref_q is not read, so one holding NaN or infinity
  // is not refused.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q,
                        std::vector<std::vector<double>>& solutions) override;
  // No conditioning measure: returns 0 and leaves min_eigenvalue unwritten.
  int getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue) override;

  // False when a value is NaN or infinite; an empty vector is valid.
  bool checkVectorDoubleValid(std::vector<double> v);
  // Modified-DH link matrix RotX(alpha) * TransX(a) * RotZ(theta) * TransZ(d).
  Eigen::MatrixXd get_a_mdh_transform(double d, double a, double cos_alpha, double sin_alpha, double cos_theta,
                                      double sin_theta);
  // Standard-DH link matrix RotZ(theta) * TransZ(d) * TransX(a) * RotX(alpha).
  Eigen::MatrixXd get_a_transform(double d, double a, double cos_alpha, double sin_alpha, double cos_theta,
                                  double sin_theta);

 private:
  using JointArray = std::array<double, 5>;

  // Base angle of the front (flag 1) or back half-plane.
  static double baseAngle(const Eigen::MatrixXd& T, bool front);

  Eigen::MatrixXd pose_ = Eigen::MatrixXd::Identity(4, 4);
  JointArray cos_alpha_{};
  JointArray sin_alpha_{};
  double singular_threshold_ = 0.0004;
  JointArray joint_offset_{0.0, M_PI_2, M_PI_2, 0.0, 0.0};
  JointArray offset_minus_zero_{};
};
