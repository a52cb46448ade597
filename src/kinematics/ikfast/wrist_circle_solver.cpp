#include "wrist_circle_solver.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include <boost/math/tools/minima.hpp>
#include <boost/math/tools/roots.hpp>

#include "common/rotation_math.h"

namespace bramlock {
namespace internal {
namespace rev5u800 {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 2.0 * kPi;
const double kUpperArmSq = kUpperArmX * kUpperArmX + kUpperArmZ * kUpperArmZ;
const double kForearmSq = kForearmX * kForearmX + kForearmZ * kForearmZ;
const double kInverseForearmSq = 1.0 / kForearmSq;
const double kUpperArm = std::sqrt(kUpperArmSq);
const double kForearm = std::sqrt(kForearmSq);
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Samples of joint 6 over a whole turn (the grid); the elbow ends of a partly
// reachable circle get a few more (see scanArc).
constexpr int kScanSamples = 128;
constexpr double kScanStep = kTwoPi / kScanSamples;
// Parameters of the samples inside an end cap, which runs from 0 to 2.
constexpr std::array<double, 7> kCapSamples = {0.25, 0.5, 0.75, 1.0, 1.25, 1.5, 1.75};
// A wrist point this close to joint 1's axis or to joint 2 leaves joint 1 or
// the elbow undefined.
constexpr double kDegenerateDistance = 1e-12;
// Intervals whose heading about joint 1 or elbow spread change more than this
// are split, so fast turns near joint 1's axis do not hide roots.
constexpr double kMaxHeadingCosine = 0.98;  // about 0.2 rad
constexpr double kMaxElbowSpreadChange = 0.01;
constexpr double kMinSplitWidth = 1e-9;
constexpr int kMaxSplitDepth = 40;
// A dip of the residual this close to zero is examined even when the samples
// do not change sign; one whose lowest point stays within kTangentResidual of
// zero is tried as a touching root.
constexpr double kSmallResidual = 1e-3;
constexpr double kTangentResidual = 1e-6;
// Solutions closer than this in every joint are one.
constexpr double kDuplicate = 1e-6;
// Up to this distance from a sample's joint 6, cos and sin come from a series
// accurate to rounding.
constexpr double kSeriesReach = 0.1;

// cos and sin of 2 pi k / kScanSamples.
const std::pair<double, double>& unitCircle(int k) {
  static const std::vector<std::pair<double, double>> table = [] {
    std::vector<std::pair<double, double>> cos_sin(kScanSamples);
    for (int i = 0; i < kScanSamples; ++i) {
      cos_sin[i] = {std::cos(kScanStep * i), std::sin(kScanStep * i)};
    }
    return cos_sin;
  }();
  return table[k];
}

// The wrist point (joint 4/5 intersection) for one value of joint 6, relative
// to joint 2, with what the four branches share.
struct WristPoint {
  double q6, c6, s6;
  Eigen::Vector3d axis5;  // joint 5's axis direction as seen from the wrist point
  Eigen::Vector3d w;
  double rho;    // distance from joint 1's axis
  double r;      // distance from joint 2
  double out_x;  // unit vector from joint 2 to the wrist point in the arm plane (outward, up)
  double up_z;
  double outward;  // joint 5's axis along the outward horizontal direction
  double along;    // joint 3 = along * (unit to wrist point) +- across * (its normal in the arm plane)
  double across;
};

// Cosine and sine of an angle.
struct CosSin {
  double c, s;
};

// Cosine and sine of the direction of (x, y); those of angle 0, as atan2
// gives, when both are zero.
CosSin direction(double x, double y) {
  const double length = std::sqrt(x * x + y * y);
  if (length == 0.0) return {1.0, 0.0};
  const double inverse = 1.0 / length;
  return {x * inverse, y * inverse};
}

// Cosine and sine of the angle a - b.
CosSin difference(const CosSin& a, const CosSin& b) { return {a.c * b.c + a.s * b.s, a.s * b.c - a.c * b.s}; }

double angleOf(const CosSin& a) { return std::atan2(a.s, a.c); }

const CosSin kUpperArmDirection = direction(kUpperArmX, kUpperArmZ);
const CosSin kForearmDirection = direction(kForearmX, kForearmZ);

// A closed-form solution with the cosines and sines of its joints.
struct Solution {
  Joints q;
  JointTrig trig;
};

// The residuals of the four branches: constant + shoulder * by_shoulder +
// elbow * by_elbow + shoulder * elbow * by_both.
struct BranchResiduals {
  double constant, by_shoulder, by_elbow, by_both;

