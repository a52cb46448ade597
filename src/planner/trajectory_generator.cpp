#include "bramlock_arm_planning_core/planner/trajectory_generator.h"

#include <ament_index_cpp/get_package_share_directory.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>

#include "bramlock_arm_planning_core/logger.h"
#include "bramlock_arm_planning_core/planner/cubic_spline_trajectory.h"
#include "bramlock_arm_planning_core/planner/quintic_spline_trajectory.h"
#include "common/value_checks.h"
#include "planner/segment_limits.h"

namespace {

using Path = TrajectoryGenerator::Path;

constexpr double kDurationGuard = 1e-8;       // shorter segments give no estimate
constexpr double kGrowthFactor = 1.01;        // one step of the duration search
constexpr double kAccelerationMargin = 0.01;  // rad/s^2 tolerated above the limit
constexpr double kMaxGrowthPerVisit = 0.01;   // seconds
constexpr int kMaxSweeps = 100;
constexpr double kTimeOffset = 0.0001;  // seconds added to every time after the first
constexpr double kSplineTolerance = 0.01;
constexpr int kSplineMaxIterations = 1000;
// Rounds of waypoints added before a trajectory whose samples fail the checks is given up.
constexpr int kMaxMendingRounds = 5;
// A waypoint is added no nearer than this share of its segment's time to either end, and near
// an end the neighbouring segment gets one too: the curve leaves the straight path around a turn
// on both sides of it.
constexpr double kEdgeFraction = 0.1;
constexpr double kNearCorner = 0.25;
constexpr std::size_t kComparedJoints = 6;
// The arm whose dynamics the spline planners model.
constexpr char kDescriptionPackage[] = "bramlock_arm_description";
constexpr char kArmUrdf[] = "/urdf/RAV5-A800-Z4O3V4I/RAV5-A800-Z4O3V4I.urdf";
constexpr char kEndEffectorFrame[] = "end_effector";

// Second difference quotient of one joint at a waypoint: d1 and d2 are the
// joint's changes over the segments before and after it, t1 and t2 their durations.
double accelerationEstimate(double d1, double d2, double t1, double t2) {
  if (std::abs(t1) < kDurationGuard || std::abs(t2) < kDurationGuard) return 0.0;
  return 2.0 * (d2 / t2 - d1 / t1) / (t1 + t2);
}

struct Neighbourhood {
  double d1;
  double d2;
  double t1;
  double t2;
};

// The changes and durations around waypoint i for joint j. At an end the
// missing neighbour is the mirror image of the present one, so the arm is at
// rest there.
Neighbourhood neighbourhood(const Path& path, const std::vector<double>& durations, std::size_t i, std::size_t j) {
  const std::size_t last = path.size() - 1;
  if (i == 0) {
    const double d2 = path[1][j] - path[0][j];
    return {-d2, d2, durations[0], durations[0]};
  }
  if (i == last) {
    const double d1 = path[last][j] - path[last - 1][j];
    return {d1, -d1, durations[last - 1], durations[last - 1]};
  }
  return {path[i][j] - path[i - 1][j], path[i + 1][j] - path[i][j], durations[i - 1], durations[i]};
}

bool violates(const Neighbourhood& n, double amax) {
  return std::abs(accelerationEstimate(n.d1, n.d2, n.t1, n.t2)) > amax + kAccelerationMargin;
}

// Grows a duration by steps of 1 % until the estimate made with it is within
// amax and returns one step beyond; the search gives up at the ceiling.
template <typename Estimate>
double grownDuration(const Estimate& estimate_with, double duration, double amax, double ceiling) {
  if (!(amax > 0.0) || !(duration > 0.0) || !(std::abs(estimate_with(duration)) > amax)) return duration;
  double candidate = duration;
  do {
    candidate *= kGrowthFactor;
  } while (std::abs(estimate_with(candidate)) > amax && candidate < ceiling);
  return candidate * kGrowthFactor;
}

double grownT1(const Neighbourhood& n, double amax, double ceiling) {
  return grownDuration([&n](double t1) { return accelerationEstimate(n.d1, n.d2, t1, n.t2); }, n.t1, amax, ceiling);
}

double grownT2(const Neighbourhood& n, double amax, double ceiling) {
  return grownDuration([&n](double t2) { return accelerationEstimate(n.d1, n.d2, n.t1, t2); }, n.t2, amax, ceiling);
}

// The position farthest outside the joint bounds, as the distance beyond its bound (not positive
// when every position lies inside).
struct BoundExcess {
  double excess = -std::numeric_limits<double>::infinity();
  std::size_t joint = 0;
  double time = 0.0;
};

// True when the point lies outside the bounds; the worst excess seen so far grows to include it.
bool takeBoundExcess(const TrajectoryData& point, const std::vector<std::pair<double, double>>& bounds,
                     BoundExcess& worst) {
  const std::size_t joints = std::min(bounds.size(), point.positions.size());
  bool outside = false;
  for (std::size_t j = 0; j < joints; ++j) {
    const double q = point.positions[j];
    const double excess = std::max(bounds[j].first - q, q - bounds[j].second);
    outside |= excess > 0.0;
    if (excess > worst.excess) worst = {excess, j, point.time};
  }
  return outside;
}

std::vector<double> midpoint(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> middle(a.size());
  // Halving first keeps the mean of two huge values finite.
  for (std::size_t j = 0; j < a.size(); ++j) middle[j] = 0.5 * a[j] + 0.5 * b[j];
  return middle;
}

// The limits of a waypoint added between two others: no looser than either.
WaypointConstraints tighterConstraints(const WaypointConstraints& a, const WaypointConstraints& b) {
  WaypointConstraints limits;
  using bramlock::internal::tighterJointLimits;
  limits.vmax = tighterJointLimits(a.vmax, b.vmax);
  limits.amax = tighterJointLimits(a.amax, b.amax);
  limits.torque_max = tighterJointLimits(a.torque_max, b.torque_max);
  // The Cartesian limit stays on the frame of the waypoint before.
  limits.cartesian = bramlock::internal::tighterCartesianLimits(a.cartesian, b.cartesian, a.cartesian.frame_id);
  return limits;
}

// The segment whose waypoint records enclose the time: the last record at or before it, never
// the final record.
std::size_t segmentAt(const std::vector<TrajectoryData>& records, double time) {
  const auto after = std::upper_bound(records.begin(), records.end(), time,
                                      [](double t, const TrajectoryData& record) { return t < record.time; });
  const auto index = static_cast<std::size_t>(std::max<std::ptrdiff_t>(after - records.begin() - 1, 0));
  return std::min(index, records.size() - 2);
}

// How far into its segment the time lies, as a share of the segment's time kept off both ends.
double fractionAt(const std::vector<TrajectoryData>& records, std::size_t segment, double time) {
  const double span = records[segment + 1].time - records[segment].time;
  const double fraction = span > 0.0 ? (time - records[segment].time) / span : 0.5;
  return std::clamp(fraction, kEdgeFraction, 1.0 - kEdgeFraction);
}

std::vector<std::vector<double>> samplePositions(std::vector<TrajectoryData>::const_iterator first,
                                                 std::vector<TrajectoryData>::const_iterator last) {
  std::vector<std::vector<double>> states;
  states.reserve(static_cast<std::size_t>(last - first));
  for (auto sample = first; sample != last; ++sample) states.push_back(sample->positions);
  return states;
}

}  // namespace

