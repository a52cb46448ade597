#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/robot_model/joint_model.h"

namespace moveit {
namespace core {

// One rotation about a unit axis; a continuous joint wraps into (-pi, pi].
class BRAMLOCK_EXPORT RevoluteJointModel : public JointModel {
 public:
  RevoluteJointModel(const std::string& name, size_t joint_index, size_t first_variable_index);

  void getVariableDefaultPositions(double* values, const Bounds& bounds) const override;
  void getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng, double* values,
                                  const Bounds& bounds) const override;
  void getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                        const Bounds& bounds, const double* near, double distance) const override;
  bool satisfiesPositionBounds(const double* values, const Bounds& bounds, double margin) const override;
  bool enforcePositionBounds(double* values, const Bounds& bounds) const override;
  bool harmonizePosition(double* values, const Bounds& bounds) const override;
  double distance(const double* a, const double* b) const override;
  unsigned int getStateSpaceDimension() const override;
  void interpolate(const double* from, const double* to, double t, double* state) const override;
  double getMaximumExtent(const Bounds& bounds) const override;
  void computeTransform(const double* joint_values, Eigen::Isometry3d& transform) const override;
  void computeVariablePositions(const Eigen::Isometry3d& transform, double* joint_values) const override;

  const Eigen::Vector3d& getAxis() const { return axis_; }
  // Normalises the axis; a zero axis would give no rotation at all, so it is
  // reported and replaced by (1, 0, 0).
  void setAxis(const Eigen::Vector3d& axis);
  bool isContinuous() const { return continuous_; }
  void setContinuous(bool flag);

 private:
  Eigen::Vector3d axis_ = Eigen::Vector3d::Zero();
  bool continuous_ = false;
  // Axis component products, kept for computeTransform.
  double x2_ = 0.0, y2_ = 0.0, z2_ = 0.0, xy_ = 0.0, xz_ = 0.0, yz_ = 0.0;
};

}  // namespace core
}  // namespace moveit
