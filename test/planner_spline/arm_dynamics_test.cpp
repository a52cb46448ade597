#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <Eigen/Dense>
#include <kdl/treefksolverpos_recursive.hpp>
#include <kdl/treeidsolver_recursive_newton_euler.hpp>

#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "expect_throw_message.h"
#include "spline_test_helpers.h"

namespace dyn = bramlock::dynamics;
using spline_test::LoadedModel;

namespace {

constexpr double kGravity = 9.81;

// Closed-form planar model of the pendulum fixture: both joints turn about y; the flange
// is rigidly fixed to link2, 0.3 rad further about y.
struct PlanarBody {
  double mass;
  double iyy;
  Eigen::Vector2d com;  // (x, z) in the body frame
};

Eigen::Vector2d rotateY(double angle, const Eigen::Vector2d& xz) {
  return {xz.x() * std::cos(angle) + xz.y() * std::sin(angle), -xz.x() * std::sin(angle) + xz.y() * std::cos(angle)};
}

struct PendulumPose {
  Eigen::Vector2d joint_origin[2];
  Eigen::Vector2d com[3];
  int last_joint[3];  // joints 0 .. last_joint move the body
  Eigen::Vector2d flange_origin;
  double flange_angle;
};

const PlanarBody kBodies[3] = {{2.0, 0.05, {0.3, 0.0}}, {1.5, 0.03, {0.25, 0.02}}, {3.0, 0.01, {0.02, -0.03}}};

PendulumPose pendulumPose(const Eigen::Vector2d& q) {
  PendulumPose pose;
  pose.joint_origin[0] = {0.0, 1.0};
  pose.joint_origin[1] = pose.joint_origin[0] + rotateY(q[0], {0.6, 0.0});
  pose.flange_origin = pose.joint_origin[1] + rotateY(q[0] + q[1], {0.5, 0.05});
  pose.flange_angle = q[0] + q[1] + 0.3;
  pose.com[0] = pose.joint_origin[0] + rotateY(q[0], kBodies[0].com);
  pose.com[1] = pose.joint_origin[1] + rotateY(q[0] + q[1], kBodies[1].com);
  pose.com[2] = pose.flange_origin + rotateY(pose.flange_angle, kBodies[2].com);
  pose.last_joint[0] = 0;
  pose.last_joint[1] = 1;
  pose.last_joint[2] = 1;
  return pose;
}

// Column i: d(x, z)/dq_i of a point, for a turn about y through the joint origin.
Eigen::Matrix2d pointJacobian(const PendulumPose& pose, const Eigen::Vector2d& point, int last_joint) {
  Eigen::Matrix2d jacobian = Eigen::Matrix2d::Zero();
  for (int i = 0; i <= last_joint; ++i) {
    const Eigen::Vector2d d = point - pose.joint_origin[i];
    jacobian.col(i) = Eigen::Vector2d(d.y(), -d.x());
  }
  return jacobian;
}

Eigen::Vector2d closedFormGravity(const Eigen::Vector2d& q) {
  const PendulumPose pose = pendulumPose(q);
  Eigen::Vector2d tau = Eigen::Vector2d::Zero();
  for (int k = 0; k < 3; ++k) {
    tau += kBodies[k].mass * kGravity * pointJacobian(pose, pose.com[k], pose.last_joint[k]).row(1).transpose();
  }
  return tau;
}

Eigen::Matrix2d closedFormInertia(const Eigen::Vector2d& q) {
  const PendulumPose pose = pendulumPose(q);
  Eigen::Matrix2d inertia = Eigen::Matrix2d::Zero();
  for (int k = 0; k < 3; ++k) {
    const Eigen::Matrix2d jacobian = pointJacobian(pose, pose.com[k], pose.last_joint[k]);
    Eigen::Vector2d turns = Eigen::Vector2d::Zero();
    turns.head(pose.last_joint[k] + 1).setOnes();
    inertia += kBodies[k].mass * jacobian.transpose() * jacobian + kBodies[k].iyy * turns * turns.transpose();
  }
  return inertia;
}

// C(q, v) v from the Christoffel symbols of the closed-form inertia (central differences).
Eigen::Vector2d closedFormCoriolis(const Eigen::Vector2d& q, const Eigen::Vector2d& v) {
  const double h = 1e-6;
  Eigen::Matrix2d dM[2];
  for (int k = 0; k < 2; ++k) {
    const Eigen::Vector2d step = Eigen::Vector2d::Unit(k) * h;
    dM[k] = (closedFormInertia(q + step) - closedFormInertia(q - step)) / (2.0 * h);
  }
  Eigen::Vector2d result = Eigen::Vector2d::Zero();
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      for (int k = 0; k < 2; ++k) {
        result[i] += (dM[k](i, j) - 0.5 * dM[i](j, k)) * v[j] * v[k];
      }
    }
  }
  return result;
}

