#pragma once

#include <cstdint>
#include <iosfwd>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/toppra.h"

namespace toppra {

class GeometricPath;

enum DiscretizationType {
  // Each stage is constrained at its own grid point only.
  Collocation = 0,
  // Each stage is constrained at its own point and at the next one.
  Interpolation = 1,
};

// A limit expressed at every grid point s_i as constraints linear in the path
// acceleration u and the squared path speed x:
//   F_i (a_i u + b_i x + c_i) <= g_i,  ubound_i on u,  xbound_i on x.
// Subclasses fill the pointwise parameters in computeParams_impl; this base
// sizes the containers and, under Interpolation, couples each point with the
// next (2k rows, 2m columns).
class BRAMLOCK_EXPORT LinearConstraint {
 public:
  virtual std::ostream& print(std::ostream& os) const;
  virtual ~LinearConstraint() = default;

  std::int64_t nbInequalities() const { return m_nbInequalities; }
  std::int64_t valueDim() const { return m_valueDim; }
  bool constantF() const { return m_constantF; }
  bool hasLinearInequalities() const { return m_nbInequalities > 0; }
  bool hasUbounds() const { return m_hasUbounds; }
  bool hasXbounds() const { return m_hasXbounds; }
  DiscretizationType discretizationType() const { return m_discretizationType; }
  void discretizationType(DiscretizationType type) { m_discretizationType = type; }

  // Fills the parameter containers for every grid point. The joint velocity,
  // acceleration and torque constraints throw std::invalid_argument for a
  // path whose joint count differs from their limits'; they and the Cartesian
  // velocity constraint throw std::runtime_error "Path evaluation gave values
  // that are not finite." for a path whose values that they read at a grid
  // point are NaN or infinite (PathParametrizationAlgorithm::initialize()
  // refuses such a path whichever values its constraints read). Precondition:
  // the grid holds at least one point; an empty grid ends the process by
  // assertion, as do path values and subclass hook results of the wrong size
  // (see the subclasses).
  void computeParams(const GeometricPath& path, const Vector& gridpoints, Vectors& a, Vectors& b, Vectors& c,
                     Matrices& F, Vectors& g, Bounds& ubound, Bounds& xbound);

  // Sizes the containers for n points with this constraint's shape.
  void allocateParams(std::size_t n, Vectors& a, Vectors& b, Vectors& c, Matrices& F, Vectors& g, Bounds& ubound,
                      Bounds& xbound) const;

  // Sizes a, b, c, F and g for an explicit shape; entries of the right size
  // keep their storage and contents.
  static void allocateInequalityParams(std::size_t n, std::int64_t k, std::int64_t m, bool constantF, Vectors& a,
                                       Vectors& b, Vectors& c, Matrices& F, Vectors& g);

 protected:
  LinearConstraint(std::int64_t nbInequalities, std::int64_t valueDim, bool constantF, bool hasUbounds,
                   bool hasXbounds);

  // Receives containers sized for the pointwise shape (k, m) and writes every
  // entry that the shape and flags announce.
  virtual void computeParams_impl(const GeometricPath& path, const Vector& gridpoints, Vectors& a, Vectors& b,
                                  Vectors& c, Matrices& F, Vectors& g, Bounds& ubound, Bounds& xbound) = 0;

  std::int64_t m_nbInequalities;
  std::int64_t m_valueDim;
  DiscretizationType m_discretizationType = Collocation;
  bool m_constantF;
  bool m_hasUbounds;
  bool m_hasXbounds;
};

// Throws std::invalid_argument naming the first part of a parameter set that
// does not fit the shape (n points, k rows, m values).
BRAMLOCK_EXPORT void checkConstraintParamSizes(std::size_t n, std::int64_t k, std::int64_t m, bool constantF,
                                               const Vectors& a, const Vectors& b, const Vectors& c, const Matrices& F,
                                               const Vectors& g);

}  // namespace toppra
