// Exact orientation signs, so that every test of a point against a triangle
// agrees with every other.
#pragma once

namespace bramlock {
namespace internal {

// Exact signs of the two orientation determinants the inside test is built
// on: a fast floating-point answer where its error bound decides the sign,
// an exact sum of exact products where it does not, so that every test of
// a point against a triangle agrees with every other test of it.

inline int signOf(double value) { return value > 0.0 ? 1 : (value < 0.0 ? -1 : 0); }

// The sign of (q - p) x (r - p) in the plane: +1, -1 or 0.
int orientation2d(double pu, double pv, double qu, double qv, double ru, double rv);

// The sign of ((b - a) x (c - a)) . (x - a): +1 where x lies on the side the
// triangle's normal points to, -1 on the other, 0 in its plane.
int orientation3d(const double* a, const double* b, const double* c, const double* x);

}  // namespace internal
}  // namespace bramlock
