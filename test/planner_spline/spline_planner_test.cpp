#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <Eigen/Geometry>
#include <kdl/treefksolverpos_recursive.hpp>

#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "bramlock_arm_planning_core/planner/cubic_spline_trajectory.h"
#include "bramlock_arm_planning_core/planner/quintic_spline_trajectory.h"
#include "spline_test_helpers.h"

namespace {

// Opens a planner's steps and state, and records the calls that reach the per-waypoint entry.
template <class Planner>
class Probe : public Planner {
 public:
  using Planner::computeSegmentConstraints;
  using Planner::constraints_;
  using Planner::data_;
  using Planner::ee_frame_id_;
  using Planner::generateTimeOptimalTrajectory;
  using Planner::initialize;
  using Planner::mdh_params_;
  using Planner::model_;
  using Planner::num_joints_;
  using Planner::num_points_;
  using Planner::positions_;
  using Planner::segment_constraints_;
  using Planner::torque_constraints_enabled_;
  using Planner::torque_limits_;

  TrajectoryResult generateTimeOptimalTrajectory(const std::vector<std::vector<double>>& points,
                                                 const std::vector<WaypointConstraints>& constraints, double tolerance,
                                                 int max_iterations, bool save_csv) override {
    forwarded_points = points;
    forwarded_constraints = constraints;
    forwarded_tolerance = tolerance;
    forwarded_iterations = max_iterations;
    forwarded_save_csv = save_csv;
    return {true, {}};
  }

  std::vector<std::vector<double>> forwarded_points;
  std::vector<WaypointConstraints> forwarded_constraints;
  double forwarded_tolerance = 0.0;
  int forwarded_iterations = 0;
  bool forwarded_save_csv = false;
};

struct CubicTexts {
  using Planner = CubicSplineTrajectory;
  static constexpr const char* kTorqueOn = "力矩约束已启用";
  static constexpr const char* kTorqueOff = "力矩约束已禁用";
  static constexpr const char* kInvalidPoints = "无效的路径点数据";
  static constexpr const char* kTooFewPoints = "路径点数量不足";
  static constexpr const char* kCountMismatch = "约束数量与路径点数量不匹配: constraints=1, points=2";
  static constexpr const char* kDimension0 = "路径点0的约束维度不匹配";
  static constexpr const char* kDimension1 = "路径点1的约束维度不匹配";
  static constexpr const char* kZeroVmax = "路径点1关节1的约束值无效: vmax=0, amax=1";
  static constexpr const char* kNanAmax = "路径点0关节0的约束值无效: vmax=1, amax=nan";
  static constexpr const char* kCartesianWithoutModel = "警告: 笛卡尔约束已启用但未设置机器人模型";
  static constexpr const char* kArmFrameFound = "找到末端执行器帧: end_effector, ID: 15";
  static constexpr const char* kFrameNotFound = "警告: 未找到末端执行器帧: tool0";
  static constexpr const char* kFrameMessageStart = "末端执行器帧";
  static constexpr const char* kArmTorques = "关节力矩限制（未启用）: [200.0, 190.0, 120.0, 45.0, 40.0, 25.0]";
  static constexpr const char* kMountTorques = "关节力矩限制（未启用）: [80.0, 60.0, 0.0, 0.0, 0.0, 0.0]";
  static constexpr const char* kLoadFailed = "加载URDF模型失败: ";
  static constexpr const char* kModelMismatch = "动力学模型关节数(6)与路径点关节数(2)不一致，按未加载模型规划";
};

struct QuinticTexts {
  using Planner = QuinticSplineTrajectory;
  static constexpr const char* kTorqueOn = "QuinticSpline: 力矩约束已启用";
  static constexpr const char* kTorqueOff = "QuinticSpline: 力矩约束已禁用";
  static constexpr const char* kInvalidPoints = "QuinticSpline: 无效路径点";
  static constexpr const char* kTooFewPoints = "QuinticSpline: 路径点不足";
  static constexpr const char* kCountMismatch = "QuinticSpline: 约束数量不匹配";
  static constexpr const char* kDimension0 = "QuinticSpline: 路径点0约束维度不匹配";
  static constexpr const char* kDimension1 = "QuinticSpline: 路径点1约束维度不匹配";
  static constexpr const char* kZeroVmax = "QuinticSpline: 路径点1关节1约束值无效";
  static constexpr const char* kNanAmax = "QuinticSpline: 路径点0关节0约束值无效";
  static constexpr const char* kCartesianWithoutModel = "QuinticSpline: 笛卡尔约束已启用但未设置机器人模型";
  static constexpr const char* kArmFrameFound = "QuinticSpline: 找到末端执行器帧: end_effector, ID: 15";
  static constexpr const char* kFrameNotFound = "QuinticSpline: 未找到末端执行器帧: tool0";
  static constexpr const char* kFrameMessageStart = "末端执行器帧";
  static constexpr const char* kArmTorques =
      "QuinticSpline: 关节力矩限制（未启用）: [200.0, 190.0, 120.0, 45.0, 40.0, 25.0]";
  static constexpr const char* kMountTorques =
      "QuinticSpline: 关节力矩限制（未启用）: [80.0, 60.0, 0.0, 0.0, 0.0, 0.0]";
  static constexpr const char* kLoadFailed = "QuinticSpline: 加载URDF失败: ";
  static constexpr const char* kModelMismatch = "QuinticSpline: 模型关节数6与路径点关节数2不一致，忽略模型";
};

using spline_test::limits;

WaypointConstraints cartesianLimits(bool enabled, double linear, double angular = 300.14, int frame = -1) {
  WaypointConstraints record = limits({1.0, 1.0}, {1.0, 1.0});
  record.cartesian.enabled = enabled;
  record.cartesian.max_linear_velocity = linear;
  record.cartesian.max_angular_velocity = angular;
  record.cartesian.frame_id = frame;
  return record;
}

Eigen::Isometry3d placementOf(const bramlock::dynamics::Model& model, bramlock::dynamics::Data& data,
                              const Eigen::VectorXd& q, bramlock::dynamics::FrameIndex frame) {
  bramlock::dynamics::forwardKinematics(model, data, q);
  return bramlock::dynamics::framePlacement(model, data, frame);
}

}  // namespace

