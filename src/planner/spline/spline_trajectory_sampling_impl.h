#pragma once

// Millisecond sampling and CSV output of SplineTrajectoryPlanner; included by
// spline_trajectory_planner_impl.h.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <locale>
#include <string>
#include <system_error>
#include <vector>

#include <Eigen/Core>

#include "bramlock_arm_planning_core/logger.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "bramlock_arm_planning_core/planner/constraint_evaluators.h"
#include "bramlock_arm_planning_core/planner/spline_trajectory_planner.h"
#include "planner/spline/spline_time_optimisation_impl.h"

namespace bramlock {
namespace internal {

// directory/prefix_YYYYmmdd_HHMMSS.csv in local time; when that file exists, the first free
// name with "_1", "_2", ... before ".csv", so files of the same second do not overwrite each other.
inline std::string freeCsvPath(const std::string& directory, const std::string& prefix) {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &local);
  const std::filesystem::path base = std::filesystem::path(directory) / (prefix + "_" + stamp);
  std::string candidate = base.string() + ".csv";
  std::error_code ignored;
  for (int suffix = 1; std::filesystem::exists(candidate, ignored); ++suffix) {
    candidate = base.string() + "_" + std::to_string(suffix) + ".csv";
  }
  return candidate;
}

}  // namespace internal
}  // namespace bramlock

template <class Flavour>
std::vector<TrajectoryData> SplineTrajectoryPlanner<Flavour>::generateTrajectory(const std::vector<double>& durations,
                                                                                 bool saveCsv) const {
  using namespace bramlock::internal;
  const std::size_t points = static_cast<std::size_t>(num_points_);
  const std::size_t joints = static_cast<std::size_t>(num_joints_);
  const std::vector<double> times = knotTimes(durations);
  const auto splines = restToRestSplines<Flavour>(times, positions_);
  std::vector<TrajectoryData> result(points);
  for (std::size_t i = 0; i < points; ++i) {
    result[i].time = times[i];
    result[i].positions.resize(joints);
    result[i].velocities.resize(joints);
    result[i].accelerations.resize(joints);
  }
  for (std::size_t j = 0; j < joints; ++j) {
    std::vector<double> velocities, accelerations;
    Flavour::waypointDerivatives(splines[j], positions_[j], durations, velocities, accelerations);
    for (std::size_t i = 0; i < points; ++i) {
      result[i].positions[j] = positions_[j][i];
      result[i].velocities[j] = velocities[i];
      result[i].accelerations[j] = accelerations[i];
    }
  }
  std::vector<TrajectoryData> dense;
  forEachSampleInstant(times.back(), [&](double e) {
    TrajectoryData sample;
    sample.time = e;
    sample.positions.reserve(joints);
    for (const auto& spline : splines) {
      sample.positions.push_back(spline.position(e));
    }
    dense.push_back(std::move(sample));
  });
  result.front().children = std::move(dense);
  if (saveCsv) {
    const std::string path = writeTrajectoryCsv(kTrajectoryDirectory, durations);
    if (!path.empty()) {
      BRAMLOCK_INFO(Flavour::kCsvSaved, path);
    }
  }
  return result;
}

template <class Flavour>
std::string SplineTrajectoryPlanner<Flavour>::writeTrajectoryCsv(const std::string& directory,
                                                                 const std::vector<double>& durations) const {
  using namespace bramlock::internal;
  const std::string path = freeCsvPath(directory, Flavour::kCsvPrefix);
  std::ofstream file(path, std::ios::out | std::ios::trunc);
  if (!file.is_open()) {
    BRAMLOCK_INFO(Flavour::kCsvFailed, path, std::generic_category().message(errno));
    return std::string();
  }
  // Decimal points stay points whatever locale the host process runs in.
  file.imbue(std::locale::classic());
  const std::vector<double> times = knotTimes(durations);
  const auto splines = restToRestSplines<Flavour>(times, positions_);
  const bool torques = torque_constraints_enabled_ && dynamicsUsable();
  file << "time";
  for (int j = 0; j < num_joints_; ++j) {
    file << ",j" << j << "_pos,j" << j << "_vel,j" << j << "_acc";
    Flavour::writeJerkHeader(file, j);
  }
  for (int j = 0; torques && j < num_joints_; ++j) {
    file << ",j" << j << "_torque";
  }
  file << "\n";
  Eigen::VectorXd q(num_joints_), qd(num_joints_), qdd(num_joints_);
  forEachSampleInstant(times.back(), [&](double e) {
    file << e;
    for (Eigen::Index j = 0; j < q.size(); ++j) {
      const auto& spline = splines[static_cast<std::size_t>(j)];
      q[j] = spline.position(e);
      qd[j] = spline.velocity(e);
      qdd[j] = spline.acceleration(e);
      file << ',' << q[j] << ',' << qd[j] << ',' << qdd[j];
      Flavour::writeJerk(file, spline, e);
    }
    if (torques) {
      const Eigen::VectorXd& tau = bramlock::dynamics::rnea(*model_, *data_, q, qd, qdd);
      for (Eigen::Index j = 0; j < tau.size(); ++j) {
        file << ',' << tau[j];
      }
    }
    file << "\n";
  });
  file.close();
  if (!file) {
    BRAMLOCK_INFO(Flavour::kCsvFailed, path, std::generic_category().message(errno));
    return std::string();
  }
  return path;
}
