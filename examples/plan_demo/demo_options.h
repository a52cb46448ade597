#pragma once

#include <optional>
#include <string>
#include <vector>

namespace plan_demo {

// What the user asked for on the command line; empty fields take the bundled
// demo arm's values.
struct DemoOptions {
  std::string description_dir;  // empty: the demo arm found through the ament index
  std::string urdf_file = "scene_arm.urdf";
  std::string srdf_file = "scene_arm.srdf";
  std::string mdh_file;  // empty: mdh_table.txt of the demo arm; "none": no table
  std::string group = "arm";
  std::string gripper_link = "gripper_link";
  std::vector<double> acceleration_limits = {10.0, 10.0, 10.0, 12.0, 12.0, 12.0};
  // Both arms reach forward at shoulder height, turned to either side of the front.
  std::vector<double> start = {-1.2, -0.8, -0.6, 0.0, 0.0, 0.0};
  std::vector<double> goal = {1.2, -0.8, -0.6, 0.0, 0.0, 0.0};
  double robot_padding = 0.01;
  bool obstacle = true;
  bool save_csv = true;
  bool verbose = false;
  std::string log_file = "plan_demo.log";
};

// Parsed options, or the reason they could not be parsed ("help" for --help).
struct ParsedOptions {
  std::optional<DemoOptions> options;
  std::string error;
};

ParsedOptions parseOptions(int argc, char** argv);
std::string usage(const std::string& program);

// The MDH table in the robot model's layout: one row each for d, a, the
// zero-angle offset and alpha, one column per joint. Lines starting with '#'
// and blank lines are skipped. Throws std::runtime_error when the file cannot
// be read, holds something other than numbers or rows of unequal length.
std::vector<std::vector<double>> readMdhTable(const std::string& path);

}  // namespace plan_demo