  double of(int shoulder, int elbow) const {
    return constant + shoulder * by_shoulder + elbow * (by_elbow + shoulder * by_both);
  }
};

// Joint 3 and the forearm vector in joint 1's vertical plane (x outwards, z up).
struct ArmPlane {
  double j3x, j3z, fx, fz;
};

// A point of a loop: joint 6 and the elbow sign (0 when the loop keeps one elbow).
struct Parameter {
  double q6;
  int elbow;
};

// How a loop parameter t maps to joint 6. Over a whole turn, q6 = t. Over an
// arc [lo, hi] the loop goes out on elbow +1 and back on elbow -1, the two
// meeting at the arc ends; near an end joint 6 goes as the square of the
// parameter (an end cap), so the residual stays smooth where the elbows meet.
// Between the caps, q6 moves linearly from the first to the last grid angle
// inside the arc. Period: 2 pi, or 4 + 2 (last - first) for an arc.
struct Parameterisation {
  bool arc = false;
  double lo = 0.0, hi = 0.0, first = 0.0, last = 0.0;

  double period() const { return arc ? 4.0 + 2.0 * (last - first) : kTwoPi; }

  Parameter at(double t) const {
    if (!arc) return {t, 0};
    const double inner = last - first;
    t -= period() * std::floor(t / period());
    if (t < 2.0) {
      const double u = t - 1.0;
      return {lo + (first - lo) * u * u, u >= 0.0 ? 1 : -1};
    }
    t -= 2.0;
    if (t < inner) return {first + t, 1};
    t -= inner;
    if (t < 2.0) {
      const double u = t - 1.0;
      return {hi - (hi - last) * u * u, u <= 0.0 ? 1 : -1};
    }
    return {last - (t - 2.0), -1};
  }
};

// A sample of a scan: its parameter, elbow, the residual of every branch
// ([shoulder][elbow], index 0 for +1) and what interval splitting looks at.
struct ScanPoint {
  double t;
  int elbow;
  double residuals[2][2];
  double q6, c6, s6;
  double wx, wy, rho, across;
};

// One residual function to search: a shoulder, and an elbow unless the scan
// walks an arc (then the elbow follows the parameter).
struct Loop {
  int shoulder;
  int elbow;
};

// Scalar root and minimum finders on a residual of the loop parameter, from
// Boost.Math: roots by Algorithm 748 (G. E. Alefeld, F. A. Potra and Y. Shi,
// "Algorithm 748: Enclosing Zeros of Continuous Functions", ACM TOMS 21(3),
// 1995), minima by Brent's method (R. P. Brent, "Algorithms for Minimization
// without Derivatives", 1973, chapter 5).
constexpr std::uintmax_t kMaxSolverIterations = 100;

// A solve never throws: a bracket that, after rounding, holds no sign change
// gives NaN, which finds no candidate.
namespace policies = boost::math::policies;
using QuietErrors = policies::policy<policies::domain_error<policies::ignore_error>,
                                     policies::evaluation_error<policies::ignore_error>>;

// The root of f in [a, b], where fa and fb differ in sign, to a few units in
// the last place (the polish step refines the joints from there).
template <typename F>
double rootBetween(const F& f, double a, double b, double fa, double fb) {
  const auto narrow_enough = [](double low, double high) {
    const double size = std::max(std::fabs(low), std::fabs(high));
    return high - low <= 4.0 * std::numeric_limits<double>::epsilon() * size + 2e-15;
  };
  std::uintmax_t iterations = kMaxSolverIterations;
  const std::pair<double, double> bracket =
      boost::math::tools::toms748_solve(f, a, b, fa, fb, narrow_enough, iterations, QuietErrors());
  return 0.5 * (bracket.first + bracket.second);
}

// A lowest point of f on [a, b], to about the square root of the machine
// epsilon (what any minimiser can reach).
template <typename F>
double lowestPoint(const F& f, double a, double b) {
  std::uintmax_t iterations = kMaxSolverIterations;
  return boost::math::tools::brent_find_minima(f, a, b, std::numeric_limits<double>::digits, iterations).first;
}

class WristCircleSolver {
 public:
  explicit WristCircleSolver(const Pose& target) : target_(target) {
    const Eigen::Vector3d wrist56 = target.position - kToolOffset * target.rotation.col(2);
    centre_ = wrist56 - Eigen::Vector3d(0, 0, kBaseHeight);
    solutions_.reserve(kMaxSolutions);
  }

