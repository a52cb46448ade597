#include "bramlock_arm_planning_core/robot_model/joint_model.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

namespace moveit {
namespace core {
namespace {

constexpr double kPi = M_PI;

struct BuiltInMdh {
  const char* name;
  double xa, alpha, zd, qzero;
};

// MDH values of the six-axis arm the description packages ship.
constexpr BuiltInMdh kBuiltInMdh[] = {
    {"joint1", 0.0, 0.0, 0.172, 0.0},
    {"joint2", -0.085659, -1.5707963267948966, 0.0, -1.57413},
    {"joint3", 0.381051, 0.0, 0.0, 1.571861},
    {"joint4", 0.071459, 1.5707963267948966, 0.40581, 0.010472},
    {"joint5", 0.0, -1.5707963267948966, 0.0, 3.145607},
    {"joint6", 0.0, -1.5707963267948966, 0.115289, 3.141592653589793},
};

constexpr int kArmJointCount = 6;

// Column of "joint1".."joint6" in the MDH table, or -1 for any other name.
int armJointColumn(const std::string& name) {
  for (int k = 0; k < kArmJointCount; ++k) {
    if (name == "joint" + std::to_string(k + 1)) return k;
  }
  return -1;
}

void writeLimit(std::ostream& out, double value) {
  if (value < std::numeric_limits<double>::lowest()) {
    out << "-inf";
  } else if (value > std::numeric_limits<double>::max()) {
    out << "inf";
  } else {
    out << value;
  }
}

void writeRange(std::ostream& out, const char* label, bool bounded, double min, double max, const char* end) {
  out << label << (bounded ? "bounded" : "unbounded") << " [";
  writeLimit(out, min);
  out << ", ";
  writeLimit(out, max);
  out << end;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const VariableBounds& b) {
  writeRange(out, "P.", b.position_bounded_, b.min_position_, b.max_position_, "]; ");
  writeRange(out, "V.", b.velocity_bounded_, b.min_velocity_, b.max_velocity_, "]; ");
  writeRange(out, "A.", b.acceleration_bounded_, b.min_acceleration_, b.max_acceleration_, "]; ");
  writeRange(out, "J.", b.jerk_bounded_, b.min_jerk_, b.max_jerk_, "];");
  return out;
}

JointModel::JointModel(const std::string& name, size_t joint_index, size_t first_variable_index)
    : name_(name), joint_index_(joint_index), first_variable_index_(first_variable_index) {}

void JointModel::initVariables(JointType type, const std::vector<std::string>& local_names, const Bounds& bounds) {
  type_ = type;
  local_variable_names_ = local_names;
  variable_bounds_ = bounds;
  if (local_names.empty() && !bounds.empty()) {
    variable_names_.push_back(name_);
  }
  for (const std::string& local : local_names) variable_names_.push_back(name_ + "/" + local);
  for (size_t i = 0; i < variable_names_.size(); ++i) variable_index_map_[variable_names_[i]] = i;
}

std::string JointModel::getTypeName() const {
  switch (type_) {
    case UNKNOWN:
      return "Unknown";
    case REVOLUTE:
      return "Revolute";
    case PRISMATIC:
      return "Prismatic";
    case PLANAR:
      return "Planar";
    case FLOATING:
      return "Floating";
    case FIXED:
      return "Fixed";
  }
  return "[Unknown]";
}

size_t JointModel::getLocalVariableIndex(const std::string& variable) const {
  const auto it = variable_index_map_.find(variable);
  if (it == variable_index_map_.end()) {
    std::printf("Could not find variable %s to get bounds for within joint %s \n", variable.c_str(), name_.c_str());
    throw std::runtime_error("this is a runtime_error.");
  }
  return it->second;
}

const VariableBounds& JointModel::getVariableBounds(const std::string& variable) const {
  return variable_bounds_[getLocalVariableIndex(variable)];
}

void JointModel::setVariableBounds(const std::string& variable, const VariableBounds& bounds) {
  variable_bounds_[getLocalVariableIndex(variable)] = bounds;
}

bool JointModel::harmonizePosition(double* /*values*/, const Bounds& /*bounds*/) const { return false; }

bool JointModel::satisfiesVelocityBounds(const double* values, const Bounds& bounds, double margin) const {
  for (size_t i = 0; i < bounds.size(); ++i) {
    if (values[i] > bounds[i].max_velocity_ + margin || values[i] < bounds[i].min_velocity_ - margin) return false;
  }
  return true;
}

bool JointModel::enforceVelocityBounds(double* values, const Bounds& bounds) const {
  bool changed = false;
  for (size_t i = 0; i < bounds.size(); ++i) {
    if (values[i] > bounds[i].max_velocity_) {
      values[i] = bounds[i].max_velocity_;
      changed = true;
    } else if (values[i] < bounds[i].min_velocity_) {
      values[i] = bounds[i].min_velocity_;
      changed = true;
    }
  }
  return changed;
}

void JointModel::setMimic(const JointModel* mimic, double factor, double offset) {
  mimic_ = mimic;
  mimic_factor_ = factor;
  mimic_offset_ = offset;
}

void JointModel::addMimicRequest(const JointModel* joint) { mimic_requests_.push_back(joint); }

void JointModel::addDescendantLinkModel(const LinkModel* link) { descendant_link_models_.push_back(link); }

void JointModel::addDescendantJointModel(const JointModel* joint) {
  descendant_joint_models_.push_back(joint);
  if (joint->getType() != FIXED) non_fixed_descendant_joint_models_.push_back(joint);
}

void JointModel::setXyz(const Eigen::Vector3d& xyz) { xyz_ = xyz; }

void JointModel::setRpy(const Eigen::Vector3d& rpy) {
  rpy_ = rpy;
  const double roll = rpy.x(), pitch = rpy.y(), yaw = rpy.z();
  if (checkEqual(pitch, -kPi / 2) && checkEqual(roll, 0.0)) {
    rpy_ = Eigen::Vector3d(yaw, pitch, 0.0);
  } else if (checkEqual(pitch, kPi / 2) && checkEqual(roll, 0.0)) {
    rpy_ = Eigen::Vector3d(-yaw, pitch, 0.0);
  }
}

bool JointModel::checkEqual(double a, double b) { return std::fabs(a - b) < 0.0001; }

int JointModel::calZero(double roll, double pitch, double yaw, double& zero) {
  const Eigen::Matrix3d r =
      (Eigen::AngleAxisd(yaw, Eigen::Vector3d::UnitZ()) * Eigen::AngleAxisd(pitch, Eigen::Vector3d::UnitY()) *
       Eigen::AngleAxisd(roll, Eigen::Vector3d::UnitX()))
          .toRotationMatrix();
  const Eigen::Matrix3d m = Eigen::AngleAxisd(roll, Eigen::Vector3d::UnitX()).toRotationMatrix().transpose() * r;
  const bool about_z = checkEqual(m(2, 0), 0.0) && checkEqual(m(2, 1), 0.0) && checkEqual(m(2, 2), 1.0) &&
                       checkEqual(m(0, 2), 0.0) && checkEqual(m(1, 2), 0.0) && checkEqual(m(0, 0), m(1, 1)) &&
                       checkEqual(m(0, 1), -m(1, 0));
  if (!about_z) {
    std::printf("Matrix R_zero0 is not ok.\n");
    return -1;
  }
  zero = std::atan2(m(1, 0), m(0, 0));
  return 0;
}

void JointModel::setMdh(double zd, double xa, double qzero, double alpha) {
  zd_ = zd;
  xa_ = xa;
  qzero_ = qzero;
  alpha_ = alpha;
}

int JointModel::generateMdhPara(const MdhTable& table) {
  const int column = armJointColumn(name_);
  if (column < 0 || table.size() < kMdhRowCount) return -1;
  for (size_t row = 0; row < kMdhRowCount; ++row) {
    // A value that is not finite would become NaN transforms: refused like a missing one.
    if (table[row].size() <= static_cast<size_t>(column) || !std::isfinite(table[row][column])) return -1;
  }
  setMdh(table[kMdhRowZd][column], table[kMdhRowXa][column], table[kMdhRowQzero][column], table[kMdhRowAlpha][column]);
  return 0;
}

int JointModel::generateMdhPara() {
  const int column = armJointColumn(name_);
  if (column >= 0) {
    const BuiltInMdh& mdh = kBuiltInMdh[column];
    setMdh(mdh.zd, mdh.xa, mdh.qzero, mdh.alpha);
    return 0;
  }
  double zero = 0.0;
  if (calZero(rpy_.x(), rpy_.y(), rpy_.z(), zero) < 0) return -1;
  // With alpha 0 the offset d is the origin's z.
  setMdh(xyz_.z(), xyz_.x(), zero, 0.0);
  return 0;
}

}  // namespace core
}  // namespace moveit
