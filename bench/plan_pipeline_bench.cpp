// The planning pipeline (search, simplification, clearance and the simple
// timing road) on the fake box scene with six joints: per run of 50 plans the
// median and 90th-percentile wall time of one runPlanPipeline call, the share
// of plans that succeed, and the share of the time spent in the scene's state
// and motion checks.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <utility>
#include <vector>

#include "../test/planner/limited_box_scene.h"
#include "bramlock_arm_planning_core/planner/path_plan_and_post_processing.h"
#include "planning_bench_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using planning_bench::SceneKind;

constexpr int kJoints = 6;
constexpr int kPlansPerRun = 50;

// Passes every call on to the scene it owns and adds up the time spent in
// the state and motion checks.
class CheckTimingScene : public PlanSceneInterface {
 public:
  CheckTimingScene(std::unique_ptr<PlanSceneInterface> scene, Clock::duration* spent)
      : scene_(std::move(scene)), spent_(spent) {}

  int getPlanSpaceBounds(std::vector<std::pair<double, double>>& bounds) override {
    return scene_->getPlanSpaceBounds(bounds);
  }
  int getVmaxAndAmax(std::vector<double>& vmax, std::vector<double>& amax) override {
    return scene_->getVmaxAndAmax(vmax, amax);
  }
  bool isValid(double* joints) override { return timed([&] { return scene_->isValid(joints); }); }
  bool isValidSimplify(double* joints) override { return timed([&] { return scene_->isValidSimplify(joints); }); }
  bool checkMotion(double* from, double* to) override { return timed([&] { return scene_->checkMotion(from, to); }); }
  bool checkMotionSimplify(double* from, double* to) override {
    return timed([&] { return scene_->checkMotionSimplify(from, to); });
  }
  double getMaximumExtent() override { return scene_->getMaximumExtent(); }

 private:
  template <typename Check>
  bool timed(const Check& check) {
    const auto started = Clock::now();
    const bool answer = check();
    *spent_ += Clock::now() - started;
    return answer;
  }

  std::unique_ptr<PlanSceneInterface> scene_;
  Clock::duration* spent_;
};

void planPipeline(benchmark::State& state, SceneKind kind) {
  Clock::duration in_checks{};
  Clock::duration in_plans{};
  std::unique_ptr<PlanSceneInterface> fake(
      fake_scene::newLimitedScene(kJoints, planning_bench::obstaclesOf(kind, kJoints), 1.5, 4.0));
  PathPlanAndPostProcessing pipeline(new CheckTimingScene(std::move(fake), &in_checks));
  std::vector<double> millis;
  int successes = 0;
  for (auto _ : state) {
    std::vector<TrajectoryData> out;
    const auto started = Clock::now();
    int code;
    {
      planning_bench::SilencedStdout silence;
      code = pipeline.runPlanPipeline(fake_scene::leftOfWall(kJoints), fake_scene::rightOfWall(kJoints), out, false);
    }
    const Clock::duration elapsed = Clock::now() - started;
    in_plans += elapsed;
    millis.push_back(std::chrono::duration<double, std::milli>(elapsed).count());
    if (code == 0) ++successes;
  }
  state.counters["median_ms"] = planning_bench::median(millis);
  state.counters["p90_ms"] = planning_bench::quantile(millis, 0.9);
  state.counters["success_rate"] = static_cast<double>(successes) / static_cast<double>(millis.size());
  state.counters["check_time_share"] =
      std::chrono::duration<double>(in_checks) / std::chrono::duration<double>(in_plans);
}

void BM_PipelineOpenSpace(benchmark::State& state) { planPipeline(state, SceneKind::kOpen); }
void BM_PipelineWallWithGap(benchmark::State& state) { planPipeline(state, SceneKind::kWallWithGap); }
void BM_PipelineNarrowPassage(benchmark::State& state) { planPipeline(state, SceneKind::kNarrowPassage); }

}  // namespace

BENCHMARK(BM_PipelineOpenSpace)->Iterations(kPlansPerRun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipelineWallWithGap)->Iterations(kPlansPerRun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipelineNarrowPassage)->Iterations(kPlansPerRun)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
