#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/geometric_path/geometric_path.h"

namespace toppra {

// A trajectory in time made from a path, its grid s_0 < ... < s_N and the
// squared path speeds x_i found on it: a path whose parameter is time t,
// giving q(t) (order 0), dq/dt (1) and d2q/dt2 (2).
class BRAMLOCK_EXPORT Parametrizer : public GeometricPath {
 public:
  // The grid must span the path interval and be strictly increasing, with one
  // non-negative squared speed per grid point (values down to -1e-12 are
  // rounding and count as 0); other input (NaN speeds included) throws
  // std::invalid_argument naming what is wrong.
  Parametrizer(GeometricPathPtr path, const Vector& gridpoints, const Vector& vsquared);

  Vector eval_single(value_type t, int order) const override;
  Vectors eval(const Vector& times, int order) const override;
  Bound pathInterval() const override;
  ~Parametrizer() override = default;

  // The time of every grid point.
  virtual const Vector& getTimes() const = 0;
  bool validate() const;

 protected:
  virtual Vectors eval_impl(const Vector& times, int order) const = 0;
  virtual bool validate_impl() const = 0;
  virtual Bound pathInterval_impl() const = 0;

  GeometricPathPtr m_path;
  Vector m_gridpoints;
  // Path speeds sqrt(x_i).
  Vector m_speeds;
};

}  // namespace toppra