template <class Texts>
class SplinePlanner : public spline_test::ProbedPlanner<Probe, Texts> {};

using Flavours = ::testing::Types<CubicTexts, QuinticTexts>;
TYPED_TEST_SUITE(SplinePlanner, Flavours);

TYPED_TEST(SplinePlanner, InitializeReportsTheFirstFailingCheck) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const WaypointConstraints good = limits({1.0, 1.0}, {1.0, 1.0});
  struct Case {
    std::vector<std::vector<double>> points;
    std::vector<WaypointConstraints> constraints;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{}, {}, TypeParam::kInvalidPoints},
      {{{}, {1.0}}, {good, good}, TypeParam::kInvalidPoints},
      {{{0.0, 0.0}}, {good}, TypeParam::kTooFewPoints},
      {{{0.0, 0.0}, {1.0, 1.0}}, {good}, TypeParam::kCountMismatch},
      {{{0.0, 0.0}, {1.0, 1.0}}, {good, limits({1.0}, {1.0, 1.0})}, TypeParam::kDimension1},
      {{{0.0, 0.0}, {1.0, 1.0}}, {good, limits({1.0, 1.0}, {1.0, 1.0}, {5.0})}, TypeParam::kDimension1},
      {{{0.0, 0.0}, {1.0}}, {good, good}, TypeParam::kDimension1},
      {{{0.0, 0.0}, {1.0, 1.0}}, {good, limits({1.0, 0.0}, {1.0, 1.0})}, TypeParam::kZeroVmax},
      {{{0.0, 0.0}, {1.0, 1.0}}, {limits({1.0, 1.0}, {nan, 1.0}), good}, TypeParam::kNanAmax},
      // Earlier waypoints first; within a waypoint the dimensions before the values.
      {{{0.0, 0.0}, {1.0}}, {limits({1.0, 1.0}, {nan, 1.0}), good}, TypeParam::kNanAmax},
      {{{0.0, 0.0}, {1.0, 1.0}}, {limits({-1.0, 1.0}, {1.0}), good}, TypeParam::kDimension0},
      {{{0.0}}, {}, TypeParam::kTooFewPoints},
      {{{0.0, 0.0}, {1.0, nan}}, {good, good}, TypeParam::kInvalidPoints},
      {{{0.0, -std::numeric_limits<double>::infinity()}, {1.0, 1.0}}, {good, good}, TypeParam::kInvalidPoints},
  };
  for (const Case& each : cases) {
    bool result = true;
    const auto lines = this->logged([&] { result = this->planner.initialize(each.points, each.constraints); });
    EXPECT_FALSE(result) << each.message;
    EXPECT_EQ(lines, std::vector<std::string>({each.message}));
  }
}

