#include "wrist_circle_solver.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace rev5u800 {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 2.0 * kPi;
const double kUpperArmSq = kUpperArmX * kUpperArmX + kUpperArmZ * kUpperArmZ;
const double kForearmSq = kForearmX * kForearmX + kForearmZ * kForearmZ;
const double kUpperArm = std::sqrt(kUpperArmSq);
const double kForearm = std::sqrt(kForearmSq);
const double kUpperArmAngle = std::atan2(kUpperArmZ, kUpperArmX);
const double kForearmAngle = std::atan2(kForearmZ, kForearmX);
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Samples of joint 6 over a whole turn; the elbow ends of a partly reachable
// circle get extra samples (see scanArc).
constexpr int kScanSamples = 256;
// A wrist point this close to joint 1's axis or to joint 2 leaves joint 1 or
// the elbow undefined.
constexpr double kDegenerateDistance = 1e-12;
// Intervals whose heading about joint 1 or elbow spread change more than this
// are split, so fast turns near joint 1's axis do not hide roots.
constexpr double kMaxHeadingCosine = 0.98;  // about 0.2 rad
constexpr double kMaxElbowSpreadChange = 0.05;
constexpr double kMinSplitWidth = 1e-9;
constexpr int kMaxSplitDepth = 40;
// A dip of the residual this close to zero is examined even when the samples
// do not change sign.
constexpr double kSmallResidual = 1e-3;
constexpr double kTangentResidual = 1e-6;
constexpr double kDuplicate = 1e-6;

double wrapAngle(double angle) {
  while (angle > kPi) angle -= kTwoPi;
  while (angle < -kPi) angle += kTwoPi;
  return angle;
}

// The wrist point (joint 4/5 intersection) for one value of joint 6, relative
// to joint 2, with its elbow triangle.
struct WristPoint {
  double q6, c6, s6;
  Eigen::Vector3d axis5;  // joint 5's axis direction as seen from the wrist point
  Eigen::Vector3d w;
  double rho;     // distance from joint 1's axis
  double r;       // distance from joint 2
  double along;   // joint 3 = along * (unit to wrist point) +- across * (its normal in the arm plane)
  double across;
};

// Joint 3 and the forearm vector in joint 1's vertical plane (x outwards, z up).
struct ArmPlane {
  double j3x, j3z, fx, fz;
};

// Where the elbow branches of one shoulder meet: a loop parameter maps to a
// joint 6 value and an elbow sign.
struct Parameter {
  double q6;
  int elbow;  // 0 when the loop keeps one elbow
};

// How a scan's loop parameter t maps to joint 6: the whole turn (q6 = t) or an
// arc [mid - half, mid + half] walked out on one elbow and back on the other
// (q6 = mid - half cos t), which keeps the residual smooth where they meet.
struct Parameterisation {
  bool arc = false;
  double mid = 0.0;
  double half = 0.0;

  Parameter at(double t) const {
    if (!arc) return {t, 0};
    return {mid - half * std::cos(t), std::sin(t) >= 0.0 ? 1 : -1};
  }
};

struct ScanPoint {
  double t;
  int elbow;
  WristPoint p;
};

// One residual function to search: a shoulder, and an elbow unless the scan
// walks an arc (then the elbow follows the parameter).
struct Loop {
  int shoulder;
  int elbow;
};

// Scalar root and minimum finders on a residual of the loop parameter.
template <typename F>
double brentRoot(const F& f, double a, double b, double fa, double fb) {
  double c = a, fc = fa, d = b - a, e = d;
  for (int iteration = 0; iteration < 100; ++iteration) {
    if ((fb > 0) == (fc > 0)) {
      c = a;
      fc = fa;
      d = e = b - a;
    }
    if (std::fabs(fc) < std::fabs(fb)) {
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }
    const double tolerance = 4.0 * std::numeric_limits<double>::epsilon() * std::fabs(b) + 1e-15;
    const double m = 0.5 * (c - b);
    if (std::fabs(m) <= tolerance || fb == 0.0) return b;
    if (std::fabs(e) >= tolerance && std::fabs(fa) > std::fabs(fb)) {
      double p, q;
      const double s = fb / fa;
      if (a == c) {
        p = 2.0 * m * s;
        q = 1.0 - s;
      } else {
        const double qa = fa / fc, r = fb / fc;
        p = s * (2.0 * m * qa * (qa - r) - (b - a) * (r - 1.0));
        q = (qa - 1.0) * (r - 1.0) * (s - 1.0);
      }
      if (p > 0) q = -q;
      p = std::fabs(p);
      if (2.0 * p < std::min(3.0 * m * q - std::fabs(tolerance * q), std::fabs(e * q))) {
        e = d;
        d = p / q;
      } else {
        d = m;
        e = m;
      }
    } else {
      d = m;
      e = m;
    }
    a = b;
    fa = fb;
    b += std::fabs(d) > tolerance ? d : (m > 0 ? tolerance : -tolerance);
    fb = f(b);
  }
  return b;
}

