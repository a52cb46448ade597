#include "bramlock_arm_planning_core/planner/cubic_spline_trajectory.h"

#include "bramlock_arm_planning_core/planner/cubic_spline_m.h"
#include "bramlock_arm_planning_core/planner/spline_coefficients.h"
#include "planner/spline/spline_trajectory_planner_impl.h"

struct CubicSplineFlavour {
  using Segment = CubicSplineCoefficients;
  using Spline = CubicSplineM;
  static constexpr bool kQuintic = false;
  static constexpr char kCsvPrefix[] = "trajectory";


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
