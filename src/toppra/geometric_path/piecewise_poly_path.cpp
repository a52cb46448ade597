#include "bramlock_arm_planning_core/toppra/geometric_path/piecewise_poly_path.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include <Eigen/QR>

namespace toppra {

BoundaryCond::BoundaryCond(const std::string& name) : order(0) {
  if (name == "not-a-knot" || name == "notaknot")
    type = NotAKnot;
  else if (name == "clamped")
    type = Clamped;
  else if (name == "natural")
    type = Natural;
  else
    throw std::runtime_error("Unknown bc type" + name);
}

BoundaryCond::BoundaryCond(int order, const std::vector<value_type>& values)
    : BoundaryCond(order, Vector(Eigen::Map<const Vector>(values.data(), values.size()))) {}

BoundaryCond::BoundaryCond(int order, Vector values) : type(Specified), order(order), values(std::move(values)) {}

Matrix differentiateCoefficients(const Matrix& coefficients) {
  const Eigen::Index rows = coefficients.rows();
  Matrix derivative = Matrix::Zero(rows, coefficients.cols());
  for (Eigen::Index r = 1; r < rows; ++r)
    derivative.row(r) = coefficients.row(r - 1) * static_cast<value_type>(rows - r);
  return derivative;
}

namespace _cubic_spline {

namespace {

void normaliseCondition(BoundaryCond& bc, Eigen::Index dof) {
  switch (bc.type) {
    case Clamped:
      bc.order = 1;
      bc.values = Vector::Zero(dof);
      break;
    case Natural:
      bc.order = 2;
      bc.values = Vector::Zero(dof);
      break;
    case NotAKnot:
      throw std::runtime_error("Boundary condition NotAKnot is not implemented");
    default:
      if (bc.order != 1 && bc.order != 2) throw std::runtime_error("The specified derivative order must be 1 or 2.");
      if (bc.values.size() != dof)
        throw std::runtime_error("`deriv_value` size " + std::to_string(bc.values.size()) +
                                 " is not the expected one " + std::to_string(dof) + ".");
  }
}

}  // namespace

void checkInputArgs(const Vectors& positions, const Vector& times, BoundaryCondPair& bc_type) {
  if (positions.size() != static_cast<std::size_t>(times.size()))
    throw std::runtime_error("The length of 'positions' doesn't match the length of 'times'.");
  if (times.size() < 2) throw std::runtime_error("'times' must contain at least 2 elements.");
  const Eigen::Index dof = positions[0].size();
  // The coefficient solve has nothing to work on without a joint.
  if (dof == 0) throw std::runtime_error("Each position needs at least one joint.");
  for (const Vector& position : positions)
    if (position.size() != dof) throw std::runtime_error("The number of elements in each position has to be equal.");
  for (Eigen::Index k = 0; k + 1 < times.size(); ++k)
    if (!(times[k + 1] - times[k] > 0)) throw std::runtime_error("'times' must be a strictly increasing sequence.");
  for (BoundaryCond& bc : bc_type) normaliseCondition(bc, dof);
}

void computePPolyCoefficients(const Vectors& positions, const Vector& times, const BoundaryCondPair& bc_type,
                              Matrices& coefficients) {
  const Eigen::Index n = times.size();
  const Eigen::Index dof = positions[0].size();
  const Vector dt = times.tail(n - 1) - times.head(n - 1);
  Matrix points(n, dof);
  for (Eigen::Index k = 0; k < n; ++k) points.row(k) = positions[k].transpose();
  // Slope of each segment, one row per segment.
  const Matrix slopes = (points.bottomRows(n - 1) - points.topRows(n - 1)).array().colwise() / dt.array();

  Matrix A = Matrix::Zero(n, n);
  Matrix rhs(n, dof);
  for (Eigen::Index k = 1; k + 1 < n; ++k) {
    A(k, k - 1) = dt[k - 1];
    A(k, k) = 2 * (dt[k - 1] + dt[k]);
    A(k, k + 1) = dt[k];
    rhs.row(k) = 3 * (slopes.row(k) - slopes.row(k - 1));
  }
  const BoundaryCond& start = bc_type[0];
  if (start.order == 1) {
    A(0, 0) = 2 * dt[0];
    A(0, 1) = dt[0];
    rhs.row(0) = 3 * slopes.row(0) - 3 * start.values.transpose();
  } else {
    A(0, 0) = 2;
    rhs.row(0) = start.values.transpose();
  }
  const BoundaryCond& end = bc_type[1];
  if (end.order == 1) {
    A(n - 1, n - 2) = dt[n - 2];
    A(n - 1, n - 1) = 2 * dt[n - 2];
    rhs.row(n - 1) = 3 * end.values.transpose() - 3 * slopes.row(n - 2);
  } else {
    A(n - 1, n - 1) = 2;
    rhs.row(n - 1) = end.values.transpose();
  }

  // c holds half the second derivative at every point.
  const Matrix c = A.colPivHouseholderQr().solve(rhs);
  coefficients.resize(n - 1);
  for (Eigen::Index k = 0; k + 1 < n; ++k) {
    Matrix& segment = coefficients[k];
    segment.resize(4, dof);
    segment.row(0) = (c.row(k + 1) - c.row(k)) / (3 * dt[k]);
    segment.row(1) = c.row(k);
    segment.row(2) = slopes.row(k) - (dt[k] / 3) * (2 * c.row(k) + c.row(k + 1));
    segment.row(3) = points.row(k);
  }
}

}  // namespace _cubic_spline

namespace {

// Every segment needs the degree and joint count of the first one.
void requireOneShape(const Matrices& coefficients) {
  const Matrix& first = coefficients.front();
  for (std::size_t k = 1; k < coefficients.size(); ++k) {
    const Matrix& segment = coefficients[k];
    if (segment.rows() == first.rows() && segment.cols() == first.cols()) continue;
    std::ostringstream text;
    text << "Segment " << k << " has " << segment.rows() << " x " << segment.cols() << " coefficients, segment 0 has "
         << first.rows() << " x " << first.cols() << ": every segment needs the same degree and joint count.";
    throw std::invalid_argument(text.str());
  }
}

void requireDerivativeOrder(int order) {
  if (order < 0 || order > 2)
    throw std::invalid_argument("Derivative order " + std::to_string(order) + " is not supported: 0, 1 or 2.");
}

}  // namespace

PiecewisePolyPath::PiecewisePolyPath(const Matrices& coefficients, const std::vector<value_type>& breakpoints) {
  if (coefficients.empty()) throw std::invalid_argument("A piecewise polynomial path needs at least one segment.");
  requireOneShape(coefficients);
  m_configSize = m_dof = static_cast<int>(coefficients[0].cols());
  m_coefficients = coefficients;
  m_breakpoints = breakpoints;
  m_degree = static_cast<int>(coefficients[0].rows()) - 1;
  checkInputArgs();
  computeDerivativesCoefficients();
}

namespace {

// t to a whole power; pow, most of an evaluation's time, is left out where the
// power is exact without it.
value_type wholePower(value_type t, int exponent) {
  if (exponent == 0) return 1;
  if (exponent == 1) return t;
  return std::pow(t, exponent);
}

}  // namespace

Vector PiecewisePolyPath::eval_single(value_type s, int order) const {
  requireDerivativeOrder(order);
  const std::size_t k = findSegmentIndex(s);
  const Matrix& coefficients = getCoefficient(k, order);
  const value_type t = s - m_breakpoints[k];
  Vector result = Vector::Zero(m_dof);
  for (int r = 0; r <= m_degree; ++r) result += wholePower(t, m_degree - r) * coefficients.row(r).transpose();
  return result;
}

Vectors PiecewisePolyPath::eval(const Vector& positions, int order) const {
  requireDerivativeOrder(order);
  return GeometricPath::eval(positions, order);
}

Bound PiecewisePolyPath::pathInterval() const { return Bound(m_breakpoints.front(), m_breakpoints.back()); }

PiecewisePolyPath PiecewisePolyPath::CubicHermiteSpline(const Vectors& positions, const Vectors& velocities,
                                                        std::vector<value_type> times) {
  PiecewisePolyPath path;
  path.initAsHermite(positions, velocities, times);
  return path;
}

PiecewisePolyPath PiecewisePolyPath::constructHermite(const Vectors& positions, const Vectors& velocities,
                                                      std::vector<value_type> times) {
  return CubicHermiteSpline(positions, velocities, std::move(times));
}

PiecewisePolyPath PiecewisePolyPath::CubicSpline(const Vectors& positions, const Vector& times,
                                                 BoundaryCondPair bc_type) {
  _cubic_spline::checkInputArgs(positions, times, bc_type);
  Matrices coefficients;
  _cubic_spline::computePPolyCoefficients(positions, times, bc_type, coefficients);
  return PiecewisePolyPath(coefficients, std::vector<value_type>(times.data(), times.data() + times.size()));
}

void PiecewisePolyPath::initAsHermite(const Vectors& positions, const Vectors& velocities,
                                      const std::vector<value_type>& times) {
  const std::size_t n = times.size();
  if (n < 2 || positions.size() != n || velocities.size() != n)
    throw std::invalid_argument("A Hermite spline needs at least 2 times and one position and one velocity per time.");
  const Eigen::Index dof = positions[0].size();
  for (std::size_t k = 0; k < n; ++k) {
    if (positions[k].size() != dof || velocities[k].size() != dof)
      throw std::invalid_argument("Hermite positions and velocities must all have the same size.");
    if (k > 0 && !(times[k] - times[k - 1] > 0))
      throw std::invalid_argument("Hermite times must be strictly increasing.");
  }

  reset();
  m_degree = 3;
  m_configSize = m_dof = static_cast<int>(dof);
  m_breakpoints = times;
  for (std::size_t k = 0; k + 1 < n; ++k) {
    const value_type dt = times[k + 1] - times[k];
    const Vector& pa = positions[k];
    const Vector& pb = positions[k + 1];
    const Vector& va = velocities[k];
    const Vector& vb = velocities[k + 1];
    Matrix segment(4, dof);
    segment.row(3) = pa;
    segment.row(2) = va;
    segment.row(0) = (2 * pa + dt * va + dt * vb - 2 * pb) / (dt * dt * dt);
    segment.row(1) = (vb - va - 3 * dt * dt * segment.row(0).transpose()) / (2 * dt);
    m_coefficients.push_back(std::move(segment));
  }
  checkInputArgs();
  computeDerivativesCoefficients();
}

const Matrix& PiecewisePolyPath::getCoefficient(std::size_t segment, int order) const {
  if (order == 0) return m_coefficients.at(segment);
  if (order == 1) return m_coefficientsDeriv1.at(segment);
  return m_coefficientsDeriv2.at(segment);
}

std::size_t PiecewisePolyPath::findSegmentIndex(value_type s) const {
  const value_type front = m_breakpoints.front();
  const value_type back = m_breakpoints.back();
  if (!(s >= front && s <= back)) {  // NaN is outside too
    std::ostringstream text;
    text << std::setprecision(16) << "Position " << s << " is outside of range [ " << front << ", " << back << "]";
    throw std::runtime_error(text.str());
  }
  const auto firstGreater = std::upper_bound(m_breakpoints.begin(), m_breakpoints.end(), s);
  const std::size_t k = static_cast<std::size_t>(firstGreater - m_breakpoints.begin()) - 1;
  return std::min(k, m_coefficients.size() - 1);
}

void PiecewisePolyPath::checkInputArgs() const {
  for (const Matrix& coefficients : m_coefficients) {
    assert(coefficients.cols() == m_dof);
    assert(coefficients.rows() == m_degree + 1);
  }
  if (m_breakpoints.size() != m_coefficients.size() + 1)
    throw std::runtime_error("Number of breakpoints must equals number of segments plus 1.");
  for (std::size_t k = 0; k + 1 < m_breakpoints.size(); ++k)
    if (!(m_breakpoints[k] < m_breakpoints[k + 1])) throw std::runtime_error("Require strictly increasing breakpoints");
  if (!std::isfinite(m_breakpoints.front()) || !std::isfinite(m_breakpoints.back()))
    throw std::runtime_error("Breakpoints must be finite");
  for (const Matrix& coefficients : m_coefficients)
    if (!coefficients.allFinite()) throw std::runtime_error("Coefficients must be finite");
}

void PiecewisePolyPath::computeDerivativesCoefficients() {
  for (const Matrix& coefficients : m_coefficients) {
    m_coefficientsDeriv1.push_back(differentiateCoefficients(coefficients));
    m_coefficientsDeriv2.push_back(differentiateCoefficients(m_coefficientsDeriv1.back()));
  }
}

void PiecewisePolyPath::reset() {
  m_breakpoints.clear();
  m_coefficients.clear();
  m_coefficientsDeriv1.clear();
  m_coefficientsDeriv2.clear();
}

}  // namespace toppra
