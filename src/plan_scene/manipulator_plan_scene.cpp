#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <urdf_model/model.h>

#include "bramlock_arm_planning_core/collision_detection/allowed_collision_matrix.h"
#include "bramlock_arm_planning_core/collision_detection/world.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "bramlock_arm_planning_core/logger.h"
#include "bramlock_arm_planning_core/robot_model/exceptions.h"
#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"
#include "bramlock_arm_planning_core/robot_model/revolute_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "checked_states.h"
#include "collision_detection/shape_extent.h"
#include "collision_detection_fcl/link_tree_batch.h"
#include "collision_detection_fcl/solid_mesh_model.h"
#include "motion_sweep.h"
#include "padded_clearance.h"

namespace {

constexpr double kGripperPadding = 0.06;
constexpr double kFiveArgumentGripperPadding = 0.08;
const std::string kPackagePrefix = "package://";
const std::string kFilePrefix = "file://";
const std::string kBaseLink = "base_link";

void requireUsableGeometry(double robot_padding, double scale) {
  if (!(std::abs(robot_padding) <= ManipulatorPlanScene::kMaxPaddingOrScale)) {
    throw std::invalid_argument("robot padding must be finite and at most 1e6");
  }
  if (!(scale >= std::numeric_limits<double>::epsilon() && scale <= ManipulatorPlanScene::kMaxPaddingOrScale)) {
    throw std::invalid_argument("scale must be finite, positive and at most 1e6");
  }
}

const char* const kMdhRowNames[] = {"zd", "xa", "qzero", "alpha"};

// A value that is not finite would be taken as 0 by the model and give poses
// off by that row's length or angle. Tables of the wrong shape are left to
// the model, which reports them and binds no solver.
void requireFiniteMdhTable(const ManipulatorPlanScene::MdhTable& table) {
  for (size_t row = 0; row < table.size(); ++row) {
    for (size_t column = 0; column < table[row].size(); ++column) {
      if (std::isfinite(table[row][column])) continue;
      const std::string name = row < std::size(kMdhRowNames) ? std::string(" (") + kMdhRowNames[row] + ")" : "";
      throw std::invalid_argument("MDH table row " + std::to_string(row) + name + ", column " + std::to_string(column) +
                                  " is not finite: " + std::to_string(table[row][column]));
    }
  }
}

// The file a link's collision shape comes from: its mesh file as the URDF
// names it, else (a primitive, or elements the model did not turn into shapes) the URDF.
std::string collisionSource(const moveit::core::RobotModel& model, const moveit::core::LinkModel& link,
                            size_t shape_index, const std::string& urdf_path) {
  const urdf::LinkConstSharedPtr parsed = model.getURDF() ? model.getURDF()->getLink(link.getName()) : nullptr;
  if (!parsed) return urdf_path;
  std::vector<const urdf::Geometry*> geometries;
  for (const urdf::CollisionSharedPtr& collision : parsed->collision_array.empty()
                                                       ? std::vector<urdf::CollisionSharedPtr>{parsed->collision}
                                                       : parsed->collision_array) {
    if (collision && collision->geometry) geometries.push_back(collision->geometry.get());
  }
  if (geometries.size() != link.getShapes().size() || geometries[shape_index]->type != urdf::Geometry::MESH) {
    return urdf_path;
  }
  return static_cast<const urdf::Mesh*>(geometries[shape_index])->filename;
}

// Links without their collision meshes would let the checks call colliding
// states free, and so would shapes the checkers build no geometry for (a size
// below 0, a triangle naming a vertex the mesh lacks); geometry reaching
// beyond kMaxPaddingOrScale from its link (vertices, sizes or the collision
// origin) overflows FCL's bounding volumes and gives motion sweeps that
// cannot be stepped through.
void requireUsableCollisionGeometry(const moveit::core::RobotModel& model, const std::string& urdf_path) {
  const auto& unusable = model.getUnusableCollisionMeshes();
  if (!unusable.empty()) {
    const std::string reason = unusable.front().reason.empty() ? "" : ": the file " + unusable.front().reason;
    throw moveit::core::Exception(unusable.front().file,
                                  "the collision mesh of link '" + unusable.front().link + "' cannot be used" + reason);
  }
  const auto within_limit = [](const shapes::Shape& shape, const Eigen::Isometry3d& pose) {
    return bramlock::internal::isCheckable(shape) &&
           bramlock::internal::geometryReach(shape, pose) <= ManipulatorPlanScene::kMaxPaddingOrScale;
  };
  for (const moveit::core::LinkModel* link : model.getLinkModels()) {
    const auto& shapes = link->getShapes();
    for (size_t i = 0; i < shapes.size(); ++i) {
      if (within_limit(*shapes[i], link->getCollisionOriginTransforms()[i])) continue;
      // A shape within the limit on its own was put too far out by its origin, which the URDF gives.
      const std::string file = within_limit(*shapes[i], Eigen::Isometry3d::Identity())
                                   ? urdf_path
                                   : collisionSource(model, *link, i, urdf_path);
      throw moveit::core::Exception(file, "the collision geometry of link '" + link->getName() +
                                              "' has a size below 0 or a triangle naming a vertex the mesh lacks, "
                                              "or reaches farther than 1e6 m from the link or is not finite");
    }
  }
}

std::string readFile(const std::string& path) {
  std::ifstream file(path);
  if (!file) {
    std::printf("File %s does not exist!\n", path.c_str());
    return "";
  }
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void printTriple(const char* label, const Eigen::Vector3d& v) {
  std::cout << label << v.x() << "," << v.y() << "," << v.z() << "\n";
}

// One record per revolute joint of every group, in the order printGroupFacts
// prints them; a joint shared by groups gives one record per group.
void appendArmMdhRecords(const moveit::core::RobotModel& model, std::vector<ArmMDHParams>& records) {
  for (const std::string& name : model.getJointModelGroupNames()) {
    for (const moveit::core::JointModel* joint : model.getJointModelGroup(name)->getJointModels()) {
      if (joint->getType() != moveit::core::JointModel::REVOLUTE) continue;
      ArmMDHParams record;
      record.alpha = joint->getAlpha();
      record.a = joint->getXa();
      record.d = joint->getZd();
      record.theta = joint->getQzero();
      record.valid = true;
      records.push_back(record);
    }
  }
}

// Extents that are not finite (continuous joints) would make every motion a
// single segment, so they are refused like extents too small to step through.
bool usableExtent(double extent) { return std::isfinite(extent) && extent >= std::numeric_limits<double>::epsilon(); }

}  // namespace

ManipulatorPlanScene::ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file,
                                           std::optional<std::string> group_name, double robot_padding,
                                           double gripper_padding, double scale, std::string gripper_link,
                                           MdhTable mdh_table, std::vector<double> acceleration_limits)
    : description_dir_(std::move(description_dir)),
      urdf_file_(std::move(urdf_file)),
      srdf_file_(std::move(srdf_file)),
      gripper_link_name_(std::move(gripper_link)),
      mdh_table_(std::move(mdh_table)),
      acceleration_limits_(std::move(acceleration_limits)) {
  storeArguments(robot_padding, gripper_padding, scale);
  if (group_name) {
    initialize(std::move(*group_name));
  } else {
    initialize();
  }
}

