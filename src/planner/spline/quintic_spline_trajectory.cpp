#include "bramlock_arm_planning_core/planner/quintic_spline_trajectory.h"

#include "bramlock_arm_planning_core/planner/quintic_spline_interpolator.h"
#include "bramlock_arm_planning_core/planner/spline_coefficients.h"
#include "planner/spline/spline_trajectory_planner_impl.h"

struct QuinticSplineFlavour {
  using Segment = QuinticSplineCoefficients;
  using Spline = QuinticSplineInterpolator;
  static constexpr bool kQuintic = true;
  static constexpr char kCsvPrefix[] = "quintic_trajectory";


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