  std::vector<Joints> solve() {
    if (!centre_.allFinite() || !target_.rotation.allFinite()) return solutions_;
    // Distance of the wrist point from joint 2 over joint 6:
    // r^2 = k0 - k1 cos(q6 - psi); it must lie between |L2 - L3| and L2 + L3.
    const double cx = centre_.dot(target_.rotation.col(0));
    const double cy = centre_.dot(target_.rotation.col(1));
    const double k0 = centre_.squaredNorm() + kWristOffset * kWristOffset;
    const double k1 = 2.0 * kWristOffset * std::hypot(cx, cy);
    const double psi = std::atan2(cx, cy);
    const double outer = (kUpperArm + kForearm) * (kUpperArm + kForearm);
    const double inner = (kUpperArm - kForearm) * (kUpperArm - kForearm);
    if (k1 < kDegenerateDistance) {
      if (k0 >= inner && k0 <= outer) scanWholeTurn();
      return solutions_;
    }
    const double cos_lowest = (k0 - outer) / k1;
    const double cos_highest = (k0 - inner) / k1;
    if (cos_lowest > 1.0 || cos_highest < -1.0) return solutions_;
    const double reach_out = cos_lowest <= -1.0 ? kPi : std::acos(cos_lowest);
    const double reach_in = cos_highest >= 1.0 ? 0.0 : std::acos(cos_highest);
    if (reach_in == 0.0 && reach_out == kPi) {
      scanWholeTurn();
    } else if (reach_in == 0.0) {
      scanArc(psi - reach_out, psi + reach_out);
    } else if (reach_out == kPi) {
      scanArc(psi + reach_in, psi + kTwoPi - reach_in);
    } else {
      scanArc(psi + reach_in, psi + reach_out);
      scanArc(psi - reach_out, psi - reach_in);
    }
    return solutions_;
  }

 private:
  WristPoint wristPoint(double q6, double c6, double s6) const {
    WristPoint p;
    p.q6 = q6;
    p.c6 = c6;
    p.s6 = s6;
    p.axis5 = s6 * target_.rotation.col(0) + c6 * target_.rotation.col(1);
    p.w = centre_ - kWristOffset * p.axis5;
    const double rho_sq = p.w.x() * p.w.x() + p.w.y() * p.w.y();
    const double r_sq = rho_sq + p.w.z() * p.w.z();
    // along = (r^2 + d) / 2r and across = sqrt(4 L2^2 r^2 - (r^2 + d)^2) / 2r
    // with d = L2^2 - L3^2: the three square roots start together and one
    // division serves every inverse, which keeps this hot path short.
    const double spread = r_sq + kUpperArmSq - kForearmSq;
    p.rho = std::sqrt(rho_sq);
    p.r = std::sqrt(r_sq);
    const double twice_across_r = std::sqrt(std::max(0.0, 4.0 * kUpperArmSq * r_sq - spread * spread));
    const double inverse_product = 1.0 / (p.rho * p.r);
    const double inverse_r = p.rho * inverse_product;
    p.out_x = p.rho * inverse_r;
    p.up_z = p.w.z() * inverse_r;
    p.outward = (p.w.x() * p.axis5.x() + p.w.y() * p.axis5.y()) * (p.r * inverse_product);
    p.along = 0.5 * spread * inverse_r;
    p.across = 0.5 * twice_across_r * inverse_r;
    return p;
  }

