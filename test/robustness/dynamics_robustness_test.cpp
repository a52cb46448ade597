// Bad numbers at the rigid-body dynamics and the free rotation functions. The
// dynamics refuse wrong sizes, foreign data and unknown frames with
// std::invalid_argument and frames whose placement is not finite; joint values
// that are not finite come back as results that are not finite (the spline
// checks read those as violations), never as an abort or a hang.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "bad_numbers.h"
#include "bramlock_arm_planning_core/kinematics/rotation_functions.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "expect_throw_message.h"
#include "spline_test_helpers.h"
#include "test_support.h"

namespace {

using robustness::kInf;
using robustness::kNaN;
namespace dyn = bramlock::dynamics;

TEST(DynamicsRobustness, WrongSizesForeignDataAndUnknownFramesAreRefused) {
  spline_test::LoadedModel pendulum(spline_test::dynamicsFixture("pendulum.urdf"));
  spline_test::LoadedModel other(spline_test::dynamicsFixture("pendulum.urdf"));
  const dyn::Model& model = *pendulum.model;
  const Eigen::VectorXd ok = Eigen::VectorXd::Zero(2);
  for (Eigen::Index size : {0, 1, 3, 100}) {
    const Eigen::VectorXd wrong = Eigen::VectorXd::Zero(size);
    EXPECT_THROW_MESSAGE(dyn::forwardKinematics(model, *pendulum.data, wrong), std::invalid_argument,
                         "^the joint position vector has [0-9]+ entries, the model has 2 joints$")
        << size;
    EXPECT_THROW_MESSAGE(dyn::forwardKinematics(model, *pendulum.data, ok, wrong), std::invalid_argument,
                         "^the joint velocity vector has [0-9]+ entries, the model has 2 joints$")
        << size;
    EXPECT_THROW_MESSAGE(dyn::rnea(model, *pendulum.data, wrong, ok, ok), std::invalid_argument,
                         "^the joint position vector has [0-9]+ entries, the model has 2 joints$")
        << size;
    EXPECT_THROW_MESSAGE(dyn::rnea(model, *pendulum.data, ok, wrong, ok), std::invalid_argument,
                         "^the joint velocity vector has [0-9]+ entries, the model has 2 joints$")
        << size;
    EXPECT_THROW_MESSAGE(dyn::rnea(model, *pendulum.data, ok, ok, wrong), std::invalid_argument,
                         "^the joint acceleration vector has [0-9]+ entries, the model has 2 joints$")
        << size;
  }
  EXPECT_THROW_MESSAGE(dyn::Data(nullptr), std::invalid_argument,
                       "^dynamics data needs a model$");  // once a null dereference
  EXPECT_THROW_MESSAGE(dyn::forwardKinematics(model, *other.data, ok), std::invalid_argument,
                       "^dynamics data was made for another model$");
  EXPECT_THROW_MESSAGE(dyn::rnea(model, *other.data, ok, ok, ok), std::invalid_argument,
                       "^dynamics data was made for another model$");
  dyn::forwardKinematics(model, *pendulum.data, ok, ok);
  for (dyn::FrameIndex frame : {model.nframes(), model.nframes() + 1, static_cast<dyn::FrameIndex>(-1)}) {
    EXPECT_THROW_MESSAGE(dyn::framePlacement(model, *pendulum.data, frame), std::invalid_argument,
                         "^frame index [0-9]+ is beyond the model's 9 frames$")
        << frame;
    EXPECT_THROW_MESSAGE(dyn::frameVelocity(model, *pendulum.data, frame), std::invalid_argument,
                         "^frame index [0-9]+ is beyond the model's 9 frames$")
        << frame;
  }
  for (long long index : {-1LL, static_cast<long long>(model.nframes()), 1LL << 62}) {
    EXPECT_FALSE(model.isFrameIndex(index)) << index;
  }
}

TEST(DynamicsRobustness, FramesReferringToMissingJointsOrWithoutFinitePlacementsAreRefused) {
  spline_test::LoadedModel pendulum(spline_test::dynamicsFixture("pendulum.urdf"));
  dyn::Model& model = *pendulum.model;
  const std::size_t frames = model.nframes();
  dyn::Frame frame;
  frame.name = "tool";
  for (dyn::JointIndex joint : {-1, 3, 1 << 30}) {
    frame.parent_joint = joint;
    EXPECT_THROW_MESSAGE(model.addFrame(frame), std::invalid_argument,
                         "^frame \"tool\" refers to a joint or frame the model lacks$")
        << joint;
  }
  frame.parent_joint = 2;
  frame.previous_frame = frames;
  EXPECT_THROW_MESSAGE(model.addFrame(frame), std::invalid_argument,
                       "^frame \"tool\" refers to a joint or frame the model lacks$");
  frame.previous_frame = 0;
  for (double bad : robustness::nonFiniteNumbers()) {
    for (int entry = 0; entry < 6; ++entry) {
      dyn::Frame bad_frame = frame;
      if (entry < 3) {
        bad_frame.placement.p(entry) = bad;
      } else {
        bad_frame.placement.M(entry - 3, entry - 3) = bad;
      }
      EXPECT_THROW_MESSAGE(model.addFrame(bad_frame), std::invalid_argument,
                           "^frame \"tool\" has a placement that is not finite$")
          << robustness::caseName("placement", entry, bad);
    }
  }
  EXPECT_EQ(model.nframes(), frames);
  EXPECT_EQ(model.addFrame(frame), frames);
}

TEST(DynamicsRobustness, JointValuesThatAreNotFiniteGiveResultsThatAreNotFinite) {
  spline_test::LoadedModel arm(spline_test::armUrdfPath());
  const dyn::Model& model = *arm.model;
  const Eigen::VectorXd q = Eigen::VectorXd::Constant(model.nq(), 0.2);
  const Eigen::VectorXd v = Eigen::VectorXd::Constant(model.nq(), 0.1);
  const dyn::FrameIndex last = model.nframes() - 1;
  ASSERT_TRUE(dyn::rnea(model, *arm.data, q, v, v).allFinite());
  for (Eigen::Index i = 0; i < model.nq(); ++i) {
    for (double bad : robustness::nonFiniteNumbers()) {
      Eigen::VectorXd bad_q = q;
      bad_q[i] = bad;
      EXPECT_FALSE(dyn::rnea(model, *arm.data, bad_q, v, v).allFinite()) << robustness::caseName("q", i, bad);
      Eigen::VectorXd bad_a = v;
      bad_a[i] = bad;
      EXPECT_FALSE(dyn::rnea(model, *arm.data, q, v, bad_a).allFinite()) << robustness::caseName("a", i, bad);
      dyn::forwardKinematics(model, *arm.data, bad_q, v);
      EXPECT_FALSE(dyn::framePlacement(model, *arm.data, last).matrix().allFinite())
          << robustness::caseName("q", i, bad);
      EXPECT_FALSE(dyn::frameVelocity(model, *arm.data, last).linear.allFinite()) << robustness::caseName("q", i, bad);
    }
  }
  // Huge angles are still angles: sines and cosines of 1e300 are finite.
  const Eigen::VectorXd huge = Eigen::VectorXd::Constant(model.nq(), 1e300);
  dyn::forwardKinematics(model, *arm.data, huge);
  EXPECT_TRUE(dyn::framePlacement(model, *arm.data, last).matrix().allFinite());
  EXPECT_TRUE(dyn::rnea(model, *arm.data, huge, v, v).allFinite());
}

// A description whose numbers are not finite either fails to load or gives a
// model whose torques at rest are finite numbers.
TEST(DynamicsRobustness, DescriptionsWithNumbersThatAreNotFiniteAreRefused) {
  const std::string pendulum = [] {
    std::ifstream file(spline_test::dynamicsFixture("pendulum.urdf"));
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }();
  const std::vector<std::string> fields = {"xyz=\"0 0 1.0\"", "value=\"2.0\"", "iyy=\"0.05\"", "effort=\"30\"",
                                           "axis xyz=\"0 1 0\""};
  bramlock_test::TempDir dir;
  int refused = 0;
  for (const std::string& field : fields) {
    for (const std::string bad : {"nan", "inf", "-inf", "1e999"}) {
      std::string text = pendulum;
      const std::size_t at = text.find(field);
      ASSERT_NE(at, std::string::npos) << field;
      const std::size_t quote = text.find('"', at);
      text.replace(quote + 1, text.find('"', quote + 1) - quote - 1,
                   field.rfind("xyz", 5) != std::string::npos ? bad + " 0 0" : bad);
      const std::string path = (dir.path() / "bad.urdf").string();
      bramlock_test::writeFile(path, text);
      bramlock_test::OutputCapture quiet;
      try {
        spline_test::LoadedModel model(path);
        const Eigen::VectorXd zero = Eigen::VectorXd::Zero(model.model->nq());
        EXPECT_TRUE(dyn::rnea(*model.model, *model.data, zero, zero, zero).allFinite()) << field << " " << bad;
        EXPECT_FALSE(model.model->effortLimit().hasNaN()) << field << " " << bad;
      } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "cannot read a URDF model from \"" + path + "\"") << field << " " << bad;
        ++refused;
      }
    }
  }
  EXPECT_GT(refused, 0);  // the reader refuses at least the values it cannot parse
}

