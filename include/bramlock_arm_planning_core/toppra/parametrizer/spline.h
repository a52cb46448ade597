#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/parametrizer/parametrizer.h"

namespace toppra {
namespace parametrizer {

// A time for every grid point and a cubic spline in time through the path's
// configurations, with the path's end velocities. Evaluation throws as the
// spline does: std::runtime_error outside the time interval,
// std::invalid_argument at an order outside 0..2.
class BRAMLOCK_EXPORT Spline : public Parametrizer {
 public:
  Spline(GeometricPathPtr path, const Vector& gridpoints, const Vector& vsquared);
  ~Spline() override = default;

  const Vector& getTimes() const override { return m_ts; }

 protected:
  Vectors eval_impl(const Vector& times, int order) const override;
  bool validate_impl() const override { return true; }
  Bound pathInterval_impl() const override;

 private:
  Vector m_ts;
};

}  // namespace parametrizer
}  // namespace toppra
