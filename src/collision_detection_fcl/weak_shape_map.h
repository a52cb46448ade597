#pragma once

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <tuple>

#include <geometric_shapes/shapes.h>

namespace bramlock {
namespace internal {

// Values by shape, scale and padding, for as long as the shape and the value
// live: neither is held here, and the entries of vanished ones are dropped
// as the map grows.
template <typename Value>
class WeakShapeMap {
 public:
  std::shared_ptr<Value> held(const shapes::ShapeConstPtr& shape, double scale, double padding) const {
    const auto entry = entries_.find(Key{shape, scale, padding});
    return entry == entries_.end() ? nullptr : entry->second.lock();
  }

  void put(const shapes::ShapeConstPtr& shape, double scale, double padding, const std::shared_ptr<Value>& value) {
    entries_[Key{shape, scale, padding}] = value;
    if (entries_.size() >= sweep_size_) sweep();
  }

 private:
  struct Key {
    std::weak_ptr<const shapes::Shape> shape;
    double scale;
    double padding;
  };
  struct KeyLess {
    bool operator()(const Key& a, const Key& b) const {
      const std::owner_less<std::weak_ptr<const shapes::Shape>> shape_less;
      if (shape_less(a.shape, b.shape)) return true;
      if (shape_less(b.shape, a.shape)) return false;
      return std::tie(a.scale, a.padding) < std::tie(b.scale, b.padding);
    }
  };
  static constexpr size_t kMinSweepSize = 64;

  // Sweeping again only once the map has doubled keeps the cost per entry constant.
  void sweep() {
    for (auto entry = entries_.begin(); entry != entries_.end();) {
      const bool vanished = entry->first.shape.expired() || entry->second.expired();
      entry = vanished ? entries_.erase(entry) : std::next(entry);
    }
    sweep_size_ = std::max(kMinSweepSize, 2 * entries_.size());
  }

  std::map<Key, std::weak_ptr<Value>, KeyLess> entries_;
  size_t sweep_size_ = kMinSweepSize;
};

}  // namespace internal
}  // namespace bramlock