TYPED_TEST(SplinePlanner, InitializeStoresWaypointsJointMajor) {
  const WaypointConstraints six = limits(std::vector<double>(6, 1.0), std::vector<double>(6, 2.0));
  WaypointConstraints with_torque = six;
  with_torque.torque_max.assign(6, 10.0);
  const std::vector<std::vector<double>> points = {
      {0, 1, 2, 3, 4, 5}, {10, 11, 12, 13, 14, 15}, {20, 21, 22, 23, 24, 25}};
  std::vector<std::string> lines;
  bool result = false;
  lines = this->logged([&] { result = this->planner.initialize(points, {six, with_torque, six}); });
  ASSERT_TRUE(result);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(this->planner.num_points_, 3);
  EXPECT_EQ(this->planner.num_joints_, 6);
  ASSERT_EQ(this->planner.positions_.size(), 6u);
  for (int j = 0; j < 6; ++j) {
    EXPECT_EQ(this->planner.positions_[j], std::vector<double>({0.0 + j, 10.0 + j, 20.0 + j}));
  }
  EXPECT_EQ(this->planner.constraints_[1].torque_max, with_torque.torque_max);
}

TYPED_TEST(SplinePlanner, CartesianLimitsWithoutAModelWarnButPass) {
  bool result = false;
  const auto lines = this->logged([&] {
    result =
        this->planner.initialize({{0.0, 0.0}, {1.0, 1.0}}, {cartesianLimits(false, 1.0), cartesianLimits(true, 1.0)});
  });
  EXPECT_TRUE(result);
  EXPECT_EQ(lines, std::vector<std::string>({TypeParam::kCartesianWithoutModel}));
  ASSERT_TRUE(this->planner.setRobotModel(spline_test::armUrdfPath(), "end_effector"));
  WaypointConstraints six = limits(std::vector<double>(6, 1.0), std::vector<double>(6, 1.0));
  six.cartesian.enabled = true;
  const auto with_model = this->logged([&] {
    result = this->planner.initialize({std::vector<double>(6, 0.0), std::vector<double>(6, 1.0)}, {six, six});
  });
  EXPECT_TRUE(result);
  EXPECT_TRUE(with_model.empty());
  // A model of six joints does not serve a two-joint path: planned as without a model.
  const auto other_arm = this->logged([&] {
    result =
        this->planner.initialize({{0.0, 0.0}, {1.0, 1.0}}, {cartesianLimits(true, 1.0), cartesianLimits(true, 1.0)});
  });
  EXPECT_TRUE(result);
  EXPECT_EQ(other_arm, std::vector<std::string>({TypeParam::kModelMismatch, TypeParam::kCartesianWithoutModel}));
}

