#include "bramlock_arm_planning_core/toppra/geometric_path/geometric_path.h"

#include <cassert>
#include <cmath>
#include <iterator>
#include <list>
#include <sstream>
#include <stdexcept>

namespace toppra {

namespace {

void checkInitialEnd(const Vector& grid, Eigen::Index index, value_type expected) {
  if (std::abs(expected - grid[index]) > TOPPRA_NEARLY_ZERO) {
    std::ostringstream text;
    text << "initialGridpoints[" << index << "] must be " << expected << " and not " << grid[index];
    throw std::invalid_argument(text.str());
  }
}

std::list<value_type> startingGrid(const Bound& interval, const Vector& initial) {
  if (initial.size() == 0) return {interval[0], interval[1]};
  if (initial.size() == 1) throw std::invalid_argument("initialGridpoints should be empty or have at least 2 elements");
  checkInitialEnd(initial, 0, interval[0]);
  checkInitialEnd(initial, initial.size() - 1, interval[1]);
  for (Eigen::Index j = 1; j < initial.size(); ++j)
    if (!(initial[j] > initial[j - 1]))
      throw std::invalid_argument("initialGridpoints should be monotonically increasing.");
  return {initial.data(), initial.data() + initial.size()};
}

}  // namespace

Vectors GeometricPath::eval(const Vector& positions, int order) const {
  Vectors result;
  result.reserve(positions.size());
  for (Eigen::Index i = 0; i < positions.size(); ++i) result.push_back(eval_single(positions[i], order));
  return result;
}

Vector GeometricPath::proposeGridpoints(double maxError, int maxIterations, double maxSegmentLength, int minPoints,
                                        const Vector& initialGridpoints) const {
  assert(minPoints >= 0);
  // A tolerance of 0 (or NaN) would bisect down to rounding and never stop.
  if (!(maxError > 0) || !(maxSegmentLength > 0))
    throw std::invalid_argument("maxError and maxSegmentLength must be positive numbers.");
  std::list<value_type> grid = startingGrid(pathInterval(), initialGridpoints);

  // A pass walks the pairs from the front; after an insertion it goes on with
  // the right half, so that half is refined again within the same pass.
  for (int pass = 0; pass < maxIterations; ++pass) {
    bool inserted = false;
    for (auto a = grid.begin(); std::next(a) != grid.end(); ++a) {
      auto b = std::next(a);
      const value_type ds = *b - *a;
      const value_type mid = (*a + *b) / 2;
      bool split = ds > maxSegmentLength;
      if (!split) {
        const value_type deviation = (eval_single(mid, 2) * (0.5 * ds * ds)).cwiseAbs().maxCoeff();
        split = deviation > maxError;
      }
      // Where mid rounds onto an end, the interval cannot be split any further.
      if (split && *a < mid && mid < *b) {
        grid.insert(b, mid);
        inserted = true;
      }
    }
    if (!inserted) break;
  }

  while (grid.size() < static_cast<std::size_t>(minPoints)) {
    for (auto a = grid.begin(); std::next(a) != grid.end(); std::advance(a, 2))
      grid.insert(std::next(a), (*a + *std::next(a)) / 2);
  }

  Vector result(grid.size());
  std::size_t i = 0;
  for (value_type s : grid) result[i++] = s;
  return result;
}

}  // namespace toppra
