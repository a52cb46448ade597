#pragma once

#include <array>
#include <cmath>
#include <vector>

#include <Eigen/Dense>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/kinematics/kinematics_interface.h"

// Kinematics of the 6-axis Realman arm: the MDH table is turned into standard
// DH, forward kinematics is a product of standard-DH link matrices, and the
// inverse kinematics is closed-form in one of eight configurations chosen by
// three flags (shoulder, elbow, wrist; a flag counts as set only when it is 1).
//
// The closed form reads d1, d3, d4, d6 and a1, a2, a3 of the standard-DH table
// and assumes d2 = d5 = 0 and a4 = a5 = a6 = 0. Solutions are the closed-form
// angles plus each joint's offset {0, pi/2, 0, 0, 0, 0} minus its zero angle;
// they are not wrapped.
//
// Inverse-kinematics results: 0 solved; 1001 wrist centre too close to the
// shoulder axis; 1002 elbow stretched or folded; 1003 wrist angle too small;
// 1004 orientation not reachable; 1005 joint 6 not within pi of the reference;
// -1 no configuration solved. Each code prints its message on standard output.
// A pose or reference holding NaN or infinity, or a null flag array, gives -1
// silently with the outputs untouched.
class BRAMLOCK_EXPORT RealmanKinematics : public KinematicsInterface {
 public:
  RealmanKinematics();

  // Stores the table, converts it to standard DH and prints it.
  int setMdhPara(std::vector<double> zds, std::vector<double> xas, std::vector<double> alphas,
                 std::vector<double> qzeros) override;
  // Pose of the flange.
  Eigen::MatrixXd forwardKinematics(std::vector<double> q) override;
  // Closed form in the configuration of ref_q (get_arm_type), joint 6 brought
  // within pi of ref_q[5]. ref_q is read in the convention whose zero angles
  // are {0, pi/2, pi/2, 0, 0, 0}: only with that table does a returned solution,
  // used as reference, select its own configuration again.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q, std::vector<double>& q) override;
  // Closed form for three flags (shoulder, elbow, wrist); 0 or 1001 to 1004.
  int inverseKinematics(Eigen::MatrixXd T, int* arm_config, std::vector<double>& q) override;
  // The best of the eight configurations: smallest |q2| + |q3| (within 0.01),
  // then smallest |q1|, then smallest |q4|; 0 or -1.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double>& q) override;
  // Clears the list and appends every configuration that solves, in flag order
  // (0,0,0), (0,0,1), ..., (1,1,1); 0 or -1.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<std::vector<double>>& solutions) override;
  // The all-solutions form; ref_q is not used.
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q,
                        std::vector<std::vector<double>>& solutions) override;
  // No conditioning measure: returns 0 and leaves min_eigenvalue unwritten.
  int getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue) override;

  // Writes four flags of q: shoulder (1 / -1), elbow (-1 when q[2] >= 0, else 1),
  // wrist (1 when q[4] >= 0, else -1), and 1 / -1 / 0 when q[5] >= pi / <= -pi / between.
  // Writes nothing through a null pointer.
  void get_arm_type(std::vector<double> q, int* flags);
  // Thresholds of the 1001, 1002 and 1003 tests. A wrist threshold of 0 or less
  // lets a singular wrist through with the wrist angle 0 (or +-pi when folded).
  void set_singular_threshold(double overhead, double j3, double j5);
  // Closed-form pose of six closed-form angles (no offsets added); also kept in the pose buffer.
  Eigen::MatrixXd forward_kinematics(double* q);
  // Standard-DH link matrix.
  Eigen::MatrixXd get_a_transform(double d, double a, double cos_alpha, double sin_alpha, double cos_theta,
                                  double sin_theta);

 private:
  using Angles = std::array<double, 6>;

  // Steps shared by every inverse form: the closed-form angles of one configuration.
  int solveConfiguration(const Eigen::MatrixXd& T, bool shoulder, bool elbow, bool wrist, Angles& theta) const;
  // q = offset minus zero angle + theta.
  void writeJointValues(const Angles& theta, std::vector<double>& q) const;
  // Solutions of the eight flag combinations, each printed as it is found.
  void collectConfigurations(const Eigen::MatrixXd& T, std::vector<std::vector<double>>& solutions);

  double overhead_threshold_ = 0.0025;
  double j3_threshold_ = 0.0004;
  double j5_threshold_ = 0.0005;
  Eigen::MatrixXd pose_ = Eigen::MatrixXd::Identity(4, 4);
  Angles cos_alpha_{};
  Angles sin_alpha_{};
  Angles joint_offset_{0.0, M_PI_2, 0.0, 0.0, 0.0, 0.0};
  Angles offset_minus_zero_{};
};
