#pragma once

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

namespace bramlock {
namespace internal {

// Union-find over indices whose roots are the lowest index of their set.
class Roots {
 public:
  explicit Roots(std::size_t count) : parent_(count) { std::iota(parent_.begin(), parent_.end(), 0u); }
  std::uint32_t of(std::uint32_t index) {
    while (parent_[index] != index) index = parent_[index] = parent_[parent_[index]];
    return index;
  }
  void join(std::uint32_t a, std::uint32_t b) {
    a = of(a);
    b = of(b);
    parent_[std::max(a, b)] = std::min(a, b);
  }

 private:
  std::vector<std::uint32_t> parent_;
};

}  // namespace internal
}  // namespace bramlock
