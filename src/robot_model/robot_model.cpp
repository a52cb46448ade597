#include "bramlock_arm_planning_core/robot_model/robot_model.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <geometric_shapes/mesh_operations.h>
#include <geometric_shapes/shapes.h>
#include <tinyxml2.h>
#include <urdf_model/model.h>
#include <urdf_parser/urdf_parser.h>

#include "bramlock_arm_planning_core/robot_model/exceptions.h"
#include "bramlock_arm_planning_core/robot_model/fixed_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/floating_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/planar_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/prismatic_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/revolute_joint_model.h"
#include "mesh_file/mesh_file.h"

namespace moveit {
namespace core {
namespace {

const std::string kPackagePrefix = "package://";
const std::string kFilePrefix = "file://";

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

Eigen::Isometry3d toIsometry(const urdf::Pose& pose) {
  const Eigen::Quaterniond rotation(pose.rotation.w, pose.rotation.x, pose.rotation.y, pose.rotation.z);
  return Eigen::Translation3d(pose.position.x, pose.position.y, pose.position.z) * rotation;
}

Eigen::Vector3d toVector(const urdf::Vector3& vector) { return Eigen::Vector3d(vector.x, vector.y, vector.z); }

// Position limits from the safety controller (narrowed by the hard limits)
// or from the hard limits; velocity limits from the hard limits. Limits that
// leave no position between them would make every state of the joint invalid
// (a continuous joint ignores them).
VariableBounds boundsFromUrdf(const urdf::Joint& joint, const std::string& urdf_path) {
  VariableBounds bounds;
  if (joint.safety) {
    bounds.position_bounded_ = true;
    bounds.min_position_ = joint.safety->soft_lower_limit;
    bounds.max_position_ = joint.safety->soft_upper_limit;
    if (joint.limits) {
      bounds.min_position_ = std::max(bounds.min_position_, joint.limits->lower);
      bounds.max_position_ = std::min(bounds.max_position_, joint.limits->upper);
    }
  } else if (joint.limits) {
    bounds.position_bounded_ = true;
    bounds.min_position_ = joint.limits->lower;
    bounds.max_position_ = joint.limits->upper;
  }
  if (joint.limits) {
    bounds.max_velocity_ = std::fabs(joint.limits->velocity);
    bounds.min_velocity_ = -bounds.max_velocity_;
    bounds.velocity_bounded_ = bounds.max_velocity_ > std::numeric_limits<double>::epsilon();
  }
  if (joint.type != urdf::Joint::CONTINUOUS && bounds.min_position_ > bounds.max_position_) {
    std::ostringstream text;
    text << "joint '" << joint.name << "' has its lower limit " << bounds.min_position_ << " above its upper limit "
         << bounds.max_position_;
    throw Exception(urdf_path, text.str());
  }
  return bounds;
}

// Names of the links that no chain of joints leads to from the root link
// (every link when there is no root), in name order.
std::vector<std::string> linksOffTheRoot(const urdf::ModelInterface& urdf_model) {
  std::multimap<std::string, std::string> children;  // parent link -> child link
  for (const auto& entry : urdf_model.joints_)
    children.emplace(entry.second->parent_link_name, entry.second->child_link_name);
  std::set<std::string> reached;
  std::vector<std::string> open;
  if (const urdf::LinkConstSharedPtr root = urdf_model.getRoot()) open.push_back(root->name);
  while (!open.empty()) {
    const std::string link = open.back();
    open.pop_back();
    if (!reached.insert(link).second) continue;
    const auto range = children.equal_range(link);
    for (auto it = range.first; it != range.second; ++it) open.push_back(it->second);
  }
  std::vector<std::string> unreached;
  for (const auto& entry : urdf_model.links_) {
    if (!reached.count(entry.first)) unreached.push_back(entry.first);
  }
  return unreached;
}

// The model holds only what it reaches from the root link, so links off it
// (a cycle of joints hanging off nothing) would vanish with their groups.
void requireLinksOnTheRoot(const urdf::ModelInterface& urdf_model, const std::string& urdf_path) {
  const std::vector<std::string> unreached = linksOffTheRoot(urdf_model);
  if (unreached.empty()) return;
  std::string names;
  for (const std::string& name : unreached) names += (names.empty() ? "'" : ", '") + name + "'";
  const urdf::LinkConstSharedPtr root = urdf_model.getRoot();
  throw Exception(urdf_path, std::string(unreached.size() == 1 ? "link " : "links ") + names +
                                 (root ? " cannot be reached through joints from the root link '" + root->name + "'"
                                       : " cannot be reached through joints: the model has no root link") +
                                 ": the links must form a tree");
}

// The model is built by walking from the root link to its children: a link
// that is the child of two joints (or of a joint on itself) would be reached
// again and again.
void requireTree(const urdf::ModelInterface& urdf_model, const std::string& urdf_path) {
  std::map<std::string, std::string> parent_joints;  // child link -> joint
  for (const auto& entry : urdf_model.joints_) {
    const urdf::Joint& joint = *entry.second;
    if (joint.parent_link_name == joint.child_link_name) {
      throw Exception(urdf_path, "joint '" + joint.name + "' has link '" + joint.child_link_name +
                                     "' as both its parent and its child: the links must form a tree");
    }
    const auto added = parent_joints.emplace(joint.child_link_name, joint.name);
    if (!added.second) {
      throw Exception(urdf_path, "link '" + joint.child_link_name + "' is the child of both joint '" +
                                     added.first->second + "' and joint '" + joint.name +
                                     "': the links must form a tree");
    }
  }
  requireLinksOnTheRoot(urdf_model, urdf_path);
}

// urdfdom holds each link's child links by shared pointers, so links that do
// not form a tree hold each other in a cycle: a model parsed here has it
// broken before it is refused, or it would never be freed.
void requireParsedTree(urdf::ModelInterface& urdf_model, const std::string& urdf_path) {
  try {
    requireTree(urdf_model, urdf_path);
  } catch (const Exception&) {
    for (auto& entry : urdf_model.links_) entry.second->child_links.clear();
    throw;
  }
}

// A loaded mesh has triangles over finite vertices; a scale of zero along
// an axis flattens it into nothing a collision check can test.
bool flattening(const Eigen::Vector3d& scale) { return (scale.array() == 0.0).any(); }

// Without a direction the joint's motion is undefined.
void requireUsableAxis(const urdf::Joint& joint, const std::string& urdf_path) {
  const Eigen::Vector3d axis = toVector(joint.axis);
  if (axis.allFinite() && !axis.isZero(0.0)) return;
  throw Exception(urdf_path, "joint '" + joint.name + "' has no usable axis (zero or not finite)");
}

bool hasNoGeometry(const urdf::Link& link) {
  return !link.collision && link.collision_array.empty() && !link.visual && link.visual_array.empty();
}

// A number from a joint property: false for text that is not a number,
// including "nan" and "inf" (a weight like that makes every distance NaN); a
// number out of the range of double throws std::out_of_range.
bool parseNumber(const std::string& text, double& value, size_t* used = nullptr) {
  try {
    const double parsed = std::stod(text, used);
    if (!std::isfinite(parsed)) return false;
    value = parsed;
    return true;
  } catch (const std::invalid_argument&) {
    return false;
  }
}

}  // namespace

RobotModel::RobotModel(const std::string& directory, const std::string& urdf_file, const std::string& srdf_file,
                       const MdhTable& mdh_table)
    : mdh_table_(mdh_table), resource_directory_(directory), urdf_file_(urdf_file), srdf_file_(srdf_file) {
  loadFiles();
  addExistingKinematicsSlovers();
  buildModelOrRelease(*urdf_, *srdf_);
}

RobotModel::RobotModel(const std::string& directory, const std::string& urdf_file, const std::string& srdf_file)
    : RobotModel(directory, urdf_file, srdf_file, MdhTable()) {}

RobotModel::RobotModel(const std::shared_ptr<urdf::ModelInterface>& urdf_model,
                       const std::shared_ptr<srdf::Model>& srdf_model)
    : srdf_(srdf_model ? srdf_model : std::make_shared<srdf::Model>()), urdf_(urdf_model) {
  if (!urdf_) throw Exception("", "No URDF model was given");
  requireTree(*urdf_, "");
  addExistingKinematicsSlovers();
  buildModelOrRelease(*urdf_, *srdf_);
}

RobotModel::~RobotModel() { releaseModel(); }

void RobotModel::releaseModel() {
  for (auto& entry : joint_model_group_map_) delete entry.second;
  for (JointModel* joint : joint_model_vector_) delete joint;
  for (LinkModel* link : link_model_vector_) delete link;
  joint_model_group_map_.clear();
  joint_model_vector_.clear();
  link_model_vector_.clear();
}

void RobotModel::loadFiles() {
  const std::string urdf_path = resource_directory_ + urdf_file_;
  if (!std::ifstream(urdf_path)) throw Exception(urdf_path, "Unable to read the URDF file");
  urdf_ = urdf::parseURDFFile(urdf_path);
  if (!urdf_) throw Exception(urdf_path, "Unable to parse the URDF file");
  requireParsedTree(*urdf_, urdf_path);
  recordDroppedCollisionMeshes(urdf_path);
  srdf_ = std::make_shared<srdf::Model>();
  srdf_->initFile(*urdf_, resource_directory_ + srdf_file_);
}

void RobotModel::buildModelOrRelease(const urdf::ModelInterface& urdf_model, const srdf::Model& srdf_model) {
  try {
    buildModel(urdf_model, srdf_model);
  } catch (...) {
    // The destructor does not run for a throwing constructor.
    releaseModel();
    throw;
  }
}

void RobotModel::buildModel(const urdf::ModelInterface& urdf_model, const srdf::Model& srdf_model) {
  root_joint_ = nullptr;
  root_link_ = nullptr;
  link_geometry_count_ = 0;
  variable_count_ = 0;
  model_name_ = urdf_model.getName();
  std::printf("Loading robot model '%s'...\n", model_name_.c_str());
  const urdf::LinkConstSharedPtr root = urdf_model.getRoot();
  if (!root) {
    std::puts("No root link found");
    return;
  }
  model_frame_ = root->name;
  std::cout << "root model_frame_:" << model_frame_ << std::endl;
  root_joint_ = buildRecursive(nullptr, root.get(), srdf_model);
  if (root_joint_) root_link_ = root_joint_->getChildLinkModel();
  buildMimic(urdf_model);
  buildJointInfo();
  if (link_models_with_collision_geometry_vector_.empty()) std::puts("No geometry is associated to any robot links");
  buildGroups(srdf_model);
  buildGroupStates(srdf_model);
}

JointModel* RobotModel::buildRecursive(LinkModel* parent, const urdf::Link* urdf_link, const srdf::Model& srdf_model) {
  JointModel* joint = constructJointModel(urdf_link, srdf_model);
  if (!joint) return nullptr;
  joint_model_vector_.push_back(joint);
  joint_model_vector_const_.push_back(joint);
  joint_model_names_vector_.push_back(joint->getName());
  joint_model_map_[joint->getName()] = joint;
  joint->setParentLinkModel(parent);

  LinkModel* link = constructLinkModel(urdf_link);
  link_model_vector_.push_back(link);
  joint->setChildLinkModel(link);
  link->setParentLinkModel(parent);
  link_model_map_[link->getName()] = link;
  link_model_vector_const_.push_back(link);
  link_model_names_vector_.push_back(link->getName());
  if (!link->getShapes().empty()) {
    link_models_with_collision_geometry_vector_.push_back(link);
    link_model_names_with_collision_geometry_vector_.push_back(link->getName());
    link->setFirstCollisionBodyTransformIndex(static_cast<int>(link_geometry_count_));
    link_geometry_count_ += link->getShapes().size();
  }
  link->setParentJointModel(joint);

  for (const urdf::LinkSharedPtr& child : urdf_link->child_links) {
    JointModel* child_joint = buildRecursive(link, child.get(), srdf_model);
    if (child_joint) link->addChildJointModel(child_joint);
  }
  return joint;
}

JointModel* RobotModel::constructJointModel(const urdf::Link* urdf_link, const srdf::Model& srdf_model) {
  std::unique_ptr<JointModel> joint =
      urdf_link->parent_joint ? constructUrdfJointModel(urdf_link) : constructRootJointModel(urdf_link, srdf_model);
  if (!joint) return nullptr;
  joint->setDistanceFactor(joint->getStateSpaceDimension());
  for (const srdf::Model::PassiveJoint& passive : srdf_model.getPassiveJoints()) {
    if (passive.name_ == joint->getName()) joint->setPassive(true);
  }
  applyJointProperties(joint.get(), srdf_model);
  return joint.release();
}

namespace {

size_t nextFirstVariableIndex(const std::vector<JointModel*>& joints) {
  return joints.empty() ? 0 : joints.back()->getFirstVariableIndex() + joints.back()->getVariableCount();
}

// Origin and MDH values of an arm joint; a joint outside the table prints
// the kind's message and keeps zero MDH values.
void applyOriginAndMdh(JointModel& joint, const urdf::Joint& urdf_joint, const MdhTable& table,
                       const char* failure_message) {
  const urdf::Pose& origin = urdf_joint.parent_to_joint_origin_transform;
  joint.setXyz(Eigen::Vector3d(origin.position.x, origin.position.y, origin.position.z));
  double roll = 0.0, pitch = 0.0, yaw = 0.0;
  origin.rotation.getRPY(roll, pitch, yaw);
  joint.setRpy(Eigen::Vector3d(roll, pitch, yaw));
  if (joint.generateMdhPara(table) < 0) std::puts(failure_message);
}

}  // namespace

std::unique_ptr<JointModel> RobotModel::constructUrdfJointModel(const urdf::Link* urdf_link) {
  const urdf::Joint& urdf_joint = *urdf_link->parent_joint;
  const std::string& name = urdf_joint.name;
  const size_t index = joint_model_vector_.size();
  const size_t first_variable = nextFirstVariableIndex(joint_model_vector_);
  const std::string urdf_path = resource_directory_ + urdf_file_;
  std::unique_ptr<JointModel> joint;
  const char* mdh_failure = nullptr;
  switch (urdf_joint.type) {
    case urdf::Joint::REVOLUTE:
    case urdf::Joint::CONTINUOUS: {
      const bool continuous = urdf_joint.type == urdf::Joint::CONTINUOUS;
      auto revolute = std::make_unique<RevoluteJointModel>(name, index, first_variable);
      revolute->setVariableBounds(name, boundsFromUrdf(urdf_joint, urdf_path));
      revolute->setContinuous(continuous);
      requireUsableAxis(urdf_joint, urdf_path);
      revolute->setAxis(toVector(urdf_joint.axis));
      mdh_failure =
          continuous ? "CONTINUOUS joint generate Mdh Para failed!!!" : "REVOLUTE joint generate Mdh Para failed!!!";
      joint = std::move(revolute);
      break;
    }
    case urdf::Joint::PRISMATIC: {
      auto prismatic = std::make_unique<PrismaticJointModel>(name, index, first_variable);
      prismatic->setVariableBounds(name, boundsFromUrdf(urdf_joint, urdf_path));
      requireUsableAxis(urdf_joint, urdf_path);
      prismatic->setAxis(toVector(urdf_joint.axis));
      mdh_failure = "PRISMATIC joint generate Mdh Para failed!!!";
      joint = std::move(prismatic);
      break;
    }
    case urdf::Joint::FLOATING:
      return std::make_unique<FloatingJointModel>(name, index, first_variable);
    case urdf::Joint::PLANAR:
      return std::make_unique<PlanarJointModel>(name, index, first_variable);
    case urdf::Joint::FIXED:
      joint = std::make_unique<FixedJointModel>(name, index, first_variable);
      mdh_failure = "Fixed joint generate Mdh Para failed!!!";
      break;
    default:
      std::printf("Unknown joint type: %d", static_cast<int>(urdf_joint.type));
      return nullptr;
  }
  applyOriginAndMdh(*joint, urdf_joint, mdh_table_, mdh_failure);
  return joint;
}

std::unique_ptr<JointModel> RobotModel::constructRootJointModel(const urdf::Link* urdf_link,
                                                                const srdf::Model& srdf_model) {
  const size_t index = joint_model_vector_.size();
  const size_t first_variable = nextFirstVariableIndex(joint_model_vector_);
  std::unique_ptr<JointModel> root;
  for (const srdf::Model::VirtualJoint& virtual_joint : srdf_model.getVirtualJoints()) {
    const std::string& name = virtual_joint.name_;
    if (virtual_joint.child_link_ != urdf_link->name) {
      if (urdf_link->name == "world" && virtual_joint.type_ == "fixed" && hasNoGeometry(*urdf_link)) {
        // A geometry-free "world" root: keep looking, a matching virtual joint replaces this one.
        root = std::make_unique<FixedJointModel>(name, index, first_variable);
      } else {
        std::printf("Skipping virtual joint '%s' because its child frame '%s' does not match the URDF frame '%s'",
                    name.c_str(), virtual_joint.child_link_.c_str(), urdf_link->name.c_str());
      }
      continue;
    }
    if (virtual_joint.parent_frame_.empty()) {
      std::printf("Skipping virtual joint '%s' because its parent frame is empty", name.c_str());
      continue;
    }
    if (virtual_joint.type_ == "fixed") {
      root = std::make_unique<FixedJointModel>(name, index, first_variable);
    } else if (virtual_joint.type_ == "planar") {
      root = std::make_unique<PlanarJointModel>(name, index, first_variable);
    } else if (virtual_joint.type_ == "floating") {
      root = std::make_unique<FloatingJointModel>(name, index, first_variable);
    } else {
      continue;
    }
    if (root->getType() != JointModel::FIXED) model_frame_ = virtual_joint.parent_frame_;
    break;
  }
  if (!root) {
    std::puts("No root/virtual joint specified in SRDF. Assuming fixed joint");
    root = std::make_unique<FixedJointModel>("ASSUMED_FIXED_ROOT_JOINT", index, first_variable);
  }
  return root;
}

void RobotModel::applyJointProperties(JointModel* joint, const srdf::Model& srdf_model) const {
  auto* planar = dynamic_cast<PlanarJointModel*>(joint);
  auto* floating = dynamic_cast<FloatingJointModel*>(joint);
  for (const srdf::Model::JointProperty& property : srdf_model.getJointProperties(joint->getName())) {
    const std::string& name = property.property_name_;
    const std::string& value = property.value_;
    double number = 0.0;
    if (name == "angular_distance_weight") {
      if (!parseNumber(value, number)) continue;
      if (planar) planar->setAngularDistanceWeight(number);
      if (floating) floating->setAngularDistanceWeight(number);
    } else if (name == "motion_model" || name == "min_translational_distance") {
      if (!planar) {
        std::printf("Cannot apply property %s to joint type: %s", name.c_str(), joint->getTypeName().c_str());
      } else if (name == "min_translational_distance") {
        if (parseNumber(value, number)) planar->setMinTranslationalDistance(number);
      } else if (value == "holonomic") {
        planar->setMotionModel(PlanarJointModel::HOLONOMIC);
      } else if (value == "diff_drive") {
        planar->setMotionModel(PlanarJointModel::DIFF_DRIVE);
      } else {
        std::printf("Valid values are 'holonomic' and 'diff_drive'");
      }
    } else if (name == "check_motion_max_det_distance") {
      size_t used = 0;
      if (parseNumber(value, number, &used) && used < value.size()) {
        std::printf("Extra characters after property %s\n", name.c_str());
      }
    } else {
      std::printf("Unknown joint property: %s", name.c_str());
    }
  }
}

// urdfdom drops a collision element it cannot parse (a mesh scale that is not
// a number, for one) with a console line and goes on, leaving the link
// without that geometry: such mesh elements are found in the file itself.
void RobotModel::recordDroppedCollisionMeshes(const std::string& urdf_path) {
  tinyxml2::XMLDocument document;
  if (document.LoadFile(urdf_path.c_str()) != tinyxml2::XML_SUCCESS) return;
  const tinyxml2::XMLElement* robot = document.FirstChildElement("robot");
  for (const tinyxml2::XMLElement* link = robot ? robot->FirstChildElement("link") : nullptr; link;
       link = link->NextSiblingElement("link")) {
    const char* name = link->Attribute("name");
    const urdf::LinkConstSharedPtr parsed = name ? urdf_->getLink(name) : nullptr;
    if (!parsed) continue;
    std::multiset<std::string> kept;
    for (const urdf::CollisionSharedPtr& collision : parsed->collision_array) {
      if (collision && collision->geometry && collision->geometry->type == urdf::Geometry::MESH) {
        kept.insert(static_cast<const urdf::Mesh&>(*collision->geometry).filename);
      }
    }
    for (const tinyxml2::XMLElement* collision = link->FirstChildElement("collision"); collision;
         collision = collision->NextSiblingElement("collision")) {
      const tinyxml2::XMLElement* geometry = collision->FirstChildElement("geometry");
      const tinyxml2::XMLElement* mesh = geometry ? geometry->FirstChildElement("mesh") : nullptr;
      const char* filename = mesh ? mesh->Attribute("filename") : nullptr;
      if (!filename || !*filename) continue;
      const auto found = kept.find(filename);
      if (found != kept.end()) {
        kept.erase(found);
      } else {
        unusable_collision_meshes_.push_back({name, parseMeshPath(filename), ""});
      }
    }
  }
}

LinkModel* RobotModel::constructLinkModel(const urdf::Link* urdf_link) {
  auto link = std::make_unique<LinkModel>(urdf_link->name, link_model_vector_.size());
  std::vector<urdf::CollisionSharedPtr> collisions = urdf_link->collision_array;
  if (collisions.empty()) collisions.push_back(urdf_link->collision);
  std::vector<std::shared_ptr<const shapes::Shape>> shapes;
  vector_Isometry3d origins;
  for (const urdf::CollisionSharedPtr& collision : collisions) {
    if (!collision || !collision->geometry) continue;
    std::shared_ptr<const shapes::Shape> shape;
    try {
      shape = constructShape(collision->geometry.get(), urdf_link->name);
    } catch (const Exception&) {
      throw;
    } catch (const std::exception& error) {
      // geometric_shapes refuses primitives with a size below 0, without naming the link.
      throw Exception(resource_directory_ + urdf_file_,
                      "the collision geometry of link '" + urdf_link->name + "' cannot be built: " + error.what());
    }
    if (!shape) continue;
    shapes.push_back(shape);
    origins.push_back(toIsometry(collision->origin));
  }
  link->setGeometry(shapes, origins);

  // The visual mesh: the visual element's geometry, else the collision element's.
  const urdf::Geometry* visual = nullptr;
  const urdf::Pose* visual_origin = nullptr;
  if (urdf_link->visual && urdf_link->visual->geometry) {
    visual = urdf_link->visual->geometry.get();
    visual_origin = &urdf_link->visual->origin;
  } else if (urdf_link->collision && urdf_link->collision->geometry) {
    visual = urdf_link->collision->geometry.get();
    visual_origin = &urdf_link->collision->origin;
  }
  if (visual && visual->type == urdf::Geometry::MESH) {
    const auto* mesh = static_cast<const urdf::Mesh*>(visual);
    if (!mesh->filename.empty()) link->setVisualMesh(mesh->filename, toIsometry(*visual_origin), toVector(mesh->scale));
  }
  if (urdf_link->parent_joint) {
    link->setJointOriginTransform(toIsometry(urdf_link->parent_joint->parent_to_joint_origin_transform));
  }
  return link.release();
}

std::shared_ptr<const shapes::Shape> RobotModel::constructShape(const urdf::Geometry* geometry,
                                                                const std::string& link_name) {
  switch (geometry->type) {
    case urdf::Geometry::SPHERE:
      return std::make_shared<const shapes::Sphere>(static_cast<const urdf::Sphere*>(geometry)->radius);
    case urdf::Geometry::BOX: {
      const urdf::Vector3& size = static_cast<const urdf::Box*>(geometry)->dim;
      return std::make_shared<const shapes::Box>(size.x, size.y, size.z);
    }
    case urdf::Geometry::CYLINDER: {
      const auto* cylinder = static_cast<const urdf::Cylinder*>(geometry);
      return std::make_shared<const shapes::Cylinder>(cylinder->radius, cylinder->length);
    }
    case urdf::Geometry::MESH: {
      const auto* mesh = static_cast<const urdf::Mesh*>(geometry);
      if (mesh->filename.empty()) return nullptr;
      const std::string path = parseMeshPath(mesh->filename);
      const Eigen::Vector3d scale = toVector(mesh->scale);
      const bramlock::internal::MeshFile file = bramlock::internal::loadMeshFile(path, scale);
      if (!file.mesh) {
        const bool refused = file.outcome == bramlock::internal::MeshFile::Outcome::kRefused;
        std::printf("%s mesh '%s' for link '%s': it %s\n", refused ? "Refused" : "Failed to load", path.c_str(),
                    link_name.c_str(), file.reason.c_str());
        unusable_collision_meshes_.push_back({link_name, path, file.reason});
        return nullptr;
      }
      if (flattening(scale)) unusable_collision_meshes_.push_back({link_name, path, "is scaled by zero"});
      return file.mesh;
    }
  }
  std::printf("Unknown geometry type: %d", static_cast<int>(geometry->type));
  return nullptr;
}

std::string RobotModel::parseMeshPath(std::string path) {
  if (startsWith(path, kPackagePrefix)) {
    const std::string rest = path.substr(kPackagePrefix.size());
    if (rest.empty()) throw Exception("", "Package name must not be empty");
    // The package name stays part of the path below the resource directory.
    path = resource_directory_ + rest;
  }
  if (!startsWith(path, kFilePrefix)) path = kFilePrefix + path;
  // A "file://" URI names an absolute path; a relative one (a relative
  // description directory) would load no mesh, so resolve it here.
  const std::string file = path.substr(kFilePrefix.size());
  if (!file.empty() && file.front() != '/') {
    path = kFilePrefix + (std::filesystem::current_path() / file).lexically_normal().string();
  }
  std::printf("mesh path is :%s\n", path.c_str());
  return path;
}

void RobotModel::buildMimic(const urdf::ModelInterface& urdf_model) {
  for (JointModel* joint : joint_model_vector_) {
    const urdf::JointConstSharedPtr urdf_joint = urdf_model.getJoint(joint->getName());
    if (!urdf_joint || !urdf_joint->mimic) continue;
    const std::string& source_name = urdf_joint->mimic->joint_name;
    const auto source = joint_model_map_.find(source_name);
    if (source == joint_model_map_.end()) {
      std::printf("Joint '%s' cannot mimic unknown joint '%s'", joint->getName().c_str(), source_name.c_str());
      continue;
    }
    if (source->second->getVariableCount() == joint->getVariableCount()) {
      joint->setMimic(source->second, urdf_joint->mimic->multiplier, urdf_joint->mimic->offset);
    } else {
      std::printf("Join '%s' cannot mimic joint '%s' because they have different number of DOF",
                  joint->getName().c_str(), source_name.c_str());
    }
  }
  resolveMimicChains();
  for (JointModel* joint : joint_model_vector_) {
    if (!joint->getMimic()) continue;
    joint_model_vector_[joint->getMimic()->getJointIndex()]->addMimicRequest(joint);
    mimic_joints_.push_back(joint);
  }
}

// A joint mimicking a mimic joint follows the latter's source directly,
// with the factors multiplied and the offsets carried through.
void RobotModel::resolveMimicChains() {
  bool changed = true;
  while (changed) {
    changed = false;
    for (JointModel* joint : joint_model_vector_) {
      const JointModel* source = joint->getMimic();
      if (source && source != joint && source->getMimic()) {
        joint->setMimic(source->getMimic(), joint->getMimicFactor() * source->getMimicFactor(),
                        joint->getMimicFactor() * source->getMimicOffset() + joint->getMimicOffset());
        changed = true;
      }
      if (joint->getMimic() == joint) {
        std::printf("Cycle found in joint that mimic each other. Ignoring all mimic joints.");
        for (JointModel* other : joint_model_vector_) other->setMimic(nullptr, 0.0, 0.0);
        return;
      }
    }
  }
}

void RobotModel::buildJointInfo() {
  variable_count_ = 0;
  for (JointModel* joint : joint_model_vector_) {
    const std::vector<std::string>& names = joint->getVariableNames();
    if (names.empty()) continue;
    for (size_t j = 0; j < names.size(); ++j) {
      joint_variables_index_map_[names[j]] = variable_count_ + j;
      variable_names_.push_back(names[j]);
      joints_of_variable_.push_back(joint);
    }
    if (!joint->getMimic()) {
      active_joint_model_start_index_.push_back(static_cast<int>(variable_count_));
      active_joint_model_vector_.push_back(joint);
      active_joint_model_names_vector_.push_back(joint->getName());
      active_joint_model_vector_const_.push_back(joint);
      active_joint_models_bounds_.push_back(&joint->getVariableBounds());
    }
    const auto* revolute = dynamic_cast<const RevoluteJointModel*>(joint);
    if (revolute && revolute->isContinuous()) continuous_joint_model_vector_.push_back(joint);
    joint_variables_index_map_[joint->getName()] = variable_count_;
    variable_count_ += names.size();
    (names.size() == 1 ? single_dof_joints_ : multi_dof_joints_).push_back(joint);
  }
  buildFixedTransforms();
  computeDescendants();
  computeCommonRoots();
}

// Every group of links joined by fixed joints learns the transforms between its members.
void RobotModel::buildFixedTransforms() {
  std::vector<bool> considered(link_model_vector_.size(), false);
  for (LinkModel* link : link_model_vector_) {
    if (considered[link->getLinkIndex()]) continue;
    LinkTransforms transforms;
    computeFixedTransforms(link, link->getJointOriginTransform().inverse(), transforms);
    for (const auto& entry : transforms) considered[entry.first->getLinkIndex()] = true;
    for (const auto& base : transforms) {
      for (const auto& target : transforms) {
        if (base.first == target.first) continue;
        link_model_vector_[base.first->getLinkIndex()]->addAssociatedFixedTransform(
            target.first, base.second.inverse() * target.second);
      }
    }
  }
}

void RobotModel::computeFixedTransforms(const LinkModel* link, const Eigen::Isometry3d& transform,
                                        LinkTransforms& associated_transforms) {
  const Eigen::Isometry3d link_transform = transform * link->getJointOriginTransform();
  associated_transforms[link] = link_transform;
  for (const JointModel* child : link->getChildJointModels()) {
    if (child->getType() == JointModel::FIXED) {
      computeFixedTransforms(child->getChildLinkModel(), link_transform, associated_transforms);
    }
  }
}

namespace {

// Walk state for the descendant lists: joint index -> indices of the joints
// and links below it (mimic joints count as below their source).
struct DescendantWalk {
  std::vector<std::set<size_t>> joints;
  std::vector<std::set<size_t>> links;
  std::vector<const JointModel*> ancestors;
  std::set<const JointModel*> visited;
};

void collectDescendantsBelowJoint(const JointModel* joint, DescendantWalk& walk) {
  if (!walk.visited.insert(joint).second) return;
  for (const JointModel* ancestor : walk.ancestors) {
    walk.joints[ancestor->getJointIndex()].insert(joint->getJointIndex());
    walk.links[ancestor->getJointIndex()].insert(joint->getChildLinkModel()->getLinkIndex());
  }
  walk.ancestors.push_back(joint);
  for (const JointModel* child : joint->getChildLinkModel()->getChildJointModels()) {
    collectDescendantsBelowJoint(child, walk);
  }
  for (const JointModel* follower : joint->getMimicRequests()) collectDescendantsBelowJoint(follower, walk);
  walk.ancestors.pop_back();
}

void setCommonRoot(std::vector<int>& table, size_t n, size_t a, size_t b, int root) {
  table[a + b * n] = root;
  table[a * n + b] = root;
}

// Joints on different branches below a link meet at the joint above that link.
void fillCommonRootsBelowJoint(const JointModel* joint, std::vector<int>& table, size_t n) {
  if (!joint || !joint->getChildLinkModel()) return;
  const int root = static_cast<int>(joint->getJointIndex());
  const std::vector<const JointModel*>& children = joint->getChildLinkModel()->getChildJointModels();
  for (size_t i = 0; i < children.size(); ++i) {
    for (size_t j = i + 1; j < children.size(); ++j) {
      const JointModel* a = children[i];
      const JointModel* b = children[j];
      for (const JointModel* y : b->getDescendantJointModels()) {
        setCommonRoot(table, n, a->getJointIndex(), y->getJointIndex(), root);
      }
      for (const JointModel* x : a->getDescendantJointModels()) {
        setCommonRoot(table, n, x->getJointIndex(), b->getJointIndex(), root);
        for (const JointModel* y : b->getDescendantJointModels()) {
          setCommonRoot(table, n, x->getJointIndex(), y->getJointIndex(), root);
        }
      }
    }
    fillCommonRootsBelowJoint(children[i], table, n);
  }
}

}  // namespace

void RobotModel::computeDescendants() {
  if (!root_joint_) return;
  DescendantWalk walk;
  walk.joints.resize(joint_model_vector_.size());
  walk.links.resize(joint_model_vector_.size());
  collectDescendantsBelowJoint(root_joint_, walk);
  for (JointModel* joint : joint_model_vector_) {
    for (size_t index : walk.joints[joint->getJointIndex()]) joint->addDescendantJointModel(joint_model_vector_[index]);
    for (size_t index : walk.links[joint->getJointIndex()]) joint->addDescendantLinkModel(link_model_vector_[index]);
  }
}

void RobotModel::computeCommonRoots() {
  const size_t n = joint_model_vector_.size();
  common_joint_roots_.resize(n * n, 0);
  fillCommonRootsBelowJoint(root_joint_, common_joint_roots_, n);
  for (const JointModel* joint : joint_model_vector_) {
    const size_t i = joint->getJointIndex();
    common_joint_roots_[i + i * n] = static_cast<int>(i);
    for (const JointModel* descendant : joint->getDescendantJointModels()) {
      setCommonRoot(common_joint_roots_, n, i, descendant->getJointIndex(), static_cast<int>(i));
    }
  }
}

const JointModel* RobotModel::getCommonRoot(const JointModel* a, const JointModel* b) const {
  const size_t n = joint_model_vector_.size();
  return joint_model_vector_[common_joint_roots_[a->getJointIndex() + b->getJointIndex() * n]];
}

}  // namespace core
}  // namespace moveit
