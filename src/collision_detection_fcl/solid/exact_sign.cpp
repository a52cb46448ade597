// Orientation signs: the plain determinant where its error bound decides,
// exact sums of exact products where it does not.
#include "exact_sign.h"

#include <cmath>
#include <cstddef>
#include <utility>

namespace bramlock {
namespace internal {

namespace {

// Bounds on the rounding error of the plain determinants (Shewchuk's
// ccwerrboundA and o3derrboundA): a result beyond them has the right sign.
constexpr double kEpsilon = 1.1102230246251565e-16;
constexpr double kOrientation2dBound = (3.0 + 16.0 * kEpsilon) * kEpsilon;
constexpr double kOrientation3dBound = (7.0 + 56.0 * kEpsilon) * kEpsilon;

// Sums doubles without rounding: the running sum is kept as parts that do
// not overlap, the largest last, so the sum's sign is that of the largest
// part that is not zero.
template <std::size_t kMost>
class ExactSum {
 public:
  void add(double x) {
    std::size_t kept = 0;
    for (std::size_t k = 0; k < count_; ++k) {
      double y = parts_[k];
      if (std::abs(x) < std::abs(y)) std::swap(x, y);
      const double high = x + y;
      const double low = y - (high - x);
      if (low != 0.0) parts_[kept++] = low;
      x = high;
    }
    count_ = kept;
    parts_[count_++] = x;
  }
  // a * b, added exactly as the rounded product and its rounding error.
  void addProduct(double a, double b) {
    const double product = a * b;
    add(product);
    add(std::fma(a, b, -product));
  }
  // a * b * c, exactly.
  void addProduct(double a, double b, double c) {
    const double product = a * b;
    addProduct(product, c);
    addProduct(std::fma(a, b, -product), c);
  }
  int sign() const {
    for (std::size_t k = count_; k-- > 0;) {
      if (parts_[k] != 0.0) return signOf(parts_[k]);
    }
    return 0;
  }

 private:
  double parts_[kMost] = {};
  std::size_t count_ = 0;
};

// p . (q x r), exactly, added with the sign `sign`.
template <std::size_t kMost>
void addTripleProduct(ExactSum<kMost>& sum, double sign, const double* p, const double* q, const double* r) {
  sum.addProduct(sign * p[0], q[1], r[2]);
  sum.addProduct(-sign * p[0], q[2], r[1]);
  sum.addProduct(sign * p[1], q[2], r[0]);
  sum.addProduct(-sign * p[1], q[0], r[2]);
  sum.addProduct(sign * p[2], q[0], r[1]);
  sum.addProduct(-sign * p[2], q[1], r[0]);
}

}  // namespace

int orientation2d(double pu, double pv, double qu, double qv, double ru, double rv) {
  const double left = (qu - pu) * (rv - pv);
  const double right = (qv - pv) * (ru - pu);
  const double determinant = left - right;
  if (std::abs(determinant) > kOrientation2dBound * (std::abs(left) + std::abs(right))) return signOf(determinant);
  // (q - p) x (r - p) expanded into products of the coordinates themselves.
  ExactSum<12> sum;
  sum.addProduct(qu, rv);
  sum.addProduct(-qu, pv);
  sum.addProduct(-pu, rv);
  sum.addProduct(-qv, ru);
  sum.addProduct(qv, pu);
  sum.addProduct(pv, ru);
  return sum.sign();
}

int orientation3d(const double* a, const double* b, const double* c, const double* x) {
  const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
  const double v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
  const double w[3] = {x[0] - a[0], x[1] - a[1], x[2] - a[2]};
  const double determinant =
      u[0] * (v[1] * w[2] - v[2] * w[1]) + u[1] * (v[2] * w[0] - v[0] * w[2]) + u[2] * (v[0] * w[1] - v[1] * w[0]);
  const double permanent = std::abs(u[0]) * (std::abs(v[1] * w[2]) + std::abs(v[2] * w[1])) +
                           std::abs(u[1]) * (std::abs(v[2] * w[0]) + std::abs(v[0] * w[2])) +
                           std::abs(u[2]) * (std::abs(v[0] * w[1]) + std::abs(v[1] * w[0]));
  if (std::abs(determinant) > kOrientation3dBound * permanent) return signOf(determinant);
  // det(b - a, c - a, x - a) = det(b, c, x) - det(b, c, a) - det(b, a, x) - det(a, c, x).
  ExactSum<96> sum;
  addTripleProduct(sum, 1.0, b, c, x);
  addTripleProduct(sum, -1.0, b, c, a);
  addTripleProduct(sum, -1.0, b, a, x);
  addTripleProduct(sum, -1.0, a, c, x);
  return sum.sign();
}

}  // namespace internal
}  // namespace bramlock
