#pragma once

#include <cstddef>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <Eigen/Geometry>

#include "bramlock_arm_planning_core/export.h"

namespace random_numbers {
class RandomNumberGenerator;
}

namespace moveit {
namespace core {

class LinkModel;

// Limits of one joint variable.
struct BRAMLOCK_EXPORT VariableBounds {
  double min_position_ = 0.0;
  double max_position_ = 0.0;
  bool position_bounded_ = false;
  double min_velocity_ = 0.0;
  double max_velocity_ = 0.0;
  bool velocity_bounded_ = false;
  double min_acceleration_ = 0.0;
  double max_acceleration_ = 0.0;
  bool acceleration_bounded_ = false;
  double min_jerk_ = 0.0;
  double max_jerk_ = 0.0;
  bool jerk_bounded_ = false;
};

BRAMLOCK_EXPORT std::ostream& operator<<(std::ostream& out, const VariableBounds& bounds);

// Rows of the MDH table handed to the robot model; column k belongs to "joint{k+1}".
enum MdhTableRow : std::size_t { kMdhRowZd = 0, kMdhRowXa = 1, kMdhRowQzero = 2, kMdhRowAlpha = 3, kMdhRowCount = 4 };

using MdhTable = std::vector<std::vector<double>>;

// Abstract joint of the kinematic model. Value pointers handed to the
// per-kind operations point at the joint's own first variable.
class BRAMLOCK_EXPORT JointModel {
 public:
  enum JointType : int { UNKNOWN = 0, REVOLUTE = 1, PRISMATIC = 2, PLANAR = 3, FLOATING = 4, FIXED = 5 };
  using Bounds = std::vector<VariableBounds>;

  JointModel(const std::string& name, size_t joint_index, size_t first_variable_index);
  virtual ~JointModel() = default;
  JointModel(const JointModel&) = delete;
  JointModel& operator=(const JointModel&) = delete;

  virtual void getVariableDefaultPositions(double* values, const Bounds& bounds) const = 0;
  virtual void getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng, double* values,
                                          const Bounds& bounds) const = 0;
  virtual void getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                                const Bounds& bounds, const double* near, double distance) const = 0;
  virtual bool satisfiesPositionBounds(const double* values, const Bounds& bounds, double margin) const = 0;
  virtual bool enforcePositionBounds(double* values, const Bounds& bounds) const = 0;
  virtual bool harmonizePosition(double* values, const Bounds& bounds) const;
  virtual bool satisfiesVelocityBounds(const double* values, const Bounds& bounds, double margin) const;
  virtual bool enforceVelocityBounds(double* values, const Bounds& bounds) const;
  virtual double distance(const double* a, const double* b) const = 0;
  virtual unsigned int getStateSpaceDimension() const = 0;
  virtual void interpolate(const double* from, const double* to, double t, double* state) const = 0;
  virtual double getMaximumExtent(const Bounds& bounds) const = 0;
  virtual void computeTransform(const double* joint_values, Eigen::Isometry3d& transform) const = 0;
  virtual void computeVariablePositions(const Eigen::Isometry3d& transform, double* joint_values) const = 0;

  const std::string& getName() const { return name_; }
  size_t getJointIndex() const { return joint_index_; }
  size_t getFirstVariableIndex() const { return first_variable_index_; }
  JointType getType() const { return type_; }
  std::string getTypeName() const;
  const std::vector<std::string>& getLocalVariableNames() const { return local_variable_names_; }
  const std::vector<std::string>& getVariableNames() const { return variable_names_; }
  size_t getVariableCount() const { return variable_names_.size(); }
  const Bounds& getVariableBounds() const { return variable_bounds_; }
  const std::map<std::string, size_t>& getVariableIndexMap() const { return variable_index_map_; }

  // These three print a line and throw std::runtime_error for a name that is
  // not one of the joint's variables.
  size_t getLocalVariableIndex(const std::string& variable) const;
  const VariableBounds& getVariableBounds(const std::string& variable) const;
  void setVariableBounds(const std::string& variable, const VariableBounds& bounds);