TYPED_TEST(SplinePlanner, UniformLimitsGiveEveryWaypointTheSameRecord) {
  CartesianConstraints cartesian;
  cartesian.enabled = true;
  cartesian.max_linear_velocity = 0.5;
  cartesian.frame_id = 3;
  const std::vector<std::vector<double>> points = {{0.0, 0.0}, {1.0, 1.0}, {2.0, 0.0}};
  ITrajectoryPlanner& as_interface = this->planner;
  const TrajectoryResult result =
      as_interface.generateTimeOptimalTrajectory(points, {1.0, 2.0}, {3.0, 4.0}, 0.01, 77, true, cartesian);
  EXPECT_TRUE(result.success);
  EXPECT_EQ(this->planner.forwarded_points, points);
  EXPECT_EQ(this->planner.forwarded_tolerance, 0.01);
  EXPECT_EQ(this->planner.forwarded_iterations, 77);
  EXPECT_TRUE(this->planner.forwarded_save_csv);
  ASSERT_EQ(this->planner.forwarded_constraints.size(), 3u);
  for (const WaypointConstraints& record : this->planner.forwarded_constraints) {
    EXPECT_EQ(record.vmax, std::vector<double>({1.0, 2.0}));
    EXPECT_EQ(record.amax, std::vector<double>({3.0, 4.0}));
    EXPECT_TRUE(record.torque_max.empty());
    EXPECT_TRUE(record.cartesian.enabled);
    EXPECT_EQ(record.cartesian.max_linear_velocity, 0.5);
    EXPECT_EQ(record.cartesian.max_angular_velocity, 300.14);
    EXPECT_EQ(record.cartesian.frame_id, 3);
  }
}

TYPED_TEST(SplinePlanner, TorqueSwitchAndMdhParametersAreStored) {
  const auto lines = this->logged([&] {
    this->planner.enableTorqueConstraints(true);
    this->planner.enableTorqueConstraints(false);
  });
  EXPECT_EQ(lines, std::vector<std::string>({TypeParam::kTorqueOn, TypeParam::kTorqueOff}));
  EXPECT_FALSE(this->planner.torque_constraints_enabled_);
  ArmMDHParams joint;
  joint.alpha = -M_PI / 2;
  joint.d = 0.3;
  joint.valid = true;
  this->planner.setMdhParams({joint, ArmMDHParams()});
  ASSERT_EQ(this->planner.mdh_params_.size(), 2u);
  EXPECT_EQ(this->planner.mdh_params_[0].d, 0.3);
  EXPECT_FALSE(this->planner.mdh_params_[1].valid);
}

TYPED_TEST(SplinePlanner, ArmModelCarriesTheToolFrameAndEffortLimits) {
  bool loaded = false;
  const auto lines =
      this->logged([&] { loaded = this->planner.setRobotModel(spline_test::armUrdfPath(), "end_effector"); });
  ASSERT_TRUE(loaded);
  EXPECT_EQ(lines, std::vector<std::string>({TypeParam::kArmFrameFound, TypeParam::kArmTorques}));
  EXPECT_EQ(this->planner.ee_frame_id_, 15);
  EXPECT_EQ(this->planner.model_->nframes(), 16u);
  EXPECT_EQ(this->planner.torque_limits_, std::vector<double>({200, 190, 120, 45, 40, 25}));
  EXPECT_EQ(&this->planner.data_->model(), this->planner.model_.get());

  const bramlock::dynamics::Model& model = *this->planner.model_;
  KDL::TreeFkSolverPos_recursive kdl_fk(model.tree());
  const Eigen::VectorXd q = (Eigen::VectorXd(6) << 0.3, -1.1, 0.7, 2.0, -0.4, 1.3).finished();
  KDL::JntArray kdl_q(6);
  kdl_q.data = q;
  KDL::Frame link6;
  ASSERT_GE(kdl_fk.JntToCart(kdl_q, link6, "link6"), 0);
  const KDL::Vector expected = link6 * KDL::Vector(0.0, 0.0, 0.45);
  const Eigen::Isometry3d tool = placementOf(model, *this->planner.data_, q, 15);
  EXPECT_NEAR(tool.translation().x(), expected.x(), 1e-12);
  EXPECT_NEAR(tool.translation().y(), expected.y(), 1e-12);
  EXPECT_NEAR(tool.translation().z(), expected.z(), 1e-12);
  const Eigen::Isometry3d joint6 = placementOf(model, *this->planner.data_, q, 13);
  EXPECT_TRUE(tool.isApprox(joint6 * Eigen::Translation3d(0.0, 0.0, 0.45), 1e-12));

  // Loading again builds a fresh model: the same id and limits, one tool frame.
  ASSERT_TRUE(this->planner.setRobotModel(spline_test::armUrdfPath(), "end_effector"));
  EXPECT_EQ(this->planner.ee_frame_id_, 15);
  EXPECT_EQ(this->planner.model_->nframes(), 16u);
}

