#include "bramlock_arm_planning_core/planner/quintic_spline_trajectory.h"

#include <cstddef>
#include <ostream>
#include <utility>
#include <vector>

#include <Eigen/Core>

#include "bramlock_arm_planning_core/planner/arm_dynamics_model.h"
#include "bramlock_arm_planning_core/planner/constraint_evaluators.h"
#include "bramlock_arm_planning_core/planner/quintic_spline_interpolator.h"
#include "bramlock_arm_planning_core/planner/spline_coefficients.h"
#include "planner/spline/spline_trajectory_planner_impl.h"

// Velocities and accelerations at the knots (quintic Hermite segments, jerk continuous); the
// hooks are described in spline_trajectory_planner_impl.h.
struct QuinticSplineFlavour {
  using Segment = QuinticSplineCoefficients;
  using Spline = QuinticSplineInterpolator;
  static constexpr char kCsvPrefix[] = "quintic_trajectory";

  static Spline restToRestSpline(const std::vector<double>& times, const std::vector<double>& positions) {
    return Spline(times, positions, 0.0, 0.0, 0.0, 0.0);
  }

  template <class Knots>
  static void solveKnotStates(const std::vector<std::vector<double>>& positions, const std::vector<double>& durations,
                              Knots& knots) {
    knots.accelerations.reserve(positions.size());
    for (Spline& spline : bramlock::internal::restToRestSplines<QuinticSplineFlavour>(
             bramlock::internal::knotTimes(durations), positions)) {
      knots.velocities.push_back(std::move(spline.velocities));
      knots.accelerations.push_back(std::move(spline.accelerations));
    }
  }

  template <class Knots>
  static Segment segment(const std::vector<std::vector<double>>& p, const Knots& knots, std::size_t j, std::size_t i,
                         double T) {
    const auto& v = knots.velocities;
    const auto& a = knots.accelerations;
    return Segment::fromHermite(p[j][i], p[j][i + 1], v[j][i], v[j][i + 1], a[j][i], a[j][i + 1], T);
  }

  static ConstraintEvaluation cartesianRatios(const Eigen::VectorXd& q, const Eigen::VectorXd& qd,
                                              const CartesianConstraints& limits,
                                              const bramlock::dynamics::Model& model, bramlock::dynamics::Data& data) {
    return evaluateQuinticCartesianConstraints(q, qd, limits, model, data);
  }

  template <class Knots>
  static double segmentTorqueRatio(std::size_t i, double T, const std::vector<std::vector<double>>& p,
                                   const Knots& knots, const std::vector<double>& limits,
                                   const bramlock::dynamics::Model& model, bramlock::dynamics::Data& data, int joints) {
    return evaluateQuinticTorqueConstraintsForSegment(static_cast<int>(i), p, knots.velocities, knots.accelerations,
                                                      limits, model, data, joints, T);
  }

  static void waypointDerivatives(const Spline& spline, const std::vector<double>& /*positions*/,
                                  const std::vector<double>& /*durations*/, std::vector<double>& velocities,
                                  std::vector<double>& accelerations) {
    velocities = spline.velocities;
    accelerations = spline.accelerations;
  }

  static void writeJerkHeader(std::ostream& file, int joint) { file << ",j" << joint << "_jerk"; }
  static void writeJerk(std::ostream& file, const Spline& spline, double e) { file << ',' << spline.jerk(e); }

  static constexpr char kTorqueSwitch[] = "QuinticSpline: 力矩约束{}";
  static constexpr char kInvalidPoints[] = "QuinticSpline: 无效路径点";
  static constexpr char kTooFewPoints[] = "QuinticSpline: 路径点不足";
  static constexpr char kConstraintCountMismatch[] = "QuinticSpline: 约束数量不匹配";
  static constexpr char kDimensionMismatch[] = "QuinticSpline: 路径点{}约束维度不匹配";
  static constexpr char kInvalidLimit[] = "QuinticSpline: 路径点{}关节{}约束值无效";
  static constexpr char kCartesianWithoutModel[] = "QuinticSpline: 笛卡尔约束已启用但未设置机器人模型";
  static constexpr char kFrameFound[] = "QuinticSpline: 找到末端执行器帧: {}, ID: {}";
  static constexpr char kFrameNotFound[] = "QuinticSpline: 未找到末端执行器帧: {}";
  static constexpr char kTorqueLimits[] =
      "QuinticSpline: 关节力矩限制（未启用）: [{:.1f}, {:.1f}, {:.1f}, {:.1f}, {:.1f}, {:.1f}]";
  static constexpr char kLoadFailed[] = "QuinticSpline: 加载URDF失败: {}";
  static constexpr char kModelJointMismatch[] = "QuinticSpline: 模型关节数{}与路径点关节数{}不一致，忽略模型";
  static constexpr char kInitFailed[] = "QuinticSpline: 初始化失败";
  static constexpr char kNotConverged[] = "QuinticSpline: 优化未收敛";
  static constexpr char kConverged[] = "QuinticSpline: 优化收敛, iter={}, T={:.4f}s, maxErr={:.6f}";
  static constexpr char kIterationLimit[] = "QuinticSpline: 达到最大迭代 {}, T={:.4f}s, maxErr={:.6f}";
  static constexpr char kOptimisationTime[] = "QuinticSpline: 优化耗时 {} ms";
  static constexpr char kCsvSaved[] = "QuinticSpline: 插值数据已保存到 {}";
  static constexpr char kCsvFailed[] = "QuinticSpline: 无法写入轨迹文件 {}: {}";
};

template class SplineTrajectoryPlanner<QuinticSplineFlavour>;