Eigen::VectorXd randomVector(std::mt19937& rng, int size, double range) {
  std::uniform_real_distribution<double> uniform(-range, range);
  Eigen::VectorXd v(size);
  for (int k = 0; k < size; ++k) v[k] = uniform(rng);
  return v;
}

Eigen::Vector3d rotationVector(const Eigen::Matrix3d& rotation) {
  const Eigen::AngleAxisd angle_axis(rotation);
  return angle_axis.angle() * angle_axis.axis();
}

}  // namespace

TEST(DynamicsModel, PendulumFramesAreNumberedDepthFirstWithJointThenBody) {
  LoadedModel pendulum(spline_test::dynamicsFixture("pendulum.urdf"));
  const std::vector<std::pair<std::string, dyn::FrameType>> expected = {
      {"universe", dyn::kFixedJointFrame}, {"root_joint", dyn::kFixedJointFrame},
      {"base_link", dyn::kBodyFrame},      {"joint1", dyn::kJointFrame},
      {"link1", dyn::kBodyFrame},          {"joint2", dyn::kJointFrame},
      {"link2", dyn::kBodyFrame},          {"flange_joint", dyn::kFixedJointFrame},
      {"flange", dyn::kBodyFrame}};
  ASSERT_EQ(pendulum.model->nframes(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(pendulum.model->frames()[k].name, expected[k].first) << k;
    EXPECT_EQ(pendulum.model->frames()[k].type, expected[k].second) << k;
  }
  EXPECT_EQ(pendulum.model->nq(), 2);
  EXPECT_EQ(pendulum.model->nv(), 2);
  // The fixed flange hangs from joint2.
  EXPECT_EQ(pendulum.model->frames()[8].parent_joint, 2);
  const Eigen::VectorXd effort = pendulum.model->effortLimit();
  EXPECT_EQ(effort[0], std::numeric_limits<double>::infinity());
  EXPECT_EQ(effort[1], 30.0);
}

TEST(DynamicsModel, PendulumTorquesMatchClosedFormGravityInertiaAndCoriolis) {
  LoadedModel pendulum(spline_test::dynamicsFixture("pendulum.urdf"));
  std::mt19937 rng(11);
  const Eigen::VectorXd zero = Eigen::VectorXd::Zero(2);
  for (int trial = 0; trial < 50; ++trial) {
    const Eigen::VectorXd q = randomVector(rng, 2, M_PI);
    const Eigen::VectorXd v = randomVector(rng, 2, 3.0);
    const Eigen::Vector2d gravity = dyn::rnea(*pendulum.model, *pendulum.data, q, zero, zero);
    EXPECT_TRUE(gravity.isApprox(closedFormGravity(q), 1e-9)) << gravity.transpose();
    const Eigen::Matrix2d inertia = closedFormInertia(q);
    for (int i = 0; i < 2; ++i) {
      const Eigen::Vector2d column =
          dyn::rnea(*pendulum.model, *pendulum.data, q, zero, Eigen::VectorXd::Unit(2, i)) - gravity;
      EXPECT_TRUE(column.isApprox(inertia.col(i), 1e-9)) << column.transpose() << " vs " << inertia.col(i).transpose();
    }
    const Eigen::Vector2d coriolis = dyn::rnea(*pendulum.model, *pendulum.data, q, v, zero) - gravity;
    EXPECT_LT((coriolis - closedFormCoriolis(q, v)).norm(), 1e-6);
  }
}

TEST(DynamicsModel, InverseDynamicsMatchesKdlTreeSolver) {
  for (const std::string& path : {spline_test::armUrdfPath(), spline_test::dynamicsFixture("pendulum.urdf"),
                                  spline_test::dynamicsFixture("wrist_mount.urdf")}) {
    LoadedModel loaded(path);
    const int n = loaded.model->nq();
    KDL::TreeIdSolver_RNE kdl_solver(loaded.model->tree(), KDL::Vector(0.0, 0.0, -9.81));
    std::mt19937 rng(16);
    for (int trial = 0; trial < 20; ++trial) {
      // Copied into KDL's own buffers: moving ours in would hand them to KDL's allocator.
      const Eigen::VectorXd qs = randomVector(rng, n, M_PI), vs = randomVector(rng, n, 3.0),
                            as = randomVector(rng, n, 10.0);
      KDL::JntArray q(n), v(n), a(n), tau(n);
      q.data = qs;
      v.data = vs;
      a.data = as;
      ASSERT_GE(kdl_solver.CartToJnt(q, v, a, KDL::WrenchMap(), tau), 0);
      const Eigen::VectorXd ours = dyn::rnea(*loaded.model, *loaded.data, q.data, v.data, a.data);
      EXPECT_LT((ours - tau.data).norm(), 1e-9 * (1.0 + tau.data.norm())) << path;
    }
  }
}

TEST(DynamicsModel, PendulumFramePlacementsMatchClosedForm) {
  LoadedModel pendulum(spline_test::dynamicsFixture("pendulum.urdf"));
  std::mt19937 rng(12);
  for (int trial = 0; trial < 20; ++trial) {
    const Eigen::VectorXd q = randomVector(rng, 2, M_PI);
    dyn::forwardKinematics(*pendulum.model, *pendulum.data, q);
    const PendulumPose pose = pendulumPose(q);
    for (dyn::FrameIndex frame : {dyn::FrameIndex(7), dyn::FrameIndex(8)}) {
      const Eigen::Isometry3d placement = dyn::framePlacement(*pendulum.model, *pendulum.data, frame);
      EXPECT_TRUE(placement.translation().isApprox(Eigen::Vector3d(pose.flange_origin.x(), 0.0, pose.flange_origin.y()),
                                                   1e-12));
      EXPECT_TRUE(placement.linear().isApprox(
          Eigen::AngleAxisd(pose.flange_angle, Eigen::Vector3d::UnitY()).toRotationMatrix(), 1e-12));
    }
  }
}

TEST(DynamicsModel, ArmBodyFramesMatchKdlForwardKinematics) {
  LoadedModel arm(spline_test::armUrdfPath());
  ASSERT_EQ(arm.model->nq(), 6);
  ASSERT_EQ(arm.model->nframes(), 15u);
  KDL::TreeFkSolverPos_recursive kdl_fk(arm.model->tree());
  std::mt19937 rng(13);
  for (int trial = 0; trial < 20; ++trial) {
    const Eigen::VectorXd q = randomVector(rng, 6, M_PI);
    KDL::JntArray kdl_q(6);
    kdl_q.data = q;
    dyn::forwardKinematics(*arm.model, *arm.data, q);
    for (int link = 1; link <= 6; ++link) {
      const std::string name = "link" + std::to_string(link);
      KDL::Frame expected;
      ASSERT_GE(kdl_fk.JntToCart(kdl_q, expected, name), 0);
      for (dyn::FrameIndex frame :
           {arm.model->getFrameId(name), arm.model->getFrameId("joint" + std::to_string(link))}) {
        const Eigen::Isometry3d placement = dyn::framePlacement(*arm.model, *arm.data, frame);
        EXPECT_NEAR(placement.translation().x(), expected.p.x(), 1e-12);
        EXPECT_NEAR(placement.translation().y(), expected.p.y(), 1e-12);
        EXPECT_NEAR(placement.translation().z(), expected.p.z(), 1e-12);
        for (int r = 0; r < 3; ++r)
          for (int c = 0; c < 3; ++c) EXPECT_NEAR(placement.linear()(r, c), expected.M(r, c), 1e-12);
      }
    }
  }
}

TEST(DynamicsModel, FrameVelocitiesMatchFiniteDifferencesOfPlacements) {
  for (const std::string& path : {spline_test::armUrdfPath(), spline_test::dynamicsFixture("pendulum.urdf"),
                                  spline_test::dynamicsFixture("wrist_mount.urdf")}) {
    LoadedModel loaded(path);
    const dyn::Model& model = *loaded.model;
    dyn::Data& data = *loaded.data;
    std::mt19937 rng(14);
    const double h = 1e-6;
    for (int trial = 0; trial < 10; ++trial) {
      const Eigen::VectorXd q = randomVector(rng, model.nq(), M_PI);
      const Eigen::VectorXd v = randomVector(rng, model.nq(), 2.0);
      for (dyn::FrameIndex frame = 0; frame < model.nframes(); ++frame) {
        dyn::forwardKinematics(model, data, q + h * v);
        const Eigen::Isometry3d ahead = dyn::framePlacement(model, data, frame);
        dyn::forwardKinematics(model, data, q - h * v);
        const Eigen::Isometry3d behind = dyn::framePlacement(model, data, frame);
        dyn::forwardKinematics(model, data, q, v);
        const dyn::FrameVelocity velocity = dyn::frameVelocity(model, data, frame);
        const Eigen::Vector3d linear = (ahead.translation() - behind.translation()) / (2.0 * h);
        const Eigen::Vector3d angular = rotationVector(ahead.linear() * behind.linear().transpose()) / (2.0 * h);
        EXPECT_LT((velocity.linear - linear).norm(), 1e-6) << path << " frame " << frame;
        EXPECT_LT((velocity.angular - angular).norm(), 1e-6) << path << " frame " << frame;
      }
    }
  }
}

TEST(DynamicsModel, FrameLookupFollowsNamesAndMasks) {
  LoadedModel mount(spline_test::dynamicsFixture("wrist_mount.urdf"));
  const dyn::Model& model = *mount.model;
  EXPECT_EQ(model.getFrameId("link6"), 8u);
  EXPECT_EQ(model.frames()[8].parent_joint, 2);
  EXPECT_EQ(model.getFrameId("nothing"), model.nframes());
  EXPECT_FALSE(model.existFrame("nothing"));
  EXPECT_TRUE(model.existFrame("mount", dyn::kFixedJointFrame));
  EXPECT_FALSE(model.existFrame("mount", dyn::kBodyFrame));
  dyn::Frame twin;
  twin.name = "link6";
  twin.parent_joint = 2;
  twin.previous_frame = 8;
  mount.model->addFrame(twin);
  try {
    model.getFrameId("link6");
    FAIL() << "an ambiguous name must not resolve";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "Several frames match the filter - please specify the FrameType");
  }
  EXPECT_EQ(model.getFrameId("link6", dyn::kBodyFrame), 8u);
  EXPECT_EQ(model.getFrameId("link6", dyn::kOperationalFrame), 9u);
  twin.parent_joint = 3;
  EXPECT_THROW_MESSAGE(mount.model->addFrame(twin), std::invalid_argument,
                       "^frame \"link6\" refers to a joint or frame the model lacks$");
}

