#pragma once

// Paths and helpers shared by the time-parameterisation tests.

#include <algorithm>
#include <exception>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/toppra/geometric_path/piecewise_poly_path.h"

namespace toppra_test {

using toppra::Matrix;
using toppra::Vector;
using toppra::Vectors;

// A vector of the given values.
inline Vector vec(std::initializer_list<double> values) {
  Vector v(values.size());
  std::copy(values.begin(), values.end(), v.data());
  return v;
}

// The text of the exception the call throws, or "<no exception>".
template <typename Call>
std::string messageOf(Call&& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "<no exception>";
}

// q(s) = direction * s on [0, length], one linear segment.
inline toppra::PiecewisePolyPath straightLine(const Vector& direction, double length = 1.0) {
  Matrix coefficients(2, direction.size());
  coefficients.row(0) = direction.transpose();
  coefficients.row(1).setZero();
  return toppra::PiecewisePolyPath({coefficients}, {0.0, length});
}

// A curved path: a cubic spline through `points` random waypoints of `dof`
// joints on [0, 1], by default at rest at both ends.
inline toppra::PiecewisePolyPath randomSpline(int dof, int points, unsigned seed, const std::string& ends = "clamped") {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> angle(-1.5, 1.5);
  Vectors positions;
  Vector times(points);
  for (int k = 0; k < points; ++k) {
    positions.push_back(Vector::NullaryExpr(dof, [&] { return angle(engine); }));
    times[k] = static_cast<double>(k) / (points - 1);
  }
  return toppra::PiecewisePolyPath::CubicSpline(positions, times,
                                                {toppra::BoundaryCond(ends), toppra::BoundaryCond(ends)});
}

}  // namespace toppra_test
