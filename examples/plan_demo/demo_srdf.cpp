#include "demo_srdf.h"

#include <algorithm>
#include <utility>

#include <urdf_model/model.h>
#include <urdf_parser/urdf_parser.h>

#include "bramlock_arm_planning_core/srdf/model.h"

namespace plan_demo {
namespace {

bool hasLink(const urdf::ModelInterface& urdf, const std::string& name) { return urdf.links_.count(name) > 0; }

// One sentence per member of the group that the URDF lacks.
std::vector<std::string> missingMembers(const urdf::ModelInterface& urdf, const srdf::Model::Group& group) {
  std::vector<std::string> missing;
  const std::string owner = "group \"" + group.name_ + "\" of the SRDF ";
  for (const auto& [base, tip] : group.chains_) {
    for (const auto& [role, link] : {std::pair{"starts", base}, std::pair{"ends", tip}}) {
      if (!hasLink(urdf, link))
        missing.push_back(owner + role + " its chain in link '" + link + "', which the URDF lacks");
    }
  }
  for (const std::string& link : group.links_) {
    if (!hasLink(urdf, link)) missing.push_back(owner + "names link '" + link + "', which the URDF lacks");
  }
  for (const std::string& joint : group.joints_) {
    if (!urdf.joints_.count(joint)) missing.push_back(owner + "names joint '" + joint + "', which the URDF lacks");
  }
  return missing;
}

// Whether some member of the group is in the URDF (subgroups are taken as
// present: the model reports its own misses of those).
bool keepsAMember(const urdf::ModelInterface& urdf, const srdf::Model::Group& group) {
  const auto linked = [&](const std::string& link) { return hasLink(urdf, link); };
  const auto jointed = [&](const std::string& joint) { return urdf.joints_.count(joint) > 0; };
  const auto chained = [&](const std::pair<std::string, std::string>& chain) {
    return linked(chain.first) && linked(chain.second);
  };
  return !group.subgroups_.empty() || std::any_of(group.chains_.begin(), group.chains_.end(), chained) ||
         std::any_of(group.links_.begin(), group.links_.end(), linked) ||
         std::any_of(group.joints_.begin(), group.joints_.end(), jointed);
}

std::string pairMiss(const urdf::ModelInterface& urdf, const srdf::Model::CollisionPair& pair) {
  std::string missing;
  for (const std::string& link : {pair.link1_, pair.link2_}) {
    if (!hasLink(urdf, link)) missing += (missing.empty() ? "'" : "' nor '") + link;
  }
  if (missing.empty()) return "";
  return "the SRDF disables collisions between '" + pair.link1_ + "' and '" + pair.link2_ +
         "', but the URDF has no link " + missing + "': the pair is ignored";
}

}  // namespace

SrdfMisses findSrdfMisses(const std::string& srdf_path, const std::string& urdf_text, const std::string& group) {
  SrdfMisses misses;
  const urdf::ModelInterfaceSharedPtr urdf = urdf::parseURDF(urdf_text);
  srdf::Model srdf;
  if (!urdf || !srdf.initFile(*urdf, srdf_path)) return misses;
  for (const srdf::Model::Group& candidate : srdf.getGroups()) {
    if (candidate.name_ != group) continue;
    misses.group_members = missingMembers(*urdf, candidate);
    misses.group_lost = !keepsAMember(*urdf, candidate);
  }
  for (const srdf::Model::CollisionPair& pair : srdf.getDisabledCollisionPairs()) {
    const std::string miss = pairMiss(*urdf, pair);
    if (!miss.empty()) misses.collision_pairs.push_back(miss);
  }
  return misses;
}

}  // namespace plan_demo