  WristPoint wristPoint(double q6) const { return wristPoint(q6, std::cos(q6), std::sin(q6)); }

  static bool degenerate(const WristPoint& p) { return !(p.rho >= kDegenerateDistance && p.r >= kDegenerateDistance); }

  static ArmPlane armPlane(const WristPoint& p, int shoulder, int elbow) {
    const double wx = shoulder * p.rho, wz = p.w.z();
    const double ux = shoulder * p.out_x, uz = p.up_z;
    const double j3x = p.along * ux - elbow * p.across * uz;
    const double j3z = p.along * uz + elbow * p.across * ux;
    return {j3x, j3z, wx - j3x, wz - j3z};
  }

  // Cosine between joint 4's and joint 5's axes, zero at a solution, for every
  // branch at once. Joint 4's axis is the forearm direction turned by the
  // forearm's fixed bend; written out, the four branches share their terms.
  static BranchResiduals residuals(const WristPoint& p) {
    if (degenerate(p)) return {kNaN, kNaN, kNaN, kNaN};
    // The forearm vector in the arm plane (see armPlane) is
    // (shoulder * forearm_out + elbow * lift_x, forearm_up - shoulder * elbow * lift_z).
    const double forearm_out = p.rho - p.along * p.out_x, forearm_up = p.w.z() - p.along * p.up_z;
    const double lift_x = p.across * p.up_z, lift_z = p.across * p.out_x;
    const double a = p.outward * kInverseForearmSq, b = p.axis5.z() * kInverseForearmSq;
    return {kForearmZ * (a * forearm_out + b * forearm_up), kForearmX * (b * forearm_out - a * forearm_up),
            kForearmX * (a * lift_z + b * lift_x), kForearmZ * (a * lift_x - b * lift_z)};
  }

  static double residual(const WristPoint& p, int shoulder, int elbow) { return residuals(p).of(shoulder, elbow); }

  // Joint angles follow from directions, so their cosines and sines need no
  // trigonometric calls: the forward kinematics that checks the solution uses them.
  Solution solution(const WristPoint& p, int shoulder, int elbow) const {
    const ArmPlane a = armPlane(p, shoulder, elbow);
    std::array<CosSin, 6> joint;
    joint[0] = direction(shoulder * p.w.x(), shoulder * p.w.y());
    joint[1] = difference(kUpperArmDirection, direction(a.j3x, a.j3z));
    // The forearm's pitch is its fixed bend less its direction in the arm plane.
    const CosSin forearm_pitch = difference(kForearmDirection, direction(a.fx, a.fz));
    joint[2] = difference(joint[1], forearm_pitch);
    joint[5] = {p.c6, p.s6};
    const CosSin& c1 = joint[0];
    Eigen::Matrix3d r3;
    r3 << c1.c * forearm_pitch.c, -c1.s, c1.c * forearm_pitch.s, c1.s * forearm_pitch.c, c1.c, c1.s * forearm_pitch.s,
        -forearm_pitch.s, 0, forearm_pitch.c;
    Eigen::Matrix3d undo6;
    undo6 << p.c6, p.s6, 0, -p.s6, p.c6, 0, 0, 0, 1;
    const Eigen::Matrix3d m = r3.transpose() * target_.rotation * undo6;
    joint[3] = direction(m(1, 1), -m(0, 1));
    joint[4] = direction(m(2, 2), m(2, 0));
    Solution found;
    for (int i = 0; i < 6; ++i) {
      found.trig.c[i] = joint[i].c;
      found.trig.s[i] = joint[i].s;
    }
    for (int i = 0; i < 5; ++i) found.q[i] = angleOf(joint[i]);
    found.q[5] = p.q6;
    return found;
  }

