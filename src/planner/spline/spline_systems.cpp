#include "planner/spline/spline_systems.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "common/value_checks.h"

namespace bramlock {
namespace internal {
double signKeepingGuard(double pivot) {
  if (std::fabs(pivot) < 1e-12) {
    return pivot < 0.0 ? -1e-12 : 1e-12;
  }
  return pivot;
}

double positiveGuard(double pivot) { return std::fabs(pivot) < 1e-15 ? 1e-15 : pivot; }

void requireFiniteKnots(const char* what, const std::vector<double>& times, const std::vector<double>& values,
                        std::initializer_list<double> end_conditions) {
  if (!allFinite(times) || !allFinite(values) || !allFinite(end_conditions)) {
    throw std::invalid_argument(std::string(what) + ": every knot value and end condition must be a finite number");
  }
  if (std::adjacent_find(times.begin(), times.end(), std::greater_equal<double>()) != times.end()) {
    throw std::invalid_argument(std::string(what) + ": knot times must increase strictly");
  }
}

std::vector<double> solveTridiagonal(const std::vector<double>& sub, std::vector<double> diag,
                                     const std::vector<double>& sup, std::vector<double> rhs, const PivotGuard& guard) {
  const std::size_t n = diag.size();
  const auto pivot = [&](std::size_t i) { return guard ? guard(diag[i]) : diag[i]; };
  for (std::size_t i = 1; i < n; ++i) {
    const double factor = sub[i] / pivot(i - 1);
    diag[i] -= factor * sup[i - 1];
    rhs[i] -= factor * rhs[i - 1];
  }
  std::vector<double> x(n, 0.0);
  for (std::size_t i = n; i-- > 0;) {
    const double known = i + 1 < n ? sup[i] * x[i + 1] : 0.0;
    x[i] = (rhs[i] - known) / pivot(i);
  }
  // Finite knots can still be too large for double precision.
  if (!allFinite(x)) {
    throw std::invalid_argument("spline system overflows: knot values too large for their spacing");
  }
  return x;
}

std::vector<double> clampedKnotVelocities(const std::vector<double>& values, const std::vector<double>& h,
                                          double v_start, double v_end, const PivotGuard& guard) {
  const std::size_t n = values.size();
  std::vector<double> sub(n, 0.0), diag(n, 1.0), sup(n, 0.0), rhs(n, 0.0);
  rhs[0] = v_start;
  rhs[n - 1] = v_end;
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const double h0 = h[i - 1];
    const double h1 = h[i];
    sub[i] = h1;
    diag[i] = 2.0 * (h0 + h1);
    sup[i] = h0;
    if (h0 >= 1e-12 && h1 >= 1e-12) {
      rhs[i] = 3.0 * ((values[i + 1] - values[i]) * h0 / h1 + (values[i] - values[i - 1]) * h1 / h0);
    }
  }
  return solveTridiagonal(sub, diag, sup, rhs, guard);
}

std::size_t segmentIndex(const std::vector<double>& times, double e) {
  std::size_t lo = 0;
  std::size_t hi = times.size() - 1;
  while (hi - lo > 1) {
    const std::size_t mid = (lo + hi) / 2;
    if (e < times[mid]) {
      hi = mid;
    } else {
      lo = mid;
    }
  }
  return lo;
}

}  // namespace internal
}  // namespace bramlock