TYPED_TEST(SplinePlanner, ToolFrameHangsFromTheJointThatCarriesLink6) {
  bool loaded = false;
  const auto lines = this->logged(
      [&] { loaded = this->planner.setRobotModel(spline_test::dynamicsFixture("wrist_mount.urdf"), "end_effector"); });
  ASSERT_TRUE(loaded);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], TypeParam::kMountTorques);
  const bramlock::dynamics::Model& model = *this->planner.model_;
  EXPECT_EQ(this->planner.ee_frame_id_, static_cast<int>(model.nframes()) - 1);
  EXPECT_EQ(this->planner.torque_limits_, std::vector<double>({80, 60}));
  const Eigen::VectorXd q = (Eigen::VectorXd(2) << 0.8, -0.5).finished();
  const Eigen::Isometry3d tool = placementOf(model, *this->planner.data_, q, model.nframes() - 1);
  const Eigen::Isometry3d joint2 = placementOf(model, *this->planner.data_, q, model.getFrameId("joint2"));
  const Eigen::Isometry3d link6 = placementOf(model, *this->planner.data_, q, model.getFrameId("link6"));
  EXPECT_TRUE(tool.isApprox(joint2 * Eigen::Translation3d(0.0, 0.0, 0.45), 1e-12));
  EXPECT_FALSE(tool.isApprox(link6 * Eigen::Translation3d(0.0, 0.0, 0.45), 1e-3));
}

TYPED_TEST(SplinePlanner, FailedLoadsKeepThePreviousModelAndDataTogether) {
  auto& planner = this->planner;
  bool loaded = true;
  auto lines = this->logged(
      [&] { loaded = planner.setRobotModel(spline_test::dynamicsFixture("missing.urdf"), "end_effector"); });
  EXPECT_FALSE(loaded);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind(TypeParam::kLoadFailed, 0), 0u) << lines[0];
  EXPECT_FALSE(planner.model_);
  EXPECT_FALSE(planner.data_);

  // No "link6" to carry the tool frame.
  lines = this->logged(
      [&] { loaded = planner.setRobotModel(spline_test::dynamicsFixture("pendulum.urdf"), "end_effector"); });
  EXPECT_FALSE(loaded);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("link6"), std::string::npos) << lines[0];
  EXPECT_FALSE(planner.model_);

  ASSERT_TRUE(planner.setRobotModel(spline_test::armUrdfPath(), "end_effector"));
  const auto* model = planner.model_.get();
  const auto* data = planner.data_.get();
  lines = this->logged([&] {
    loaded =
        planner.setRobotModel(spline_test::dynamicsFixture("wrist_mount_with_end_effector_link.urdf"), "end_effector");
  });
  EXPECT_FALSE(loaded);
  EXPECT_EQ(lines, std::vector<std::string>({std::string(TypeParam::kLoadFailed) +
                                             "Several frames match the filter - please specify the FrameType"}));
  EXPECT_EQ(planner.model_.get(), model);
  EXPECT_EQ(planner.data_.get(), data);
  EXPECT_EQ(planner.ee_frame_id_, 15);
  EXPECT_EQ(planner.torque_limits_.size(), 6u);
}