  // The sample at parameter t, whose joint 6 lies near that of near.
  template <typename Near>
  ScanPoint scanPoint(const Parameterisation& param, double t, const Near& near) const {
    const Parameter at = param.at(t);
    return scanPoint(t, at.elbow, wristPointNear(at.q6, near));
  }

  static ScanPoint scanPoint(double t, int elbow, const WristPoint& p) {
    ScanPoint s{t, elbow, {}, p.q6, p.c6, p.s6, p.w.x(), p.w.y(), p.rho, p.across};
    const BranchResiduals branches = residuals(p);
    for (int shoulder : {1, -1}) {
      for (int elbow_sign : {1, -1}) s.residuals[shoulder < 0][elbow_sign < 0] = branches.of(shoulder, elbow_sign);
    }
    return s;
  }

  static double loopValue(const Loop& loop, const ScanPoint& s) {
    return s.residuals[loop.shoulder < 0][(loop.elbow != 0 ? loop.elbow : s.elbow) < 0];
  }

  // The loop's residual at a parameter whose joint 6 lies near a sample's.
  double loopValue(const Parameterisation& param, const Loop& loop, double t, const ScanPoint& near) const {
    const Parameter at = param.at(t);
    return residual(wristPointNear(at.q6, near), loop.shoulder, loop.elbow != 0 ? loop.elbow : at.elbow);
  }

  // Wrist point at q6 from the cosine and sine of a nearby joint 6 value (of a
  // sample or wrist point), turned by the small difference through its
  // series: the search spares the trigonometric functions.
  template <typename Near>
  WristPoint wristPointNear(double q6, const Near& near) const {
    const double d = q6 - near.q6;
    if (std::fabs(d) > kSeriesReach) return wristPoint(q6);
    const double d2 = d * d;
    // Coefficients as products of inverse factorials: divisions would cost far more.
    const double cos_d =
        1 - d2 * (1.0 / 2 - d2 * (1.0 / 24 - d2 * (1.0 / 720 - d2 * (1.0 / 40320 - d2 * (1.0 / 3628800)))));
    const double sin_d =
        d * (1 - d2 * (1.0 / 6 - d2 * (1.0 / 120 - d2 * (1.0 / 5040 - d2 * (1.0 / 362880 - d2 * (1.0 / 39916800))))));
    return wristPoint(q6, near.c6 * cos_d - near.s6 * sin_d, near.s6 * cos_d + near.c6 * sin_d);
  }

  // Whether joint 1's heading or the elbow spread turns fast between two samples.
  static bool turnsFast(const ScanPoint& a, const ScanPoint& b) {
    if (b.t - a.t < kMinSplitWidth) return false;
    const double heading = a.wx * b.wx + a.wy * b.wy;
    return heading < kMaxHeadingCosine * a.rho * b.rho || std::fabs(a.across - b.across) > kMaxElbowSpreadChange;
  }

  // Splits [a, b] while the arm turns fast across it.
  void refine(const Parameterisation& param, const ScanPoint& a, const ScanPoint& b, std::vector<ScanPoint>& out,
              int depth) const {
    if (depth >= kMaxSplitDepth || !turnsFast(a, b)) return;
    const ScanPoint middle = scanPoint(param, 0.5 * (a.t + b.t), a);
    refine(param, a, middle, out, depth + 1);
    out.push_back(middle);
    refine(param, middle, b, out, depth + 1);
  }