// Places on the path to pin to the straight segments (segment -> share of its time), and the log
// line of the first fault of the trajectory they were found on (empty when it has none).
struct TrajectoryGenerator::Faults {
  std::string line;
  std::map<std::size_t, double> places;
  bool mendable = true;

  // The first place found on a segment is kept.
  void add(const std::vector<TrajectoryData>& records, double time) {
    const std::size_t segment = segmentAt(records, time);
    places.emplace(segment, fractionAt(records, segment, time));
  }
};

// The path being timed: the caller's waypoints and those mending added, with their limits.
struct TrajectoryGenerator::WorkingPath {
  Path path;
  std::vector<WaypointConstraints> constraints;
  std::vector<bool> added;
};

TrajectoryGenerator::TrajectoryGenerator(PlanSceneInterface* scene) : scene_(scene) {
  if (scene_ == nullptr) throw std::invalid_argument("TrajectoryGenerator needs a scene");
  dof_ = scene_->getPlanSpaceBounds(bounds_);
  planner_ = std::make_shared<CubicSplineTrajectory>();
}

void TrajectoryGenerator::setTrajectoryType(const std::string& type) {
  if (type == "quintic_spline") {
    planner_ = std::make_shared<QuinticSplineTrajectory>();
    BRAMLOCK_INFO("轨迹规划器：quintic_spline（五次样条）");
  } else {
    if (type != "cubic_spline") BRAMLOCK_INFO("未知轨迹规划器类型 \"{}\"，使用默认 cubic_spline", type);
    planner_ = std::make_shared<CubicSplineTrajectory>();
    BRAMLOCK_INFO("轨迹规划器：cubic_spline（三次样条）");
  }
  if (mdh_params_.empty()) return;
  planner_->setMdhParams(mdh_params_);
  loadDynamicsModel();
}

