#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/robot_model/joint_model.h"

namespace moveit {
namespace core {

// One translation along an axis (the URDF axis as given).
class BRAMLOCK_EXPORT PrismaticJointModel : public JointModel {
 public:
  PrismaticJointModel(const std::string& name, size_t joint_index, size_t first_variable_index);

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

  const Eigen::Vector3d& getAxis() const { return axis_; }
  void setAxis(const Eigen::Vector3d& axis) { axis_ = axis; }

 private:
  Eigen::Vector3d axis_ = Eigen::Vector3d::Zero();
};

}  // namespace core
}  // namespace moveit