  const LinkModel* getParentLinkModel() const { return parent_link_model_; }
  const LinkModel* getChildLinkModel() const { return child_link_model_; }
  void setParentLinkModel(const LinkModel* link) { parent_link_model_ = link; }
  void setChildLinkModel(const LinkModel* link) { child_link_model_ = link; }

  const JointModel* getMimic() const { return mimic_; }
  double getMimicFactor() const { return mimic_factor_; }
  double getMimicOffset() const { return mimic_offset_; }
  const std::vector<const JointModel*>& getMimicRequests() const { return mimic_requests_; }
  void setMimic(const JointModel* mimic, double factor, double offset);
  void addMimicRequest(const JointModel* joint);

  const std::vector<const LinkModel*>& getDescendantLinkModels() const { return descendant_link_models_; }
  const std::vector<const JointModel*>& getDescendantJointModels() const { return descendant_joint_models_; }
  const std::vector<const JointModel*>& getNonFixedDescendantJointModels() const {
    return non_fixed_descendant_joint_models_;
  }
  void addDescendantLinkModel(const LinkModel* link);
  void addDescendantJointModel(const JointModel* joint);

  bool isPassive() const { return passive_; }
  void setPassive(bool passive) { passive_ = passive; }
  double getDistanceFactor() const { return distance_factor_; }
  void setDistanceFactor(double factor) { distance_factor_ = factor; }

  const Eigen::Vector3d& getXyz() const { return xyz_; }
  const Eigen::Vector3d& getRpy() const { return rpy_; }
  void setXyz(const Eigen::Vector3d& xyz);
  // Stores the origin roll, pitch, yaw; at pitch +-pi/2 with zero roll the
  // yaw is moved into the roll, so that the zero angle is read from the roll.
  void setRpy(const Eigen::Vector3d& rpy);

  double getXa() const { return xa_; }
  double getAlpha() const { return alpha_; }
  double getZd() const { return zd_; }
  double getQzero() const { return qzero_; }

  static bool checkEqual(double a, double b);
  // Zero-angle offset of an origin rotation that is Rx(roll) * Rz(zero); -1 otherwise.
  static int calZero(double roll, double pitch, double yaw, double& zero);
  // Takes the joint's column of the table; -1 (nothing changed) for a name
  // outside "joint1".."joint6", a table too small to hold that column or a
  // column holding a value that is not finite.
  int generateMdhPara(const MdhTable& table);
  // Built-in values of one six-axis arm; other names derive them from the origin.
  int generateMdhPara();

 protected:
  // Fills names, bounds and the index map for a joint of the given local
  // variable names (none for a one-variable joint named after the joint).
  void initVariables(JointType type, const std::vector<std::string>& local_names, const Bounds& bounds);

  // The joint's own bounds record for writing (kinds adjust it in setters).
  VariableBounds& firstVariableBounds() { return variable_bounds_.front(); }

 private:
  void setMdh(double zd, double xa, double qzero, double alpha);

  std::string name_;
  size_t joint_index_;
  size_t first_variable_index_;
  JointType type_ = UNKNOWN;
  std::vector<std::string> local_variable_names_;
  std::vector<std::string> variable_names_;
  Bounds variable_bounds_;
  std::map<std::string, size_t> variable_index_map_;
  const LinkModel* parent_link_model_ = nullptr;
  const LinkModel* child_link_model_ = nullptr;
  const JointModel* mimic_ = nullptr;
  double mimic_factor_ = 1.0;
  double mimic_offset_ = 0.0;
  std::vector<const JointModel*> mimic_requests_;
  std::vector<const LinkModel*> descendant_link_models_;
  std::vector<const JointModel*> descendant_joint_models_;
  std::vector<const JointModel*> non_fixed_descendant_joint_models_;
  bool passive_ = false;
  double distance_factor_ = 1.0;
  Eigen::Vector3d xyz_ = Eigen::Vector3d::Zero();
  Eigen::Vector3d rpy_ = Eigen::Vector3d::Zero();
  double xa_ = 0.0;
  double alpha_ = 0.0;
  double zd_ = 0.0;
  double qzero_ = 0.0;
};

}  // namespace core
}  // namespace moveit