  // One period of samples in parameter order: sample(k) for k < count, with
  // the intervals between them (the last closing on the first) split where
  // the arm turns fast.
  template <typename Sample>
  std::vector<ScanPoint> scan(const Parameterisation& param, int count, const Sample& sample) const {
    std::vector<ScanPoint> out;
    out.reserve(count + count / 8 + 16);
    ScanPoint previous = sample(0);
    out.push_back(previous);
    for (int k = 1; k < count; ++k) {
      const ScanPoint point = sample(k);
      refine(param, previous, point, out, 0);
      out.push_back(point);
      previous = point;
    }
    ScanPoint first = out.front();
    first.t += param.period();
    refine(param, previous, first, out, 0);
    return out;
  }

  // Wrist point at joint 6 = -pi + k * 2 pi / kScanSamples, for any integer k.
  WristPoint gridPoint(long k) const {
    const auto& [cos_k, sin_k] = unitCircle(static_cast<int>(((k % kScanSamples) + kScanSamples) % kScanSamples));
    // The table starts at angle 0: turn it by pi.
    return wristPoint(-kPi + kScanStep * k, -cos_k, -sin_k);
  }

  void scanWholeTurn() {
    const Parameterisation param;
    const std::vector<ScanPoint> samples = scan(param, kScanSamples, [this](int k) {
      const WristPoint p = gridPoint(k);
      return scanPoint(p.q6, 0, p);
    });
    for (int shoulder : {1, -1}) {
      for (int elbow : {1, -1}) searchLoop(param, {shoulder, elbow}, samples);
    }
  }

  // Joint 6 in [lo, hi] reachable, the elbows meeting at both ends: one loop
  // per shoulder. Grid angles inside the arc serve both elbows.
  void scanArc(double lo, double hi) {
    constexpr double kMargin = 1e-9;
    std::vector<WristPoint> inside;
    inside.reserve(static_cast<size_t>((hi - lo) / kScanStep) + 2);
    for (long k = static_cast<long>(std::ceil((lo + kPi + kMargin) / kScanStep)); - kPi + k * kScanStep < hi - kMargin;
         ++k) {
      inside.push_back(gridPoint(k));
    }
    if (inside.empty()) inside.push_back(wristPoint(0.5 * (lo + hi)));
    Parameterisation param;
    param.arc = true;
    param.lo = lo;
    param.hi = hi;
    param.first = inside.front().q6;
    param.last = inside.back().q6;
    const double inner = param.last - param.first;
    std::vector<ScanPoint> coarse;
    coarse.reserve(2 * inside.size() + 2 * kCapSamples.size());
    coarse.push_back(scanPoint(0.0, -1, inside.front()));
    for (double t : kCapSamples) coarse.push_back(scanPoint(param, t, inside.front()));
    for (const WristPoint& p : inside) coarse.push_back(scanPoint(2.0 + p.q6 - param.first, 1, p));
    for (double t : kCapSamples) coarse.push_back(scanPoint(param, 2.0 + inner + t, inside.back()));
    for (size_t i = inside.size() - 1; i >= 1; --i) {
      coarse.push_back(scanPoint(4.0 + inner + param.last - inside[i].q6, -1, inside[i]));
    }
    const std::vector<ScanPoint> samples =
        scan(param, static_cast<int>(coarse.size()), [&coarse](int k) { return coarse[k]; });
    for (int shoulder : {1, -1}) searchLoop(param, {shoulder, 0}, samples);
  }

