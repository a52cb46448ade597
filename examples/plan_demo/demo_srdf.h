#pragma once

#include <string>
#include <vector>

namespace plan_demo {

// What the SRDF names that the URDF lacks. The robot model leaves such names
// out with at most a console line, which this host sends to its log: a group
// whose chain ends in a missing link vanishes, a disabled collision pair with
// one is dropped. Each entry is a sentence for the summary.
struct SrdfMisses {
  std::vector<std::string> group_members;    // of the group asked for
  std::vector<std::string> collision_pairs;  // disabled pairs that are dropped
  // The group asked for names only members the URDF lacks, so the model has
  // no such group (and may plan for another one, when it has a single one).
  bool group_lost = false;
};

// Reads the SRDF file against the URDF text (an empty result when either
// cannot be read: the scene reports those itself).
SrdfMisses findSrdfMisses(const std::string& srdf_path, const std::string& urdf_text, const std::string& group);

}  // namespace plan_demo
