#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/geometric_path/geometric_path.h"

namespace toppra {

enum BoundaryCondType { NotAKnot = 0, Clamped = 1, Natural = 2, Specified = 3 };

// A boundary condition of a cubic spline: the derivative of order `order`
// takes `values` (one per joint) at the end point.
struct BRAMLOCK_EXPORT BoundaryCond {
  // "not-a-knot" / "notaknot", "clamped" or "natural".
  explicit BoundaryCond(const std::string& name);
  BoundaryCond(int order, const std::vector<value_type>& values);
  BoundaryCond(int order, Vector values);

  int type;
  int order;
  Vector values;
};

using BoundaryCondPair = std::array<BoundaryCond, 2>;

// Coefficients of the derivative, in the same layout (highest power first).
BRAMLOCK_EXPORT Matrix differentiateCoefficients(const Matrix& coefficients);

namespace _cubic_spline {
// Validates the spline input (std::runtime_error) and turns Clamped and
// Natural conditions into explicit first- and second-derivative conditions.
BRAMLOCK_EXPORT void checkInputArgs(const Vectors& positions, const Vector& times, BoundaryCondPair& bc_type);
// One 4 x dof matrix per segment.
BRAMLOCK_EXPORT void computePPolyCoefficients(const Vectors& positions, const Vector& times,
                                              const BoundaryCondPair& bc_type, Matrices& coefficients);
}  // namespace _cubic_spline

// A path made of one polynomial per segment between breakpoints. In the
// matrix of segment k, row r and column j hold the coefficient of
// (s - s_k)^(degree - r) for joint j.
class BRAMLOCK_EXPORT PiecewisePolyPath : public GeometricPath {
 public:
  // Throws std::invalid_argument on an empty coefficient list or on segments
  // of different degree or joint count, and std::runtime_error on
  // breakpoints that do not strictly increase from a finite start to a finite
  // end or on coefficients that are not finite. Evaluating outside the
  // interval (NaN included) throws std::runtime_error, at an order outside
  // 0..2 std::invalid_argument.
  PiecewisePolyPath(const Matrices& coefficients, const std::vector<value_type>& breakpoints);

  Vector eval_single(value_type s, int order) const override;
  Vectors eval(const Vector& positions, int order) const override;
  Bound pathInterval() const override;

  // Cubic Hermite spline through the points with the given velocities.
  static PiecewisePolyPath CubicHermiteSpline(const Vectors& positions, const Vectors& velocities,
                                              std::vector<value_type> times);
  static PiecewisePolyPath constructHermite(const Vectors& positions, const Vectors& velocities,
                                            std::vector<value_type> times);
  // Cubic spline through the points with a condition at each end. Input it
  // cannot fit (positions without a joint, sizes or times that do not agree,
  // an unsupported end condition) throws std::runtime_error.
  static PiecewisePolyPath CubicSpline(const Vectors& positions, const Vector& times, BoundaryCondPair bc_type);

  // Rebuilds this path as a cubic Hermite spline; throws std::invalid_argument
  // on fewer than two points, mismatched sizes or non-increasing times.
  void initAsHermite(const Vectors& positions, const Vectors& velocities, const std::vector<value_type>& times);

  // Order 0: position coefficients, 1: first derivative, any other: second.
  const Matrix& getCoefficient(std::size_t segment, int order) const;
  std::size_t findSegmentIndex(value_type s) const;
  void checkInputArgs() const;
  void computeDerivativesCoefficients();
  void reset();

 private:
  PiecewisePolyPath() = default;

  Matrices m_coefficients;
  Matrices m_coefficientsDeriv1;
  Matrices m_coefficientsDeriv2;
  std::vector<value_type> m_breakpoints;
  int m_degree = 0;
};

}  // namespace toppra