void TrajectoryGenerator::setMdhParams(std::vector<ArmMDHParams> params) {
  mdh_params_ = std::move(params);
  planner_->setMdhParams(mdh_params_);
  loadDynamicsModel();
}

// The description package may be missing on a host that never asks for
// torque or Cartesian limits: the planner then goes on without a model.
void TrajectoryGenerator::loadDynamicsModel() {
  std::string urdf_path;
  try {
    urdf_path = ament_index_cpp::get_package_share_directory(kDescriptionPackage) + kArmUrdf;
  } catch (const std::exception& error) {
    BRAMLOCK_INFO("找不到功能包 {}，轨迹规划器不加载动力学模型: {}", kDescriptionPackage, error.what());
    return;
  }
  planner_->setRobotModel(urdf_path, kEndEffectorFrame);
}

int TrajectoryGenerator::generateTrajectoryDataSimple(Path path, const double* vmax, const double* amax,
                                                      std::vector<TrajectoryData>& out, bool /*flag*/) {
  if (!pathUsable(path) || !limitsUsable(vmax, "速度") || !limitsUsable(amax, "加速度")) return -1;
  std::vector<double> durations(path.size() - 1, 0.0);
  raiseForVelocity(path, durations, vmax);
  raiseForAcceleration(path, durations, amax);
  // The bounded sweeps can leave violations (small limits need long
  // segments): a success must keep the limits on every point it writes.
  if (!settleAcceleration(path, durations, amax)) {
    BRAMLOCK_INFO("路径段时长调整后加速度仍超出上限");
    return -1;
  }
  return writeTrajectory(path, durations, out);
}

void TrajectoryGenerator::applyVelocityConstraints(Path& path, std::vector<double>& durations, const double* vmax) {
  if (timingInputUsable(path, durations, vmax, "速度")) raiseForVelocity(path, durations, vmax);
}

void TrajectoryGenerator::applyAccelerationConstraints(Path& path, std::vector<double>& durations, const double* amax) {
  if (timingInputUsable(path, durations, amax, "加速度")) raiseForAcceleration(path, durations, amax);
}

void TrajectoryGenerator::raiseForVelocity(const Path& path, std::vector<double>& durations, const double* vmax) const {
  for (std::size_t i = 0; i + 1 < path.size(); ++i) {
    for (int j = 0; j < dof_; ++j) {
      durations[i] = std::max(durations[i], std::abs(path[i + 1][j] - path[i][j]) / vmax[j]);
    }
  }
}

// Sweeps until one changes nothing or 100 sweeps ran, lengthening by at most
// 10 ms per visit.
void TrajectoryGenerator::raiseForAcceleration(const Path& path, std::vector<double>& durations,
                                               const double* amax) const {
  for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
    if (accelerationSweep(path, durations, amax, kMaxGrowthPerVisit) == 0) return;
  }
}

// Durations that already keep the limits pass the first sweep unchanged; the
// others grow without the per-visit bound, which reaches long segments in a
// few sweeps. A sweep that changes nothing found every waypoint within its limits.
bool TrajectoryGenerator::settleAcceleration(const Path& path, std::vector<double>& durations,
                                             const double* amax) const {
  for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
    if (accelerationSweep(path, durations, amax, std::numeric_limits<double>::infinity()) == 0) return true;
  }
  return false;
}

