#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace bramlock_test {

// Uniform doubles from the engine's bits alone, the same with every standard library.
class SeededJoints {
 public:
  using Joints = std::vector<double>;

  explicit SeededJoints(std::uint64_t seed) : engine_(seed) {}

  double uniform(double low, double high) {
    return low + (high - low) * static_cast<double>(engine_() >> 11) * 0x1.0p-53;
  }
  Joints within(const std::vector<std::pair<double, double>>& bounds) {
    Joints q;
    for (const auto& bound : bounds) q.push_back(uniform(bound.first, bound.second));
    return q;
  }
  Joints near(const Joints& from, const std::vector<std::pair<double, double>>& bounds, double reach) {
    Joints q = from;
    for (std::size_t j = 0; j < q.size(); ++j) {
      q[j] = std::clamp(q[j] + uniform(-reach, reach), bounds[j].first, bounds[j].second);
    }
    return q;
  }
  bool oneIn(unsigned int n) { return engine_() % n == 0; }

 private:
  std::mt19937_64 engine_;
};

}  // namespace bramlock_test