  // Finds the loop's roots between sign changes and in dips towards zero.
  void searchLoop(const Parameterisation& param, const Loop& loop, const std::vector<ScanPoint>& samples) {
    const long n = static_cast<long>(samples.size());
    const auto time = [&](long i) {  // parameter of sample i, for i from -1 to n across the period's seam
      if (i < 0) return samples[n - 1].t - param.period();
      if (i == n) return samples[0].t + param.period();
      return samples[i].t;
    };
    double v_previous = loopValue(loop, samples[n - 1]), v = loopValue(loop, samples[0]);
    for (long i = 0; i < n; ++i) {
      const double v_next = loopValue(loop, samples[i == n - 1 ? 0 : i + 1]);
      // Most samples neither start a sign change nor sit in a dip. Evaluated
      // without short cuts: the comparisons are data-dependent and branches on
      // them mispredict.
      const bool crossing = v * v_next <= 0.0;
      const bool dip =
          (v * v_previous > 0.0) & (std::fabs(v) <= std::fabs(v_previous)) & (std::fabs(v) < std::fabs(v_next));
      if (crossing | dip) {
        const auto f = [&](double t) { return loopValue(param, loop, t, samples[i]); };
        if (v == 0.0) {
          addCandidate(param, loop, time(i));
        } else if (crossing) {
          // A zero at the next sample is that sample's own candidate.
          if (v_next != 0.0) addCandidate(param, loop, rootBetween(f, time(i), time(i + 1), v, v_next));
        } else if (dipMayCross(time(i - 1), time(i), time(i + 1), v_previous, v, v_next)) {
          searchDip(param, loop, f, time(i - 1), time(i + 1), v);
        }
      }
      v_previous = v;
      v = v_next;
    }
  }

  // Whether the parabola through three samples around a dip of |residual| comes near zero.
  static bool dipMayCross(double t0, double t1, double t2, double v0, double v1, double v2) {
    if (std::fabs(v1) < kSmallResidual) return true;
    const double d1 = (v1 - v0) / (t1 - t0);
    const double d2 = ((v2 - v1) / (t2 - t1) - d1) / (t2 - t0);
    if (d2 == 0.0) return false;
    const double vertex = 0.5 * (t0 + t1) - d1 / (2.0 * d2);
    const double lowest = v0 + d1 * (vertex - t0) + d2 * (vertex - t0) * (vertex - t1);
    const double sign = v1 > 0 ? 1.0 : -1.0;
    return sign * lowest < 0.5 * std::fabs(v1);
  }

  template <typename F>
  void searchDip(const Parameterisation& param, const Loop& loop, const F& f, double a, double b, double v) {
    const double sign = v > 0 ? 1.0 : -1.0;
    const auto towards_zero = [&](double t) {
      const double value = f(t);
      return std::isfinite(value) ? sign * value : std::numeric_limits<double>::infinity();
    };
    const double lowest = lowestPoint(towards_zero, a, b);
    const double at_lowest = f(lowest);
    if (sign * at_lowest < 0.0) {
      addCandidate(param, loop, rootBetween(f, a, lowest, f(a), at_lowest));
      addCandidate(param, loop, rootBetween(f, lowest, b, at_lowest, f(b)));
    } else if (std::fabs(at_lowest) < kTangentResidual) {
      addCandidate(param, loop, lowest);
    }
  }

  void addCandidate(const Parameterisation& param, const Loop& loop, double t) {
    if (std::isnan(t)) return;
    const Parameter at = param.at(t);
    const WristPoint p = wristPoint(at.q6);
    if (degenerate(p)) return;
    Solution found = solution(p, loop.shoulder, loop.elbow != 0 ? loop.elbow : at.elbow);
    Joints& q = found.q;
    if (!polish(target_, q, found.trig)) return;
    for (double& angle : q) angle = bramlock::internal::rotation_math::wrapToPi(angle);
    const auto same = [&q](const Joints& other) {
      for (int i = 0; i < 6; ++i) {
        if (std::fabs(bramlock::internal::rotation_math::wrapToPi(q[i] - other[i])) > kDuplicate) return false;
      }
      return true;
    };
    if (std::none_of(solutions_.begin(), solutions_.end(), same)) solutions_.push_back(q);
  }

  Pose target_;
  Eigen::Vector3d centre_;  // meeting point of joints 5 and 6, relative to joint 2
  std::vector<Joints> solutions_;
};

}  // namespace

std::vector<Joints> solveAll(const Pose& target) { return WristCircleSolver(target).solve(); }

}  // namespace rev5u800
}  // namespace internal
}  // namespace bramlock
