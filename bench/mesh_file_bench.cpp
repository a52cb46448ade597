// Reading a mesh file of a million triangles (a closed torus) as a link
// mesh is read, and attaching it to the scene arm's gripper, from a binary
// STL and from an OBJ written once in the benchmark's setup.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "mesh_file/mesh_file.h"
#include "silenced_stdout.h"

namespace {

constexpr int kAround = 1000;  // segments around the torus' axis
constexpr int kAcross = 500;   // segments around its tube: 2 x 1000 x 500 triangles

struct Torus {
  std::vector<float> vertices;  // x, y, z per vertex
  std::vector<std::uint32_t> triangles;
};

Torus torus() {
  Torus torus;
  for (int i = 0; i < kAround; ++i) {
    const double u = 2.0 * M_PI * i / kAround;
    for (int j = 0; j < kAcross; ++j) {
      const double v = 2.0 * M_PI * j / kAcross;
      const double r = 0.05 + 0.02 * std::cos(v);
      torus.vertices.insert(torus.vertices.end(),
                            {static_cast<float>(r * std::cos(u)), static_cast<float>(r * std::sin(u)),
                             static_cast<float>(0.02 * std::sin(v))});
    }
  }
  const auto at = [](int i, int j) { return static_cast<std::uint32_t>((i % kAround) * kAcross + j % kAcross); };
  for (int i = 0; i < kAround; ++i) {
    for (int j = 0; j < kAcross; ++j) {
      torus.triangles.insert(torus.triangles.end(), {at(i, j), at(i + 1, j), at(i + 1, j + 1)});
      torus.triangles.insert(torus.triangles.end(), {at(i, j), at(i + 1, j + 1), at(i, j + 1)});
    }
  }
  return torus;
}

void writeStl(const Torus& torus, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  const char header[80] = "binary torus";
  out.write(header, sizeof header);
  const auto count = static_cast<std::uint32_t>(torus.triangles.size() / 3);
  out.write(reinterpret_cast<const char*>(&count), sizeof count);
  for (std::size_t t = 0; t < torus.triangles.size(); t += 3) {
    const float normal[3] = {0.0f, 0.0f, 0.0f};
    out.write(reinterpret_cast<const char*>(normal), sizeof normal);
    for (int k = 0; k < 3; ++k)
      out.write(reinterpret_cast<const char*>(&torus.vertices[3 * torus.triangles[t + k]]), 12);
    const std::uint16_t attribute = 0;
    out.write(reinterpret_cast<const char*>(&attribute), sizeof attribute);
  }
}

void writeObj(const Torus& torus, const std::string& path) {
  std::ofstream out(path);
  out.precision(9);
  for (std::size_t v = 0; v < torus.vertices.size(); v += 3) {
    out << "v " << torus.vertices[v] << ' ' << torus.vertices[v + 1] << ' ' << torus.vertices[v + 2] << '\n';
  }
  for (std::size_t t = 0; t < torus.triangles.size(); t += 3) {
    out << "f " << torus.triangles[t] + 1 << ' ' << torus.triangles[t + 1] + 1 << ' ' << torus.triangles[t + 2] + 1
        << '\n';
  }
}

// The two files, written once for every benchmark of the program and
// removed when it ends.
class TorusFiles {
 public:
  TorusFiles()
      : directory_(std::filesystem::temp_directory_path() / ("bramlock_mesh_file_bench_" + std::to_string(getpid()))) {
    std::filesystem::create_directories(directory_);
    const Torus shape = torus();
    writeStl(shape, path("stl"));
    writeObj(shape, path("obj"));
  }
  ~TorusFiles() { std::filesystem::remove_all(directory_); }
  TorusFiles(const TorusFiles&) = delete;
  TorusFiles& operator=(const TorusFiles&) = delete;

  std::string path(const std::string& extension) const { return (directory_ / ("torus." + extension)).string(); }

 private:
  std::filesystem::path directory_;
};

std::string torusFile(const std::string& extension) {
  static const TorusFiles files;
  return files.path(extension);
}

const char* extensionOf(const benchmark::State& state) { return state.range(0) == 0 ? "stl" : "obj"; }

void LoadLinkMesh(benchmark::State& state) {
  const std::string path = "file://" + torusFile(extensionOf(state));
  for (auto _ : state) {
    const bramlock::internal::MeshFile file = bramlock::internal::loadMeshFile(path, Eigen::Vector3d(1.0, 1.0, 1.0));
    if (!file.mesh || file.mesh->triangle_count != 2u * kAround * kAcross)
      state.SkipWithError("the torus did not load");
    benchmark::DoNotOptimize(file.mesh.get());
  }
  state.SetLabel(extensionOf(state));
}

std::unique_ptr<ManipulatorPlanScene> sceneArm() {
  bench_support::SilencedStdout quiet;
  std::vector<std::vector<double>> table = {{0.2405, 0.0, 0.0, 0.210, 0.0, 0.144},
                                            {0.0, 0.0, 0.256, 0.0, 0.0, 0.0},
                                            {0.0, M_PI_2, M_PI_2, 0.0, 0.0, 0.0},
                                            {0.0, M_PI_2, 0.0, M_PI_2, -M_PI_2, M_PI_2}};
  return std::make_unique<ManipulatorPlanScene>(std::string(BRAMLOCK_TEST_FIXTURES_DIR) + "/scene_arm/",
                                                "scene_arm.urdf", "scene_arm.srdf", "arm", 0.01, 1.0, "gripper_link",
                                                table, std::vector<double>{10, 10, 10, 12, 12, 12});
}

void AttachMesh(benchmark::State& state) {
  const std::string path = "file://" + torusFile(extensionOf(state));
  auto scene = sceneArm();
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  pose(2, 3) = 0.1;
  for (auto _ : state) {
    bench_support::SilencedStdout quiet;
    if (scene->addAttachedEndEffectorToLink("torus", "gripper_link", {"gripper_link"}, pose, path, 1.0, 0.0) != 0) {
      state.SkipWithError("the torus was not attached");
    }
    state.PauseTiming();
    scene->removeAttachedCollisionObjectFromLink("torus");
    state.ResumeTiming();
  }
  state.SetLabel(extensionOf(state));
}

}  // namespace

BENCHMARK(LoadLinkMesh)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(AttachMesh)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
