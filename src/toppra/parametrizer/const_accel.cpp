#include "bramlock_arm_planning_core/toppra/parametrizer/const_accel.h"

#include <algorithm>
#include <cassert>
#include <stdexcept>
#include <utility>

namespace toppra {
namespace parametrizer {

ConstAccel::ConstAccel(GeometricPathPtr path, const Vector& gridpoints, const Vector& vsquared)
    : Parametrizer(std::move(path), gridpoints, vsquared) {
  process_internals();
}

void ConstAccel::process_internals() {
  const Eigen::Index N = m_gridpoints.size() - 1;
  m_ts.resize(N + 1);
  m_accelerations.resize(N);
  m_ts[0] = 0;
  for (Eigen::Index i = 0; i < N; ++i) {
    const value_type ds = m_gridpoints[i + 1] - m_gridpoints[i];
    const value_type v0 = m_speeds[i], v1 = m_speeds[i + 1];
    m_accelerations[i] = (v1 * v1 - v0 * v0) / (2 * ds);
    m_ts[i + 1] = m_ts[i] + 2 * ds / (v0 + v1);
  }
}

bool ConstAccel::evalParams(const Vector& times, Vector& positions, Vector& speeds, Vector& accelerations) const {
  const Eigen::Index N = m_ts.size() - 1;
  assert(N >= 1);
  positions.resize(times.size());
  speeds.resize(times.size());
  accelerations.resize(times.size());
  // Inner grid times m_ts[1] .. m_ts[N-1]; a time equal to one of them
  // belongs to the stage that ends there.
  const value_type* innerBegin = m_ts.data() + 1;
  const value_type* innerEnd = m_ts.data() + N;
  for (Eigen::Index k = 0; k < times.size(); ++k) {
    const value_type t = times[k];
    const Eigen::Index i = std::lower_bound(innerBegin, innerEnd, t) - innerBegin;
    const value_type dt = t - m_ts[i];
    const value_type acceleration = m_accelerations[i];
    accelerations[k] = acceleration;
    speeds[k] = m_speeds[i] + dt * acceleration;
    positions[k] = m_gridpoints[i] + dt * m_speeds[i] + 0.5 * dt * dt * acceleration;
  }
  return true;
}

Vectors ConstAccel::eval_impl(const Vector& times, int order) const {
  Vector positions, speeds, accelerations;
  evalParams(times, positions, speeds, accelerations);
  const Bound interval = pathInterval_impl();
  // Written so that NaN, which orders with nothing, is out of bounds too.
  if (!(times.array() >= 0.999999 * interval[0] - 1e-8).all())
    throw std::runtime_error("Request time instances out of numerical lower bounds.");
  if (!(times.array() <= 1.000001 * interval[1] + 1e-8).all())
    throw std::runtime_error("Request time instances out of numerical upper bounds.");
  const Bound pathInterval = m_path->pathInterval();
  positions = positions.cwiseMax(pathInterval[0]).cwiseMin(pathInterval[1]);

  if (order == 0) return m_path->eval(positions, 0);
  if (order == 1) {
    Vectors velocities = m_path->eval(positions, 1);
    for (std::size_t k = 0; k < velocities.size(); ++k) velocities[k] *= speeds[k];
    return velocities;
  }
  if (order == 2) {
    const Vectors tangents = m_path->eval(positions, 1);
    Vectors accelerationsInTime = m_path->eval(positions, 2);
    for (std::size_t k = 0; k < tangents.size(); ++k)
      accelerationsInTime[k] = accelerationsInTime[k] * (speeds[k] * speeds[k]) + tangents[k] * accelerations[k];
    return accelerationsInTime;
  }
  throw std::runtime_error("Order >= 3 is not supported.");
}

bool ConstAccel::validate_impl() const {
  const value_type vmax = m_speeds.maxCoeff();
  // A path that never moves, or a stage that takes forever, is no trajectory.
  if (!(vmax > 0) || !m_ts.allFinite()) return false;
  const Eigen::Index N = m_speeds.size() - 1;
  for (Eigen::Index i = 1; i < N; ++i)
    if (m_speeds[i] / vmax < 1e-5) return false;
  return true;
}

Bound ConstAccel::pathInterval_impl() const { return Bound(m_ts[0], m_ts[m_ts.size() - 1]); }

}  // namespace parametrizer
}  // namespace toppra
