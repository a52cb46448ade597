#pragma once

#include <memory>
#include <string>

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

}  // namespace kinematics_test
