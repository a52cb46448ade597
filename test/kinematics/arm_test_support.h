#pragma once

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kinematics_test_helpers.h"
#include "test_support.h"

namespace kinematics_test {

// What a call prints on standard output.
template <typename Call>
std::string printedBy(Call call) {
  bramlock_test::OutputCapture capture;
  call();
  return capture.out();
}

// An arm of class Arm with the table set (its printout swallowed).
template <typename Arm>
std::shared_ptr<Arm> makeArm(const MdhTable& table) {
  auto arm = std::make_shared<Arm>();
  int result;
  printedBy([&] { result = arm->setMdhPara(table.zd, table.xa, table.alpha, table.qzero); });
  EXPECT_EQ(result, 0);
  return arm;
}

// Random joint vectors clear of singularities (and so of the solvers'
// thresholds) that also pass accept.
template <typename Arm, typename Accept>
std::vector<std::vector<double>> regularJointVectors(Arm& arm, std::mt19937& rng, int count, Accept accept) {
  auto forward = [&arm](const std::vector<double>& q) { return arm.forwardKinematics(q); };
  std::vector<std::vector<double>> vectors;
  while (static_cast<int>(vectors.size()) < count) {
    std::vector<double> q = randomJoints(rng, static_cast<size_t>(arm.getRobotType().axis_num));
    if (accept(q) && distanceFromSingularity(forward, q) > 0.03) vectors.push_back(q);
  }
  return vectors;
}

template <typename Arm>
std::vector<std::vector<double>> regularJointVectors(Arm& arm, std::mt19937& rng, int count) {
  return regularJointVectors(arm, rng, count, [](const std::vector<double>&) { return true; });
}

}  // namespace kinematics_test
