#include "bramlock_arm_planning_core/srdf/model.h"

#include <cstdio>
#include <fstream>
#include <locale>
#include <sstream>

#include <tinyxml2.h>

namespace srdf {
namespace {

using tinyxml2::XMLElement;

// The attribute's text, or empty when it is absent.
std::string attributeText(const XMLElement* element, const char* attribute) {
  const char* value = element->Attribute(attribute);
  return value ? std::string(value) : std::string();
}

// Reads the listed attributes in order; the first missing or empty one skips
// the element with one printed line.
bool readRequired(const XMLElement* element, std::initializer_list<std::pair<const char*, std::string*>> fields) {
  for (const auto& [attribute, target] : fields) {
    *target = attributeText(element, attribute);
    if (target->empty()) {
      std::printf("SRDF: <%s> element on line %d without '%s' attribute skipped\n", element->Name(),
                  element->GetLineNum(), attribute);
      return false;
    }
  }
  return true;
}

// Whitespace-separated numbers; false for an empty list or any token that is
// not a finite-range double.
bool parseValues(const std::string& text, std::vector<double>& values) {
  std::istringstream stream(text);
  stream.imbue(std::locale::classic());
  values.clear();
  double value = 0.0;
  while (stream >> value) values.push_back(value);
  return stream.eof() && !values.empty();
}

bool readGroupMember(const XMLElement* child, Model::Group& group) {
  const std::string kind = child->Name();
  std::string first;
  if (kind == "chain") {
    std::string second;
    if (!readRequired(child, {{"base_link", &first}, {"tip_link", &second}})) return false;
    group.chains_.emplace_back(first, second);
    return true;
  }
  std::vector<std::string>* target = kind == "joint"   ? &group.joints_
                                     : kind == "link"  ? &group.links_
                                     : kind == "group" ? &group.subgroups_
                                                       : nullptr;
  if (!target || !readRequired(child, {{"name", &first}})) return false;
  target->push_back(first);
  return true;
}

bool readGroup(const XMLElement* element, Model::Group& group) {
  if (!readRequired(element, {{"name", &group.name_}})) return false;
  for (const XMLElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement()) {
    readGroupMember(child, group);
  }
  return true;
}

bool readVirtualJoint(const XMLElement* element, Model::VirtualJoint& joint) {
  if (!readRequired(element, {{"name", &joint.name_}, {"child_link", &joint.child_link_}})) return false;
  // Type and parent frame are judged by the robot model, which reports them.
  joint.type_ = attributeText(element, "type");
  joint.parent_frame_ = attributeText(element, "parent_frame");
  return true;
}

bool readEndEffector(const XMLElement* element, Model::EndEffector& end_effector) {
  if (!readRequired(element, {{"name", &end_effector.name_},
                              {"parent_link", &end_effector.parent_link_},
                              {"group", &end_effector.component_group_}})) {
    return false;
  }
  end_effector.parent_group_ = attributeText(element, "parent_group");
  return true;
}

bool readGroupState(const XMLElement* element, Model::GroupState& state) {
  if (!readRequired(element, {{"name", &state.name_}, {"group", &state.group_}})) return false;
  for (const XMLElement* child = element->FirstChildElement("joint"); child;
       child = child->NextSiblingElement("joint")) {
    std::string joint;
    std::string text;
    if (!readRequired(child, {{"name", &joint}, {"value", &text}})) continue;
    std::vector<double> values;
    if (!parseValues(text, values)) {
      std::printf("SRDF: joint '%s' of group state '%s' has unreadable values '%s'; skipped\n", joint.c_str(),
                  state.name_.c_str(), text.c_str());
      continue;
    }
    state.joint_values_[joint] = values;
  }
  return true;
}

bool readPassiveJoint(const XMLElement* element, Model::PassiveJoint& joint) {
  return readRequired(element, {{"name", &joint.name_}});
}

bool readCollisionPair(const XMLElement* element, Model::CollisionPair& pair) {
  if (!readRequired(element, {{"link1", &pair.link1_}, {"link2", &pair.link2_}})) return false;
  pair.reason_ = attributeText(element, "reason");
  return true;
}

bool readJointProperty(const XMLElement* element, Model::JointProperty& property) {
  return readRequired(element, {{"joint_name", &property.joint_name_},
                                {"property_name", &property.property_name_},
                                {"value", &property.value_}});
}

// Reads every <tag> child of the robot element with reader and appends the
// elements it accepts, in document order.
template <typename Item, typename Reader>
void readAll(const XMLElement* robot, const char* tag, Reader reader, std::vector<Item>& items) {
  for (const XMLElement* element = robot->FirstChildElement(tag); element; element = element->NextSiblingElement(tag)) {
    Item item;
    if (reader(element, item)) items.push_back(std::move(item));
  }
}

}  // namespace

void Model::clear() { *this = Model(); }

bool Model::initFile(const urdf::ModelInterface& urdf_model, const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    clear();
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  return initString(urdf_model, text.str());
}

bool Model::initString(const urdf::ModelInterface& /*urdf_model*/, const std::string& xml) {
  clear();
  tinyxml2::XMLDocument document;
  if (document.Parse(xml.c_str(), xml.size()) != tinyxml2::XML_SUCCESS) return false;
  const XMLElement* robot = document.FirstChildElement("robot");
  if (!robot) return false;
  name_ = attributeText(robot, "name");
  if (name_.empty()) return false;
  readAll(robot, "group", readGroup, groups_);
  readAll(robot, "virtual_joint", readVirtualJoint, virtual_joints_);
  readAll(robot, "end_effector", readEndEffector, end_effectors_);
  readAll(robot, "group_state", readGroupState, group_states_);
  readAll(robot, "passive_joint", readPassiveJoint, passive_joints_);
  readAll(robot, "disable_collisions", readCollisionPair, disabled_collision_pairs_);
  readAll(robot, "joint_property", readJointProperty, joint_properties_);
  return true;
}

std::vector<Model::JointProperty> Model::getJointProperties(const std::string& joint_name) const {
  std::vector<JointProperty> properties;
  for (const JointProperty& property : joint_properties_) {
    if (property.joint_name_ == joint_name) properties.push_back(property);
  }
  return properties;
}

}  // namespace srdf
