#include "bramlock_arm_planning_core/planner/cubic_spline_trajectory.h"

#include <cstddef>
#include <ostream>
#include <vector>

#include <Eigen/Core>

#include "bramlock_arm_planning_core/planner/arm_dynamics_model.h"
#include "bramlock_arm_planning_core/planner/constraint_evaluators.h"
#include "bramlock_arm_planning_core/planner/cubic_spline_m.h"
#include "bramlock_arm_planning_core/planner/spline_coefficients.h"
#include "planner/spline/spline_trajectory_planner_impl.h"

namespace {

// The optimiser checks a segment's torques at k T / 5, k = 0 .. 5.
constexpr int kTorqueSamples = 5;

// Waypoint accelerations of the cubic Hermite spline with waypoint velocities v: each segment's
// start and end values, averaged at interior waypoints.
std::vector<double> waypointAccelerations(const std::vector<double>& p, const std::vector<double>& v,
                                          const std::vector<double>& d) {
  const std::size_t n = p.size();
  const auto start_of = [&](std::size_t i) {
    return 6.0 * (p[i + 1] - p[i]) / (d[i] * d[i]) - 4.0 * v[i] / d[i] - 2.0 * v[i + 1] / d[i];
  };
  const auto end_of = [&](std::size_t i) {
    return -6.0 * (p[i] - p[i - 1]) / (d[i - 1] * d[i - 1]) + 2.0 * v[i - 1] / d[i - 1] + 4.0 * v[i] / d[i - 1];
  };
  std::vector<double> accelerations(n);
  accelerations.front() = start_of(0);
  accelerations.back() = end_of(n - 1);
  for (std::size_t i = 1; i + 1 < n; ++i) {
    accelerations[i] = (end_of(i) + start_of(i)) / 2.0;
  }
  return accelerations;
}

}  // namespace

// Velocities only at the knots (C2 cubic Hermite segments); the hooks are described in
// spline_trajectory_planner_impl.h.
struct CubicSplineFlavour {
  using Segment = CubicSplineCoefficients;
  using Spline = CubicSplineM;
  static constexpr char kCsvPrefix[] = "trajectory";

  static Spline restToRestSpline(const std::vector<double>& times, const std::vector<double>& positions) {
    return Spline(times, positions, 0.0, 0.0);
  }

  template <class Knots>
  static void solveKnotStates(const std::vector<std::vector<double>>& positions, const std::vector<double>& durations,
                              Knots& knots) {
    for (const std::vector<double>& joint : positions) {
      knots.velocities.push_back(solveJointVelocities(joint, durations));
    }
  }

  template <class Knots>
  static Segment segment(const std::vector<std::vector<double>>& p, const Knots& knots, std::size_t j, std::size_t i,
                         double T) {
    const auto& v = knots.velocities;
    return Segment::fromHermite(p[j][i], p[j][i + 1], v[j][i], v[j][i + 1], T);
  }

  static ConstraintEvaluation cartesianRatios(const Eigen::VectorXd& q, const Eigen::VectorXd& qd,
                                              const CartesianConstraints& limits,
                                              const bramlock::dynamics::Model& model, bramlock::dynamics::Data& data) {
    return evaluateCartesianConstraints(q, qd, limits, model, data);
  }

  template <class Knots>
  static double segmentTorqueRatio(std::size_t i, double T, const std::vector<std::vector<double>>& p,
                                   const Knots& knots, const std::vector<double>& limits,
                                   const bramlock::dynamics::Model& model, bramlock::dynamics::Data& data, int joints) {
    return evaluateTorqueConstraintsForSegment(static_cast<int>(i), T, p, knots.velocities, limits, model, data, joints,
                                               kTorqueSamples);
  }

  static void waypointDerivatives(const Spline& /*spline*/, const std::vector<double>& positions,
                                  const std::vector<double>& durations, std::vector<double>& velocities,
                                  std::vector<double>& accelerations) {
    velocities = solveJointVelocities(positions, durations);
    accelerations = waypointAccelerations(positions, velocities, durations);
  }

  // The cubic file has no jerk columns.
  static void writeJerkHeader(std::ostream& /*file*/, int /*joint*/) {}
  static void writeJerk(std::ostream& /*file*/, const Spline& /*spline*/, double /*e*/) {}

  static constexpr char kTorqueSwitch[] = "力矩约束{}";
  static constexpr char kInvalidPoints[] = "无效的路径点数据";
  static constexpr char kTooFewPoints[] = "路径点数量不足";
  static constexpr char kConstraintCountMismatch[] = "约束数量与路径点数量不匹配: constraints={}, points={}";
  static constexpr char kDimensionMismatch[] = "路径点{}的约束维度不匹配";
  static constexpr char kInvalidLimit[] = "路径点{}关节{}的约束值无效: vmax={}, amax={}";
  static constexpr char kCartesianWithoutModel[] = "警告: 笛卡尔约束已启用但未设置机器人模型";
  static constexpr char kFrameFound[] = "找到末端执行器帧: {}, ID: {}";
  static constexpr char kFrameNotFound[] = "警告: 未找到末端执行器帧: {}";
  static constexpr char kTorqueLimits[] = "关节力矩限制（未启用）: [{:.1f}, {:.1f}, {:.1f}, {:.1f}, {:.1f}, {:.1f}]";
  static constexpr char kLoadFailed[] = "加载URDF模型失败: {}";
  static constexpr char kModelJointMismatch[] = "动力学模型关节数({})与路径点关节数({})不一致，按未加载模型规划";
  static constexpr char kInitFailed[] = "轨迹生成器初始化失败";
  static constexpr char kNotConverged[] = "轨迹优化失败：达到最大迭代次数仍未收敛";
  static constexpr char kConverged[] = "优化收敛，迭代次数: {}, 总时间: {:.4f}s, 最大约束违反: {:.6f}";
  static constexpr char kIterationLimit[] = "达到最大迭代次数: {}, 最终总时间: {:.4f}s, 最大违反: {:.6f}";
  static constexpr char kOptimisationTime[] = "优化时间间隔用时 {} ms.";
  static constexpr char kCsvSaved[] = "三次样条插值数据已保存到 {}";
  static constexpr char kCsvFailed[] = "无法写入轨迹文件 {}: {}";
};

template class SplineTrajectoryPlanner<CubicSplineFlavour>;
