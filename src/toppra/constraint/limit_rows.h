#pragma once

// Helpers shared by the constraints whose limits are a [lower, upper] pair per joint.

#include <ostream>

#include "bramlock_arm_planning_core/toppra/toppra.h"
#include "common/value_checks.h"

namespace bramlock {
namespace internal {

using toppra::Matrix;
using toppra::Vector;

inline void checkLimitPair(const Vector& lower, const Vector& upper, const char* sizeMessage,
                           const char* orderMessage) {
  throwUnless(lower.size() == upper.size(), sizeMessage);
  // Written so that NaN, which orders with nothing, is a bad limit too.
  throwUnless((lower.array() <= upper.array()).all(), orderMessage);
}

// lower <= y <= upper as F y <= g with F = [I; -I] and g = [upper; -lower].
inline void writeLimitRows(const Vector& lower, const Vector& upper, Matrix& F, Vector& g) {
  const Eigen::Index n = lower.size();
  F.topRows(n).setIdentity();
  F.bottomRows(n) = -Matrix::Identity(n, n);
  g << upper, -lower;
}

inline std::ostream& printLimits(std::ostream& os, const char* lowerLabel, const Vector& lower, const char* upperLabel,
                                 const Vector& upper) {
  return os << "    " << lowerLabel << ": " << lower.transpose() << "\n    " << upperLabel << ": " << upper.transpose()
            << "\n";
}

}  // namespace internal
}  // namespace bramlock
