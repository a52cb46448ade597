#include "link_tree_batch.h"

#include <malloc.h>

#include <algorithm>
#include <set>

#include "bramlock_arm_planning_core/robot_model/link_model.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "common/shared_work.h"
#include "solid_mesh_model.h"

namespace bramlock {
namespace internal {

namespace {

thread_local LinkTreeBatch* innermost_batch = nullptr;

}  // namespace

LinkTreeBatch::LinkTreeBatch(const moveit::core::RobotModel& model, const std::vector<LinkScaling>& scalings,
                             const TreeBuilder& build)
    : outer_(innermost_batch) {
  try {
    collectJobs(model, scalings);
    buildAll(build);
  } catch (...) {
    // Nothing ahead: the checkers build every tree themselves.
    jobs_.clear();
    job_of_.clear();
  }
  innermost_batch = this;
}

LinkTreeBatch::~LinkTreeBatch() { innermost_batch = outer_; }

LinkTreeBatch* LinkTreeBatch::active() { return innermost_batch; }

std::shared_ptr<fcl::CollisionGeometryd> LinkTreeBatch::take(const shapes::ShapeConstPtr& shape, double scale,
                                                             double padding) {
  const auto job = job_of_.find(Key{shape.get(), scale, padding});
  return job == job_of_.end() ? nullptr : std::move(jobs_[job->second].tree);
}

// One job per distinct (mesh, scale, padding), biggest meshes first so that
// the last jobs to start are short ones.
void LinkTreeBatch::collectJobs(const moveit::core::RobotModel& model, const std::vector<LinkScaling>& scalings) {
  std::set<Key> seen;
  std::set<std::pair<const shapes::Shape*, double>> solids;
  for (const moveit::core::LinkModel* link : model.getLinkModelsWithCollisionGeometry()) {
    for (const shapes::ShapeConstPtr& shape : link->getShapes()) {
      if (!shape || shape->type != shapes::MESH) continue;
      for (const LinkScaling& given : scalings) {
        const LinkScaling scaling = isPlainScaling(given.scale, given.padding) ? LinkScaling{1.0, 0.0} : given;
        if (!seen.insert(Key{shape.get(), scaling.scale, scaling.padding}).second) continue;
        std::optional<MeshTreeInput> input = linkMeshTreeInput(shape, scaling.scale, scaling.padding);
        if (!input) continue;
        const bool builds_solid = solids.emplace(shape.get(), scaling.scale).second;
        jobs_.push_back(Job{shape, scaling, std::move(*input), nullptr, builds_solid, nullptr});
      }
    }
  }
  std::stable_sort(jobs_.begin(), jobs_.end(),
                   [](const Job& a, const Job& b) { return a.input.triangles.size() > b.input.triangles.size(); });
  for (size_t i = 0; i < jobs_.size(); ++i) {
    job_of_.emplace(Key{jobs_[i].shape.get(), jobs_[i].scaling.scale, jobs_[i].scaling.padding}, i);
  }
}

// The calling thread works along with about one helper per further hardware thread.
void LinkTreeBatch::buildAll(const TreeBuilder& build) {
  shareWork(jobs_.size(), hardwareThreads(), [this, &build](std::size_t i) {
    Job& job = jobs_[i];
    try {
      job.tree = build(job.input);
      if (job.builds_solid) job.solid = meshSolidOf(job.shape, job.scaling.scale);
    } catch (...) {
      // Left to the checker, which builds it on the calling thread and so
      // reports a lasting failure where and how it always did.
      job.tree = nullptr;
    }
    job.input = MeshTreeInput{};
  });
  // The helpers' allocator arenas would keep the pages of what they freed
  // (and the spare room at their tops) for as long as the process lives.
  malloc_trim(0);
}

}  // namespace internal
}  // namespace bramlock
