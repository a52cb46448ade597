#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <vector>

namespace bramlock {
namespace internal {

// Replaces a pivot of the elimination before it divides; identity when absent.
using PivotGuard = std::function<double(double)>;

// Pivots below 1e-12 in magnitude become +-1e-12 with their sign.
double signKeepingGuard(double pivot);
// Pivots below 1e-15 in magnitude become +1e-15.
double positiveGuard(double pivot);

// Thomas algorithm for sub[i] x[i-1] + diag[i] x[i] + sup[i] x[i+1] = rhs[i] (sub[0], sup[n-1] unused).
// Throws std::invalid_argument when the solution overflows.
std::vector<double> solveTridiagonal(const std::vector<double>& sub, std::vector<double> diag,
                                     const std::vector<double>& sup, std::vector<double> rhs,
                                     const PivotGuard& guard = PivotGuard());

// Knot velocities that make the cubic Hermite spline through values (durations h between
// knots) twice continuously differentiable, with the given end velocities.
std::vector<double> clampedKnotVelocities(const std::vector<double>& values, const std::vector<double>& h,
                                          double v_start, double v_end, const PivotGuard& guard);

// Index of the knot that starts the segment holding time e (binary search over at least two
// increasing knot times); e on an interior knot gives that knot, e at the last knot the last segment.
std::size_t segmentIndex(const std::vector<double>& times, double e);

// Throws std::invalid_argument naming what when a value or end condition is
// NaN or infinite, or (with times given) the times do not strictly increase.
void requireFiniteKnots(const char* what, const std::vector<double>& times, const std::vector<double>& values,
                        std::initializer_list<double> end_conditions);

}  // namespace internal
}  // namespace bramlock
