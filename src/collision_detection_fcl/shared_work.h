#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace bramlock {
namespace internal {

// Calls work(i) for every i below `count`, on the calling thread and on up
// to `most_threads` - 1 helpers (fewer when the system refuses more), and
// returns when every call has returned. `work` must not throw.
template <typename Work>
void shareWork(std::size_t count, std::size_t most_threads, const Work& work) {
  std::atomic<std::size_t> next{0};
  const auto take = [&next, count, &work] {
    for (std::size_t i = next++; i < count; i = next++) work(i);
  };
  std::vector<std::thread> helpers;
  try {
    const std::size_t wanted = std::min(most_threads, count);
    for (std::size_t started = 1; started < wanted; ++started) helpers.emplace_back(take);
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