TEST(DynamicsRobustness, EffortLimitsOfTheDescriptionAreKeptAsGiven) {
  spline_test::LoadedModel pendulum(spline_test::dynamicsFixture("pendulum.urdf"));
  const Eigen::VectorXd limits = pendulum.model->effortLimit();
  ASSERT_EQ(limits.size(), 2);
  EXPECT_EQ(limits[0], kInf);  // no limit element: unlimited, never NaN
  EXPECT_EQ(limits[1], 30.0);
}

TEST(DynamicsRobustness, RotationAnglesOfMatricesThatAreNotFiniteAreNotNumbers) {
  EXPECT_EQ(dyn::rotationAngle(Eigen::Matrix3d::Identity()), 0.0);
  for (double bad : robustness::nonFiniteNumbers()) {
    for (int entry = 0; entry < 9; ++entry) {
      Eigen::Matrix3d m = Eigen::Matrix3d::Identity();
      m(entry / 3, entry % 3) = bad;
      const double angle = dyn::rotationAngle(m);
      EXPECT_TRUE(std::isnan(angle) || (angle >= 0.0 && angle <= M_PI)) << robustness::caseName("matrix", entry, bad);
    }
  }
  // Not a rotation, but finite: still an angle in [0, pi].
  for (const Eigen::Matrix3d& m : {Eigen::Matrix3d::Zero().eval(), Eigen::Matrix3d::Constant(1e300).eval(),
                                   (-2.0 * Eigen::Matrix3d::Identity()).eval()}) {
    const double angle = dyn::rotationAngle(m);
    EXPECT_TRUE(angle >= 0.0 && angle <= M_PI) << m;
  }
}