// One pass over the waypoints, each joint forward then backward, lengthening
// the segment after (forward) or before (backward) a waypoint whose estimated
// acceleration magnitude exceeds the limit, by at most max_growth seconds.
// Returns the number of segments lengthened.
int TrajectoryGenerator::accelerationSweep(const Path& path, std::vector<double>& durations, const double* amax,
                                           double max_growth) const {
  const std::size_t last = path.size() - 1;
  int changes = 0;
  for (int j = 0; j < dof_; ++j) {
    for (std::size_t i = 0; i < last; ++i) {
      const Neighbourhood n = neighbourhood(path, durations, i, j);
      if (!violates(n, amax[j])) continue;
      durations[i] = std::min(grownT2(n, amax[j], n.t2 + max_growth), n.t2 + max_growth);
      ++changes;
    }
    for (std::size_t i = last; i >= 1; --i) {
      const Neighbourhood n = neighbourhood(path, durations, i, j);
      if (!violates(n, amax[j])) continue;
      durations[i - 1] = std::min(grownT1(n, amax[j], n.t1 + max_growth), n.t1 + max_growth);
      ++changes;
    }
  }
  return changes;
}

double TrajectoryGenerator::findT1(double d1, double d2, double t1, double t2, double amax) const {
  return grownT1({d1, d2, t1, t2}, amax, std::numeric_limits<double>::infinity());
}

double TrajectoryGenerator::findT2(double d1, double d2, double t1, double t2, double amax) const {
  return grownT2({d1, d2, t1, t2}, amax, std::numeric_limits<double>::infinity());
}

int TrajectoryGenerator::updateTrajectory(Path path, std::vector<double> durations, std::vector<TrajectoryData>& out) {
  if (!pathUsable(path) || !durationsUsable(path, durations) || !movesTakeTime(path, durations)) return -1;
  return writeTrajectory(path, durations, out);
}

// The timing steps start every segment at 0 and the simple road leaves pauses at 0, but a segment
// that moves a joint in no time would have no velocity at all (the estimates skip it).
bool TrajectoryGenerator::movesTakeTime(const Path& path, const std::vector<double>& durations) const {
  for (std::size_t i = 0; i < durations.size(); ++i) {
    const bool moves = !std::equal(path[i].begin(), path[i].begin() + dof_, path[i + 1].begin());
    if (moves && !(durations[i] > 0.0)) {
      BRAMLOCK_INFO("路径段{}连接两个不同的路径点，时间间隔必须为正: {}", i, durations[i]);
      return false;
    }
  }
  return true;
}

int TrajectoryGenerator::writeTrajectory(const Path& path, const std::vector<double>& durations,
                                         std::vector<TrajectoryData>& out) const {
  if (!durationsUsable(path, durations)) return -1;
  out.resize(path.size());
  double elapsed = 0.0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    TrajectoryData& point = out[i];
    point.time = i == 0 ? 0.0 : elapsed + kTimeOffset;
    if (i < durations.size()) elapsed += durations[i];
    point.positions.assign(path[i].begin(), path[i].begin() + dof_);
    point.velocities.assign(dof_, 0.0);
    point.accelerations.assign(dof_, 0.0);
    for (int j = 0; j < dof_; ++j) {
      const Neighbourhood n = neighbourhood(path, durations, i, j);
      if (std::abs(n.t1) < kDurationGuard || std::abs(n.t2) < kDurationGuard) continue;
      point.velocities[j] = (n.d1 / n.t1 + n.d2 / n.t2) * 0.5;
      point.accelerations[j] = accelerationEstimate(n.d1, n.d2, n.t1, n.t2);
    }
  }
  return 0;
}

int TrajectoryGenerator::generateTrajectoryData(Path path, const std::vector<WaypointConstraints>& constraints,
                                                std::vector<TrajectoryData>& out, bool saveCsv) {
  return runSplinePlanner(std::move(path), constraints, out, saveCsv);
}

