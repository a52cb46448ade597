#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace bramlock {
namespace internal {

// States one check road tested since the scene last changed, with their
// answers. A state equal bit for bit to one of them gets the same answer; the
// scene empties the memo on every change. The planner comes back to the same
// bits often: a new state is tested again as a tree node and as the end of a
// motion, and the shortcut attempts test the same points of a segment again.
class CheckedStates {
 public:
  std::optional<bool> find(const std::vector<double>& state) const {
    if (count_ == 0 || state.size() != width_) return std::nullopt;
    for (size_t slot = firstSlot(state);; slot = nextSlot(slot)) {
      const std::int32_t entry = slots_[slot];
      if (entry == kEmptySlot) return std::nullopt;
      if (sameBits(entry, state)) return answers_[static_cast<size_t>(entry)] != 0;
    }
  }

  // A state already present keeps its first answer: the scene has not changed since.
  void remember(const std::vector<double>& state, bool valid) {
    if (state.size() != width_ || count_ == kCapacity) startOver(state.size());
    size_t slot = firstSlot(state);
    for (; slots_[slot] != kEmptySlot; slot = nextSlot(slot)) {
      if (sameBits(slots_[slot], state)) return;
    }
    slots_[slot] = static_cast<std::int32_t>(count_);
    values_.insert(values_.end(), state.begin(), state.end());
    answers_.push_back(valid ? 1 : 0);
    ++count_;
  }

  void clear() { startOver(width_); }

 private:
  // Entries before the memo starts afresh: a few plans' worth of states,
  // about 200 KB for six joints.
  static constexpr size_t kCapacity = 4096;
  // Twice the capacity keeps the probe sequences short; a power of two.
  static constexpr size_t kSlots = 2 * kCapacity;
  static constexpr std::int32_t kEmptySlot = -1;

  void startOver(size_t width) {
    width_ = width;
    count_ = 0;
    values_.clear();
    answers_.clear();
    slots_.assign(kSlots, kEmptySlot);
  }

  // The values' bits folded, then mixed so that their high bits (round
  // values differ only there) reach the slot index too.
  static size_t firstSlot(const std::vector<double>& state) {
    std::uint64_t hash = 1469598103934665603ull;
    for (const double value : state) {
      std::uint64_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      hash = (hash ^ bits) * 1099511628211ull;
    }
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    hash ^= hash >> 33;
    return static_cast<size_t>(hash) & (kSlots - 1);
  }

  static size_t nextSlot(size_t slot) { return (slot + 1) & (kSlots - 1); }

  bool sameBits(std::int32_t entry, const std::vector<double>& state) const {
    const double* stored = values_.data() + static_cast<size_t>(entry) * width_;
    return std::memcmp(stored, state.data(), width_ * sizeof(double)) == 0;
  }

  size_t width_ = 0;
  size_t count_ = 0;
  std::vector<double> values_;  // entry i at [i * width_, (i + 1) * width_)
  std::vector<unsigned char> answers_;
  std::vector<std::int32_t> slots_;
};

}  // namespace internal
}  // namespace bramlock
