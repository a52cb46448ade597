// Counts the live heap blocks of the whole test program (the library's
// allocations included) through replaced global allocation functions.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "planner_test_helpers.h"

namespace {
std::atomic<long> live_blocks{0};

void* countedAllocation(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  ++live_blocks;
  return block;
}

void countedRelease(void* block) {
  if (block == nullptr) return;
  --live_blocks;
  std::free(block);
}
}  // namespace

void* operator new(std::size_t size) { return countedAllocation(size); }
void* operator new[](std::size_t size) { return countedAllocation(size); }
void operator delete(void* block) noexcept { countedRelease(block); }
void operator delete[](void* block) noexcept { countedRelease(block); }
void operator delete(void* block, std::size_t) noexcept { countedRelease(block); }
void operator delete[](void* block, std::size_t) noexcept { countedRelease(block); }

TEST(RrtConnectMemory, AThousandPlansLeaveNoNodesBehind) {
  fake_scene::FakeBoxScene scene(fake_scene::symmetricBounds(2), fake_scene::wallWithGap(2), 0.05);
  RRTConnect planner(&scene);
  planner.setStepSizeAndSampleRate(0.04, 15);
  int failed_plans = 0;
  const auto planThrough = [&] {
    planner.setStartAndGoal(fake_scene::leftOfWall(2), fake_scene::rightOfWall(2));
    planner_test::Path path;
    if (planner.planning(path) != 0) ++failed_plans;
  };
  long blocks_after_warm_up = 0;
  long blocks_at_end = 0;
  {
    bramlock_test::OutputCapture capture;
    for (int plan = 0; plan < 10; ++plan) planThrough();
    blocks_after_warm_up = live_blocks.load();
    for (int plan = 10; plan < 1000; ++plan) planThrough();
    blocks_at_end = live_blocks.load();
  }
  EXPECT_EQ(failed_plans, 0);
  EXPECT_EQ(blocks_at_end, blocks_after_warm_up);
}
