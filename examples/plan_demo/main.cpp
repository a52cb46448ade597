// A host of the planning core, doing what a host does: load an arm into a
// planning scene, put an octomap obstacle between start and goal, plan with
// the pipeline, time the planned path with the cubic spline planner and with
// TOPP-RA, have the scene check the TOPP-RA trajectory's samples for
// collisions, and print a short summary that says which checks each result
// passed. Exit status: 0 on success, 1 when planning, timing or the check
// fails, 2 for bad arguments or an arm that cannot be loaded.

#include <ament_index_cpp/get_package_share_directory.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/planner/path_plan_and_post_processing.h"
#include "bramlock_arm_planning_core/planner/trajectory_generator.h"
#include "bramlock_arm_planning_core/robot_model/joint_model.h"
#include "console_redirect.h"
#include "demo_failure.h"
#include "demo_obstacle.h"
#include "demo_options.h"
#include "demo_srdf.h"
#include "demo_timing.h"
#include "demo_toppra.h"

namespace plan_demo {
namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUnusable = 2;
constexpr std::size_t kMdhTableJoints = 6;  // the model reads the table for joint1 ... joint6

struct Arm {
  std::string directory;
  std::string mdh_file;  // "none" for no table
  std::vector<std::vector<double>> mdh_table;
};

// The directory of the arm to load: the user's, or the demo arm installed
// below the share directory of the description package. Throws when the
// package cannot be found.
std::string armDirectory(const DemoOptions& options) {
  std::string directory = options.description_dir;
  if (directory.empty()) {
    directory = ament_index_cpp::get_package_share_directory("bramlock_arm_description") + "/demo_arm";
  }
  // Mesh references become file:// URIs below this directory, which must be
  // absolute; and the scene puts file names directly after it.
  directory = std::filesystem::absolute(directory).lexically_normal().string();
  if (directory.back() != '/') directory += '/';
  return directory;
}

// The scene would load a missing SRDF as an empty one, leaving no group to plan for.
void requireSrdf(const std::string& directory, const DemoOptions& options) {
  const std::filesystem::path srdf = directory + options.srdf_file;
  std::error_code error;
  if (!std::filesystem::is_regular_file(srdf, error)) {
    throw std::runtime_error("the SRDF file " + srdf.string() + " does not exist");
  }
}

// The arm's files below its directory. Throws when one cannot be used.
Arm readArm(const DemoOptions& options, const std::string& directory) {
  requireSrdf(directory, options);
  Arm arm;
  arm.directory = directory;
  arm.mdh_file = options.mdh_file;
  if (arm.mdh_file.empty()) arm.mdh_file = options.description_dir.empty() ? directory + "mdh_table.txt" : "none";
  if (arm.mdh_file != "none") arm.mdh_table = readMdhTable(arm.mdh_file);
  return arm;
}

std::unique_ptr<ManipulatorPlanScene> loadScene(const DemoOptions& options, Arm& arm) {
  return std::make_unique<ManipulatorPlanScene>(arm.directory, options.urdf_file, options.srdf_file, options.group,
                                                options.robot_padding, 1.0, options.gripper_link, arm.mdh_table,
                                                options.acceleration_limits);
}

// The scene takes an MDH table of another shape, printing only that the
// joints it misses keep zero MDH values.
std::string mdhTableMismatch(const Arm& arm, const std::string& group, std::size_t joints) {
  const auto& table = arm.mdh_table;
  if (table.empty() || (table.size() == moveit::core::kMdhRowCount && table.front().size() == joints)) return "";
  return "the MDH table " + arm.mdh_file + " (--mdh) holds " + std::to_string(table.size()) + " rows of " +
         std::to_string(table.front().size()) + " numbers; group \"" + group +
         "\" needs 4 rows (d, a, zero-angle offset, alpha) of " + std::to_string(joints) + ", one per joint";
}

// Whether the robot model reads the joint's MDH values from a table of this
// many columns: joint k takes the k-th column, for joint1 to joint6 only.
bool takesMdhColumn(const std::string& name, std::size_t columns) {
  for (std::size_t k = 1; k <= kMdhTableJoints && k <= columns; ++k) {
    if (name == "joint" + std::to_string(k)) return true;
  }
  return false;
}

// The joints that keep zero MDH values although a table was given (the model
// only logs it), or empty.
std::string mdhTableUnused(const Arm& arm, const std::vector<std::string>& joint_names) {
  if (arm.mdh_table.empty()) return "";
  std::string unused;
  for (const std::string& name : joint_names) {
    if (!takesMdhColumn(name, arm.mdh_table.front().size())) unused += (unused.empty() ? "" : ", ") + name;
  }
  if (unused.empty()) return "";
  return "not used for " + unused + " (" + arm.mdh_file + "; joint k takes the k-th column, for joint1 to joint6 only)";
}

// The scene takes a gripper link the model lacks, printing only a line.
std::string gripperLinkMismatch(ManipulatorPlanScene& scene, const std::string& link) {
  const std::vector<std::string> links = scene.getLinks();
  if (link.empty() || std::find(links.begin(), links.end(), link) != links.end()) return "";
  return "--gripper-link " + link + " is not a link of the arm";
}

// Whether the scene can plan for the group with the arguments given; prints
// why not, and warns of SRDF names the URDF lacks.
bool armFitsArguments(ManipulatorPlanScene& scene, const DemoOptions& options, const Arm& arm, int joints,
                      Summary& summary) {
  const SrdfMisses misses =
      findSrdfMisses(arm.directory + options.srdf_file, scene.getRobotDescriptions(), options.group);
  for (const std::string& pair : misses.collision_pairs) summary.line("warning", pair);
  if (misses.group_lost) {
    summary.lines("cause", misses.group_members);
    return false;
  }
  if (joints < 1) {
    summary.line("hint", "the scene plans for no group of that name: it must exist and have no subgroups");
    return false;
  }
  for (const std::string& member : misses.group_members) summary.line("warning", member + ": the group leaves it out");
  std::string mismatch = mdhTableMismatch(arm, options.group, static_cast<std::size_t>(joints));
  if (mismatch.empty()) mismatch = gripperLinkMismatch(scene, options.gripper_link);
  if (!mismatch.empty()) summary.line("bad argument", mismatch);
  return mismatch.empty();
}

Path pathOf(const std::vector<TrajectoryData>& points) {
  Path path;
  for (const TrajectoryData& point : points) path.push_back(point.positions);
  return path;
}

// Runs the whole job; prints the summary lines as it goes and adds the checks
// that each result it printed passed (or failed) to checks.
int runDemo(const DemoOptions& options, Summary& summary, std::vector<std::string>& checks) {
  std::string directory;
  try {
    directory = armDirectory(options);
  } catch (const std::exception& error) {
    summary.line("arm", std::string("cannot be loaded: ") + error.what());
    summary.line("hint", "install the package and put its prefix in AMENT_PREFIX_PATH, or pass --description-dir");
    return kExitUnusable;
  }
  Arm arm;
  std::unique_ptr<ManipulatorPlanScene> owned_scene;
  try {
    arm = readArm(options, directory);
    owned_scene = loadScene(options, arm);
  } catch (const std::exception& error) {
    summary.line("arm", std::string("cannot be loaded: ") + error.what());
    return kExitUnusable;
  }
  ManipulatorPlanScene* scene = owned_scene.get();
  std::vector<std::string> joint_names;
  const int joints = scene->getPlanedJointNames(joint_names);
  summary.line("arm", arm.directory + " (" + options.urdf_file + ", " + options.srdf_file + "), group \"" +
                          options.group + "\", " + std::to_string(joints) + (joints == 1 ? " joint" : " joints"));
  if (!armFitsArguments(*scene, options, arm, joints, summary)) return kExitUnusable;
  const std::string mdh_unused = mdhTableUnused(arm, joint_names);
  if (!mdh_unused.empty()) summary.line("MDH table", mdh_unused);
  if (options.obstacle) summary.line("obstacle", placeObstacle(*scene, options.start, options.goal));

  // The pipeline owns the scene from here on; the generator below only borrows it.
  PathPlanAndPostProcessing pipeline(owned_scene.release());
  std::vector<TrajectoryData> planned;
  const auto planning_start = Clock::now();
  const int code = pipeline.runPlanPipeline(options.start, options.goal, planned, false);
  const double planning_seconds = secondsSince(planning_start);
  summary.line("result", std::to_string(code) + " (" + pipelineMeaning(code) + ")");
  if (code != 0) {
    const std::string cause = planningFailureCause(*scene, options.start, options.goal, code);
    if (!cause.empty()) summary.line("cause", cause);
    return kExitFailed;
  }
  // The pipeline returns a path only when the scene passes it this way.
  checks.push_back(
      "planned path: passed the scene's motion checks (isValid on every waypoint, checkMotion on "
      "every segment)");
  summary.line("waypoints", std::to_string(planned.size()));
  summary.line("planning time", formatSeconds(planning_seconds));

  const std::optional<Limits> limits = sceneLimits(*scene);
  if (!limits) {
    summary.line("trajectory", "the scene gives no velocity and acceleration limits");
    return kExitFailed;
  }
  const Path path = pathOf(planned);
  TrajectoryGenerator generator(scene);
  generator.setMdhParams(scene->getArmMdhParams());
  if (!timeWithCubicSpline(generator, path, limits->vmax, limits->amax, options.save_csv, summary)) {
    return kExitFailed;
  }
  // The generator returns a trajectory only when its samples keep the joint bounds and pass the scene's check.
  checks.push_back("cubic spline: samples within the joint bounds and passed the scene's collision check");
  return timeWithToppra(path, limits->vmax, limits->amax, *scene, summary, checks) ? 0 : kExitFailed;
}

}  // namespace
}  // namespace plan_demo

int main(int argc, char** argv) {
  using namespace plan_demo;
  const ParsedOptions parsed = parseOptions(argc, argv);
  if (!parsed.options) {
    const bool help = parsed.error == "help";
    std::fprintf(help ? stdout : stderr, "%s%s", help ? "" : (parsed.error + "\n").c_str(), usage(argv[0]).c_str());
    return help ? 0 : kExitUnusable;
  }
  const DemoOptions& options = *parsed.options;
  std::unique_ptr<ConsoleRedirect> redirect;
  if (!options.verbose) {
    redirect = ConsoleRedirect::toFile(options.log_file);
    if (!redirect) {
      std::fprintf(stderr, "cannot write the log file %s\n", options.log_file.c_str());
      return kExitUnusable;
    }
  }
  Summary summary(redirect ? redirect->terminal() : stdout);
  summary.title("bramlock plan demo");
  int status = kExitFailed;
  std::vector<std::string> checks;
  try {
    status = runDemo(options, summary, checks);
  } catch (const std::exception& error) {
    summary.line("error", error.what());
  }
  summary.lines("checks", checks);
  if (redirect) summary.line("library output", options.log_file);
  summary.line("status", status == 0 ? "ok" : "failed");
  return status;
}