// The planners time uniform limits as the same limits at every waypoint; doing so here lets
// added waypoints take them too.
int TrajectoryGenerator::generateTrajectoryData(Path path, const double* vmax, const double* amax,
                                                std::vector<TrajectoryData>& out, bool saveCsv,
                                                const CartesianConstraints& cartesian) {
  if (!hasJoints() || !limitsUsable(vmax, "速度") || !limitsUsable(amax, "加速度")) {
    out.clear();
    return -1;
  }
  WaypointConstraints uniform;
  uniform.vmax.assign(vmax, vmax + dof_);
  uniform.amax.assign(amax, amax + dof_);
  uniform.cartesian = cartesian;
  const std::vector<WaypointConstraints> constraints(path.size(), uniform);
  return runSplinePlanner(std::move(path), constraints, out, saveCsv);
}

int TrajectoryGenerator::runSplinePlanner(Path path, const std::vector<WaypointConstraints>& constraints,
                                          std::vector<TrajectoryData>& out, bool saveCsv) {
  const auto started = std::chrono::system_clock::now();
  out.clear();
  const std::size_t waypoints = path.size();
  WorkingPath working{std::move(path), constraints, std::vector<bool>(waypoints, false)};
  TrajectoryResult result;
  if (!planUntilSamplesPass(working, result)) return -1;
  // Only the trajectory handed back is written: a rejected one is planned without a file.
  if (saveCsv) planSpline(working, true);
  out = callerRecords(std::move(result.trajectory), working.added);
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now() - started).count();
  BRAMLOCK_INFO("Use_Time generateTrajectoryData cost {} s.", elapsed / 1000.0);
  BRAMLOCK_INFO("goal size is {}", out.size());
  return 0;
}

TrajectoryResult TrajectoryGenerator::planSpline(const WorkingPath& working, bool saveCsv) {
  return planner_->generateTimeOptimalTrajectory(working.path, working.constraints, kSplineTolerance,
                                                 kSplineMaxIterations, saveCsv);
}

// The splines leave the straight segments the path planner checked, most near turns and on long
// segments; waypoints added on those segments where a sample fails keep the curve closer to them.
bool TrajectoryGenerator::planUntilSamplesPass(WorkingPath& working, TrajectoryResult& result) {
  for (int round = 0;; ++round) {
    result = planSpline(working, false);
    if (!result.success) {
      BRAMLOCK_INFO("generateTrajectoryData 失败：轨迹优化未收敛");
      return false;
    }
    const Faults faults = faultsOf(result.trajectory);
    if (faults.line.empty()) return true;
    const int added = round < kMaxMendingRounds && faults.mendable ? addWaypoints(working, faults) : 0;
    if (added == 0) {
      BRAMLOCK_INFO("{}", faults.line);
      return false;
    }
    BRAMLOCK_INFO("generateTrajectoryData：第{}轮在{}个路径段上加入{}个路径点后重新规划", round + 1,
                  faults.places.size(), added);
  }
}

TrajectoryGenerator::Faults TrajectoryGenerator::faultsOf(const std::vector<TrajectoryData>& trajectory) {
  Faults faults;
  if (!samplesFitScene(trajectory.front().children, faults)) return faults;
  // The splines overshoot where a joint turns or pauses; the planners do not know the bounds.
  findBoundFaults(trajectory, faults);
  if (faults.line.empty()) findCollisionFaults(trajectory, faults);
  return faults;
}

// The scene reads one value per joint of its group from every sample.
bool TrajectoryGenerator::samplesFitScene(const std::vector<TrajectoryData>& samples, Faults& faults) const {
  if (samples.empty()) {
    faults.line = "generateTrajectoryData 失败：轨迹没有采样点";
  }
  for (const TrajectoryData& sample : samples) {
    if (sample.positions.size() == static_cast<std::size_t>(dof_)) continue;
    faults.line =
        fmt::format("generateTrajectoryData 失败：采样点有{}个关节值，场景需要{}个", sample.positions.size(), dof_);
    break;
  }
  faults.mendable = faults.line.empty();
  return faults.mendable;
}