ManipulatorPlanScene::ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file,
                                           std::string group_name, double robot_padding, double scale,
                                           std::string gripper_link, MdhTable& mdh_table,
                                           std::vector<double> acceleration_limits)
    : ManipulatorPlanScene(std::move(description_dir), std::move(urdf_file), std::move(srdf_file),
                           std::move(group_name), robot_padding, kGripperPadding, scale, std::move(gripper_link),
                           mdh_table, std::move(acceleration_limits)) {}

ManipulatorPlanScene::ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file,
                                           std::string group_name, double robot_padding, double scale,
                                           std::string gripper_link, MdhTable& mdh_table)
    : ManipulatorPlanScene(std::move(description_dir), std::move(urdf_file), std::move(srdf_file),
                           std::move(group_name), robot_padding, kGripperPadding, scale, std::move(gripper_link),
                           mdh_table, {}) {}

ManipulatorPlanScene::ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file,
                                           std::string group_name, double robot_padding, double scale,
                                           std::string gripper_link)
    : ManipulatorPlanScene(std::move(description_dir), std::move(urdf_file), std::move(srdf_file),
                           std::move(group_name), robot_padding, kGripperPadding, scale, std::move(gripper_link), {},
                           {}) {}

ManipulatorPlanScene::ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file,
                                           std::string group_name, double robot_padding, double scale)
    : ManipulatorPlanScene(std::move(description_dir), std::move(urdf_file), std::move(srdf_file),
                           std::move(group_name), robot_padding, kGripperPadding, scale, {}, {}, {}) {}

