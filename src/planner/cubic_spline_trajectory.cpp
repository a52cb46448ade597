#include "bramlock_arm_planning_core/planner/cubic_spline_trajectory.h"

#include "spline_trajectory_planner_impl.h"

struct CubicSplineFlavour {
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
};

template class SplineTrajectoryPlanner<CubicSplineFlavour>;
