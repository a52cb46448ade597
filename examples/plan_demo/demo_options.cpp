#include "demo_options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace plan_demo {
namespace {

// "0.1,-0.4,2" as numbers; nothing for an empty list or a text that is not one.
std::optional<std::vector<double>> parseNumberList(const std::string& text) {
  std::vector<double> values;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ',')) {
    char* end = nullptr;
    const double value = std::strtod(item.c_str(), &end);
    if (item.empty() || *end != '\0') return std::nullopt;
    values.push_back(value);
  }
  if (values.empty()) return std::nullopt;
  return values;
}

std::optional<double> parseNumber(const std::string& text) {
  const auto values = parseNumberList(text);
  if (!values || values->size() != 1) return std::nullopt;
  return values->front();
}

using TextSetter = void (*)(DemoOptions&, const std::string&);

const std::map<std::string, TextSetter>& textOptions() {
  static const std::map<std::string, TextSetter> setters = {
      {"--description-dir", [](DemoOptions& o, const std::string& v) { o.description_dir = v; }},
      {"--urdf", [](DemoOptions& o, const std::string& v) { o.urdf_file = v; }},
      {"--srdf", [](DemoOptions& o, const std::string& v) { o.srdf_file = v; }},
      {"--mdh", [](DemoOptions& o, const std::string& v) { o.mdh_file = v; }},
      {"--group", [](DemoOptions& o, const std::string& v) { o.group = v; }},
      {"--gripper-link", [](DemoOptions& o, const std::string& v) { o.gripper_link = v; }},
      {"--log", [](DemoOptions& o, const std::string& v) { o.log_file = v; }},
  };
  return setters;
}

std::vector<double>* listOption(DemoOptions& options, const std::string& name) {
  if (name == "--start") return &options.start;
  if (name == "--goal") return &options.goal;
  if (name == "--acceleration-limits") return &options.acceleration_limits;
  return nullptr;
}

bool* switchOption(DemoOptions& options, const std::string& name) {
  if (name == "--no-obstacle") return &options.obstacle;
  if (name == "--no-csv") return &options.save_csv;
  return nullptr;
}

bool takesValue(const std::string& name) {
  DemoOptions scratch;
  return textOptions().count(name) > 0 || listOption(scratch, name) != nullptr || name == "--robot-padding";
}

bool noneAtOrBelowZero(const std::vector<double>& values) {
  return std::none_of(values.begin(), values.end(), [](double value) { return value <= 0.0; });
}

// Applies "--name value"; the reason when it cannot.
std::string applyValueOption(DemoOptions& options, const std::string& name, const std::string& value) {
  const auto text = textOptions().find(name);
  if (text != textOptions().end()) {
    text->second(options, value);
    return "";
  }
  if (std::vector<double>* list = listOption(options, name)) {
    const auto values = parseNumberList(value);
    if (!values) return name + " needs comma-separated numbers, not \"" + value + "\"";
    // The scene takes acceleration limits of 0 or below, and planning runs;
    // only timing the planned path fails.
    if (name == "--acceleration-limits" && !noneAtOrBelowZero(*values)) {
      return name + " needs limits above 0 rad/s^2, not \"" + value + "\"";
    }
    *list = *values;
    return "";
  }
  const auto padding = parseNumber(value);
  if (!padding || !std::isfinite(*padding) || *padding < 0.0) {
    return "--robot-padding needs a finite number of metres >= 0, not \"" + value + "\"";
  }
  options.robot_padding = *padding;
  return "";
}

}  // namespace

ParsedOptions parseOptions(int argc, char** argv) {
  ParsedOptions parsed;
  DemoOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      parsed.error = "help";
      return parsed;
    }
    if (name == "--verbose") {
      options.verbose = true;
      continue;
    }
    if (bool* flag = switchOption(options, name)) {
      *flag = false;
      continue;
    }
    if (!takesValue(name)) {
      parsed.error = "unknown option " + name;
      return parsed;
    }
    if (i + 1 >= argc) {
      parsed.error = name + " needs a value";
      return parsed;
    }
    parsed.error = applyValueOption(options, name, argv[++i]);
    if (!parsed.error.empty()) return parsed;
  }
  parsed.options = options;
  return parsed;
}

std::string usage(const std::string& program) {
  return "usage: " + program + R"( [options]

Plans one collision-free motion of an arm around an octomap obstacle, times it
with the cubic spline planner and with TOPP-RA, and prints a summary. Without
options it runs on the bundled demo arm, found through AMENT_PREFIX_PATH.

  --description-dir DIR    directory of the arm description: it holds the URDF,
                           the SRDF and the package folder named in the URDF's
                           package:// references (file paths are DIR followed
                           directly by the file names)
  --urdf FILE              URDF file name in DIR (scene_arm.urdf)
  --srdf FILE              SRDF file name in DIR (scene_arm.srdf)
  --mdh FILE               MDH table file (rows d, a, zero offset, alpha; one
                           column per joint; numbers separated by whitespace,
                           lines starting with # skipped), or "none"; default:
                           the demo arm's table, none with --description-dir
  --group NAME             joint-model group to plan for (arm)
  --gripper-link NAME      gripper link of the group (gripper_link)
  --acceleration-limits L  one limit per joint, rad/s^2 (10,10,10,12,12,12)
  --start Q, --goal Q      joint vectors, radians, comma-separated
  --robot-padding M        padding of the robot's links, metres (0.01)
  --no-obstacle            plan in an empty world
  --no-csv                 do not ask the spline planner for a CSV file
  --log FILE               where the library's console output goes (plan_demo.log)
  --verbose                leave the library's console output on the terminal
)";
}

std::vector<std::vector<double>> readMdhTable(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read the MDH table " + path);
  std::vector<std::vector<double>> table;
  std::string line;
  while (std::getline(file, line)) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    std::stringstream stream(line);
    std::vector<double> row;
    double value = 0.0;
    while (stream >> value) row.push_back(value);
    if (!stream.eof() || row.empty()) throw std::runtime_error("not a row of numbers in " + path + ": " + line);
    if (!table.empty() && row.size() != table.front().size()) {
      throw std::runtime_error("rows of unequal length in " + path);
    }
    table.push_back(row);
  }
  return table;
}

}  // namespace plan_demo
