// The workcell scene's state and motion checks against answers recorded from
// an earlier build (test/fixtures/scene_arm/workcell_answers.txt): faster
// checks must keep every answer. Seeded states and motions are checked on
// both roads in a sequence of scene changes (attached body, replaced world,
// paddings). To record the file anew, which is only right when an answer is
// meant to change, run this program with BRAMLOCK_RECORD_WORKCELL_ANSWERS set
// and the filter WorkcellAnswers.SlowAllStatesAndMotionsAnswerAsRecorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "recorded_answers.h"
#include "scene_arm.h"
#include "scene_arm_workcell.h"
#include "seeded_joints.h"

namespace {

using namespace bramlock_test;

const std::string kAnswersFile = "scene_arm/workcell_answers.txt";
constexpr int kAllStates = 10000;
constexpr int kAllMotions = 2000;
constexpr int kQuickStates = 400;
constexpr int kQuickMotions = 40;

// Every eighth state repeats the one before, bit for bit, as the planner's checks do.
std::vector<Joints> seededStates(int count) {
  SeededJoints draw(20261207);
  std::vector<Joints> states;
  for (int i = 0; i < count; ++i) {
    states.push_back(i > 0 && draw.oneIn(8) ? states.back() : draw.within(sceneArmBounds()));
  }
  return states;
}

// Chained short motions (each starts where the one before ended, as a
// planner's path does), some of them of length zero.
std::vector<std::pair<Joints, Joints>> seededMotions(int count) {
  SeededJoints draw(4051);
  std::vector<std::pair<Joints, Joints>> motions;
  Joints from = draw.within(sceneArmBounds());
  for (int i = 0; i < count; ++i) {
    if (draw.oneIn(10)) from = draw.within(sceneArmBounds());
    const Joints to = draw.oneIn(12) ? from : draw.near(from, sceneArmBounds(), 0.6);
    motions.emplace_back(from, to);
    from = to;
  }
  return motions;
}

Answers checkStates(ManipulatorPlanScene& scene, const std::vector<Joints>& states, bool simplify) {
  Answers answers;
  for (Joints q : states) answers.push_back(simplify ? scene.isValidSimplify(q.data()) : scene.isValid(q.data()));
  return answers;
}

Answers checkMotions(ManipulatorPlanScene& scene, const std::vector<std::pair<Joints, Joints>>& motions,
                     bool simplify) {
  Answers answers;
  for (auto [from, to] : motions) {
    answers.push_back(simplify ? scene.checkMotionSimplify(from.data(), to.data())
                               : scene.checkMotion(from.data(), to.data()));
  }
  return answers;
}

struct Configuration {
  std::string name;
  std::function<void(ManipulatorPlanScene&)> change;
};

// Each change applies to the scene as the one before left it.
std::vector<Configuration> configurations() {
  return {
      {"workcell", [](ManipulatorPlanScene&) {}},
      {"workcell+box",
       [](ManipulatorPlanScene& scene) {
         Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
         pose(2, 3) = 0.15;
         double size[3] = {0.06, 0.06, 0.1};
         ASSERT_EQ(
             scene.addAttachedCollisionObjectToLink(
                 "box", "gripper_link", {"gripper_link", "finger_link", "finger_mimic_link"}, pose, size, 1.0, 0.0),
             0);
       }},
      {"shifted+box",
       [](ManipulatorPlanScene& scene) {
         ASSERT_EQ(scene.updateWorldOctomap(scene_arm_workcell::workcellOctree(0.1)), 0);
       }},
      {"shifted", [](ManipulatorPlanScene& scene) { scene.removeAttachedCollisionObjectFromLink("box"); }},
      {"shifted+padded",
       [](ManipulatorPlanScene& scene) {
         ASSERT_EQ(scene.setRobotPadding(0.03), 0);
         ASSERT_EQ(scene.setGripperPadding(0.1), 0);
       }},
  };
}

AnswerSets answersOfToday(int state_count, int motion_count) {
  OutputCapture quiet;
  auto scene = scene_arm_workcell::makeWorkcellScene();
  const auto states = seededStates(state_count);
  const auto motions = seededMotions(motion_count);
  AnswerSets sets;
  for (const Configuration& configuration : configurations()) {
    configuration.change(*scene);
    for (const bool simplify : {false, true}) {
      const std::string road = simplify ? " simplify" : " planning";
      sets[configuration.name + " states" + road] = checkStates(*scene, states, simplify);
    }
    for (const bool simplify : {false, true}) {
      const std::string road = simplify ? " simplify" : " planning";
      sets[configuration.name + " motions" + road] = checkMotions(*scene, motions, simplify);
    }
  }
  return sets;
}

void writeAnswers(const std::string& file, const std::string& checks, const AnswerSets& sets) {
  writeAnswerSets(fixturePath(file), "Answers of " + checks + " (1 = valid); see scene_recorded_answers_test.cpp.",
                  sets);
}

// The first `count` recorded answers of every set whose check is `check`.
AnswerSets recordedAnswers(const std::string& file, const std::string& check, size_t count) {
  AnswerSets sets;
  for (auto& [name, answers] : readAnswerSets(fixturePath(file))) {
    if (name.find(' ' + check + ' ') == std::string::npos) continue;
    EXPECT_GE(answers.size(), count) << name;
    answers.resize(std::min(answers.size(), count));
    sets.emplace(name, std::move(answers));
  }
  return sets;
}

AnswerSets onlyOf(const AnswerSets& sets, const std::string& check) {
  AnswerSets chosen;
  for (const auto& [name, answers] : sets) {
    if (name.find(' ' + check + ' ') != std::string::npos) chosen.emplace(name, answers);
  }
  return chosen;
}

void expectSameAnswers(const AnswerSets& recorded, const AnswerSets& today, size_t set_count) {
  ASSERT_EQ(recorded.size(), set_count);
  for (const auto& [name, answers] : recorded) {
    const auto found = today.find(name);
    ASSERT_NE(found, today.end()) << name;
    ASSERT_EQ(found->second.size(), answers.size()) << name;
    size_t differing = 0;
    for (size_t i = 0; i < answers.size(); ++i) differing += answers[i] != found->second[i];
    EXPECT_EQ(differing, 0u) << name;
  }
}

void compareWithRecord(int state_count, int motion_count) {
  const AnswerSets today = answersOfToday(state_count, motion_count);
  const size_t set_count = configurations().size() * 2;
  expectSameAnswers(recordedAnswers(kAnswersFile, "states", state_count), onlyOf(today, "states"), set_count);
  expectSameAnswers(recordedAnswers(kAnswersFile, "motions", motion_count), onlyOf(today, "motions"), set_count);
}

// Both answers occur in every set, so a check that answered one way throughout would stand out.
TEST(WorkcellAnswers, RecordedSetsHoldBothAnswers) {
  for (const std::string check : {"states", "motions"}) {
    for (const auto& [name, answers] : recordedAnswers(kAnswersFile, check, kQuickMotions)) {
      EXPECT_NE(std::count(answers.begin(), answers.end(), true), 0) << name;
      EXPECT_NE(std::count(answers.begin(), answers.end(), false), 0) << name;
    }
  }
}

TEST(WorkcellAnswers, FirstStatesAndMotionsAnswerAsRecorded) { compareWithRecord(kQuickStates, kQuickMotions); }

TEST(WorkcellAnswers, SlowAllStatesAndMotionsAnswerAsRecorded) {
  if (std::getenv("BRAMLOCK_RECORD_WORKCELL_ANSWERS")) {
    writeAnswers(kAnswersFile, "the scene arm's workcell checks", answersOfToday(kAllStates, kAllMotions));
    GTEST_SKIP() << "recorded " << fixturePath(kAnswersFile);
  }
  compareWithRecord(kAllStates, kAllMotions);
}

// ---- self answers of the published RM65 arm ----
// Its state checks without a world (so self checks alone) on both roads,
// while bodies are attached to and detached from its links, some with touch
// links and one attached anew under the same id with other touch links,
// against answers recorded from an earlier build
// (test/fixtures/realman/self_answers.txt). To record the file anew, run this
// program with BRAMLOCK_RECORD_RM65_SELF_ANSWERS set and the filter
// Rm65SelfAnswers.StatesAnswerAsRecorded.

const std::string kRm65AnswersFile = "realman/self_answers.txt";
constexpr int kRm65States = 3000;

// A bar of 4 cm square section along the link's z axis, its middle at `middle` (link frame).
void attachBar(ManipulatorPlanScene& scene, const std::string& id, const std::string& link,
               const std::set<std::string>& touch_links, const Eigen::Vector3d& middle, double length) {
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  pose.block<3, 1>(0, 3) = middle;
  double size[3] = {0.04, 0.04, length};
  OutputCapture quiet;
  ASSERT_EQ(scene.addAttachedCollisionObjectToLink(id, link, touch_links, pose, size, 1.0, 0.0), 0);
}

// Each change applies to the scene as the one before left it.
std::vector<Configuration> rm65Configurations() {
  // The tool reaches back beside the wrist, into Link5 at some turns of joint 6.
  const Eigen::Vector3d tool_middle(0.05, 0.0, 0.05);
  return {
      {"bare", [](ManipulatorPlanScene&) {}},
      {"tool", [=](ManipulatorPlanScene& scene) { attachBar(scene, "tool", "Link6", {"Link6"}, tool_middle, 0.3); }},
      {"tool+sleeve",
       [](ManipulatorPlanScene& scene) {
         attachBar(scene, "sleeve", "Link4", {"Link4", "Link5", "Link6"}, Eigen::Vector3d(0.0, 0.0, 0.1), 0.2);
       }},
      {"sleeve", [](ManipulatorPlanScene& scene) { scene.removeAttachedCollisionObjectFromLink("tool"); }},
      {"retouched+sleeve",
       [=](ManipulatorPlanScene& scene) {
         attachBar(scene, "tool", "Link6", {"Link6", "Link5"}, tool_middle, 0.3);
       }},
      {"retouched", [](ManipulatorPlanScene& scene) { scene.removeAttachedCollisionObjectFromLink("sleeve"); }},
  };
}

AnswerSets rm65AnswersOfToday() {
  auto scene = makeRm65(kSceneArmRobotPadding);
  std::vector<std::pair<double, double>> bounds;
  EXPECT_EQ(scene->getPlanSpaceBounds(bounds), 6);
  SeededJoints draw(65);
  std::vector<Joints> states;
  for (int i = 0; i < kRm65States; ++i) states.push_back(draw.within(bounds));
  AnswerSets sets;
  for (const Configuration& configuration : rm65Configurations()) {
    configuration.change(*scene);
    for (const bool simplify : {false, true}) {
      sets[configuration.name + (simplify ? " states simplify" : " states planning")] =
          checkStates(*scene, states, simplify);
    }
  }
  return sets;
}

TEST(Rm65SelfAnswers, StatesAnswerAsRecorded) {
  const AnswerSets today = rm65AnswersOfToday();
  if (std::getenv("BRAMLOCK_RECORD_RM65_SELF_ANSWERS")) {
    writeAnswers(kRm65AnswersFile, "the RM65 arm's self checks", today);
    GTEST_SKIP() << "recorded " << fixturePath(kRm65AnswersFile);
  }
  const AnswerSets recorded = recordedAnswers(kRm65AnswersFile, "states", kRm65States);
  expectSameAnswers(recorded, today, rm65Configurations().size() * 2);
  for (const auto& [name, answers] : recorded) {
    // Both answers are common, so a check that answered one way throughout would stand out.
    EXPECT_GT(std::count(answers.begin(), answers.end(), false), kRm65States / 50) << name;
    EXPECT_GT(std::count(answers.begin(), answers.end(), true), kRm65States / 50) << name;
  }
}

}  // namespace