// Brent's minimiser of f on [a, b] starting from x inside.
template <typename F>
double brentMinimum(const F& f, double a, double b, double x, double fx) {
  constexpr double kGolden = 0.3819660112501051;
  constexpr double kTolerance = 1e-11;
  double w = x, v = x, fw = fx, fv = fx, d = 0.0, e = 0.0;
  for (int iteration = 0; iteration < 100; ++iteration) {
    const double middle = 0.5 * (a + b);
    const double tolerance = kTolerance * std::fabs(x) + 1e-12;
    if (std::fabs(x - middle) <= 2.0 * tolerance - 0.5 * (b - a)) break;
    bool golden = true;
    if (std::fabs(e) > tolerance) {
      double r = (x - w) * (fx - fv);
      double q = (x - v) * (fx - fw);
      double p = (x - v) * q - (x - w) * r;
      q = 2.0 * (q - r);
      if (q > 0) p = -p;
      q = std::fabs(q);
      if (std::fabs(p) < std::fabs(0.5 * q * e) && p > q * (a - x) && p < q * (b - x)) {
        e = d;
        d = p / q;
        const double u = x + d;
        if (u - a < 2.0 * tolerance || b - u < 2.0 * tolerance) d = x < middle ? tolerance : -tolerance;
        golden = false;
      }
    }
    if (golden) {
      e = (x < middle ? b : a) - x;
      d = kGolden * e;
    }
    const double u = x + (std::fabs(d) >= tolerance ? d : (d > 0 ? tolerance : -tolerance));
    const double fu = f(u);
    if (fu <= fx) {
      (u < x ? b : a) = x;
      v = w;
      fv = fw;
      w = x;
      fw = fx;
      x = u;
      fx = fu;
    } else {
      (u < x ? a : b) = u;
      if (fu <= fw || w == x) {
        v = w;
        fv = fw;
        w = u;
        fw = fu;
      } else if (fu <= fv || v == x || v == w) {
        v = u;
        fv = fu;
      }
    }
  }
  return x;
}

class WristCircleSolver {
 public:
  explicit WristCircleSolver(const Pose& target) : target_(target) {
    const Eigen::Vector3d wrist56 = target.position - kToolOffset * target.rotation.col(2);
    centre_ = wrist56 - Eigen::Vector3d(0, 0, kBaseHeight);
  }

  std::vector<Joints> solve() {
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
    p.rho = std::hypot(p.w.x(), p.w.y());
    p.r = std::sqrt(p.rho * p.rho + p.w.z() * p.w.z());
    p.along = (p.r * p.r + kUpperArmSq - kForearmSq) / (2.0 * p.r);
    p.across = std::sqrt(std::max(0.0, kUpperArmSq - p.along * p.along));
    return p;
  }

  WristPoint wristPoint(double q6) const { return wristPoint(q6, std::cos(q6), std::sin(q6)); }

  static ArmPlane armPlane(const WristPoint& p, int shoulder, int elbow) {
    const double wx = shoulder * p.rho, wz = p.w.z();
    const double ux = wx / p.r, uz = wz / p.r;
    const double j3x = p.along * ux - elbow * p.across * uz;
    const double j3z = p.along * uz + elbow * p.across * ux;
    return {j3x, j3z, wx - j3x, wz - j3z};
  }

