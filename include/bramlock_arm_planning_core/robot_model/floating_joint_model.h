#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/robot_model/joint_model.h"

namespace moveit {
namespace core {

// Free rigid motion: trans_x, trans_y, trans_z and the rotation quaternion rot_x .. rot_w.
class BRAMLOCK_EXPORT FloatingJointModel : public JointModel {
 public:
  FloatingJointModel(const std::string& name, size_t joint_index, size_t first_variable_index);

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

  double distanceTranslation(const double* a, const double* b) const;
  double distanceRotation(const double* a, const double* b) const;
  // Brings the quaternion to unit length; a zero quaternion becomes the identity.
  bool normalizeRotation(double* values) const;

  double getAngularDistanceWeight() const { return angular_distance_weight_; }
  void setAngularDistanceWeight(double weight) { angular_distance_weight_ = weight; }

 private:
  double angular_distance_weight_ = 1.0;
};

}  // namespace core
}  // namespace moveit
