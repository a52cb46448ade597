#include "bramlock_arm_planning_core/planner/path_plan_and_post_processing.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

#include "bramlock_arm_planning_core/logger.h"
#include "common/value_checks.h"

namespace {

constexpr double kRelativeStepSize = 0.04;
constexpr int kGoalSampleRate = 15;
constexpr int kStartOutOfRange = -3;
constexpr int kGoalOutOfRange = -4;
constexpr int kNoLimits = -6;
constexpr int kTimingFailed = -7;

int planError(int code) {
  std::printf("[path_plan_and_post_processing]path plan error!,error ocde=%d\n", code);
  return code;
}

}  // namespace

PathPlanAndPostProcessing::PathPlanAndPostProcessing(PlanSceneInterface* scene) : scene_(scene) {
  if (!scene_) throw std::invalid_argument("PathPlanAndPostProcessing needs a scene");
  planner_ = std::make_unique<RRTConnect>(scene_.get());
  planner_->setStepSizeAndSampleRate(kRelativeStepSize, kGoalSampleRate);
  generator_ = std::make_unique<TrajectoryGenerator>(scene_.get());
}

PathPlanAndPostProcessing::~PathPlanAndPostProcessing() {
  planner_.reset();
  scene_.reset();
  generator_.reset();
}

int PathPlanAndPostProcessing::runPlanPipeline(std::vector<double> start, std::vector<double> goal,
                                               std::vector<TrajectoryData>& out, bool flag) {
  return run(std::move(start), std::move(goal), out, flag, false);
}

int PathPlanAndPostProcessing::runPlanPipeline(std::vector<double> start, std::vector<double> goal,
                                               std::vector<TrajectoryData>& out, PaddingType /*padding*/, bool flag) {
  return run(std::move(start), std::move(goal), out, flag, true);
}

int PathPlanAndPostProcessing::runPlanPipelineSimulation(std::vector<double> /*start*/, std::vector<double> /*goal*/,
                                                         std::vector<TrajectoryData>& /*out*/) {
  BRAMLOCK_INFO("runPlanPipelineSimulation!!!");
  return 0;
}

int PathPlanAndPostProcessing::run(std::vector<double> start, std::vector<double> goal,
                                   std::vector<TrajectoryData>& out, bool flag, bool report_segments) {
  out.clear();
  // A value that is not finite lies in no bounds; the scene is not asked about it.
  if (!bramlock::internal::allFinite(start.data(), start.size())) return planError(kStartOutOfRange);
  if (!bramlock::internal::allFinite(goal.data(), goal.size())) return planError(kGoalOutOfRange);
  const std::size_t joints = start.size();
  planner_->setStartAndGoal(std::move(start), std::move(goal));
  RRTConnect::Path path;
  const int planned = planner_->planning(path);
  if (planned != 0) return planError(planned);
  if (report_segments) reportSegments(path);

  std::vector<double> vmax;
  std::vector<double> amax;
  const int limited = scene_->getVmaxAndAmax(vmax, amax);
  // Too few limits would leave joints unlimited (and be read past their end).
  if (limited < 1 || static_cast<std::size_t>(limited) < joints || vmax.size() < static_cast<std::size_t>(limited) ||
      amax.size() < static_cast<std::size_t>(limited)) {
    std::puts("getVmaxAndAmax error!");
    return kNoLimits;
  }
  vmax.resize(limited);
  amax.resize(limited);
  if (generator_->generateTrajectoryDataSimple(path, vmax.data(), amax.data(), out, flag) != 0) return kTimingFailed;
  return 0;
}

void PathPlanAndPostProcessing::reportSegments(const RRTConnect::Path& path) {
  for (std::size_t i = 1; i < path.size(); ++i) {
    std::vector<double> from = path[i - 1];
    std::vector<double> to = path[i];
    std::printf("check_motion_flag:%d\n", scene_->checkMotion(from.data(), to.data()) ? 1 : 0);
  }
}
