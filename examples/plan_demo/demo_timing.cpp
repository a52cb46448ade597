#include "demo_timing.h"

#include <unistd.h>

#include <filesystem>
#include <set>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/planner/cubic_spline_trajectory.h"
#include "bramlock_arm_planning_core/planner/trajectory_generator.h"

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

void Summary::line(const std::string& label, const std::string& text) { write(label + ":", text); }

void Summary::lines(const std::string& label, const std::vector<std::string>& texts) {
  for (std::size_t i = 0; i < texts.size(); ++i) write(i == 0 ? label + ":" : std::string(), texts[i]);
}

void Summary::write(const std::string& head, const std::string& text) {
  std::fprintf(out_, "  %-16s%s\n", head.c_str(), text.c_str());
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

}  // namespace plan_demo
