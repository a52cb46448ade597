#pragma once

#include <vector>

#include <Eigen/Dense>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/kinematics/robot_type.h"

// The contract every arm's kinematics class fulfils. An object holds its arm's
// robot type and MDH table (zd, xa, alpha, qzero: one value per joint; the MDH
// angle of joint i is q[i] + qzero[i]). It is usable after a successful
// setMdhPara; before that its tables hold zeros.
//
// Poses are 4x4 homogeneous matrices (at least 3x4 is read); joint vectors hold
// radians in joint order. Operations that read a pose smaller than 3x4 or a
// joint vector shorter than the axis count throw std::invalid_argument. An
// inverse form given a pose holding NaN or infinity returns its class's
// failure code, and so does a form that reads its reference when that holds
// them; a form that does not read ref_q (the all-solutions form of the 5-axis
// arm, for one) answers for the pose alone. No form reports success with a
// value that is not finite.
// Objects keep buffers between calls: one caller at a time.
class BRAMLOCK_EXPORT KinematicsInterface {
 public:
  KinematicsInterface() = default;

  // 0 stored; -1 a table does not hold axis_num values or holds NaN or
  // infinity; -2 the alphas do not match the robot type (within pi/20, NaN
  // matches nothing). On -1 and -2 the previous table stays.
  virtual int setMdhPara(std::vector<double> zds, std::vector<double> xas, std::vector<double> alphas,
                         std::vector<double> qzeros) = 0;
  // Pose of the class's end frame in the base frame.
  virtual Eigen::MatrixXd forwardKinematics(std::vector<double> q) = 0;
  // One solution for T, chosen with respect to ref_q; 0 on success.
  virtual int inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q, std::vector<double>& q) = 0;
  // The solution of the configuration selected by the flags in arm_config; 0 on success.
  virtual int inverseKinematics(Eigen::MatrixXd T, int* arm_config, std::vector<double>& q) = 0;
  // One solution chosen by the class's own rule; 0 on success.
  virtual int inverseKinematics(Eigen::MatrixXd T, std::vector<double>& q) = 0;
  // The solutions the class finds; 0 on success.
  virtual int inverseKinematics(Eigen::MatrixXd T, std::vector<std::vector<double>>& solutions) = 0;
  // As the all-solutions form, optionally seeded with ref_q.
  virtual int inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q,
                                std::vector<std::vector<double>>& solutions) = 0;
  // A conditioning measure of the Jacobian at q; 0 on success. Classes without
  // one return 0 and leave min_eigenvalue unwritten: callers must not read it then.
  virtual int getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue) = 0;

  virtual ~KinematicsInterface() = default;

  RobotType getRobotType();
  // Prints "robot type->axis num:N,alpha_sequence:[a,b,...,]".
  void printRobotType();
  // Equal when the axis counts match and every alpha differs by at most pi/20;
  // prints the reason when the sequences differ.
  static bool checkRobotTypeEqual(RobotType a, RobotType b);
  // Element-wise equality within pi/20; prints the reason when they differ.
  static bool checkVectorEqual(std::vector<double> a, std::vector<double> b);
  // Turns the modified-DH table into standard DH: xa and alpha move one place left.
  void convertFromMdhToSdh();

  RobotType robot_type;
  std::vector<double> zd;
  std::vector<double> xa;
  std::vector<double> alpha;
  std::vector<double> qzero;

 protected:
  // Sets the robot type and sizes the four tables to the axis count (zeros).
  void initRobotType(const std::vector<double>& alpha_sequence);
  // Checks the table against the robot type (messages, -1 / -2) and stores it; 0 when stored.
  int storeMdhTable(std::vector<double>& zds, std::vector<double>& xas, std::vector<double>& alphas,
                    std::vector<double>& qzeros);
  // One "%d(zd xa alpha qzero)=(...)" line per joint.
  void printMdhTable() const;
  // Throw std::invalid_argument for joint vectors shorter than the axis count
  // and poses smaller than 3x4.
  void requireJointValues(const std::vector<double>& q) const;
  static void requirePose(const Eigen::MatrixXd& T);
};