  // Cosine between joint 4's and joint 5's axes: zero at a solution.
  static double residual(const WristPoint& p, int shoulder, int elbow) {
    if (p.rho < kDegenerateDistance || p.r < kDegenerateDistance) return kNaN;
    const ArmPlane a = armPlane(p, shoulder, elbow);
    // Joint 4's axis is the forearm direction turned by the forearm's fixed bend.
    const double z4x = (kForearmZ * a.fx - kForearmX * a.fz) / kForearmSq;
    const double z4z = (kForearmZ * a.fz + kForearmX * a.fx) / kForearmSq;
    const double outward = (p.w.x() * p.axis5.x() + p.w.y() * p.axis5.y()) / p.rho;
    return shoulder * z4x * outward + z4z * p.axis5.z();
  }

  Joints joints(const WristPoint& p, int shoulder, int elbow) const {
    const ArmPlane a = armPlane(p, shoulder, elbow);
    Joints q;
    q[0] = std::atan2(shoulder * p.w.y(), shoulder * p.w.x());
    q[1] = kUpperArmAngle - std::atan2(a.j3z, a.j3x);
    const double forearm_pitch = kForearmAngle - std::atan2(a.fz, a.fx);
    q[2] = q[1] - forearm_pitch;
    q[5] = p.q6;
    const double c1 = std::cos(q[0]), s1 = std::sin(q[0]);
    const double cp = std::cos(forearm_pitch), sp = std::sin(forearm_pitch);
    Eigen::Matrix3d r3;
    r3 << c1 * cp, -s1, c1 * sp, s1 * cp, c1, s1 * sp, -sp, 0, cp;
    Eigen::Matrix3d undo6;
    undo6 << p.c6, p.s6, 0, -p.s6, p.c6, 0, 0, 0, 1;
    const Eigen::Matrix3d m = r3.transpose() * target_.rotation * undo6;
    q[3] = std::atan2(-m(0, 1), m(1, 1));
    q[4] = std::atan2(m(2, 0), m(2, 2));
    return q;
  }

  ScanPoint scanPoint(const Parameterisation& param, double t) const {
    const Parameter at = param.at(t);
    return {t, at.elbow, wristPoint(at.q6)};
  }

  static double loopValue(const Loop& loop, const ScanPoint& s) {
    return residual(s.p, loop.shoulder, loop.elbow != 0 ? loop.elbow : s.elbow);
  }

  // Splits [a, b] while joint 1's heading or the elbow spread turns fast across it.
  void refine(const Parameterisation& param, const ScanPoint& a, const ScanPoint& b,
              std::vector<ScanPoint>& out, int depth) const {
    if (depth >= kMaxSplitDepth || b.t - a.t < kMinSplitWidth) return;
    const double heading = a.p.w.x() * b.p.w.x() + a.p.w.y() * b.p.w.y();
    const bool turns = heading < kMaxHeadingCosine * a.p.rho * b.p.rho;
    const bool spreads = std::fabs(a.p.across - b.p.across) > kMaxElbowSpreadChange;
    if (!turns && !spreads) return;
    const ScanPoint middle = scanPoint(param, 0.5 * (a.t + b.t));
    refine(param, a, middle, out, depth + 1);
    out.push_back(middle);
    refine(param, middle, b, out, depth + 1);
  }

  // The samples in parameter order, closed over one period of 2 pi.
  std::vector<ScanPoint> refined(const Parameterisation& param, std::vector<ScanPoint> coarse) const {
    std::vector<ScanPoint> out;
    out.reserve(coarse.size() * 2);
    for (size_t i = 0; i < coarse.size(); ++i) {
      out.push_back(coarse[i]);
      ScanPoint next = coarse[(i + 1) % coarse.size()];
      next.t = i + 1 < coarse.size() ? next.t : coarse.front().t + kTwoPi;
      refine(param, coarse[i], next, out, 0);
    }
    return out;
  }

  void scanWholeTurn() {
    static const std::vector<std::pair<double, double>> table = [] {
      std::vector<std::pair<double, double>> cos_sin(kScanSamples);
      for (int k = 0; k < kScanSamples; ++k) {
        const double q6 = -kPi + kTwoPi * k / kScanSamples;
        cos_sin[k] = {std::cos(q6), std::sin(q6)};
      }
      return cos_sin;
    }();
    const Parameterisation param;
    std::vector<ScanPoint> coarse(kScanSamples);
    for (int k = 0; k < kScanSamples; ++k) {
      const double q6 = -kPi + kTwoPi * k / kScanSamples;
      coarse[k] = {q6, 0, wristPoint(q6, table[k].first, table[k].second)};
    }
    const std::vector<ScanPoint> samples = refined(param, std::move(coarse));
    for (int shoulder : {1, -1}) {
      for (int elbow : {1, -1}) searchLoop(param, {shoulder, elbow}, samples);
    }
  }

