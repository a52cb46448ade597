// The inside test of closed meshes, whose cost should follow the mesh's
// local detail, not its bounding box nor its triangulation. State checks of
// the published RM65 (padding 0) holding an attached closed icosphere of
// 81,920 triangles (radius 5 cm) among 4 mm voxels in a shell 12 to 25 mm off
// its surface (6,517 octree leaves once pruned), alone and with a far piece,
// a long rod or 9, 51, 201 or 2,001 small far pieces in the same mesh, or
// with 1,000 or 5,000 single triangles missing (at least 1.5 mm apart);
// contains() on a box closed and written with T-junctions along its edges; the
// inside test built for an icosphere of 1,310,720 triangles, with the memory
// it takes; and built for the 81,920-triangle icosphere and for a cylinder of
// 16,384 sides whose ends are fans (65,536 triangles). State checks with
// attached icospheres of 81,920 to 1,310,720 triangles and nothing near,
// which should cost what the obstacles near cost, not what the mesh holds;
// and the time and memory of attaching the largest. Inside queries on the
// 81,920-triangle icosphere closed and with 1,000 or 5,000 single triangles
// missing, whose caps should cost only near them; and the inside test built
// for cones of 25,000 and 50,000 sides whose apex is shared or copied per
// triangle 1e-9 m apart, whose weld should cost about the same either way.
// Inside queries on a 408,576-triangle sphere drawn as a scan, closed and cut
// by one or four slits from pole to pole.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcl/math/triangle.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "closed_meshes.h"
#include "collision_detection_fcl/solid/mesh_solid.h"
#include "heavy_mesh_arm.h"
#include "scene_arm_workcell.h"
#include "silenced_stdout.h"

