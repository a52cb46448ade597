// The planning pipeline (search, simplification, clearance and the simple
// timing road) on the six-axis scene arm of the test fixtures, with octomap
// obstacles, and on the fake box scene with six joints: per run of 50 plans
// the median and 90th-percentile wall time of one runPlanPipeline call, the
// share of plans that succeed, the share of the time spent in the scene's
// state and motion checks, the checks per plan and the time per state check;
// and the same in the workcell of the scene tests (wall with a gap, shelf,
// table with blocks) for its detour pairs and a pair in open space.
// Plans draw from the system's random device; to compare two builds on the
// same plans, run both with LD_PRELOAD=<build>/bench/libfixed_random_device.so.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/planner/path_plan_and_post_processing.h"
#include "heavy_mesh_arm.h"
#include "limited_box_scene.h"
#include "planning_bench_support.h"
#include "scene_arm_workcell.h"

namespace {

using Clock = std::chrono::steady_clock;
using planning_bench::SceneKind;

constexpr int kJoints = 6;
constexpr int kPlansPerRun = 50;
constexpr int kWorkcellPlansPerRun = 30;

// Time spent in the scene's state and motion checks and their numbers as
// the planner calls them; in the workcell also every state check the scene
// makes (those inside its motion checks too) and their time.
struct CheckTally {
  Clock::duration spent{};
  long states = 0;
  long motions = 0;
  Clock::duration in_all_states{};
  long all_states = 0;
};

template <typename Check>
bool timedInto(Clock::duration& spent, const Check& check) {
  const auto started = Clock::now();
  const bool answer = check();
  spent += Clock::now() - started;
  return answer;
}

// Passes every call on to the scene it owns and tallies the state and motion checks.
class CheckTimingScene : public PlanSceneInterface {
 public:
  CheckTimingScene(std::unique_ptr<PlanSceneInterface> scene, CheckTally* tally)
      : scene_(std::move(scene)), tally_(tally) {}

  int getPlanSpaceBounds(std::vector<std::pair<double, double>>& bounds) override {
    return scene_->getPlanSpaceBounds(bounds);
  }
  int getVmaxAndAmax(std::vector<double>& vmax, std::vector<double>& amax) override {
    return scene_->getVmaxAndAmax(vmax, amax);
  }
  bool isValid(double* joints) override {
    ++tally_->states;
    return timed([&] { return scene_->isValid(joints); });
  }
  bool isValidSimplify(double* joints) override {
    ++tally_->states;
    return timed([&] { return scene_->isValidSimplify(joints); });
  }
  bool checkMotion(double* from, double* to) override {
    ++tally_->motions;
    return timed([&] { return scene_->checkMotion(from, to); });
  }
  bool checkMotionSimplify(double* from, double* to) override {
    ++tally_->motions;
    return timed([&] { return scene_->checkMotionSimplify(from, to); });
  }
  double getMaximumExtent() override { return scene_->getMaximumExtent(); }
  bool checkSampledMotion(const std::vector<std::vector<double>>& samples, std::size_t* failing_index) override {
    return scene_->checkSampledMotion(samples, failing_index);
  }

 private:
  template <typename Check>
  bool timed(const Check& check) {
    return timedInto(tally_->spent, check);
  }