ManipulatorPlanScene::ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file,
                                           double robot_padding, double scale)
    : ManipulatorPlanScene(std::move(description_dir), std::move(urdf_file), std::move(srdf_file), std::nullopt,
                           robot_padding, kFiveArgumentGripperPadding, scale, {}, {}, {}) {}

ManipulatorPlanScene::ManipulatorPlanScene()
    : ManipulatorPlanScene({}, {}, {}, std::nullopt, 0.0, kGripperPadding, 1.0, {}, {}, {}) {
  if (setPlannedJointGroup("arm") != 0) return;
  std::vector<std::pair<double, double>> bounds;
  std::printf("state_num=%d\n", getPlanSpaceBounds(bounds));
}

ManipulatorPlanScene::~ManipulatorPlanScene() = default;

void ManipulatorPlanScene::storeArguments(double robot_padding, double gripper_padding, double scale) {
  requireUsableGeometry(robot_padding, scale);
  requireFiniteMdhTable(mdh_table_);
  robot_padding_ = robot_padding;
  gripper_padding_ = gripper_padding;
  scale_ = scale;
  max_extent_ = std::numeric_limits<double>::infinity();
  longest_valid_segment_ = std::numeric_limits<double>::infinity();
}

std::string ManipulatorPlanScene::subReplace(std::string text, std::string pattern, std::string replacement) {
  if (pattern.empty()) return text;
  for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + replacement.size())) {
    text.replace(at, pattern.size(), replacement);
  }
  return text;
}

int ManipulatorPlanScene::buildRobot() {
  loadRobotModel();
  // States, checkers and the group selection would go on with the old
  // model's links and groups (which die with their last state).
  if (robot_state_) startUpAroundModel();
  return 0;
}

void ManipulatorPlanScene::loadRobotModel() {
  std::puts("start build robot model...");
  auto model = std::make_shared<moveit::core::RobotModel>(description_dir_, urdf_file_, srdf_file_, mdh_table_);
  requireUsableCollisionGeometry(*model, description_dir_ + urdf_file_);
  robot_model_ = std::move(model);
  robot_description_ =
      subReplace(readFile(description_dir_ + urdf_file_), kPackagePrefix, kFilePrefix + description_dir_);
  printModelFacts();
  for (const std::string& name : robot_model_->getJointModelGroupNames()) {
    printGroupFacts(*robot_model_->getJointModelGroup(name));
  }
  appendArmMdhRecords(*robot_model_, arm_mdh_params_);
  // Told now, not only when a gripper padding is refused later.
  if (!gripper_link_name_.empty()) gripperLinkKnown();
  std::puts("build robot model success!");
}

void ManipulatorPlanScene::printModelFacts() const {
  const moveit::core::RobotModel& model = *robot_model_;
  std::cout << "ModelFrame:" << model.getModelFrame() << "\n";
  std::cout << "RootJointName:" << model.getRootJoint()->getName() << "\n";
  std::cout << "getJointModelCount:" << model.getJointModelCount() << "\n";
  std::cout << "getRootLinkName:" << model.getRootLink()->getName() << "\n";
  std::cout << "getDescendantLinkModels size:" << model.getRootJoint()->getDescendantLinkModels().size() << "\n";
  std::cout << "getLinkModelCount:" << model.getLinkModelCount() << "\n";
  std::cout << "getLinkGeometryCount:" << model.getLinkGeometryCount() << "\n";
  std::cout << "getMaximumExtent:" << model.getMaximumExtent() << "\n";
  for (const std::string& name : model.getJointModelGroupNames()) std::cout << name << "\n";
  std::cout << std::flush;
}

