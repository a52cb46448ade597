#pragma once

#include <iosfwd>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/toppra.h"

namespace toppra {

// A path s -> q(s) over an interval [s_start, s_end] with its first and second
// derivatives.
class BRAMLOCK_EXPORT GeometricPath {
 public:
  GeometricPath() = default;
  GeometricPath(int configSize, int dof) : m_configSize(configSize), m_dof(dof) {}

  // q(s) for order 0, q'(s) for 1, q''(s) for 2. An implementation returns
  // configSize() values for order 0 and dof() values for the derivatives: on
  // other sizes the joint velocity, acceleration and torque constraints end
  // the process by assertion.
  virtual Vector eval_single(value_type s, int order) const = 0;
  // One eval_single per position, in order.
  virtual Vectors eval(const Vector& positions, int order) const;
  virtual void serialize(std::ostream& os) const {}
  virtual void deserialize(std::istream& is) {}
  virtual Bound pathInterval() const = 0;
  virtual ~GeometricPath() = default;

  int configSize() const { return m_configSize; }
  int dof() const { return m_dof; }

  // A grid of path positions fine enough for the path's curvature: intervals
  // are bisected while longer than maxSegmentLength or while the second-order
  // deviation at their midpoint exceeds maxError, then the whole grid is
  // halved until it holds at least minPoints points. Throws
  // std::invalid_argument unless maxError and maxSegmentLength are positive.
  // Precondition: minPoints is not negative; a negative one ends the process
  // by assertion.
  Vector proposeGridpoints(double maxError, int maxIterations, double maxSegmentLength, int minPoints,
                           const Vector& initialGridpoints) const;

 protected:
  int m_configSize = 0;
  int m_dof = 0;
};

}  // namespace toppra
