#pragma once

// A stand-in planning scene: an N-joint box of bounds with axis-aligned
// obstacle boxes in joint space. The simplify checker sees the obstacles
// inflated by a margin. Motions are checked densely, end state first. Every
// scene call is counted. Header-only so the benchmarks can use it too.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/plan_scene/plan_scene_interface.h"

namespace fake_scene {

constexpr double kPi = 3.14159265358979323846;

struct Box {
  std::vector<double> lo;
  std::vector<double> hi;

  bool contains(const double* q) const {
    for (std::size_t j = 0; j < lo.size(); ++j) {
      if (q[j] < lo[j] || q[j] > hi[j]) return false;
    }
    return true;
  }

  // Exact test of the straight segment against the box shrunk by a margin.
  bool crossedBy(const std::vector<double>& from, const std::vector<double>& to, double margin) const {
    double enter = 0.0;
    double leave = 1.0;
    for (std::size_t j = 0; j < lo.size(); ++j) {
      const double low = lo[j] + margin;
      const double high = hi[j] - margin;
      const double delta = to[j] - from[j];
      if (delta == 0.0) {
        if (from[j] < low || from[j] > high) return false;
        continue;
      }
      const double t1 = (low - from[j]) / delta;
      const double t2 = (high - from[j]) / delta;
      enter = std::max(enter, std::min(t1, t2));
      leave = std::min(leave, std::max(t1, t2));
    }
    return enter <= leave;
  }

  Box inflated(double margin) const {
    Box grown = *this;
    for (std::size_t j = 0; j < lo.size(); ++j) {
      grown.lo[j] -= margin;
      grown.hi[j] += margin;
    }
    return grown;
  }
};

struct CallCounts {
  long is_valid = 0;
  long is_valid_simplify = 0;
  long check_motion = 0;
  long check_motion_simplify = 0;
};

class FakeBoxScene : public PlanSceneInterface {
 public:
  FakeBoxScene(std::vector<std::pair<double, double>> bounds, std::vector<Box> obstacles, double simplify_margin = 0.0)
      : bounds_(std::move(bounds)), obstacles_(std::move(obstacles)) {
    for (const Box& box : obstacles_) inflated_.push_back(box.inflated(simplify_margin));
  }

  int getPlanSpaceBounds(std::vector<std::pair<double, double>>& bounds) override {
    bounds = bounds_;
    return bounds_reply_ ? *bounds_reply_ : static_cast<int>(bounds_.size());
  }
  int getVmaxAndAmax(std::vector<double>&, std::vector<double>&) override { return 0; }
  bool isValid(double* joints) override {
    ++counts.is_valid;
    if (state_delay.count() > 0) std::this_thread::sleep_for(state_delay);
    return isFree(joints, obstacles_);
  }
  bool isValidSimplify(double* joints) override {
    ++counts.is_valid_simplify;
    return isFree(joints, inflated_);
  }
  bool checkMotion(double* from, double* to) override {
    ++counts.check_motion;
    return isMotionFree(from, to, obstacles_);
  }
  bool checkMotionSimplify(double* from, double* to) override {
    ++counts.check_motion_simplify;
    return isMotionFree(from, to, inflated_);
  }
  double getMaximumExtent() override {
    double sum = 0.0;
    for (const auto& bound : bounds_) sum += (bound.second - bound.first) * (bound.second - bound.first);
    return std::sqrt(sum);
  }

  // Uncounted oracles for the tests.
  bool stateFree(std::vector<double> q, bool simplify = false) const {
    return isFree(q.data(), simplify ? inflated_ : obstacles_);
  }
  // Exact segment test. The dense checks may let a segment clip a box by less
  // than their resolution, so by default the boxes are shrunk by that much.
  bool motionFree(const std::vector<double>& from, const std::vector<double>& to, bool simplify = false,
                  double tolerance = kDenseCheckTolerance) const {
    for (const Box& box : simplify ? inflated_ : obstacles_) {
      if (box.crossedBy(from, to, tolerance)) return false;
    }
    return true;
  }

