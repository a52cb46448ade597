#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/robot_model/joint_model.h"

namespace moveit {
namespace core {

// Motion in the x-y plane: x, y and the heading theta.
class BRAMLOCK_EXPORT PlanarJointModel : public JointModel {
 public:
  enum MotionModel : int { HOLONOMIC = 0, DIFF_DRIVE = 1 };

  PlanarJointModel(const std::string& name, size_t joint_index, size_t first_variable_index);

  void getVariableDefaultPositions(double* values, const Bounds& bounds) const override;
  void getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng, double* values,
                                  const Bounds& bounds) const override;
  void getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                        const Bounds& bounds, const double* near, double distance) const override;
  bool satisfiesPositionBounds(const double* values, const Bounds& bounds, double margin) const override;
  bool enforcePositionBounds(double* values, const Bounds& bounds) const override;
  double distance(const double* a, const double* b) const override;
  unsigned int getStateSpaceDimension() const override;
  void interpolate(const double* from, const double* to, double t, double* state) const override;
  double getMaximumExtent(const Bounds& bounds) const override;
  void computeTransform(const double* joint_values, Eigen::Isometry3d& transform) const override;
  void computeVariablePositions(const Eigen::Isometry3d& transform, double* joint_values) const override;

  // Brings theta into [-pi, pi].
  bool normalizeRotation(double* values) const;

  double getAngularDistanceWeight() const { return angular_distance_weight_; }
  void setAngularDistanceWeight(double weight) { angular_distance_weight_ = weight; }
  MotionModel getMotionModel() const { return motion_model_; }
  void setMotionModel(MotionModel model) { motion_model_ = model; }
  double getMinTranslationalDistance() const { return min_translational_distance_; }
  void setMinTranslationalDistance(double distance) { min_translational_distance_ = distance; }

 private:
  void interpolateDiffDrive(const double* from, const double* to, double t, double* state) const;

  double angular_distance_weight_ = 1.0;
  MotionModel motion_model_ = HOLONOMIC;
  double min_translational_distance_ = 1e-5;
};

// Turn on the spot, drive straight, turn on the spot: the geometry of a
// differential-drive move between two (x, y, theta) poses, driving forwards
// or backwards, whichever turns less.
BRAMLOCK_EXPORT void computeTurnDriveTurnGeometry(const double* from, const double* to,
                                                  double min_translational_distance, double& dx, double& dy,
                                                  double& initial_turn, double& drive_angle, double& final_turn);

}  // namespace core
}  // namespace moveit
