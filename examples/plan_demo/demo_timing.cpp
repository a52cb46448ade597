#include "demo_timing.h"

#include <unistd.h>

#include <exception>
#include <filesystem>
#include <memory>
#include <set>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/planner/cubic_spline_trajectory.h"
#include "bramlock_arm_planning_core/planner/trajectory_generator.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_acceleration.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_velocity.h"
#include "bramlock_arm_planning_core/toppra/geometric_path/piecewise_poly_path.h"
#include "bramlock_arm_planning_core/toppra/parametrizer/const_accel.h"
#include "bramlock_arm_planning_core/toppra/toppra_algorithm.h"

namespace plan_demo {
namespace {

namespace fs = std::filesystem;

// The spline planners write their CSV files into a fixed directory; read it
// from the planner instead of repeating it here.
struct CubicPlannerFiles : CubicSplineTrajectory {
  static std::string directory() { return kTrajectoryDirectory; }
  static constexpr const char* kNamePrefix = "trajectory_";
};

std::set<fs::path> trajectoryFiles(const std::string& directory) {
  std::set<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    const fs::path& file = it->path();
    if (file.extension() == ".csv" && file.filename().string().rfind(CubicPlannerFiles::kNamePrefix, 0) == 0) {
      files.insert(file);
    }
  }
  return files;
}

// Where the CSV file of one planner run went, or why it did not.
class CsvWatch {
 public:
  explicit CsvWatch(bool asked) : asked_(asked), before_(trajectoryFiles(directory_)) {}

  std::string outcome() const {
    if (!asked_) return "not asked for (--no-csv)";
    std::error_code error;
    if (!fs::is_directory(directory_, error)) return "not written: " + directory_ + " does not exist";
    for (const fs::path& file : trajectoryFiles(directory_)) {
      if (before_.count(file) == 0) return "written to " + file.string();
    }
    if (::access(directory_.c_str(), W_OK) != 0) return "not written: " + directory_ + " is not writable";
    return "not written (the library output says why)";
  }

 private:
  bool asked_;
  std::string directory_ = CubicPlannerFiles::directory();
  std::set<fs::path> before_;
};

std::string toppraMeaning(int code) {
  switch (code) {
    case 0:
      return "success";
    case 2:
      return "no controllable set: the limits cannot stop the motion at the end";
    case 3:
      return "the forward pass found no admissible speed";
    default:
      return "unknown code";
  }
}

toppra::Vector vectorOf(const std::vector<double>& values) {
  return Eigen::Map<const toppra::Vector>(values.data(), static_cast<Eigen::Index>(values.size()));
}

// A cubic spline at rest at both ends through the waypoints, over the path
// length in joint space; waypoints that repeat the one before are left out.
std::shared_ptr<toppra::GeometricPath> splineThrough(const Path& path) {
  toppra::Vectors positions;
  std::vector<double> lengths;
  for (const std::vector<double>& waypoint : path) {
    const toppra::Vector q = vectorOf(waypoint);
    const double step = positions.empty() ? 0.0 : (q - positions.back()).norm();
    if (!positions.empty() && step < 1e-9) continue;
    lengths.push_back(lengths.empty() ? 0.0 : lengths.back() + step);
    positions.push_back(q);
  }
  if (positions.size() < 2) return nullptr;
  return std::make_shared<toppra::PiecewisePolyPath>(toppra::PiecewisePolyPath::CubicSpline(
      positions, vectorOf(lengths), {toppra::BoundaryCond("clamped"), toppra::BoundaryCond("clamped")}));
}

}  // namespace

std::optional<Limits> sceneLimits(ManipulatorPlanScene& scene) {
  std::vector<std::pair<double, double>> bounds;
  Limits limits;
  if (scene.getPlanSpaceBounds(bounds) < 1 || scene.getVmaxAndAmax(limits.vmax, limits.amax) < 1) return std::nullopt;
  // The scene hands out every acceleration limit it was given, one per joint first.
  limits.amax.resize(limits.vmax.size());
  return limits;
}

void Summary::title(const std::string& text) {
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

void Summary::line(const std::string& label, const std::string& text) {
  std::fprintf(out_, "  %-16s%s\n", (label + ":").c_str(), text.c_str());
  std::fflush(out_);
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string formatSeconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", seconds);
  return text;
}

bool timeWithCubicSpline(TrajectoryGenerator& generator, const Path& path, const std::vector<double>& vmax,
                         const std::vector<double>& amax, bool save_csv, Summary& summary) {
  const CsvWatch csv(save_csv);
  std::vector<TrajectoryData> timed;
  generator.setTrajectoryType("cubic_spline");
  const int code =
      generator.generateTrajectoryData(path, vmax.data(), amax.data(), timed, save_csv, CartesianConstraints());
  if (code != 0) {
    summary.line("trajectory",
                 std::to_string(code) + " (the cubic spline planner did not converge or refused the path)");
    return false;
  }
  summary.line("trajectory", formatSeconds(timed.back().time) + " (cubic spline, " +
                                 std::to_string(timed.front().children.size()) + " samples of 1 ms)");
  summary.line("CSV", csv.outcome());
  return true;
}

bool timeWithToppra(const Path& path, const std::vector<double>& vmax, const std::vector<double>& amax,
                    Summary& summary) {
  const auto started = Clock::now();
  try {
    const auto spline = splineThrough(path);
    if (!spline) {
      summary.line("TOPP-RA", "nothing to parameterise: start and goal coincide");
      return true;
    }
    const toppra::Vector v = vectorOf(vmax);
    const toppra::Vector a = vectorOf(amax);
    toppra::algorithm::TOPPRA algorithm({std::make_shared<toppra::constraint::LinearJointVelocity>(-v, v),
                                         std::make_shared<toppra::constraint::LinearJointAcceleration>(-a, a)},
                                        spline);
    const int code = algorithm.computePathParametrization(0.0, 0.0);
    if (code != 0) {
      summary.line("TOPP-RA", std::to_string(code) + " (" + toppraMeaning(code) + ")");
      return false;
    }
    const toppra::parametrizer::ConstAccel timing(spline, algorithm.getGridpoints(), algorithm.getParametrization());
    char computed[32];
    std::snprintf(computed, sizeof computed, "%.1f ms", 1000.0 * secondsSince(started));
    summary.line("TOPP-RA", formatSeconds(timing.getTimes()[timing.getTimes().size() - 1]) + " (" +
                                std::to_string(algorithm.getN()) + " stages, computed in " + computed + ")");
    return true;
  } catch (const std::exception& error) {
    summary.line("TOPP-RA", std::string("failed: ") + error.what());
    return false;
  }
}

}  // namespace plan_demo