void ManipulatorPlanScene::printGroupFacts(moveit::core::JointModelGroup& group) const {
  std::cout << "+++++++++++++++++++++" << group.getName() << "+++++++++++++++++++++\n";
  std::cout << "jmg_ptr->getMaximumExtent:" << group.getMaximumExtent(group.getActiveJointModelsBounds()) << "\n";
  std::cout << "Subgroup size:" << group.getSubgroupNames().size() << "\n" << std::flush;
  group.printRobotType();
  std::fflush(stdout);
  if (const moveit::core::JointModel* root = group.getCommonRoot()) {
    std::cout << "getCommonRoot()->getName():" << root->getName() << "\n";
    const moveit::core::LinkModel* parent = root->getParentLinkModel();
    std::cout << "Parent link name:" << (parent ? parent->getName() : std::string()) << "\n";
  }
  for (const moveit::core::JointModel* joint : group.getJointModels()) {
    std::cout << "Joint Name:" << joint->getName() << "\n";
    if (joint->getType() != moveit::core::JointModel::REVOLUTE) continue;
    printTriple("axis:", static_cast<const moveit::core::RevoluteJointModel*>(joint)->getAxis());
    printTriple("xyz:", joint->getXyz());
    printTriple("rpy:", joint->getRpy());
    std::cout << "mdh para:\n";
    std::cout << "xa:" << joint->getXa() << ",alpha:" << joint->getAlpha() << ",zd:" << joint->getZd()
              << ",qzero:" << joint->getQzero() << ";\n";
  }
  std::cout << "\n" << std::flush;
}

namespace {

// Named once, as the scene is built: a link mesh without an inside is tested
// by its triangles alone, so an obstacle wholly inside it is not seen.
void warnAboutOpenSurfaces(const moveit::core::RobotModel& model, double scale) {
  std::string names;
  for (const moveit::core::LinkModel* link : model.getLinkModelsWithCollisionGeometry()) {
    for (const shapes::ShapeConstPtr& shape : link->getShapes()) {
      const auto solid = bramlock::internal::meshSolidOf(shape, scale);
      if (solid && !solid->isSolid()) names += (names.empty() ? "" : ", ") + link->getName();
    }
  }
  if (!names.empty()) {
    BRAMLOCK_WARN("link meshes that are open surfaces, not solids (an obstacle wholly inside one is not seen): {}",
                  names);
  }
}

}  // namespace

void ManipulatorPlanScene::initialize() {
  loadRobotModel();
  startUpAroundModel();
}

void ManipulatorPlanScene::startUpAroundModel() {
  forgetGeometry();
  padded_clearances_.reset();
  robot_state_ = std::make_shared<moveit::core::RobotState>(robot_model_);
  robot_state_->setToDefaultValues();
  robot_state_->update(false);
  transform_state_ = std::make_shared<moveit::core::RobotState>(robot_model_);
  transform_state_->setToDefaultValues();
  transform_state_->update(false);
  std::puts("---------robot_state init success.---------");
  buildCollisionObjects();
  std::puts("---------CollisionRobotFCL, CollisionWorldFCL  init success.---------");
  planned_group_name_.clear();
  planned_input_state_ = nullptr;
  planned_group_ = nullptr;
  group_input_state_map_.clear();
  if (robot_model_->getJointModelGroups().empty()) {
    std::puts("joint_model_groups_size==0 error.");
    return;
  }
  buildInputStateBuffers();
  std::printf("---------group_input_state_map_ (size=%d) init success.---------\n",
              static_cast<int>(group_input_state_map_.size()));
}

void ManipulatorPlanScene::buildCollisionObjects() {
  const std::vector<std::string>& names = robot_model_->getLinkModelNamesWithCollisionGeometry();
  const auto& disabled = robot_model_->getSRDF()->getDisabledCollisionPairs();
  acm_ = std::make_shared<collision_detection::AllowedCollisionMatrix>();
  acm_->setEntry(names, names, false);
  for (const auto& pair : disabled) acm_->setEntry(pair.link1_, pair.link2_, true);

  world_ = std::make_shared<collision_detection::World>();
  collision_world_ = std::make_shared<collision_detection::CollisionWorldFCL>(world_);
  // The checkers' mesh trees, built side by side and taken by the checkers in their usual order.
  bramlock::internal::LinkTreeBatch trees(*robot_model_,
                                          {{scale_, robot_padding_}, {1.0, 0.0}, {scale_, gripper_padding_}});
  collision_robot_ = std::make_shared<collision_detection::CollisionRobotFCL>(robot_model_, robot_padding_, scale_);
  collision_robot_unpadded_ = std::make_shared<collision_detection::CollisionRobotFCL>(robot_model_, 0.0, 1.0);
  collision_robot_gripper_ =
      std::make_shared<collision_detection::CollisionRobotFCL>(robot_model_, gripper_padding_, scale_);
  collision_robot_unpadded_simplify_ = std::make_shared<collision_detection::CollisionRobotFCL>(robot_model_, 0.0, 1.0);
  collision_robot_->setLinkPadding(kBaseLink, 0.0);
  collision_robot_gripper_->setLinkPadding(kBaseLink, 0.0);
  warnAboutOpenSurfaces(*robot_model_, scale_);

  valid_segment_count_factor_ = 1;
  max_extent_ = std::numeric_limits<double>::infinity();
  longest_valid_segment_fraction_ = 0.005;
  longest_valid_segment_ = std::numeric_limits<double>::infinity();

  for (const std::string& name : names) std::cout << "FCL LinkModelNames:" << name << "\n";
  for (const auto& pair : disabled)
    std::cout << "FCL DisabledCollisionPairs:" << pair.link1_ << "," << pair.link2_ << "\n";
  std::cout << "acm:\n";
  acm_->print(std::cout);
  std::cout << std::flush;
}

