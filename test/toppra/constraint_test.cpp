#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

#include "bramlock_arm_planning_core/toppra/constraint/cartesian_velocity_norm.h"
#include "bramlock_arm_planning_core/toppra/constraint/joint_torque.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_acceleration.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_velocity.h"
#include "toppra_test_helpers.h"

namespace {

using toppra::Bound;
using toppra::Bounds;
using toppra::LinearConstraint;
using toppra::Matrices;
using toppra::Matrix;
using toppra::Vector;
using toppra::Vectors;

using toppra_test::messageOf;

std::string printed(const LinearConstraint& constraint) {
  std::ostringstream os;
  constraint.print(os);
  return os.str();
}

struct Params {
  Vectors a, b, c, g;
  Matrices F;
  Bounds u, x;

  void compute(LinearConstraint& constraint, const toppra::GeometricPath& path, const Vector& grid) {
    constraint.computeParams(path, grid, a, b, c, F, g, u, x);
  }
  // The rows F_i (a_i u + b_i x + c_i) - g_i, which must be <= 0.
  Vector rows(std::size_t i, double u, double xv) const {
    const std::size_t j = F.size() == 1 ? 0 : i;
    return F[j] * (a[i] * u + b[i] * xv + c[i]) - g[j];
  }
};

// A constraint of one row over two values whose parameters are distinct
// functions of s, with bounds on u and x.
class StubConstraint : public LinearConstraint {
 public:
  explicit StubConstraint(bool constantF) : LinearConstraint(1, 2, constantF, true, true) {}

