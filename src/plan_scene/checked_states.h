#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

namespace bramlock {
namespace internal {

// The last few states one check road tested and their answers. A state
// equal bit for bit to one of them gets the same answer as long as nothing in
// the scene changed; the scene empties the memo on every change.
class CheckedStates {
 public:
  std::optional<bool> find(const std::vector<double>& state) const {
    for (size_t i = 0; i < count_; ++i) {
      if (sameBits(entries_[i].state, state)) return entries_[i].valid;
    }
    return std::nullopt;
  }

  void remember(const std::vector<double>& state, bool valid) {
    Entry& entry = entries_[next_];
    entry.state.assign(state.begin(), state.end());
    entry.valid = valid;
    next_ = (next_ + 1) % kEntries;
    if (count_ < kEntries) ++count_;
  }

  void clear() { count_ = next_ = 0; }

 private:
  // The planner tests a new state, then the same one again as a tree node
  // and as the end of a motion, with a few motion states in between.
  static constexpr size_t kEntries = 4;

  struct Entry {
    std::vector<double> state;
    bool valid = false;
  };

  static bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
  }

  std::array<Entry, kEntries> entries_;
  size_t count_ = 0;
  size_t next_ = 0;
};

}  // namespace internal
}  // namespace bramlock