void TrajectoryGenerator::findBoundFaults(const std::vector<TrajectoryData>& trajectory, Faults& faults) const {
  BoundExcess worst;
  // A waypoint outside the bounds is the caller's: no added waypoint brings it inside.
  for (const TrajectoryData& point : trajectory) faults.mendable &= !takeBoundExcess(point, bounds_, worst);
  for (const TrajectoryData& sample : trajectory.front().children) {
    if (takeBoundExcess(sample, bounds_, worst)) faults.add(trajectory, sample.time);
  }
  if (worst.excess <= 0.0) return;
  faults.line = fmt::format("generateTrajectoryData 失败：轨迹在 {:.3f} s 处超出关节{}的位置范围 {:.6f} rad",
                            worst.time, worst.joint, worst.excess);
}

// After a failing sample the search goes on from the next segment, so that one round mends
// every segment that fails.
void TrajectoryGenerator::findCollisionFaults(const std::vector<TrajectoryData>& trajectory, Faults& faults) {
  const std::vector<TrajectoryData>& samples = trajectory.front().children;
  std::size_t from = 0;
  while (from < samples.size()) {
    std::size_t failing = 0;
    if (scene_->checkSampledMotion(samplePositions(samples.begin() + from, samples.end()), &failing)) return;
    const double time = samples[std::min(from + failing, samples.size() - 1)].time;
    if (faults.line.empty()) {
      faults.line = fmt::format("generateTrajectoryData 失败：轨迹在 {:.3f} s 处未通过场景的碰撞检测 (isValid)", time);
    }
    faults.add(trajectory, time);
    from = firstSampleAfterSegment(trajectory, segmentAt(trajectory, time), from + failing + 1);
  }
}

std::size_t TrajectoryGenerator::firstSampleAfterSegment(const std::vector<TrajectoryData>& trajectory,
                                                         std::size_t segment, std::size_t from) {
  const std::vector<TrajectoryData>& samples = trajectory.front().children;
  const double end = trajectory[segment + 1].time;
  while (from < samples.size() && samples[from].time < end) ++from;
  return from;
}

// Returns the number of waypoints added. Segments are mended from the last, so that the indices of
// those before stay put.
int TrajectoryGenerator::addWaypoints(WorkingPath& working, const Faults& faults) const {
  std::map<std::size_t, double> places = faults.places;
  for (const auto& [segment, fraction] : faults.places) {
    if (fraction < kNearCorner && segment > 0) places.emplace(segment - 1, 1.0 - fraction);
    if (fraction > 1.0 - kNearCorner && segment + 2 < working.path.size()) places.emplace(segment + 1, 1.0 - fraction);
  }
  int added = 0;
  for (auto place = places.rbegin(); place != places.rend(); ++place) {
    added += addWaypoint(working, place->first, place->second);
  }
  return added;
}

// A waypoint on the straight segment, at the share of the way along it; none on a pause.
bool TrajectoryGenerator::addWaypoint(WorkingPath& working, std::size_t segment, double fraction) const {
  const std::vector<double>& from = working.path[segment];
  const std::vector<double>& to = working.path[segment + 1];
  if (std::equal(from.begin(), from.begin() + dof_, to.begin())) return false;
  std::vector<double> waypoint(from.begin(), from.begin() + dof_);
  for (int j = 0; j < dof_; ++j) waypoint[j] += fraction * (to[j] - from[j]);
  const auto at = static_cast<std::ptrdiff_t>(segment + 1);
  working.constraints.insert(working.constraints.begin() + at,
                             tighterConstraints(working.constraints[segment], working.constraints[segment + 1]));
  working.path.insert(working.path.begin() + at, std::move(waypoint));
  working.added.insert(working.added.begin() + at, true);
  return true;
}

// One record per caller waypoint; the first keeps every sample.
std::vector<TrajectoryData> TrajectoryGenerator::callerRecords(std::vector<TrajectoryData> trajectory,
                                                               const std::vector<bool>& added) {
  std::vector<TrajectoryData> records;
  records.reserve(trajectory.size());
  for (std::size_t i = 0; i < trajectory.size(); ++i) {
    if (!added[i]) records.push_back(std::move(trajectory[i]));
  }
  return records;
}