 protected:
  void computeParams_impl(const toppra::GeometricPath&, const Vector& grid, Vectors& a, Vectors& b, Vectors& c,
                          Matrices& F, Vectors& g, Bounds& ubound, Bounds& xbound) override {
    for (Eigen::Index i = 0; i < grid.size(); ++i) {
      const double s = grid[i];
      a[i] << s, 2 - s;
      b[i] << 10 * s, 1 + s * s;
      c[i] << 100 + s, -3 * s;
      ubound[i] << -s, s;
      xbound[i] << 0, 1 + s;
      if (!m_constantF || i == 0) {
        const Eigen::Index j = m_constantF ? 0 : i;
        F[j] << 1 + s, -2 + s;
        g[j] << 7 - s;
      }
    }
  }
};

const Vector kGrid = (Vector(4) << 0.0, 0.25, 0.75, 1.0).finished();

TEST(LinearConstraint, CollocationParametersArePointwise) {
  const auto line = toppra_test::straightLine(Vector::Ones(2));
  for (bool constantF : {false, true}) {
    StubConstraint stub(constantF);
    Params p;
    p.compute(stub, line, kGrid);
    ASSERT_EQ(p.a.size(), 4u);
    EXPECT_EQ(p.F.size(), constantF ? 1u : 4u);
    EXPECT_EQ(p.g.size(), p.F.size());
    EXPECT_NO_THROW(toppra::checkConstraintParamSizes(4, 1, 2, constantF, p.a, p.b, p.c, p.F, p.g));
    EXPECT_EQ(p.b[2], (Vector(2) << 7.5, 1.5625).finished());
    EXPECT_EQ(p.u[3], Bound(-1, 1));
    EXPECT_EQ(p.x[1], Bound(0, 1.25));
  }
}

TEST(LinearConstraint, InterpolationCouplesEachPointWithTheNext) {
  const auto line = toppra_test::straightLine(Vector::Ones(2));
  std::mt19937 engine(5);
  std::uniform_real_distribution<double> value(-3.0, 3.0);
  for (bool constantF : {false, true}) {
    for (const Vector& grid : {kGrid, (Vector(2) << 0.0, 1.0).finished()}) {
      StubConstraint stub(constantF);
      Params pointwise, staged;
      pointwise.compute(stub, line, grid);
      stub.discretizationType(toppra::Interpolation);
      staged.compute(stub, line, grid);
      const std::size_t n = grid.size();
      ASSERT_NO_THROW(
          toppra::checkConstraintParamSizes(n, 2, 4, constantF, staged.a, staged.b, staged.c, staged.F, staged.g));
      EXPECT_EQ(staged.u, pointwise.u);  // bounds are never converted
      EXPECT_EQ(staged.x, pointwise.x);
      for (std::size_t i = 0; i < n; ++i) {
        const double u = value(engine), x = value(engine);
        Vector expected(2);
        if (i + 1 < n) {
          const double delta = grid[i + 1] - grid[i];
          expected << pointwise.rows(i, u, x), pointwise.rows(i + 1, u, x + 2 * delta * u);
        } else {
          expected << pointwise.rows(i, u, x), pointwise.rows(i, u, x);
        }
        EXPECT_LT((staged.rows(i, u, x) - expected).norm(), 1e-12) << "point " << i;
      }
    }
  }
}

TEST(LinearConstraint, ContainersFromAnEarlierCallAreResized) {
  const auto line = toppra_test::straightLine(Vector::Ones(2));
  StubConstraint stub(false);
  Params p;
  p.compute(stub, line, Vector::LinSpaced(9, 0.0, 1.0));
  p.compute(stub, line, kGrid);
  EXPECT_NO_THROW(toppra::checkConstraintParamSizes(4, 1, 2, false, p.a, p.b, p.c, p.F, p.g));
  EXPECT_EQ(p.u.size(), 4u);
  EXPECT_EQ(p.a[1], (Vector(2) << 0.25, 1.75).finished());
}

TEST(LinearConstraint, PrintTexts) {
  toppra::constraint::LinearJointVelocity velocity(-Vector::Ones(2), Vector::Ones(2));
  EXPECT_EQ(printed(velocity),
            "LinearJointVelocity\n    Discretization Scheme: 0\n    Has bounds on x, \n"
            "    Lower velocity limit: -1 -1\n    Upper velocity limit: 1 1\n");
  toppra::constraint::LinearJointAcceleration acceleration((Vector(2) << -1, -2.5).finished(),
                                                           (Vector(2) << 1, 20).finished());
  acceleration.discretizationType(toppra::Interpolation);
  EXPECT_EQ(printed(acceleration),
            "LinearJointAcceleration\n    Discretization Scheme: 1\n    Has linear inequalities, \n"
            "    Lower acceleration limit:   -1 -2.5\n    Upper acceleration limit:  1 20\n");
  StubConstraint stub(true);
  EXPECT_EQ(printed(stub), "    Discretization Scheme: 0\n    Has linear inequalities, bounds on u, bounds on x, \n");
}

TEST(LinearConstraint, ParameterSizeTexts) {
  const std::size_t n = 2;
  const Vectors good(n, Vector::Zero(2)), shortList(1, Vector::Zero(2));
  Vectors badValue = good;
  badValue[1] = Vector::Zero(3);
  const Matrices oneF(1, Matrix::Zero(1, 2)), twoF(2, Matrix::Zero(1, 2));
  Matrices badF = twoF;
  badF[1] = Matrix::Zero(2, 2);
  const Vectors oneG(1, Vector::Zero(1)), twoG(2, Vector::Zero(1));
  Vectors badG = twoG;
  badG[1] = Vector::Zero(2);
  auto check = [&](bool constantF, const Vectors& a, const Vectors& b, const Vectors& c, const Matrices& F,
                   const Vectors& g) {
    return messageOf([&] { toppra::checkConstraintParamSizes(n, 1, 2, constantF, a, b, c, F, g); });
  };
  EXPECT_EQ(check(false, shortList, good, good, twoF, twoG), "Wrong number of a vectors");
  EXPECT_EQ(check(false, good, shortList, good, twoF, twoG), "Wrong number of b vectors");
  EXPECT_EQ(check(false, good, good, shortList, twoF, twoG), "Wrong number of c vectors");
  EXPECT_EQ(check(false, good, good, good, twoF, oneG), "Wrong number of g matrices");
  EXPECT_EQ(check(false, badValue, good, good, twoF, twoG), "Wrong a[i] vector size.");
  EXPECT_EQ(check(false, good, badValue, good, twoF, twoG), "Wrong b[i] vector size.");
  EXPECT_EQ(check(false, good, good, badValue, twoF, twoG), "Wrong c[i] vector size.");
  EXPECT_EQ(check(false, good, good, good, badF, twoG), "Wrong F[i] matrix dimensions.");
  EXPECT_EQ(check(false, good, good, good, oneF, twoG), "Wrong F[i] matrix dimensions.");
  EXPECT_EQ(check(false, good, good, good, twoF, badG), "Wrong g[i] vector size.");
  EXPECT_EQ(check(false, good, good, good, twoF, twoG), "<no exception>");
  EXPECT_EQ(check(true, good, good, good, twoF, oneG), "Expected only one F matrix");
  EXPECT_EQ(check(true, good, good, good, oneF, twoG), "Expected only one g matrix");
  EXPECT_EQ(check(true, good, badValue, good, oneF, oneG), "Wrong b[i] vector size.");
  EXPECT_EQ(check(true, good, good, good, Matrices(1, Matrix::Zero(2, 2)), oneG), "Wrong F[0] matrix dimensions.");
  EXPECT_EQ(check(true, good, good, good, oneF, Vectors(1, Vector::Zero(2))), "Wrong g[0] vector size.");
  EXPECT_EQ(check(true, good, good, good, oneF, oneG), "<no exception>");
}

// The x bound of a velocity constraint at s = 0 of the straight line q = direction * s.
Bound velocityBound(const Vector& direction, const Vector& lower, const Vector& upper,
                    double maxPathSpeed = std::numeric_limits<double>::infinity()) {
  toppra::constraint::LinearJointVelocity constraint(lower, upper, maxPathSpeed);
  Params p;
  p.compute(constraint, toppra_test::straightLine(direction), Vector::Zero(1));
  EXPECT_TRUE(p.a.empty());
  return p.x[0];
}

using toppra_test::vec;

TEST(LinearJointVelocity, BoundsOnTheSquaredPathSpeed) {
  // Opposite signs: joint 0 moves forward at 2, joint 1 backward at 0.5.
  EXPECT_EQ(velocityBound(vec({2, -0.5}), vec({-1, -4}), vec({3, 1})), Bound(0, 2.25));
  EXPECT_EQ(velocityBound(vec({2, -0.5}), vec({-1, -0.25}), vec({3, 1})), Bound(0, 0.25));
  // At rest the path speed cap alone remains; by default there is none.
  EXPECT_EQ(velocityBound(vec({0, 0}), vec({-1, 0}), vec({0, 1}), 3.0), Bound(0, 9));
  EXPECT_EQ(velocityBound(vec({0}), vec({-1}), vec({1})), Bound(0, std::numeric_limits<double>::infinity()));
  // A joint that must move forward gives a positive lower bound.
  EXPECT_EQ(velocityBound(vec({2}), vec({1}), vec({4})), Bound(0.25, 4));
  // Incompatible joints: stored as squares, an empty interval.
  EXPECT_EQ(velocityBound(vec({1, 1}), vec({2, -1}), vec({3, 1})), Bound(4, 1));
  // Limits that only allow moving backwards: no admissible speed.
  EXPECT_EQ(velocityBound(vec({1}), vec({-3}), vec({-1})), Bound(0, -1));
  EXPECT_EQ(velocityBound(vec({1, 1}), vec({1, -5}), vec({2, -3})), Bound(0, -1));
  EXPECT_EQ(messageOf([] { velocityBound(vec({1, 0}), vec({-1, 0.5}), vec({1, 1})); }), "BoxConstraint is infeasible");
  EXPECT_EQ(messageOf([] { velocityBound(vec({0}), vec({-2}), vec({-1})); }), "BoxConstraint is infeasible");
}

TEST(LinearJointVelocity, UsesThePerPointLimitHook) {
  // Limits that grow with s: |dq/dt| <= 1 + s.
  class Growing : public toppra::constraint::LinearJointVelocity {
   public:
    Growing() : LinearJointVelocity(-Vector::Ones(1), Vector::Ones(1)) {}
    void computeVelocityLimits(double s) override {
      m_lower.setConstant(-1 - s);
      m_upper.setConstant(1 + s);
    }
  } growing;
  Params p;
  p.compute(growing, toppra_test::straightLine(Vector::Ones(1)), kGrid);
  for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(p.x[i][1], (1 + kGrid[i]) * (1 + kGrid[i]));
}

TEST(LinearJointLimits, CheckTexts) {
  using toppra::constraint::LinearJointAcceleration;
  using toppra::constraint::LinearJointVelocity;
  EXPECT_EQ(messageOf([] { LinearJointVelocity(vec({-1}), vec({1, 1})); }), "Velocity limits size must match.");
  EXPECT_EQ(messageOf([] { LinearJointVelocity(vec({-1, 2}), vec({1, 1})); }), "Bad velocity limits.");
  EXPECT_EQ(messageOf([] { LinearJointAcceleration(vec({-1}), vec({1, 1})); }), "Acceleration limits size must match.");
  EXPECT_EQ(messageOf([] { LinearJointAcceleration(vec({-1, 2}), vec({1, 1})); }), "Bad acceleration limits.");
  EXPECT_EQ(messageOf([] { LinearJointVelocity(vec({1}), vec({1})); }), "<no exception>");
  EXPECT_EQ(messageOf([] { LinearJointAcceleration(vec({1}), vec({1})); }), "<no exception>");
}

TEST(LinearJointAcceleration, PathOfTheWrongDimension) {
  toppra::constraint::LinearJointAcceleration constraint(-Vector::Ones(2), Vector::Ones(2));
  const auto line = toppra_test::straightLine(Vector::Ones(3));
  Params p;
  EXPECT_EQ(messageOf([&] { p.compute(constraint, line, kGrid); }),
            "LinearJointAcceleration has limits for 2 joints, the path has 3.");
}

// Inverse dynamics of unit masses under a constant load: tau = a + load.
class UnitMassTorque : public toppra::constraint::JointTorque {
 public:
  UnitMassTorque(const Vector& lower, const Vector& upper, const Vector& load, const Vector& friction = Vector())
      : JointTorque(lower, upper, friction), m_load(load) {}
  void computeJointTorques(const Vector&, const Vector&, const Vector& a, Vector& tau) override { tau = a + m_load; }