  std::unique_ptr<PlanSceneInterface> scene_;
  CheckTally* tally_;
};

// Runs one plan per benchmark iteration from start to goal on the scene.
void runPlans(benchmark::State& state, std::unique_ptr<PlanSceneInterface> scene, const std::vector<double>& start,
              const std::vector<double>& goal, CheckTally& checks) {
  Clock::duration in_plans{};
  PathPlanAndPostProcessing pipeline(new CheckTimingScene(std::move(scene), &checks));
  std::vector<double> millis;
  int successes = 0;
  for (auto _ : state) {
    std::vector<TrajectoryData> out;
    const auto started = Clock::now();
    int code;
    {
      planning_bench::SilencedStdout silence;
      code = pipeline.runPlanPipeline(start, goal, out, false);
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
      std::chrono::duration<double>(checks.spent) / std::chrono::duration<double>(in_plans);
  const auto plans = static_cast<double>(millis.size());
  state.counters["state_checks_per_plan"] = static_cast<double>(checks.states) / plans;
  state.counters["motion_checks_per_plan"] = static_cast<double>(checks.motions) / plans;
  if (checks.all_states > 0) {
    state.counters["all_state_checks_per_plan"] = static_cast<double>(checks.all_states) / plans;
    state.counters["us_per_state_check"] = std::chrono::duration<double, std::micro>(checks.in_all_states).count() /
                                           static_cast<double>(checks.all_states);
  }
}

// The workcell scene, tallying every state check it makes: its motion
// checks test their states through these same virtual calls.
class StateCountingScene : public ManipulatorPlanScene {
 public:
  template <typename... Arguments>
  explicit StateCountingScene(CheckTally* tally, Arguments&&... arguments)
      : ManipulatorPlanScene(std::forward<Arguments>(arguments)...), tally_(tally) {}
  using ManipulatorPlanScene::isValid;

  bool isValid(double* joints) override {
    ++tally_->all_states;
    return timedInto(tally_->in_all_states, [&] { return ManipulatorPlanScene::isValid(joints); });
  }
  bool isValidSimplify(double* joints) override {
    ++tally_->all_states;
    return timedInto(tally_->in_all_states, [&] { return ManipulatorPlanScene::isValidSimplify(joints); });
  }

 private:
  CheckTally* tally_;
};

// Stretches of a wall along x in the plane y = 0, 1.1 m high (out of the arm's reach).
using WallSpans = std::vector<std::pair<double, double>>;

// The scene arm with the wall as an octomap. Turning the arm reaching forward
// from one side to the other crosses the plane y = 0 in front of the base.
std::unique_ptr<PlanSceneInterface> sceneArmWithWall(const WallSpans& spans) {
  constexpr double kResolution = 0.02;
  std::vector<std::vector<double>> mdh_table = {{0.2405, 0.0, 0.0, 0.210, 0.0, 0.144},
                                                {0.0, 0.0, 0.256, 0.0, 0.0, 0.0},
                                                {0.0, M_PI_2, M_PI_2, 0.0, 0.0, 0.0},
                                                {0.0, M_PI_2, 0.0, M_PI_2, -M_PI_2, M_PI_2}};
  planning_bench::SilencedStdout quiet;
  auto scene = std::make_unique<ManipulatorPlanScene>(
      std::string(BRAMLOCK_TEST_FIXTURES_DIR) + "/scene_arm/", "scene_arm.urdf", "scene_arm.srdf", "arm", 0.01, 1.0,
      "gripper_link", mdh_table, std::vector<double>{10, 10, 10, 12, 12, 12});
  if (spans.empty()) return scene;
  auto wall = std::make_shared<octomap::OcTree>(kResolution);
  for (const auto& span : spans) {
    for (double x = span.first; x <= span.second; x += kResolution) {
      for (double z = 0.01; z <= 1.1; z += kResolution) {
        for (const double y : {-0.01, 0.01}) wall->updateNode(octomap::point3d(x, y, z), true);
      }
    }
  }
  scene->updateWorldOctomap(wall);
  return scene;
}

// The arm reaching forward at shoulder height, turned to either side of the front.
std::vector<double> reachingForward(double turn) { return {turn, -0.8, -0.6, 0.0, 0.0, 0.0}; }

void planOnSceneArm(benchmark::State& state, const WallSpans& spans) {
  CheckTally checks;
  runPlans(state, sceneArmWithWall(spans), reachingForward(-1.2), reachingForward(1.2), checks);
}

void planOnFakeScene(benchmark::State& state, SceneKind kind) {
  std::unique_ptr<PlanSceneInterface> scene(
      fake_scene::newLimitedScene(kJoints, planning_bench::obstaclesOf(kind, kJoints), 1.5, 4.0));
  CheckTally checks;
  runPlans(state, std::move(scene), fake_scene::leftOfWall(kJoints), fake_scene::rightOfWall(kJoints), checks);
}

void BM_SceneArmOpenSpace(benchmark::State& state) { planOnSceneArm(state, {}); }
// The wall ahead leaves a gap of 0.25 m in front of the base: the arm folds in to pass.
void BM_SceneArmWallWithGap(benchmark::State& state) { planOnSceneArm(state, {{0.25, 0.8}}); }
// Walls on both sides of the base leave a slit 0.24 m wide: the arm stands upright to pass.
void BM_SceneArmNarrowPassage(benchmark::State& state) { planOnSceneArm(state, {{-0.8, -0.12}, {0.12, 0.8}}); }
// A pair of the workcell (the detour pairs in their order, then open space),
// with the fixture's meshes or (second argument 1) finely tessellated ones.
void BM_Workcell(benchmark::State& state) {
  std::vector<scene_arm_workcell::PlanPair> pairs = scene_arm_workcell::detourPairs();
  pairs.push_back(scene_arm_workcell::openSpacePair());
  const scene_arm_workcell::PlanPair& pair = pairs.at(static_cast<size_t>(state.range(0)));
  state.SetLabel(pair.name);
  CheckTally checks;
  std::unique_ptr<PlanSceneInterface> scene;
  {
    planning_bench::SilencedStdout quiet;
    const bool heavy = state.range(1) == 1;
    scene = scene_arm_workcell::makeWorkcellSceneIn<StateCountingScene>(
        heavy ? heavy_mesh_arm::heavyMeshDirectory() : scene_arm_workcell::sceneArmDirectory(), &checks);
  }
  runPlans(state, std::move(scene), pair.start, pair.goal, checks);
}
void BM_FakeSceneOpenSpace(benchmark::State& state) { planOnFakeScene(state, SceneKind::kOpen); }
void BM_FakeSceneWallWithGap(benchmark::State& state) { planOnFakeScene(state, SceneKind::kWallWithGap); }
void BM_FakeSceneNarrowPassage(benchmark::State& state) { planOnFakeScene(state, SceneKind::kNarrowPassage); }

}  // namespace

BENCHMARK(BM_SceneArmOpenSpace)->Iterations(kPlansPerRun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SceneArmWallWithGap)->Iterations(kPlansPerRun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SceneArmNarrowPassage)->Iterations(kPlansPerRun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Workcell)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Iterations(kWorkcellPlansPerRun)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FakeSceneOpenSpace)->Iterations(kPlansPerRun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FakeSceneWallWithGap)->Iterations(kPlansPerRun)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FakeSceneNarrowPassage)->Iterations(kPlansPerRun)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