TYPED_TEST(SplinePlanner, FrameIdSurvivesOnlyWhereItStillNamesTheSameFrame) {
  auto& planner = this->planner;
  ASSERT_TRUE(planner.setRobotModel(spline_test::armUrdfPath(), "end_effector"));
  // Same model, no name or an unknown one: the id stays, messages as for each case.
  auto lines = this->logged([&] { EXPECT_TRUE(planner.setRobotModel(spline_test::armUrdfPath(), "")); });
  EXPECT_EQ(lines, std::vector<std::string>({TypeParam::kArmTorques}));
  EXPECT_EQ(planner.ee_frame_id_, 15);
  lines = this->logged([&] { EXPECT_TRUE(planner.setRobotModel(spline_test::armUrdfPath(), "tool0")); });
  EXPECT_EQ(lines, std::vector<std::string>({TypeParam::kFrameNotFound, TypeParam::kArmTorques}));
  EXPECT_EQ(planner.ee_frame_id_, 15);
  // A smaller model has no frame 15.
  ASSERT_TRUE(planner.setRobotModel(spline_test::dynamicsFixture("wrist_mount.urdf"), ""));
  EXPECT_EQ(planner.ee_frame_id_, -1);
  // Frame 8 is "link6" in the mount model and "link3" in the arm.
  ASSERT_TRUE(planner.setRobotModel(spline_test::dynamicsFixture("wrist_mount.urdf"), "link6"));
  EXPECT_EQ(planner.ee_frame_id_, 8);
  ASSERT_TRUE(planner.setRobotModel(spline_test::armUrdfPath(), "tool0"));
  EXPECT_EQ(planner.ee_frame_id_, -1);
  EXPECT_EQ(&planner.data_->model(), planner.model_.get());
}

TYPED_TEST(SplinePlanner, SegmentsTakeTheTighterJointLimitsAndTorquesByPrecedence) {
  auto& planner = this->planner;
  const std::vector<std::vector<double>> points(6, std::vector<double>{0.0, 0.0});
  const std::vector<WaypointConstraints> waypoints = {limits({1.0, 5.0}, {2.0, 1.0}, {10.0, 20.0}),
                                                      limits({3.0, 4.0}, {1.5, 9.0}, {15.0, 5.0}),
                                                      limits({3.0, 4.0}, {1.5, 9.0}),
                                                      limits({3.0, 4.0}, {1.5, 9.0}, {7.0, 8.0}),
                                                      limits({3.0, 4.0}, {1.5, 9.0}),
                                                      limits({3.0, 4.0}, {1.5, 9.0})};
  ASSERT_TRUE(planner.initialize(points, waypoints));
  planner.computeSegmentConstraints();
  const auto& segments = planner.segment_constraints_;
  ASSERT_EQ(segments.size(), 5u);
  EXPECT_EQ(segments[0].vmax, std::vector<double>({1.0, 4.0}));
  EXPECT_EQ(segments[0].amax, std::vector<double>({1.5, 1.0}));
  const std::vector<std::vector<double>> torques = {{10, 5}, {15, 5}, {7, 8}, {7, 8}, {0, 0}};
  for (std::size_t s = 0; s < segments.size(); ++s) EXPECT_EQ(segments[s].torque_max, torques[s]) << s;
  EXPECT_FALSE(segments[0].cartesian.enabled);

  // Unlimited segments fall back on the model's limits only while torque limits are on.
  planner.torque_limits_ = {50.0};
  planner.computeSegmentConstraints();
  EXPECT_EQ(planner.segment_constraints_[4].torque_max, std::vector<double>({0.0, 0.0}));
  planner.torque_constraints_enabled_ = true;
  planner.computeSegmentConstraints();
  EXPECT_EQ(planner.segment_constraints_[4].torque_max, std::vector<double>({50.0, 0.0}));
  EXPECT_EQ(planner.segment_constraints_[0].torque_max, std::vector<double>({10.0, 5.0}));
}

