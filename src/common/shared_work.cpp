#include "shared_work.h"

namespace bramlock {
namespace internal {

namespace {

std::atomic<std::size_t>& freeHelperSlots() {
  static std::atomic<std::size_t> slots{hardwareThreads() - 1};
  return slots;
}

}  // namespace

HelperSlots::HelperSlots(std::size_t wanted) {
  std::atomic<std::size_t>& free = freeHelperSlots();
  std::size_t left = free.load();
  do {
    count_ = std::min(left, wanted);
  } while (!free.compare_exchange_weak(left, left - count_));
}

HelperSlots::~HelperSlots() { freeHelperSlots() += count_; }

}  // namespace internal
}  // namespace bramlock
