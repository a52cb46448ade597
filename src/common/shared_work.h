#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace bramlock {
namespace internal {

// Helper threads lent to one shareWork call from the process's pool of one
// helper per hardware thread beyond the first, however many threads share
// work at once: as many as are free (none while the pool is busy), given
// back when the call ends.
class HelperSlots {
 public:
  explicit HelperSlots(std::size_t wanted);
  ~HelperSlots();
  HelperSlots(const HelperSlots&) = delete;
  HelperSlots& operator=(const HelperSlots&) = delete;

  std::size_t count() const { return count_; }

 private:
  std::size_t count_;
};

// Calls work(i) for every i below `count`, on the calling thread and on up
// to `most_threads` - 1 helpers (fewer when the pool or the system has fewer
// to give), and returns when every call has returned. `work` must not throw.
template <typename Work>
void shareWork(std::size_t count, std::size_t most_threads, const Work& work) {
  std::atomic<std::size_t> next{0};
  const auto take = [&next, count, &work] {
    for (std::size_t i = next++; i < count; i = next++) work(i);
  };
  const std::size_t threads = std::min(most_threads, count);
  const HelperSlots slots(threads > 0 ? threads - 1 : 0);
  std::vector<std::thread> helpers;
  try {
    for (std::size_t started = 0; started < slots.count(); ++started) helpers.emplace_back(take);
  } catch (...) {
    // The calling thread works through whatever the started ones leave.
  }
  take();
  for (std::thread& helper : helpers) helper.join();
}

// One thread per hardware thread, at least one.
inline std::size_t hardwareThreads() { return std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace internal
}  // namespace bramlock
