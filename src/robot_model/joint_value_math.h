#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

#include <random_numbers/random_numbers.h>

#include "bramlock_arm_planning_core/robot_model/joint_model.h"

#include "common/rotation_math.h"

// Value rules the joint kinds share.
namespace bramlock {
namespace internal {
namespace joint_math {

using moveit::core::VariableBounds;

constexpr double kPi = M_PI;
constexpr double kTwoPi = 2.0 * M_PI;
constexpr double kEpsilon = std::numeric_limits<double>::epsilon();

// Into (-pi, pi].
inline double wrapAngle(double angle) {
  const double wrapped = bramlock::internal::rotation_math::wrapToPi(angle);
  return wrapped == -kPi ? kPi : wrapped;
}

// 0 when the range holds 0, else its middle.
inline double midOrZero(const VariableBounds& bounds) {
  return bounds.min_position_ <= 0.0 && 0.0 <= bounds.max_position_
             ? 0.0
             : (bounds.min_position_ + bounds.max_position_) / 2.0;
}

inline double uniform(random_numbers::RandomNumberGenerator& rng, double lo, double hi) {
  return lo + (hi - lo) * rng.uniform01();
}

inline bool isInfinite(const VariableBounds& bounds) {
  return bounds.max_position_ > std::numeric_limits<double>::max() ||
         bounds.min_position_ < std::numeric_limits<double>::lowest();
}

// Uniform within the bounds and within distance of the seed.
inline double uniformNear(random_numbers::RandomNumberGenerator& rng, const VariableBounds& bounds, double near,
                          double distance) {
  return uniform(rng, std::max(bounds.min_position_, near - distance), std::min(bounds.max_position_, near + distance));
}

// A value of an unlimited translation is 0; a limited one is drawn.
inline double uniformOrZero(random_numbers::RandomNumberGenerator& rng, const VariableBounds& bounds) {
  return isInfinite(bounds) ? 0.0 : uniform(rng, bounds.min_position_, bounds.max_position_);
}

inline double uniformNearOrZero(random_numbers::RandomNumberGenerator& rng, const VariableBounds& bounds, double near,
                                double distance) {
  return isInfinite(bounds) ? 0.0 : uniformNear(rng, bounds, near, distance);
}

// A value that is not finite is within no bounds, also for a variable without limits.
inline bool withinBounds(double value, const VariableBounds& bounds, double margin) {
  return std::isfinite(value) && value >= bounds.min_position_ - margin && value <= bounds.max_position_ + margin;
}

// Clamps into the position bounds; true when the value changed.
inline bool clampToBounds(double& value, const VariableBounds& bounds) {
  if (value < bounds.min_position_) {
    value = bounds.min_position_;
    return true;
  }
  if (value > bounds.max_position_) {
    value = bounds.max_position_;
    return true;
  }
  return false;
}

// Angle distance the short way round.
inline double shortestAngleDistance(double a, double b) {
  double d = std::fabs(a - b);
  d = std::fmod(d, kTwoPi);
  return d > kPi ? kTwoPi - d : d;
}

// Interpolates an angle the short way round, staying within one turn of +-pi.
inline double interpolateAngle(double from, double to, double t) {
  const double diff = to - from;
  if (std::fabs(diff) <= kPi) return from + t * diff;
  const double d = (diff > 0.0 ? kTwoPi : -kTwoPi) - diff;
  double v = from - t * d;
  if (v > kPi) {
    v -= kTwoPi;
  } else if (v < -kPi) {
    v += kTwoPi;
  }
  return v;
}

}  // namespace joint_math
}  // namespace internal
}  // namespace bramlock
