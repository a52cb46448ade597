#pragma once

// The fake box scene with joint velocity and acceleration limits, counting its
// own destruction (the pipeline owns the scene it is given).

#include <optional>
#include <utility>
#include <vector>

#include "fake_box_scene.h"

namespace fake_scene {

class LimitedBoxScene : public FakeBoxScene {
 public:
  LimitedBoxScene(std::vector<std::pair<double, double>> bounds, std::vector<Box> obstacles, std::vector<double> vmax,
                  std::vector<double> amax, int* destroyed = nullptr, double simplify_margin = 0.0)
      : FakeBoxScene(std::move(bounds), std::move(obstacles), simplify_margin),
        vmax_(std::move(vmax)),
        amax_(std::move(amax)),
        destroyed_(destroyed) {}
  ~LimitedBoxScene() override {
    if (destroyed_ != nullptr) ++*destroyed_;
  }

  int getVmaxAndAmax(std::vector<double>& vmax, std::vector<double>& amax) override {
    ++limit_requests;
    vmax = vmax_;
    amax = amax_;
    return limits_reply_ ? *limits_reply_ : static_cast<int>(vmax_.size());
  }
  // Makes getVmaxAndAmax answer this value instead of the number of limits.
  void answerLimitsWith(int reply) { limits_reply_ = reply; }

  int limit_requests = 0;

 private:
  std::vector<double> vmax_;
  std::vector<double> amax_;
  int* destroyed_;
  std::optional<int> limits_reply_;
};

// Uniform limits for every joint.
inline LimitedBoxScene* newLimitedScene(int dof, std::vector<Box> obstacles, double vmax, double amax,
                                        int* destroyed = nullptr) {
  return new LimitedBoxScene(symmetricBounds(dof), std::move(obstacles), std::vector<double>(dof, vmax),
                             std::vector<double>(dof, amax), destroyed, 0.05);
}

}  // namespace fake_scene
