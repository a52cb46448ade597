#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

class ManipulatorPlanScene;
class TrajectoryGenerator;

namespace plan_demo {

using Path = std::vector<std::vector<double>>;

// The summary: one "label: text" line each, flushed at once.
class Summary {
 public:
  explicit Summary(FILE* out) : out_(out) {}
  void title(const std::string& text);
  void line(const std::string& label, const std::string& text);
  // The first text on the label's line, the others below it, aligned with it.
  void lines(const std::string& label, const std::vector<std::string>& texts);

 private:
  void write(const std::string& head, const std::string& text);

  FILE* out_;
};

struct Limits {
  std::vector<double> vmax;
  std::vector<double> amax;
};

// The scene's limits of the planned group, one per joint; nothing when it has
// none for every joint.
std::optional<Limits> sceneLimits(ManipulatorPlanScene& scene);

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start);
std::string formatSeconds(double seconds);

// Times the path with the generator's cubic spline planner under the joint
// limits (one per joint), optionally asking for the CSV file, and reports the
// trajectory and where its CSV file went or why it did not. False on failure.
bool timeWithCubicSpline(TrajectoryGenerator& generator, const Path& path, const std::vector<double>& vmax,
                         const std::vector<double>& amax, bool save_csv, Summary& summary);

}  // namespace plan_demo
