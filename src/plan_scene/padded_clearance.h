#pragma once

#include <map>
#include <memory>
#include <tuple>

namespace shapes {
class Shape;
}

namespace bramlock {
namespace internal {

// How far the padded and scaled copy that a checker tests keeps every outside
// point from the shape itself (metres, 0 when it keeps none).
double paddedClearance(const std::shared_ptr<const shapes::Shape>& shape, double scale, double padding);
// paddedClearance remembered per shape, scale and padding: a mesh's costs a
// distance query between two copies of it. The shapes must outlive the memo.
class PaddedClearances {
 public:
  double of(const std::shared_ptr<const shapes::Shape>& shape, double scale, double padding);

 private:
  std::map<std::tuple<const shapes::Shape*, double, double>, double> known_;
};
// The same for an attached body's shape, whose padding is already part of it.
double attachedClearance(const shapes::Shape& padded_shape, double padding);

}  // namespace internal
}  // namespace bramlock