void ManipulatorPlanScene::buildInputStateBuffers() {
  for (const moveit::core::JointModelGroup* group : robot_model_->getJointModelGroups()) {
    if (!group->getSubgroupNames().empty()) continue;
    group_input_state_map_[group->getName()].assign(group->getVariableCount(), 0.0);
  }
  if (robot_model_->getJointModelGroups().size() != 1) return;
  planned_group_name_ = robot_model_->getJointModelGroups().front()->getName();
  std::vector<double>& buffer = group_input_state_map_[planned_group_name_];
  planned_input_state_ = buffer.empty() ? nullptr : buffer.data();
}

void ManipulatorPlanScene::initialize(std::string group_name) {
  initialize();
  if (setPlannedJointGroup(group_name) != 0) std::puts("set Planned JointGroup error when initialize!");
}

int ManipulatorPlanScene::setPlannedJointGroup(std::string group_name) {
  if (group_input_state_map_.empty()) {
    std::puts("joint group size is 0, init error!");
    return -1;
  }
  const bool single_candidate = group_input_state_map_.size() == 1;
  const auto entry = single_candidate ? group_input_state_map_.begin() : group_input_state_map_.find(group_name);
  if (entry == group_input_state_map_.end()) {
    std::printf("we can not find <%s> joint group. \n", group_name.c_str());
    return -2;
  }
  const std::string previous_name = planned_group_name_;
  double* const previous_input = planned_input_state_;
  const moveit::core::JointModelGroup* const previous_group = planned_group_;
  planned_group_name_ = entry->first;
  planned_input_state_ = entry->second.empty() ? nullptr : entry->second.data();
  if (!single_candidate) std::printf("we find <%s> joint group.\n", planned_group_name_.c_str());
  planned_group_ = robot_model_->getJointModelGroup(planned_group_name_);
  try {
    initCheckMotionStateSpacePara();
  } catch (...) {
    planned_group_name_ = previous_name;
    planned_input_state_ = previous_input;
    planned_group_ = previous_group;
    throw;
  }
  const size_t variables = planned_group_->getVariableCount();
  for (std::vector<double>* scratch : {&state_scratch_, &from_scratch_, &to_scratch_, &motion_scratch_}) {
    scratch->assign(variables, 0.0);
  }
  forgetGeometry();
  return 0;
}

void ManipulatorPlanScene::initCheckMotionStateSpacePara() {
  if (!planned_group_) throw std::runtime_error("no planned joint group!\n");
  const double extent = planned_group_->getMaximumExtent(planned_group_->getActiveJointModelsBounds());
  std::printf("max_extent_=%lf\n", extent);
  const double segment = extent * longest_valid_segment_fraction_;
  std::printf("longest_valid_segment_=%lf\n", segment);
  if (!std::isfinite(segment)) throw std::runtime_error("longest_valid_segment is not finite!\n");
  if (segment < std::numeric_limits<double>::epsilon())
    throw std::runtime_error("longest_valid_segment is too small!\n");
  max_extent_ = extent;
  longest_valid_segment_ = segment;
}

double ManipulatorPlanScene::getMaximumExtent() {
  const double extent = robot_model_->getMaximumExtent();
  if (!usableExtent(extent)) {
    throw std::runtime_error("the robot model's maximum extent is not finite or too small to scale a step");
  }
  return extent;
}
