#include "bramlock_arm_planning_core/toppra/parametrizer/spline.h"

#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/toppra/geometric_path/piecewise_poly_path.h"

namespace toppra {
namespace parametrizer {

namespace {

// Time given to a stage on which the path is at rest.
constexpr value_type kRestStageTime = 5.0;

Vector withoutEntries(const Vector& values, const std::vector<Eigen::Index>& dropped) {
  Vector kept(values.size() - static_cast<Eigen::Index>(dropped.size()));
  Eigen::Index next = 0;
  auto drop = dropped.begin();
  for (Eigen::Index i = 0; i < values.size(); ++i) {
    if (drop != dropped.end() && *drop == i) {
      ++drop;
      continue;
    }
    kept[next++] = values[i];
  }
  return kept;
}

}  // namespace

Spline::Spline(GeometricPathPtr path, const Vector& gridpoints, const Vector& vsquared)
    : Parametrizer(std::move(path), gridpoints, vsquared) {
  const Eigen::Index N = m_gridpoints.size() - 1;
  Vector ts = Vector::Zero(N + 1);
  // Grid points reached within less than 1e-8 of the previous one are not fitted.
  std::vector<Eigen::Index> dropped;
  for (Eigen::Index i = 1; i <= N; ++i) {
    const value_type vmean = (m_speeds[i - 1] + m_speeds[i]) / 2;
    if (vmean > 1e-8) {
      const value_type dt = (m_gridpoints[i] - m_gridpoints[i - 1]) / vmean;
      ts[i] = ts[i - 1] + dt;
      if (dt < 1e-8) dropped.push_back(i);
    } else {
      ts[i] = ts[i - 1] + kRestStageTime;
    }
  }
  m_ts = withoutEntries(ts, dropped);
  const Vector ss = withoutEntries(m_gridpoints, dropped);

  const Vectors positions = m_path->eval(ss, 0);
  const Bound interval = m_path->pathInterval();
  const Vector startVelocity = m_path->eval_single(interval[0], 1) * m_speeds[0];
  const Vector endVelocity = m_path->eval_single(interval[1], 1) * m_speeds[N];
  m_path = std::make_shared<PiecewisePolyPath>(
      PiecewisePolyPath::CubicSpline(positions, m_ts, {BoundaryCond(1, startVelocity), BoundaryCond(1, endVelocity)}));
}

Vectors Spline::eval_impl(const Vector& times, int order) const { return m_path->eval(times, order); }

Bound Spline::pathInterval_impl() const { return Bound(m_ts[0], m_ts[m_ts.size() - 1]); }

}  // namespace parametrizer
}  // namespace toppra
