// State and motion checks of the planning scene on the six-axis scene arm, in
// an empty world and on a floor of 1,000 and 100,000 octomap voxels just below
// the base (close to the arm but not touching it, so every check runs to the end);
// state checks in the workcell of the scene tests on states near the straight
// motions of its detour pairs, where a planner tests most of them; and the
// scene's construction, with the fixture's small meshes and with every link
// mesh a finely tessellated sphere (about 20,000 vertices in all); and the
// published RM65 in the workcell from the start of construction until it is
// ready for a planner, with the memory such a scene holds.
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "heavy_mesh_arm.h"
#include "scene_arm_workcell.h"
#include "silenced_stdout.h"

namespace {

const std::string kSceneArm = std::string(BRAMLOCK_TEST_FIXTURES_DIR) + "/scene_arm/";
constexpr double kResolution = 0.02;

// Start-up prints a report of the model; keep it out of the benchmark output.
using bench_support::SilencedStdout;

// A square floor of about `voxels` voxels centred below the base.
std::shared_ptr<const octomap::OcTree> floorOf(int voxels) {
  auto tree = std::make_shared<octomap::OcTree>(kResolution);
  const int side = static_cast<int>(std::lround(std::sqrt(static_cast<double>(voxels))));
  for (int i = 0; i < side; ++i) {
    for (int j = 0; j < side; ++j) {
      const double x = (i - side / 2 + 0.5) * kResolution;
      const double y = (j - side / 2 + 0.5) * kResolution;
      tree->updateNode(octomap::point3d(x, y, -0.03), true);
    }
  }
  return tree;
}

std::unique_ptr<ManipulatorPlanScene> sceneArm(const std::string& directory, double robot_padding) {
  SilencedStdout quiet;
  std::vector<std::vector<double>> table = {{0.2405, 0.0, 0.0, 0.210, 0.0, 0.144},
                                            {0.0, 0.0, 0.256, 0.0, 0.0, 0.0},
                                            {0.0, M_PI_2, M_PI_2, 0.0, 0.0, 0.0},
                                            {0.0, M_PI_2, 0.0, M_PI_2, -M_PI_2, M_PI_2}};
  return std::make_unique<ManipulatorPlanScene>(directory, "scene_arm.urdf", "scene_arm.srdf", "arm", robot_padding,
                                                1.0, "gripper_link", table,
                                                std::vector<double>{10, 10, 10, 12, 12, 12});
}

std::unique_ptr<ManipulatorPlanScene> sceneWithFloor(int voxels) {
  auto scene = sceneArm(kSceneArm, 0.01);
  SilencedStdout quiet;
  if (voxels > 0) scene->updateWorldOctomap(floorOf(voxels));
  return scene;
}

std::vector<double> kFrom = {0.3, -0.5, 0.8, 0.0, 0.5, 0.0};
std::vector<double> kTo = {-0.3, 0.2, 0.4, 0.5, -0.3, 0.4};

void IsValid(benchmark::State& state) {
  auto scene = sceneWithFloor(static_cast<int>(state.range(0)));
  std::vector<double> joints = kFrom;
  if (!scene->isValid(joints.data())) state.SkipWithError("the benchmark state collides");
  for (auto _ : state) {
    benchmark::DoNotOptimize(scene->isValid(joints.data()));
  }
}
BENCHMARK(IsValid)->Arg(0)->Arg(1000)->Arg(100000)->Repetitions(5)->ReportAggregatesOnly(true);

void CheckMotion(benchmark::State& state) {
  auto scene = sceneWithFloor(static_cast<int>(state.range(0)));
  std::vector<double> from = kFrom, to = kTo;
  if (!scene->checkMotion(from.data(), to.data())) state.SkipWithError("the benchmark motion collides");
  state.counters["states"] = scene->validSegmentCount(from.data(), to.data());
  for (auto _ : state) {
    benchmark::DoNotOptimize(scene->checkMotion(from.data(), to.data()));
  }
}
BENCHMARK(CheckMotion)->Arg(0)->Arg(1000)->Arg(100000)->Repetitions(5)->ReportAggregatesOnly(true);

// Seeded states on the straight motions of the detour pairs, each joint moved
// by up to 0.2 rad: about half of them collide with the workcell.
std::vector<std::vector<double>> statesNearDetours(int count) {
  std::mt19937_64 engine(11);
  const auto uniform = [&engine](double low, double high) {
    return low + (high - low) * static_cast<double>(engine() >> 11) * 0x1.0p-53;
  };
  const auto pairs = scene_arm_workcell::detourPairs();
  std::vector<std::vector<double>> states;
  for (int i = 0; i < count; ++i) {
    const auto& pair = pairs[static_cast<size_t>(i) % pairs.size()];
    const double t = uniform(0.0, 1.0);
    std::vector<double> q(pair.start.size());
    for (size_t j = 0; j < q.size(); ++j)
      q[j] = pair.start[j] + t * (pair.goal[j] - pair.start[j]) + uniform(-0.2, 0.2);
    states.push_back(q);
  }
  return states;
}

// One state check per iteration on the planning road (0) or the simplification
// road (1), with the fixture's meshes or (second argument 1) finely tessellated ones.
// The states come round again only after several times the scene's memo of
// checked states, so every iteration is a full check.
void WorkcellStateCheck(benchmark::State& state) {
  std::unique_ptr<ManipulatorPlanScene> scene;
  {
    SilencedStdout quiet;
    const bool heavy = state.range(1) == 1;
    scene = scene_arm_workcell::makeWorkcellSceneIn(heavy ? heavy_mesh_arm::heavyMeshDirectory()
                                                          : scene_arm_workcell::sceneArmDirectory());
  }
  auto states = statesNearDetours(20000);
  const bool simplify = state.range(0) == 1;
  size_t next = 0;
  std::int64_t valid = 0;
  for (auto _ : state) {
    double* joints = states[next++ % states.size()].data();
    const bool answer = simplify ? scene->isValidSimplify(joints) : scene->isValid(joints);
    valid += answer;
    benchmark::DoNotOptimize(answer);
  }
  state.counters["valid_share"] = static_cast<double>(valid) / static_cast<double>(state.iterations());
}
BENCHMARK(WorkcellStateCheck)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// A binary STL of a sphere of radius 0.5 in `rings` latitude bands of
// 2 * rings quads each (the pole bands as triangles).
void writeSphereStl(const std::filesystem::path& path, int rings) {
  const auto at = [rings](int ring, int step) {
    const double polar = M_PI * ring / rings, azimuth = M_PI * step / rings;
    return std::vector<float>{static_cast<float>(0.5 * std::sin(polar) * std::cos(azimuth)),
                              static_cast<float>(0.5 * std::sin(polar) * std::sin(azimuth)),
                              static_cast<float>(0.5 * std::cos(polar))};
  };
  std::vector<std::vector<std::vector<float>>> triangles;
  for (int ring = 0; ring < rings; ++ring) {
    for (int step = 0; step < 2 * rings; ++step) {
      const auto a = at(ring, step), b = at(ring + 1, step), c = at(ring + 1, step + 1), d = at(ring, step + 1);
      if (ring > 0) triangles.push_back({a, b, d});
      if (ring < rings - 1) triangles.push_back({b, c, d});
    }
  }
  std::ofstream out(path, std::ios::binary);
  const std::string header(80, '\0');
  out.write(header.data(), header.size());
  const auto count = static_cast<std::uint32_t>(triangles.size());
  out.write(reinterpret_cast<const char*>(&count), sizeof(count));
  const float normal[3] = {0.0f, 0.0f, 0.0f};
  const std::uint16_t attributes = 0;
  for (const auto& triangle : triangles) {
    out.write(reinterpret_cast<const char*>(normal), sizeof(normal));
    for (const auto& corner : triangle) out.write(reinterpret_cast<const char*>(corner.data()), 3 * sizeof(float));
    out.write(reinterpret_cast<const char*>(&attributes), sizeof(attributes));
  }
}

// A directory removed with its contents when the program ends.
struct TemporaryDirectory {
  explicit TemporaryDirectory(std::filesystem::path where) : path(std::move(where)) {
    std::filesystem::create_directories(path);
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path path;
};

// The scene arm with both of its link meshes replaced by 32-ring spheres
// (1,986 vertices each, ten link meshes), written once per run.
const std::string& heavySceneArm() {
  namespace fs = std::filesystem;
  static const TemporaryDirectory root(fs::temp_directory_path() /
                                       ("plan_scene_bench_heavy_arm_" + std::to_string(getpid())));
  static const std::string directory = [] {
    const fs::path meshes = root.path / "scene_arm_description" / "meshes";
    fs::create_directories(meshes);
    for (const char* file : {"scene_arm.urdf", "scene_arm.srdf"}) {
      fs::copy_file(kSceneArm + file, root.path / file, fs::copy_options::overwrite_existing);
    }
    for (const char* mesh : {"box.stl", "prism.stl"}) writeSphereStl(meshes / mesh, 32);
    return root.path.string() + "/";
  }();
  return directory;
}

long residentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Growth of the resident set while the scene that `make` builds lives,
// measured in a child of a process that has built no scene yet, so no memory
// freed or cached by earlier constructions is reused; -1 when the child fails.
double residentGrowthOfFirstScene(const std::function<std::unique_ptr<ManipulatorPlanScene>()>& make) {
  int channel[2];
  if (pipe(channel) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    const long before = residentBytes();
    auto scene = make();
    const long growth = residentBytes() - before;
    _exit(write(channel[1], &growth, sizeof(growth)) == sizeof(growth) ? 0 : 1);
  }
  close(channel[1]);
  long growth = -1;
  const bool received = child > 0 && read(channel[0], &growth, sizeof(growth)) == sizeof(growth);
  close(channel[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return received ? growth / 1e6 : -1;
}

// Args of the construction rows: heavy meshes (0/1) and the robot padding in
// millimetres; 60 mm equals the gripper padding, so both padded checkers ask
// for the same geometry.
const std::vector<std::vector<int64_t>> kConstructionArgs = {{0, 1}, {10, 60}};

// Resident growth per row, measured before any benchmark runs.
std::map<std::pair<int64_t, int64_t>, double>& firstSceneGrowth() {
  static std::map<std::pair<int64_t, int64_t>, double> growth;
  return growth;
}

void measureFirstSceneGrowth() {
  for (const int64_t heavy : kConstructionArgs[0]) {
    for (const int64_t padding_mm : kConstructionArgs[1]) {
      const std::string& directory = heavy ? heavySceneArm() : kSceneArm;
      firstSceneGrowth()[{heavy, padding_mm}] =
          residentGrowthOfFirstScene([&] { return sceneArm(directory, padding_mm / 1000.0); });
    }
  }
}

// Construction of the whole scene (model, states, checkers, group).
// Counter resident_MB: see residentGrowthOfFirstScene.
void SceneConstruction(benchmark::State& state) {
  const std::string& directory = state.range(0) ? heavySceneArm() : kSceneArm;
  const double robot_padding = state.range(1) / 1000.0;
  for (auto _ : state) benchmark::DoNotOptimize(sceneArm(directory, robot_padding));
  state.counters["resident_MB"] = firstSceneGrowth()[{state.range(0), state.range(1)}];
}
BENCHMARK(SceneConstruction)
    ->ArgsProduct(kConstructionArgs)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The published RM65 with its own meshes (robot padding 0.01, the scene
// arm's MDH table) in the workcell of the scene tests, and the shelf pair there.
const std::string kRm65 = std::string(BRAMLOCK_TEST_FIXTURES_DIR) + "/realman/";
const scene_arm_workcell::PlanPair& shelfPair() {
  static const scene_arm_workcell::PlanPair pair = scene_arm_workcell::detourPairs()[1];
  return pair;
}

// Everything a planner waits for before its first query: the scene built,
// the octomap handed in, one state check on each road and one motion check.
std::unique_ptr<ManipulatorPlanScene> rm65ReadyForPlanner(const std::shared_ptr<const octomap::OcTree>& workcell) {
  SilencedStdout quiet;
  ManipulatorPlanScene::MdhTable table = scene_arm_workcell::sceneArmMdhTable();
  auto scene =
      std::make_unique<ManipulatorPlanScene>(kRm65, "rm_description/urdf/rm_65.urdf", "rm_65.srdf", "arm", 0.01, 1.0,
                                             "Link6", table, std::vector<double>{10, 10, 10, 12, 12, 12});
  scene->updateWorldOctomap(workcell);
  std::vector<double> start = shelfPair().start, goal = shelfPair().goal;
  benchmark::DoNotOptimize(scene->isValid(start.data()));
  benchmark::DoNotOptimize(scene->isValidSimplify(start.data()));
  benchmark::DoNotOptimize(scene->checkMotion(start.data(), goal.data()));
  return scene;
}

double& readySceneGrowth() {
  static double growth = -1;
  return growth;
}

// rm65ReadyForPlanner per iteration (the octomap built beforehand, as a caller
// holds it). Counter resident_MB: see residentGrowthOfFirstScene.
void ReadyForPlanner(benchmark::State& state) {
  const auto workcell = scene_arm_workcell::workcellOctree();
  for (auto _ : state) benchmark::DoNotOptimize(rm65ReadyForPlanner(workcell));
  state.counters["resident_MB"] = readySceneGrowth();
}
BENCHMARK(ReadyForPlanner)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  measureFirstSceneGrowth();
  const auto workcell = scene_arm_workcell::workcellOctree();
  readySceneGrowth() = residentGrowthOfFirstScene([&] { return rm65ReadyForPlanner(workcell); });
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