TEST(DynamicsModel, BadInputIsRejected) {
  EXPECT_THROW_MESSAGE(dyn::Model::fromUrdfFile(spline_test::dynamicsFixture("floating_base.urdf")), std::runtime_error,
                       "^joint \"free\" is floating or planar; "
                       "only fixed, revolute, continuous and prismatic joints are supported$");
  EXPECT_THROW_MESSAGE(dyn::Model::fromUrdfFile(spline_test::dynamicsFixture("missing.urdf")), std::runtime_error,
                       "^cannot read a URDF model from \".*missing\\.urdf\"$");
  LoadedModel arm(spline_test::armUrdfPath());
  LoadedModel other(spline_test::armUrdfPath());
  const Eigen::VectorXd six = Eigen::VectorXd::Zero(6);
  const Eigen::VectorXd five = Eigen::VectorXd::Zero(5);
  EXPECT_THROW_MESSAGE(dyn::rnea(*arm.model, *arm.data, five, six, six), std::invalid_argument,
                       "^the joint position vector has 5 entries, the model has 6 joints$");
  EXPECT_THROW_MESSAGE(dyn::rnea(*arm.model, *arm.data, six, six, five), std::invalid_argument,
                       "^the joint acceleration vector has 5 entries, the model has 6 joints$");
  EXPECT_THROW_MESSAGE(dyn::forwardKinematics(*arm.model, *arm.data, six, five), std::invalid_argument,
                       "^the joint velocity vector has 5 entries, the model has 6 joints$");
  EXPECT_THROW_MESSAGE(dyn::rnea(*arm.model, *other.data, six, six, six), std::invalid_argument,
                       "^dynamics data was made for another model$");
  EXPECT_THROW_MESSAGE(dyn::framePlacement(*arm.model, *arm.data, 0), std::logic_error,
                       "^frame placement asked before forward kinematics$");
  dyn::forwardKinematics(*arm.model, *arm.data, six);
  EXPECT_THROW_MESSAGE(dyn::frameVelocity(*arm.model, *arm.data, 0), std::logic_error,
                       "^frame velocity asked before forward kinematics with velocities$");
  EXPECT_THROW_MESSAGE(dyn::framePlacement(*arm.model, *arm.data, arm.model->nframes()), std::invalid_argument,
                       "^frame index ([0-9]+) is beyond the model's \\1 frames$");
}

TEST(DynamicsModel, RotationAngleIsExactAcrossTheRange) {
  std::mt19937 rng(15);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (double angle : {0.0, 1e-9, 1e-5, 0.3, 1.0, 2.5, M_PI - 1e-6, M_PI}) {
    const Eigen::Vector3d axis = Eigen::Vector3d(unit(rng), unit(rng), unit(rng)).normalized();
    const Eigen::Matrix3d rotation = Eigen::AngleAxisd(angle, axis).toRotationMatrix();
    EXPECT_NEAR(dyn::rotationAngle(rotation), angle, 1e-12 + 1e-9 * angle) << angle;
  }
}
