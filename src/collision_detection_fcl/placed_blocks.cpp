#include "placed_blocks.h"

#include <atomic>

namespace bramlock {
namespace internal {

namespace {

std::shared_ptr<PlacedBlock> copiesOf(const std::vector<std::shared_ptr<const fcl::CollisionObjectd>>& prototypes) {
  auto block = std::make_shared<PlacedBlock>();
  block->reserve(prototypes.size());
  for (const auto& prototype : prototypes) {
    if (prototype) block->emplace_back(*prototype);
  }
  return block;
}

}  // namespace

std::shared_ptr<PlacedBlock> PlacedBlocks::take(
    const std::vector<std::shared_ptr<const fcl::CollisionObjectd>>& prototypes) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::shared_ptr<PlacedBlock>& block : kept) {
      if (block.use_count() != 1) continue;
      // The last other holder let go with a release; its reads of the block
      // come before the placement that follows.
      std::atomic_thread_fence(std::memory_order_acquire);
      return block;
    }
  }
  std::shared_ptr<PlacedBlock> fresh = copiesOf(prototypes);
  std::lock_guard<std::mutex> lock(mutex);
  if (kept.size() < kKept) kept.push_back(fresh);
  return fresh;
}

void PlacedBlocks::clear() {
  std::lock_guard<std::mutex> lock(mutex);
  kept.clear();
}

}  // namespace internal
}  // namespace bramlock