int TrajectoryGenerator::guaranteePathNum(Path& path) {
  if (path.size() < 2) {
    std::puts("Only one point in the Path!!!");
    return -1;
  }
  if (path.size() > 3) return 0;
  for (const std::vector<double>& waypoint : path) {
    if (waypoint.size() != path[0].size() || !bramlock::internal::allFinite(waypoint.data(), waypoint.size())) {
      BRAMLOCK_INFO("路径点的维度不一致或含有无效数值");
      return -1;
    }
  }
  if (path.size() == 3) {
    path = {path[0], midpoint(path[0], path[1]), path[1], midpoint(path[1], path[2]), path[2]};
  } else {
    const std::vector<double> middle = midpoint(path[0], path[1]);
    path = {path[0], midpoint(path[0], middle), middle, midpoint(middle, path[1]), path[1]};
  }
  return 0;
}

bool TrajectoryGenerator::hasExcessiveJointAngleDifference(const Path& path, double threshold) {
  if (path.size() < 2) return false;
  if (std::isnan(threshold)) throw std::invalid_argument("Max error threshold is not a number");
  if (threshold < 0.0) throw std::invalid_argument("Max error threshold cannot be negative");
  for (std::size_t i = 0; i < path.size(); ++i) {
    for (std::size_t k = i + 1; k < path.size(); ++k) {
      const std::size_t joints = std::min({kComparedJoints, path[i].size(), path[k].size()});
      for (std::size_t j = 0; j < joints; ++j) {
        const double difference = std::abs(path[i][j] - path[k][j]);
        if (difference <= threshold) continue;
        BRAMLOCK_INFO("diff is {}", difference);
        return true;
      }
    }
  }
  return false;
}

bool TrajectoryGenerator::hasJoints() const {
  if (dof_ >= 1) return true;
  BRAMLOCK_INFO("关节数无效: {}", dof_);
  return false;
}

bool TrajectoryGenerator::pathUsable(const Path& path) const {
  if (path.size() < 2) {
    std::puts("size of sjt is 0!!!");
    return false;
  }
  return hasJoints() && waypointsUsable(path);
}

bool TrajectoryGenerator::waypointsUsable(const Path& path) const {
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i].size() < static_cast<std::size_t>(dof_)) {
      BRAMLOCK_INFO("路径点{}只有{}个关节值，需要{}个", i, path[i].size(), dof_);
      return false;
    }
    if (!bramlock::internal::allFinite(path[i].data(), dof_)) {
      BRAMLOCK_INFO("路径点{}含有无效的关节值", i);
      return false;
    }
  }
  return true;
}

bool TrajectoryGenerator::limitsUsable(const double* limits, const char* name) const {
  if (limits == nullptr) {
    BRAMLOCK_INFO("缺少{}上限", name);
    return false;
  }
  for (int j = 0; j < dof_; ++j) {
    if (!(limits[j] > 0.0) || !std::isfinite(limits[j])) {
      BRAMLOCK_INFO("关节{}的{}上限无效: {}", j, name, limits[j]);
      return false;
    }
  }
  return true;
}

bool TrajectoryGenerator::durationsUsable(const Path& path, const std::vector<double>& durations) const {
  if (durations.size() + 1 != path.size()) {
    BRAMLOCK_INFO("时间间隔数量{}与路径段数量{}不符", durations.size(), path.size() - 1);
    return false;
  }
  double total = 0.0;
  for (std::size_t i = 0; i < durations.size(); ++i) {
    if (!(durations[i] >= 0.0) || !std::isfinite(durations[i])) {
      BRAMLOCK_INFO("路径段{}的时间间隔无效: {}", i, durations[i]);
      return false;
    }
    total += durations[i];
  }
  if (!std::isfinite(total + kTimeOffset)) {
    BRAMLOCK_INFO("轨迹总时间溢出");
    return false;
  }
  return true;
}

bool TrajectoryGenerator::timingInputUsable(const Path& path, const std::vector<double>& durations,
                                            const double* limits, const char* name) const {
  return path.size() >= 2 && hasJoints() && waypointsUsable(path) && durationsUsable(path, durations) &&
         limitsUsable(limits, name);
}