 private:
  Vector m_load;
};

TEST(JointTorque, UnitMassesGiveTheAccelerationConstraint) {
  const auto path = toppra_test::randomSpline(2, 4, 3);
  const Vector grid = Vector::LinSpaced(7, 0.0, 1.0);
  const Vector lower = vec({-2, -3}), upper = vec({2.5, 3});
  UnitMassTorque torque(lower, upper, Vector::Zero(2));
  toppra::constraint::LinearJointAcceleration acceleration(lower, upper);
  for (auto scheme : {toppra::Collocation, toppra::Interpolation}) {
    torque.discretizationType(scheme);
    acceleration.discretizationType(scheme);
    Params byTorque, byAcceleration;
    byTorque.compute(torque, path, grid);
    byAcceleration.compute(acceleration, path, grid);
    EXPECT_EQ(byTorque.F, byAcceleration.F);
    EXPECT_EQ(byTorque.g, byAcceleration.g);
    for (int i = 0; i < 7; ++i) {
      EXPECT_LT((byTorque.a[i] - byAcceleration.a[i]).norm(), 1e-12);
      EXPECT_LT((byTorque.b[i] - byAcceleration.b[i]).norm(), 1e-12);
      EXPECT_LT(byTorque.c[i].norm(), 1e-12);
    }
  }
  EXPECT_EQ(printed(torque),
            "JointTorque\n    Discretization Scheme: 1\n    Has linear inequalities, \n"
            "    Lower torque limit: -2 -3\n    Upper torque limit: 2.5   3\n");
}

TEST(JointTorque, LoadAndFrictionGoIntoTheConstantTerm) {
  // Joint 0 moves forward, joint 1 backward, joint 2 is at rest.
  const auto line = toppra_test::straightLine(vec({1, -2, 0}));
  UnitMassTorque torque(-Vector::Constant(3, 9), Vector::Constant(3, 9), vec({0.5, -1, 2}), vec({0.25, 0.5, 4}));
  Params p;
  p.compute(torque, line, kGrid);
  EXPECT_EQ(p.c[2], vec({0.75, -1.5, 2}));
  EXPECT_EQ(p.a[2], vec({1, -2, 0}));
  EXPECT_EQ(p.b[2], vec({0, 0, 0}));
}

TEST(JointTorque, CheckTexts) {
  const Vector one = Vector::Ones(1), two = Vector::Ones(2);
  EXPECT_EQ(messageOf([&] { UnitMassTorque(-one, two, two); }), "Torque limits size must match.");
  EXPECT_EQ(messageOf([&] { UnitMassTorque(-two, two, two, one); }),
            "Torque limits size and friction vector size must match.");
  EXPECT_EQ(messageOf([&] { UnitMassTorque(vec({-1, 3}), two, two); }), "Bad torque limits.");
  EXPECT_EQ(messageOf([&] { UnitMassTorque(two, two, two); }), "<no exception>");
}

// The Cartesian velocity of the first joint alone: v = (qs_0, 0, ..., 0).
class FirstJointSpeed : public toppra::constraint::CartesianVelocityNorm {
 public:
  FirstJointSpeed(double limit, bool constantF) : CartesianVelocityNorm(Matrix::Identity(6, 6), limit, constantF) {}
  void computeCartesianVelocity(const Vector&, const Vector& qs, Vector& v) override {
    v.setZero();
    v[0] = qs[0];
  }
};

TEST(CartesianVelocityNorm, OneJointWithIdentityWeightsIsTheVelocityConstraint) {
  const auto path = toppra_test::randomSpline(1, 4, 8);
  const Vector grid = Vector::LinSpaced(9, 0.05, 0.95);
  const double vmax = 1.7;
  FirstJointSpeed cartesian(vmax * vmax, true);
  toppra::constraint::LinearJointVelocity velocity(-Vector::Constant(1, vmax), Vector::Constant(1, vmax));
  Params byNorm, byVelocity;
  byNorm.compute(cartesian, path, grid);
  byVelocity.compute(velocity, path, grid);
  ASSERT_EQ(byNorm.F.size(), 1u);
  EXPECT_EQ(byNorm.g[0], Vector::Constant(1, vmax * vmax));
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(byNorm.a[i][0], 0.0);
    EXPECT_EQ(byNorm.c[i][0], 0.0);
    EXPECT_NEAR(byNorm.g[0][0] / byNorm.b[i][0], byVelocity.x[i][1], 1e-12 * byVelocity.x[i][1]);
  }
  EXPECT_EQ(printed(cartesian),
            "CartesianVelocityNorm\n    Discretization Scheme: 0\n    Has linear inequalities, \n"
            "    Velocity norm limit: 2.89\n");
}

