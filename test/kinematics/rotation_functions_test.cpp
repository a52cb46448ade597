#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "bramlock_arm_planning_core/kinematics/rotation_functions.h"

namespace {

Eigen::Matrix3d randomRotation(std::mt19937& rng) {
  std::normal_distribution<double> normal;
  return Eigen::Quaterniond(normal(rng), normal(rng), normal(rng), normal(rng)).normalized().toRotationMatrix();
}

Eigen::Matrix3d rotX(double angle) { return Eigen::AngleAxisd(angle, Eigen::Vector3d::UnitX()).toRotationMatrix(); }
Eigen::Matrix3d rotY(double angle) { return Eigen::AngleAxisd(angle, Eigen::Vector3d::UnitY()).toRotationMatrix(); }
Eigen::Matrix3d rotZ(double angle) { return Eigen::AngleAxisd(angle, Eigen::Vector3d::UnitZ()).toRotationMatrix(); }

double difference(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) { return (a - b).cwiseAbs().maxCoeff(); }

}  // namespace

TEST(RotationFunctions, RandomRotationsSurviveEveryRoundTrip) {
  std::mt19937 rng(301);
  for (int i = 0; i < 1000; ++i) {
    const Eigen::Matrix3d R = randomRotation(rng);
    EXPECT_LT(difference(QuaternionToRotationMatrix(RotationMatrixToQuaternion(R)), R), 1e-12);
    const Eigen::Vector3d e = RotationMatrixToEulerAngles(R);
    EXPECT_GE(e[0], 0.0);
    EXPECT_LE(e[0], M_PI);
    EXPECT_LE(e.tail<2>().cwiseAbs().maxCoeff(), M_PI);
    EXPECT_LT(difference(rotX(e[0]) * rotY(e[1]) * rotZ(e[2]), R), 1e-12);
    EXPECT_LT(difference(EulerAnglesToRotationMatrix(e), R), 1e-12);
    EXPECT_LT(difference(QuaternionToEulerAngles(Eigen::Quaterniond(R)), e), 1e-12);
    // Scaling a quaternion changes nothing after normalisation.
    Eigen::Quaterniond scaled(R);
    scaled.coeffs() *= 3.5;
    EXPECT_LT(difference(QuaternionToRotationMatrix(scaled), R), 1e-12);
  }
}

TEST(RotationFunctions, EulerAnglesOfElementaryRotations) {
  EXPECT_LT(difference(RotationMatrixToEulerAngles(Eigen::Matrix3d::Identity()), Eigen::Vector3d::Zero()), 1e-15);
  EXPECT_LT(difference(RotationMatrixToEulerAngles(rotZ(0.3)), Eigen::Vector3d(0, 0, 0.3)), 1e-15);
  // A negative X angle comes back shifted by pi, never negative.
  const Eigen::Vector3d e = RotationMatrixToEulerAngles(rotX(-0.5));
  EXPECT_NEAR(e[0], M_PI - 0.5, 1e-15);
  EXPECT_NEAR(std::fabs(e[1]), M_PI, 1e-15);
  EXPECT_NEAR(std::fabs(e[2]), M_PI, 1e-15);
  EXPECT_LT(difference(EulerAnglesToRotationMatrix(e), rotX(-0.5)), 1e-15);
  const Eigen::Quaterniond q = EulerAnglesToQuaternion(Eigen::Vector3d(0.2, -0.4, 1.1));
  EXPECT_LT(difference(q.toRotationMatrix(), rotX(0.2) * rotY(-0.4) * rotZ(1.1)), 1e-15);
}

TEST(RotationFunctions, QuaternionEdgeCases) {
  EXPECT_EQ(QuaternionToRotationMatrix(Eigen::Quaterniond(2, 0, 0, 0)), Eigen::Matrix3d::Identity());
  EXPECT_EQ(QuaternionToRotationMatrix(Eigen::Quaterniond(0, 0, 0, 0)), Eigen::Matrix3d::Identity());
  const Eigen::Quaterniond identity = RotationMatrixToQuaternion(Eigen::Matrix3d::Identity());
  EXPECT_EQ(identity.coeffs(), Eigen::Vector4d(0, 0, 0, 1));
  // Half turns take the branch without a positive trace.
  for (const Eigen::Matrix3d& R : {rotX(M_PI), rotY(M_PI), rotZ(M_PI)}) {
    EXPECT_LT(difference(QuaternionToRotationMatrix(RotationMatrixToQuaternion(R)), R), 1e-15);
  }
}

TEST(RotationFunctions, PosesFromBlocksAndRotationVectors) {
  const Eigen::Matrix3d R = rotY(0.7);
  const Eigen::Vector3d p(1, 2, 3);
  const Eigen::Matrix4d T = RotationMatrixToSE3Matrix(R, p);
  EXPECT_EQ(SE3MatrixToRotationMatrix(T), R);
  EXPECT_EQ(SE3MatrixToplacechange(T), p);
  EXPECT_EQ(T.row(3), Eigen::RowVector4d(0, 0, 0, 1));
  const Eigen::Matrix4d turned = computeHomogeneousMatrix(Eigen::Vector3d(0, 0, M_PI_2), p);
  EXPECT_LT(difference(turned.topLeftCorner<3, 3>(), rotZ(M_PI_2)), 1e-15);
  EXPECT_EQ(turned.col(3), Eigen::Vector4d(1, 2, 3, 1));
  const Eigen::Matrix3d unrotated = computeHomogeneousMatrix(Eigen::Vector3d::Zero(), p).topLeftCorner<3, 3>();
  EXPECT_EQ(unrotated, Eigen::Matrix3d::Identity());
}

TEST(RotationFunctions, PseudoInverseDropsTinySingularValues) {
  const Eigen::MatrixXd nearly_singular = Eigen::Vector2d(2, 1e-7).asDiagonal();
  EXPECT_LT(difference(pseudoInverse(nearly_singular), Eigen::MatrixXd(Eigen::Vector2d(0.5, 0).asDiagonal())), 1e-15);
  std::mt19937 rng(302);
  std::normal_distribution<double> normal;
  const Eigen::MatrixXd A = Eigen::MatrixXd::NullaryExpr(2, 3, [&] { return normal(rng); });
  const Eigen::MatrixXd pinv = pseudoInverse(A);
  ASSERT_EQ(pinv.rows(), 3);
  ASSERT_EQ(pinv.cols(), 2);
  // The Moore-Penrose conditions.
  EXPECT_LT(difference(A * pinv * A, A), 1e-12);
  EXPECT_LT(difference(pinv * A * pinv, pinv), 1e-12);
  EXPECT_LT(difference((A * pinv).transpose(), A * pinv), 1e-12);
  EXPECT_LT(difference((pinv * A).transpose(), pinv * A), 1e-12);
}
