#pragma once

#include <vector>

#include "rev5u800_chain.h"

namespace bramlock {
namespace internal {
namespace rev5u800 {

// Every joint vector that reaches the tool pose (each joint within [-pi, pi],
// no two within 1e-6 of each other), found as follows. Joint 5's axis meets
// joint 4's at the wrist point, which lies on a circle of radius 0.136 around
// the meeting point of joints 5 and 6; joint 6 picks the point. The wrist
// point fixes joints 1 to 3 in closed form (two shoulder times two elbow
// branches), and joint 6 is a solution where joint 4's axis is perpendicular
// to joint 5's. That residual is scanned over joint 6 per branch, its sign
// changes and near-zero dips are refined (Alefeld, Potra and Shi's Algorithm
// 748, 1995, and Brent's minimiser, 1973, both from Boost.Math), joints 4 and
// 5 follow in closed form and Newton steps on the forward kinematics polish
// each solution.
std::vector<Joints> solveAll(const Pose& target);

}  // namespace rev5u800
}  // namespace internal
}  // namespace bramlock
