#pragma once

#include <cstdint>
#include <optional>
#include <thread>
#include <utility>

namespace bramlock_test {

// Repeatable planner runs. While a FixedRandomDraws lives, every draw of any
// std::random_device on its thread comes from a fixed sequence chosen by the
// seed; other threads, and draws after it ends, read the system device.
// The planner seeds its sample engine once per thread, so a repeatable plan
// runs on a thread of its own: see withFixedDraws.
class FixedRandomDraws {
 public:
  explicit FixedRandomDraws(std::uint64_t seed);
  ~FixedRandomDraws();
  FixedRandomDraws(const FixedRandomDraws&) = delete;
  FixedRandomDraws& operator=(const FixedRandomDraws&) = delete;
};

// The body's result, run on a fresh thread with draws fixed by the seed.
template <typename Body>
auto withFixedDraws(std::uint64_t seed, Body&& body) {
  std::optional<decltype(body())> result;
  std::thread([&] {
    FixedRandomDraws draws(seed);
    result.emplace(body());
  }).join();
  return std::move(*result);
}

}  // namespace bramlock_test