// Every free rotation function is a pure conversion without a failure channel:
// a bad number in gives a result that is not finite (the pseudo-inverse once
// dropped it as a zero singular value), never an abort or a hang.
TEST(RotationFunctionsRobustness, NumbersThatAreNotFinitePassThrough) {
  for (double bad : robustness::nonFiniteNumbers()) {
    const Eigen::Vector3d v(0.1, bad, 0.2);
    Eigen::Matrix3d m = Eigen::Matrix3d::Identity();
    m(1, 2) = bad;
    const Eigen::Quaterniond q(1.0, 0.0, bad, 0.0);
    const std::string name = std::to_string(bad);
    EXPECT_FALSE(QuaternionToRotationMatrix(q).allFinite()) << name;
    EXPECT_FALSE(RotationMatrixToQuaternion(m).coeffs().allFinite()) << name;
    EXPECT_FALSE(QuaternionToEulerAngles(q).allFinite()) << name;
    EXPECT_FALSE(EulerAnglesToQuaternion(v).coeffs().allFinite()) << name;
    // atan2 turns an infinite entry into a limit angle; only NaN must show.
    EXPECT_EQ(RotationMatrixToEulerAngles(m).allFinite(), !std::isnan(bad)) << name;
    EXPECT_FALSE(EulerAnglesToRotationMatrix(v).allFinite()) << name;
    EXPECT_FALSE(computeHomogeneousMatrix(v, Eigen::Vector3d::Zero()).allFinite()) << name;
    EXPECT_FALSE(computeHomogeneousMatrix(Eigen::Vector3d::Zero(), v).allFinite()) << name;
    EXPECT_FALSE(RotationMatrixToSE3Matrix(m, Eigen::Vector3d::Zero()).allFinite()) << name;
    Eigen::MatrixXd a = Eigen::MatrixXd::Identity(3, 6);
    a(1, 4) = bad;
    EXPECT_FALSE(pseudoInverse(a).allFinite()) << name;
  }
}

TEST(RotationFunctionsRobustness, HugeAndDegenerateInputsStayFinite) {
  const Eigen::Vector3d huge = Eigen::Vector3d::Constant(1e300);
  EXPECT_TRUE(EulerAnglesToRotationMatrix(huge).allFinite());
  EXPECT_TRUE(EulerAnglesToQuaternion(huge).coeffs().allFinite());
  EXPECT_TRUE(QuaternionToRotationMatrix(Eigen::Quaterniond(1e300, 1e300, 0.0, 0.0)).allFinite());
  EXPECT_TRUE(QuaternionToRotationMatrix(Eigen::Quaterniond(0.0, 0.0, 0.0, 0.0)).isIdentity());
  EXPECT_TRUE(computeHomogeneousMatrix(Eigen::Vector3d::Zero(), Eigen::Vector3d::Zero()).isIdentity());
  EXPECT_TRUE(RotationMatrixToEulerAngles(Eigen::Matrix3d::Zero()).allFinite());
  EXPECT_TRUE(pseudoInverse(Eigen::MatrixXd::Zero(3, 6)).isZero());
  // Empty matrices once aborted inside the decomposition.
  for (Eigen::Index cols : {0, 3}) {
    const Eigen::MatrixXd empty = pseudoInverse(Eigen::MatrixXd(0, cols));
    EXPECT_EQ(empty.rows(), cols);
    EXPECT_EQ(empty.cols(), 0);
  }
}

}  // namespace