TEST(CartesianVelocityNorm, PerPointLimitReachesGByDefault) {
  class Rising : public FirstJointSpeed {
   public:
    Rising() : FirstJointSpeed(1.0, false) {}
    void computeVelocityLimit(double s) override { m_limit = 1 + s; }
  } rising;
  Params p;
  p.compute(rising, toppra_test::straightLine(Vector::Ones(2)), kGrid);
  ASSERT_EQ(p.F.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(p.F[i], Matrix::Ones(1, 1));
    EXPECT_EQ(p.g[i][0], 1 + kGrid[i]);
    EXPECT_EQ(p.b[i][0], 1.0);
  }
}

TEST(CartesianVelocityNorm, CheckTexts) {
  EXPECT_EQ(messageOf([] { FirstJointSpeed(-0.1, false); }), "Velocity limit should be positive.");
  EXPECT_EQ(messageOf([] { FirstJointSpeed(0.0, false); }), "<no exception>");
  class FiveDimensional : public toppra::constraint::CartesianVelocityNorm {
   public:
    FiveDimensional() : CartesianVelocityNorm(Matrix::Identity(5, 5), 1.0) {}
    void computeCartesianVelocity(const Vector&, const Vector&, Vector&) override {}
  };
  EXPECT_EQ(messageOf([] { FiveDimensional(); }), "S matrix should be of size 6x6.");
}

}  // namespace
