#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/parametrizer/parametrizer.h"

namespace toppra {
namespace parametrizer {

// Constant path acceleration on every stage; the path is evaluated through
// the chain rule.
class BRAMLOCK_EXPORT ConstAccel : public Parametrizer {
 public:
  ConstAccel(GeometricPathPtr path, const Vector& gridpoints, const Vector& vsquared);
  ~ConstAccel() override = default;

  const Vector& getTimes() const override { return m_ts; }
  // Path position, speed and acceleration at each time; always true.
  bool evalParams(const Vector& times, Vector& positions, Vector& speeds, Vector& accelerations) const;

 protected:
  // Throws std::runtime_error for times outside the interval (beyond a
  // relative 1e-6, NaN included) and for orders above 2.
  Vectors eval_impl(const Vector& times, int order) const override;
  // False when every speed is zero, a stage time is not finite, or the motion
  // stops at an inner grid point.
  bool validate_impl() const override;
  Bound pathInterval_impl() const override;

 private:
  void process_internals();

  Vector m_ts;
  Vector m_accelerations;
};

}  // namespace parametrizer
}  // namespace toppra