namespace {

using bramlock_test::TriangleMesh;

const std::string kRm65 = std::string(BRAMLOCK_TEST_FIXTURES_DIR) + "/realman/";
constexpr double kVoxel = 0.004;
constexpr double kSphereRadius = 0.05;
// The sphere's centre in Link6's frame, beyond the flange; the rod leaves it along z.
const Eigen::Vector3d kSphereCentre(0.0, 0.0, 0.2);
const Eigen::Vector3d kRodAxis = Eigen::Vector3d::UnitZ();
constexpr double kRodLength = 3.0;
constexpr double kRodRadius = 0.01;
// Voxels this close to the rod's axis are left out of the shell, so that the
// rod passes it untouched and every row checks the same voxels.
constexpr double kTunnelRadius = 0.02;
// A state where Link6 points away from the arm: the tool, the rod and the shell are clear of it.
const std::vector<double> kState = {0.0, -0.3, 1.2, 0.0, 1.0, 0.0};

enum class Extra {
  kNone,
  kFarPiece,
  kRod,
  kFarPieces9,
  kFarPieces51,
  kFarPieces201,
  kFarPieces2001,
  kHoles1000,
  kHoles5000,
  kScan,
  kScanSlit1,
  kScanSlits4
};

// Single triangles missing from the sphere, at least this far apart.
constexpr double kHolesApart = 0.0015;

// Small closed pieces (20 triangles, 1 mm) on a ring of 2 m around the sphere.
TriangleMesh farPieces(int count) {
  TriangleMesh pieces;
  for (int k = 0; k < count; ++k) {
    const double angle = 2.0 * M_PI * k / count;
    const Eigen::Vector3d at = kSphereCentre + 2.0 * Eigen::Vector3d(std::cos(angle), std::sin(angle), 0.0);
    pieces = bramlock_test::appended(pieces, bramlock_test::icosphere(at, 0.001, 0));
  }
  return pieces;
}

TriangleMesh toolMesh(Extra extra) {
  if (extra == Extra::kScan || extra == Extra::kScanSlit1 || extra == Extra::kScanSlits4) {
    // A sphere drawn as a scan in 400 rings of 512 quads (408,576 triangles),
    // cut from pole to pole by slits each 0.13 % of its area wide.
    const int slits = extra == Extra::kScan ? 0 : extra == Extra::kScanSlit1 ? 1 : 4;
    return bramlock_test::translated(bramlock_test::slitSphere(kSphereRadius, 400, 512, slits, 0.0082), kSphereCentre);
  }
  TriangleMesh mesh = bramlock_test::icosphere(kSphereCentre, kSphereRadius, 6);
  if (extra == Extra::kHoles1000 || extra == Extra::kHoles5000) {
    return bramlock_test::withScatteredHoles(mesh, extra == Extra::kHoles1000 ? 1000 : 5000, kHolesApart);
  }
  if (extra == Extra::kFarPiece) {
    mesh = bramlock_test::appended(mesh,
                                   bramlock_test::icosphere(kSphereCentre + Eigen::Vector3d(10.0, 0.0, 0.0), 0.001, 0));
  } else if (extra == Extra::kRod) {
    mesh = bramlock_test::appended(
        mesh, closed_meshes::rod(kSphereCentre, kSphereCentre + kRodLength * kRodAxis, kRodRadius, 32));
  } else if (extra != Extra::kNone) {
    const int count = extra == Extra::kFarPieces9     ? 9
                      : extra == Extra::kFarPieces51  ? 51
                      : extra == Extra::kFarPieces201 ? 201
                                                      : 2001;
    mesh = bramlock_test::appended(mesh, farPieces(count));
  }
  return mesh;
}

std::unique_ptr<ManipulatorPlanScene> unpaddedRm65() {
  bench_support::SilencedStdout quiet;
  ManipulatorPlanScene::MdhTable table = scene_arm_workcell::sceneArmMdhTable();
  auto scene = std::make_unique<ManipulatorPlanScene>(kRm65, "rm_description/urdf/rm_65.urdf", "rm_65.srdf", "arm", 0.0,
                                                      1.0, "Link6", table, std::vector<double>{10, 10, 10, 12, 12, 12});
  scene->setGripperPadding(0.0);
  return scene;
}

// Octomap voxel centres (a 4 mm lattice) 62 to 75 mm from the sphere's
// centre, where it stands at kState, leaving out the rod's way through.
std::shared_ptr<const octomap::OcTree> shellAround(const Eigen::Matrix4d& link6) {
  const Eigen::Vector3d centre = (link6 * kSphereCentre.homogeneous()).head<3>();
  const Eigen::Vector3d rod_axis = link6.block<3, 3>(0, 0) * kRodAxis;
  auto tree = std::make_shared<octomap::OcTree>(kVoxel);
  const int reach = static_cast<int>(std::ceil(0.075 / kVoxel)) + 1;
  const Eigen::Vector3d base = ((centre / kVoxel).array().floor() + 0.5).matrix() * kVoxel;
  for (int i = -reach; i <= reach; ++i) {
    for (int j = -reach; j <= reach; ++j) {
      for (int k = -reach; k <= reach; ++k) {
        const Eigen::Vector3d point = base + kVoxel * Eigen::Vector3d(i, j, k);
        const Eigen::Vector3d offset = point - centre;
        const double distance = offset.norm();
        const double along = offset.dot(rod_axis);
        if (distance < 0.062 || distance > 0.075) continue;
        if (along > 0.0 && (offset - along * rod_axis).norm() < kTunnelRadius) continue;
        tree->updateNode(octomap::point3d(point.x(), point.y(), point.z()), true, true);
      }
    }
  }
  tree->updateInnerOccupancy();
  tree->prune();
  return tree;
}

std::size_t occupiedLeaves(const octomap::OcTree& tree) {
  std::size_t leaves = 0;
  for (auto leaf = tree.begin_leafs(); leaf != tree.end_leafs(); ++leaf) leaves += tree.isNodeOccupied(*leaf);
  return leaves;
}

// A directory of the meshes' STL files, removed when the program ends.
const std::filesystem::path& meshDirectory() {
  static const heavy_mesh_arm::TemporaryDirectory directory = [] {
    char pattern[] = "/tmp/closed_mesh_bench_XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("no temporary directory");
    return heavy_mesh_arm::TemporaryDirectory{pattern};
  }();
  return directory.path;
}

std::string writtenTool(Extra extra) {
  const auto file = meshDirectory() / ("tool_" + std::to_string(static_cast<int>(extra)) + ".stl");
  closed_meshes::writeBinaryStl(file, toolMesh(extra));
  return "file://" + file.string();
}

// States equal to kState but for a nudge below 1e-6 rad of the first joint,
// more of them than the scene's memo of checked states holds, so that every
// check is made in full.
std::vector<std::vector<double>> nudgedStates() {
  std::vector<std::vector<double>> states(10000, kState);
  for (size_t i = 0; i < states.size(); ++i) states[i][0] += 1e-10 * static_cast<double>(i);
  return states;
}

// isValid per iteration, with the tool attached to Link6 (padding 0).
void AttachedMeshStateCheck(benchmark::State& state, Extra extra) {
  auto scene = unpaddedRm65();
  const auto shell = shellAround(scene->getToolEndTransform(kState));
  int attached = 0;
  {
    bench_support::SilencedStdout quiet;
    scene->updateWorldOctomap(shell);
    attached = scene->addAttachedEndEffectorToLink("tool", "Link6", {"Link6"}, Eigen::Matrix4d::Identity(),
                                                   writtenTool(extra), 1.0, 0.0);
  }
  auto states = nudgedStates();
  if (attached != 0) state.SkipWithError("the tool mesh was not attached");
  if (!scene->isValid(states[0].data())) state.SkipWithError("the benchmark state collides");
  size_t next = 0;
  for (auto _ : state) benchmark::DoNotOptimize(scene->isValid(states[next++ % states.size()].data()));
  state.counters["voxels"] = static_cast<double>(occupiedLeaves(*shell));
}
BENCHMARK_CAPTURE(AttachedMeshStateCheck, sphere_alone, Extra::kNone)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(AttachedMeshStateCheck, far_piece, Extra::kFarPiece)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(AttachedMeshStateCheck, rod, Extra::kRod)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(AttachedMeshStateCheck, far_pieces_9, Extra::kFarPieces9)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(AttachedMeshStateCheck, far_pieces_51, Extra::kFarPieces51)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(AttachedMeshStateCheck, far_pieces_201, Extra::kFarPieces201)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(AttachedMeshStateCheck, far_pieces_2001, Extra::kFarPieces2001)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(AttachedMeshStateCheck, holes_1000, Extra::kHoles1000)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(AttachedMeshStateCheck, holes_5000, Extra::kHoles5000)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(AttachedMeshStateCheck, scan, Extra::kScan)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(AttachedMeshStateCheck, scan_slit_1, Extra::kScanSlit1)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(AttachedMeshStateCheck, scan_slits_4, Extra::kScanSlits4)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

long statusKilobytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

// Starts the process's peak resident set afresh at its present size; false
// where the kernel does not allow it.
bool resetPeakResident() {
  std::ofstream clear_refs("/proc/self/clear_refs");
  clear_refs << "5";
  clear_refs.flush();
  return static_cast<bool>(clear_refs);
}

// The inside test built from the vertices and triangles of a 1,310,720-triangle
// icosphere per iteration (the input made beforehand). Counter peak_MB: the
// peak resident set over the iterations above the resident set before them
// (-1 where the peak cannot be reset).
void MeshSolidBuild(benchmark::State& state) {
  const TriangleMesh sphere = bramlock_test::icosphere(Eigen::Vector3d::Zero(), 0.05, 8);
  const bool measured = resetPeakResident();
  const long before = statusKilobytes("VmRSS");
  bool solid = true;
  for (auto _ : state) {
    bramlock::internal::MeshSolid inside(sphere.points, sphere.triangles);
    solid = solid && inside.isSolid();
    benchmark::DoNotOptimize(inside);
  }
  if (!solid) state.SkipWithError("the icosphere was not taken for a solid");
  state.counters["triangles"] = static_cast<double>(sphere.triangles.size());
  state.counters["peak_MB"] = measured ? (statusKilobytes("VmHWM") - before) / 1e3 : -1.0;
}
BENCHMARK(MeshSolidBuild)->Unit(benchmark::kMillisecond)->Iterations(3);

// The inside test built per iteration for a mesh of about the same size
// drawn two ways: an icosphere, whose triangles are small everywhere, and a
// cylinder whose ends are fans of triangles spanning the whole end.
// The inside test built from the mesh per iteration; it must be a solid.
void buildEachIteration(benchmark::State& state, const TriangleMesh& mesh) {
  bool solid = true;
  for (auto _ : state) {
    bramlock::internal::MeshSolid inside(mesh.points, mesh.triangles);
    solid = solid && inside.isSolid();
    benchmark::DoNotOptimize(inside);
  }
  if (!solid) state.SkipWithError("the mesh was not taken for a solid");
  state.counters["triangles"] = static_cast<double>(mesh.triangles.size());
}

void MeshSolidBuildOf(benchmark::State& state, bool fan_cylinder) {
  buildEachIteration(
      state, fan_cylinder ? closed_meshes::rod(Eigen::Vector3d::Zero(), Eigen::Vector3d(0.0, 0.0, 0.2), 0.05, 16384)
                          : bramlock_test::icosphere(Eigen::Vector3d::Zero(), 0.05, 6));
}
BENCHMARK_CAPTURE(MeshSolidBuildOf, icosphere_81920, false)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(MeshSolidBuildOf, fan_cylinder_16384, true)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// An icosphere of radius kSphereRadius about kSphereCentre, split `rounds`
// times (20 * 4^rounds triangles), as an STL file.
std::string writtenIcosphere(int rounds) {
  const auto file = meshDirectory() / ("icosphere_" + std::to_string(rounds) + ".stl");
  closed_meshes::writeBinaryStl(file, bramlock_test::icosphere(kSphereCentre, kSphereRadius, rounds));
  return "file://" + file.string();
}

// The only occupied voxel, 1 m above the tool at kState.
std::shared_ptr<const octomap::OcTree> farVoxel(const Eigen::Matrix4d& link6) {
  const Eigen::Vector3d far = (link6 * kSphereCentre.homogeneous()).head<3>() + Eigen::Vector3d(0.0, 0.0, 1.0);
  auto tree = std::make_shared<octomap::OcTree>(kVoxel);
  tree->updateNode(octomap::point3d(far.x(), far.y(), far.z()), true, true);
  tree->updateInnerOccupancy();
  return tree;
}

int attachIcosphere(ManipulatorPlanScene& scene, const std::string& path) {
  bench_support::SilencedStdout quiet;
  return scene.addAttachedEndEffectorToLink("tool", "Link6", {"Link6"}, Eigen::Matrix4d::Identity(), path, 1.0, 0.0);
}

// isValid per iteration with an icosphere of state.range(0) rounds attached
// to Link6 and one voxel 1 m away.
void AttachedIcosphereCheck(benchmark::State& state) {
  const int rounds = static_cast<int>(state.range(0));
  const std::string path = writtenIcosphere(rounds);
  auto scene = unpaddedRm65();
  {
    bench_support::SilencedStdout quiet;
    scene->updateWorldOctomap(farVoxel(scene->getToolEndTransform(kState)));
  }
  const int attached = attachIcosphere(*scene, path);
  auto states = nudgedStates();
  if (attached != 0) state.SkipWithError("the icosphere was not attached");
  if (!scene->isValid(states[0].data())) state.SkipWithError("the benchmark state collides");
  size_t next = 0;
  for (auto _ : state) benchmark::DoNotOptimize(scene->isValid(states[next++ % states.size()].data()));
  state.counters["triangles"] = 20.0 * std::pow(4.0, rounds);
}
BENCHMARK(AttachedIcosphereCheck)
    ->Arg(6)
    ->Arg(7)
    ->Arg(8)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Tools whose triangulation crowds a few places, and one voxel of 1 mm near
// such a place within the tool's box, 2.8 to 4 mm off its surface: inside a
// cylinder 2.8 mm under its end drawn as a fan (the voxel a collision, found
// by the inside test), beside a cone fanned to its tip, beside a cylinder's
// side of slivers, inside a slab of long strips (a collision) and beside the
// side of a cone drawn in one ring of slivers, each of state.range(0)
// segments; against an icosphere of about as many triangles with the voxel
// 2.8 mm inside or outside it, and the cone cut into 40 rings (the
// references).
enum class Crowd { kIcosphereIn, kIcosphereOut, kFanEnd, kDrillTip, kSliverSide, kStripSlab, kConeSide1, kConeSide40 };

// The tool about kSphereCentre and the voxel's place, in Link6's frame.
std::pair<TriangleMesh, Eigen::Vector3d> crowdedTool(Crowd crowd, int segments) {
  const Eigen::Vector3d& at = kSphereCentre;
  const Eigen::Vector3d diagonal = Eigen::Vector3d(1, 1, 0).normalized();
  switch (crowd) {
    case Crowd::kIcosphereIn:
    case Crowd::kIcosphereOut: {
      const int rounds = static_cast<int>(std::lround(std::log(segments / 5.0) / std::log(4.0)));
      const double off = crowd == Crowd::kIcosphereIn ? -0.0028 : 0.0028;
      return {bramlock_test::icosphere(at, kSphereRadius, rounds), at + (kSphereRadius + off) * diagonal};
    }
    case Crowd::kFanEnd:
    case Crowd::kSliverSide: {
      TriangleMesh rod = closed_meshes::rod(at, at + Eigen::Vector3d(0, 0, 0.2), 0.05, segments);
      const Eigen::Vector3d voxel = crowd == Crowd::kFanEnd
                                        ? Eigen::Vector3d(0, 0, 0.1972)
                                        : Eigen::Vector3d(0.054 * diagonal + Eigen::Vector3d(0, 0, 0.1));
      return {rod, at + voxel};
    }
    case Crowd::kDrillTip:
      return {bramlock_test::translated(bramlock_test::coneMesh(0.04, 0.01, segments, 1), at),
              at + Eigen::Vector3d(0.004, 0, 0.038)};
    case Crowd::kConeSide1:
    case Crowd::kConeSide40:
      return {bramlock_test::translated(
                  bramlock_test::coneMesh(0.04, 0.01, segments, crowd == Crowd::kConeSide1 ? 1 : 40), at),
              at + Eigen::Vector3d(0.008, 0, 0.02)};
    case Crowd::kStripSlab:
      return {bramlock_test::translated(bramlock_test::stripSlab(0.2, 0.1, 0.01, segments),
                                        at - Eigen::Vector3d(0.1, 0.05, 0)),
              at + Eigen::Vector3d(0, 0, 0.005)};
  }
  return {};
}

// isValid per iteration with the tool attached to Link6 and the one voxel.
void CrowdedToolCheck(benchmark::State& state, Crowd crowd) {
  const auto [tool, voxel] = crowdedTool(crowd, static_cast<int>(state.range(0)));
  const auto file = meshDirectory() / ("crowded_" + std::to_string(static_cast<int>(crowd)) + ".stl");
  closed_meshes::writeBinaryStl(file, tool);
  auto scene = unpaddedRm65();
  const Eigen::Vector3d place = (scene->getToolEndTransform(kState) * voxel.homogeneous()).head<3>();
  auto tree = std::make_shared<octomap::OcTree>(0.001);
  tree->updateNode(octomap::point3d(place.x(), place.y(), place.z()), true, true);
  tree->updateInnerOccupancy();
  {
    bench_support::SilencedStdout quiet;
    scene->updateWorldOctomap(tree);
  }
  if (attachIcosphere(*scene, "file://" + file.string()) != 0) state.SkipWithError("the tool was not attached");
  auto states = nudgedStates();
  const bool inside = crowd == Crowd::kIcosphereIn || crowd == Crowd::kFanEnd || crowd == Crowd::kStripSlab;
  if (scene->isValid(states[0].data()) == inside) state.SkipWithError("the voxel is not where the row says");
  size_t next = 0;
  for (auto _ : state) benchmark::DoNotOptimize(scene->isValid(states[next++ % states.size()].data()));
  state.counters["triangles"] = static_cast<double>(tool.triangles.size());
}
void crowdedSegments(benchmark::internal::Benchmark* bench) {
  for (const int count : {1024, 4096, 16384, 65536}) bench->Arg(count);
  bench->Unit(benchmark::kMicrosecond)->Repetitions(3)->ReportAggregatesOnly(true);
}
BENCHMARK_CAPTURE(CrowdedToolCheck, icosphere_in, Crowd::kIcosphereIn)->Apply(crowdedSegments);
BENCHMARK_CAPTURE(CrowdedToolCheck, icosphere_out, Crowd::kIcosphereOut)->Apply(crowdedSegments);
BENCHMARK_CAPTURE(CrowdedToolCheck, fan_end, Crowd::kFanEnd)->Apply(crowdedSegments);
BENCHMARK_CAPTURE(CrowdedToolCheck, drill_tip, Crowd::kDrillTip)->Apply(crowdedSegments);
BENCHMARK_CAPTURE(CrowdedToolCheck, sliver_side, Crowd::kSliverSide)->Apply(crowdedSegments);
BENCHMARK_CAPTURE(CrowdedToolCheck, strip_slab, Crowd::kStripSlab)->Apply(crowdedSegments);
void coneSegments(benchmark::internal::Benchmark* bench) {
  for (const int count : {512, 2048, 16384}) bench->Arg(count);
  bench->Unit(benchmark::kMicrosecond)->Repetitions(3)->ReportAggregatesOnly(true);
}
BENCHMARK_CAPTURE(CrowdedToolCheck, cone_side_1_ring, Crowd::kConeSide1)->Apply(coneSegments);
BENCHMARK_CAPTURE(CrowdedToolCheck, cone_side_40_rings, Crowd::kConeSide40)->Apply(coneSegments);

// Attaching the 1,310,720-triangle icosphere from its file to a fresh scene
// and the first state check after it, once (run the row in a process of its
// own for a fair memory figure). Counter peak_MB: the peak resident set above
// the resident set before attaching (-1 where the peak cannot be reset).
void AttachLargestIcosphere(benchmark::State& state) {
  const std::string path = writtenIcosphere(8);
  auto scene = unpaddedRm65();
  auto states = nudgedStates();
  const bool measured = resetPeakResident();
  const long before = statusKilobytes("VmRSS");
  int attached = 0;
  bool valid = false;
  for (auto _ : state) {
    attached = attachIcosphere(*scene, path);
    valid = scene->isValid(states[0].data());
  }
  if (attached != 0 || !valid) state.SkipWithError("the icosphere was not attached or its state collides");
  state.counters["peak_MB"] = measured ? (statusKilobytes("VmHWM") - before) / 1e3 : -1.0;
}
BENCHMARK(AttachLargestIcosphere)->Unit(benchmark::kMillisecond)->Iterations(1);

// contains() per iteration, cycling through 4,096 seeded points in the
// mesh's box grown by a tenth on each side; the mesh must enclose points.
void queryEachIteration(benchmark::State& state, const TriangleMesh& mesh) {
  const bramlock::internal::MeshSolid inside(mesh.points, mesh.triangles);
  if (!inside.hasInside()) state.SkipWithError("the mesh encloses nothing");
  Eigen::AlignedBox3d box;
  for (const Eigen::Vector3d& point : mesh.points) box.extend(point);
  std::mt19937_64 engine(5);
  std::uniform_real_distribution<double> unit(-0.6, 0.6);
  std::vector<Eigen::Vector3d> points(4096);
  for (Eigen::Vector3d& point : points) {
    point = box.center() + box.sizes().cwiseProduct(Eigen::Vector3d(unit(engine), unit(engine), unit(engine)));
  }
  std::size_t next = 0, inside_points = 0;
  // Once round first: what the first points build on demand is not a query's cost.
  for (const Eigen::Vector3d& point : points) inside_points += inside.contains(point);
  for (auto _ : state) inside_points += inside.contains(points[next++ % points.size()]);
  benchmark::DoNotOptimize(inside_points);
  state.counters["triangles"] = static_cast<double>(mesh.triangles.size());
}

// On an icosphere of 81,920 triangles (radius 5 cm) with state.range(0)
// single triangles missing (at least 1.5 mm apart).
void MeshSolidQuery(benchmark::State& state) {
  const auto holes = static_cast<std::size_t>(state.range(0));
  const TriangleMesh sphere = bramlock_test::icosphere(Eigen::Vector3d::Zero(), kSphereRadius, 6);
  const TriangleMesh holed = bramlock_test::withScatteredHoles(sphere, holes, kHolesApart);
  if (holed.triangles.size() != sphere.triangles.size() - holes) state.SkipWithError("too few holes far apart");
  queryEachIteration(state, holed);
}
BENCHMARK(MeshSolidQuery)
    ->Arg(0)
    ->Arg(1000)
    ->Arg(5000)
    ->Unit(benchmark::kNanosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// On a sphere drawn as a scan in 400 rings of 512 quads (408,576
// triangles, radius 5 cm), cut from pole to pole by state.range(0) slits
// each 0.13 % of its area wide.
void MeshSolidQuerySlits(benchmark::State& state) {
  const int slits = static_cast<int>(state.range(0));
  queryEachIteration(state, bramlock_test::slitSphere(kSphereRadius, 400, 512, slits, 0.0082));
}
BENCHMARK(MeshSolidQuerySlits)
    ->Arg(0)
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kNanosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// On a box of 100 x 60 x 40 mm closed (range(0) 0), or written as a soup
// with each face a grid of its own (1): its T-junctions leave slits whose
// mending changes the winding, so points there also ask the triangles as written.
void MeshSolidQueryGridFacedBox(benchmark::State& state) {
  const Eigen::Vector3d low(-0.05, -0.03, -0.02), high(0.05, 0.03, 0.02);
  const TriangleMesh grid_faced = bramlock_test::soupOf(
      bramlock_test::perFaceBox(low, high, 0.0, {{{1, 3}, {2, 5}, {1, 3}, {3, 5}, {5, 5}, {3, 4}}}),
      [](const Eigen::Vector3d& p, size_t, size_t) { return p; });
  queryEachIteration(state, state.range(0) != 0 ? grid_faced : bramlock_test::boxMesh(low, high));
}
BENCHMARK(MeshSolidQueryGridFacedBox)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kNanosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The inside test built per iteration for a cone of state.range(0) sides,
// its apex shared (range(1) 0) or copied per triangle 1e-9 m apart (1).
void MeshSolidBuildCone(benchmark::State& state) {
  buildEachIteration(state, closed_meshes::cone(static_cast<int>(state.range(0)), state.range(1) != 0));
}
BENCHMARK(MeshSolidBuildCone)
    ->Args({25000, 0})
    ->Args({25000, 1})
    ->Args({50000, 0})
    ->Args({50000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