  // Joint 6 in [lo, hi] reachable, the elbows meeting at both ends: one loop per shoulder.
  void scanArc(double lo, double hi) {
    Parameterisation param;
    param.arc = true;
    param.mid = 0.5 * (lo + hi);
    param.half = 0.5 * (hi - lo);
    // Dense enough that joint 6 steps stay within the whole-turn spacing mid-arc.
    const int count = 2 * std::max(16, static_cast<int>(std::ceil(param.half * kScanSamples / kPi)));
    std::vector<ScanPoint> coarse(count);
    for (int k = 0; k < count; ++k) coarse[k] = scanPoint(param, kTwoPi * k / count);
    const std::vector<ScanPoint> samples = refined(param, std::move(coarse));
    for (int shoulder : {1, -1}) searchLoop(param, {shoulder, 0}, samples);
  }

  // Finds the loop's roots between sign changes and in dips towards zero.
  void searchLoop(const Parameterisation& param, const Loop& loop, const std::vector<ScanPoint>& samples) {
    const size_t n = samples.size();
    std::vector<double> values(n);
    for (size_t i = 0; i < n; ++i) values[i] = loopValue(loop, samples[i]);
    const auto f = [&](double t) { return loopValue(loop, scanPoint(param, t)); };
    for (size_t i = 0; i < n; ++i) {
      const size_t next = (i + 1) % n, previous = (i + n - 1) % n;
      const double t = samples[i].t;
      const double t_next = next == 0 ? samples[next].t + kTwoPi : samples[next].t;
      const double t_previous = i == 0 ? samples[previous].t - kTwoPi : samples[previous].t;
      const double v = values[i], v_next = values[next], v_previous = values[previous];
      if (!std::isfinite(v) || !std::isfinite(v_next)) continue;
      if (v == 0.0) {
        addCandidate(param, loop, t);
      } else if (v * v_next < 0.0) {
        addCandidate(param, loop, brentRoot(f, t, t_next, v, v_next));
      } else if (std::isfinite(v_previous) && v * v_previous > 0.0 && v * v_next > 0.0 &&
                 std::fabs(v) <= std::fabs(v_previous) && std::fabs(v) < std::fabs(v_next) &&
                 dipMayCross(t_previous, t, t_next, v_previous, v, v_next)) {
        searchDip(param, loop, f, t_previous, t, t_next, v);
      }
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
  void searchDip(const Parameterisation& param, const Loop& loop, const F& f, double a, double x, double b,
                 double v) {
    const double sign = v > 0 ? 1.0 : -1.0;
    const auto towards_zero = [&](double t) {
      const double value = f(t);
      return std::isfinite(value) ? sign * value : std::numeric_limits<double>::infinity();
    };
    const double lowest = brentMinimum(towards_zero, a, b, x, sign * v);
    const double at_lowest = f(lowest);
    if (sign * at_lowest < 0.0) {
      addCandidate(param, loop, brentRoot(f, a, lowest, f(a), at_lowest));
      addCandidate(param, loop, brentRoot(f, lowest, b, at_lowest, f(b)));
    } else if (std::fabs(at_lowest) < kTangentResidual) {
      addCandidate(param, loop, lowest);
    }
  }

  void addCandidate(const Parameterisation& param, const Loop& loop, double t) {
    const Parameter at = param.at(t);
    const WristPoint p = wristPoint(at.q6);
    if (p.rho < kDegenerateDistance || p.r < kDegenerateDistance) return;
    Joints q = joints(p, loop.shoulder, loop.elbow != 0 ? loop.elbow : at.elbow);
    if (!polish(target_, q)) return;
    for (double& angle : q) angle = wrapAngle(angle);
    const auto same = [&q](const Joints& other) {
      for (int i = 0; i < 6; ++i) {
        if (std::fabs(wrapAngle(q[i] - other[i])) > kDuplicate) return false;
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