TYPED_TEST(SplinePlanner, SegmentsMergeCartesianLimitsAndSmoothLinearSpeedAcrossNeighbours) {
  auto& planner = this->planner;
  planner.ee_frame_id_ = 9;
  const std::vector<std::vector<double>> points(6, std::vector<double>{0.0, 0.0});
  ASSERT_TRUE(planner.initialize(
      points, {cartesianLimits(true, 1.0, 2.0, 3), cartesianLimits(true, 0.5, 3.0, 4), cartesianLimits(false, 0.01),
               cartesianLimits(true, 0.1, 5.0, 7), cartesianLimits(false, 0.01), cartesianLimits(false, 0.01)}));
  planner.computeSegmentConstraints();
  const auto& segments = planner.segment_constraints_;
  ASSERT_EQ(segments.size(), 5u);
  // Both ends: the planner's frame and the smaller limits; one end: that waypoint's record.
  EXPECT_EQ(segments[0].cartesian.frame_id, 9);
  EXPECT_EQ(segments[0].cartesian.max_angular_velocity, 2.0);
  EXPECT_EQ(segments[1].cartesian.frame_id, 4);
  EXPECT_EQ(segments[1].cartesian.max_angular_velocity, 3.0);
  EXPECT_EQ(segments[2].cartesian.frame_id, 7);
  EXPECT_EQ(segments[3].cartesian.frame_id, 7);
  EXPECT_FALSE(segments[4].cartesian.enabled);
  EXPECT_EQ(segments[4].cartesian.max_linear_velocity, 20.0);
  // 0.1 on segments 2 and 3 limits segment 1 to L(0.1) = 0.2 and segment 0 to L(0.2) = 0.3.
  const std::vector<double> linear = {0.3, 0.2, 0.1, 0.1};
  for (std::size_t s = 0; s < linear.size(); ++s)
    EXPECT_NEAR(segments[s].cartesian.max_linear_velocity, linear[s], 1e-12) << s;
}

TYPED_TEST(SplinePlanner, LinearSpeedRampsAwayFromASlowSegmentBothWays) {
  auto& planner = this->planner;
  const std::vector<std::vector<double>> points(5, std::vector<double>{0.0, 0.0});
  const auto ramp = [&](std::vector<double> waypoint_limits) {
    std::vector<WaypointConstraints> waypoints;
    for (double limit : waypoint_limits) waypoints.push_back(cartesianLimits(true, limit));
    EXPECT_TRUE(planner.initialize(points, waypoints));
    planner.computeSegmentConstraints();
    std::vector<double> result;
    for (const auto& segment : planner.segment_constraints_) result.push_back(segment.cartesian.max_linear_velocity);
    return result;
  };
  const auto near = [](const std::vector<double>& actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t s = 0; s < expected.size(); ++s) EXPECT_NEAR(actual[s], expected[s], 1e-12) << s;
  };
  near(ramp({1.0, 1.0, 1.0, 1.0, 0.01}), {0.25, 0.15, 0.06, 0.01});
  near(ramp({0.01, 1.0, 1.0, 1.0, 1.0}), {0.01, 0.06, 0.15, 0.25});
  near(ramp({1.0, 1.0, 0.01, 1.0, 1.0}), {0.06, 0.01, 0.01, 0.06});
  near(ramp({1.0, 1.0, 1.0, 1.0, 1.0}), {1.0, 1.0, 1.0, 1.0});
  // The angular limit is not smoothed.
  EXPECT_EQ(planner.segment_constraints_[0].cartesian.max_angular_velocity, 300.14);
}