  const std::vector<std::pair<double, double>>& bounds() const { return bounds_; }
  int dof() const { return static_cast<int>(bounds_.size()); }
  // Makes getPlanSpaceBounds answer this value instead of the joint count.
  void answerBoundsWith(int reply) { bounds_reply_ = reply; }

  CallCounts counts;
  std::chrono::microseconds state_delay{0};
  static constexpr double kDenseCheckTolerance = 0.01;
  double resolution = kDenseCheckTolerance;  // radians between the tested states of a motion

 private:
  static bool isFree(const double* q, const std::vector<Box>& boxes) {
    for (const Box& box : boxes) {
      if (box.contains(q)) return false;
    }
    return true;
  }

  bool isMotionFree(const double* from, const double* to, const std::vector<Box>& boxes) const {
    if (!isFree(to, boxes)) return false;
    double length = 0.0;
    for (int j = 0; j < dof(); ++j) length += (to[j] - from[j]) * (to[j] - from[j]);
    const int pieces = static_cast<int>(std::ceil(std::sqrt(length) / resolution));
    std::vector<double> q(dof());
    for (int k = 1; k < pieces; ++k) {
      for (int j = 0; j < dof(); ++j) q[j] = from[j] + (to[j] - from[j]) * k / pieces;
      if (!isFree(q.data(), boxes)) return false;
    }
    return true;
  }

  std::vector<std::pair<double, double>> bounds_;
  std::vector<Box> obstacles_;
  std::vector<Box> inflated_;
  std::optional<int> bounds_reply_;
};

inline std::vector<std::pair<double, double>> symmetricBounds(int dof, double limit = kPi) {
  return std::vector<std::pair<double, double>>(dof, {-limit, limit});
}

// A box spanning every joint far beyond the bounds, narrowed on the given joints.
inline Box slab(int dof, std::vector<std::pair<int, std::pair<double, double>>> narrowed) {
  Box box{std::vector<double>(dof, -100.0), std::vector<double>(dof, 100.0)};
  for (const auto& joint : narrowed) {
    box.lo[joint.first] = joint.second.first;
    box.hi[joint.first] = joint.second.second;
  }
  return box;
}

// A wall across joint 0 (|q0| <= 0.2) with a gap 1 < q1 < 2.
inline std::vector<Box> wallWithGap(int dof) {
  return {slab(dof, {{0, {-0.2, 0.2}}, {1, {-100.0, 1.0}}}), slab(dof, {{0, {-0.2, 0.2}}, {1, {2.0, 100.0}}})};
}

// A thick wall across joint 0 (|q0| <= 0.5) with a hole 1.4 < q1 < 1.6 (and,
// from three joints on, 1.0 < q2 < 1.2).
inline std::vector<Box> narrowPassage(int dof) {
  std::vector<Box> boxes = {slab(dof, {{0, {-0.5, 0.5}}, {1, {-100.0, 1.4}}}),
                            slab(dof, {{0, {-0.5, 0.5}}, {1, {1.6, 100.0}}})};
  if (dof >= 3) {
    boxes.push_back(slab(dof, {{0, {-0.5, 0.5}}, {1, {1.4, 1.6}}, {2, {-100.0, 1.0}}}));
    boxes.push_back(slab(dof, {{0, {-0.5, 0.5}}, {1, {1.4, 1.6}}, {2, {1.2, 100.0}}}));
  }
  return boxes;
}

// A closed shell (0.2 thick) around the cell 1.7 < q0, q1 < 2.3 of a two-joint space.
inline std::vector<Box> shellAroundGoal() {
  return {Box{{1.5, 1.5}, {2.5, 1.7}}, Box{{1.5, 2.3}, {2.5, 2.5}}, Box{{1.5, 1.5}, {1.7, 2.5}},
          Box{{2.3, 1.5}, {2.5, 2.5}}};
}

// Start and goal on either side of the wall, every other joint at 0.
inline std::vector<double> leftOfWall(int dof) {
  std::vector<double> q(dof, 0.0);
  q[0] = -2.0;
  return q;
}

inline std::vector<double> rightOfWall(int dof) {
  std::vector<double> q(dof, 0.0);
  q[0] = 2.0;
  return q;
}

}  // namespace fake_scene
