// Plans in seeded worlds around the scene arm. Every answer that was already
// sound must stay as recorded from an earlier build (fixture
// scene_arm/plan_answers.txt: per world one token per plan, the fingerprint of
// code, waypoints and console lines for the same random draws, or "unsound"
// for a path returned with 0 that the scene rejected on a re-check). To record
// the file anew, which is only right when a sound answer is meant to change,
// delete it and run this program with BRAMLOCK_RECORD_PLAN_ANSWERS set and the
// filter '*SlowPlanSoundness*'.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "seeded_worlds.h"
#include "test_support.h"

namespace {

using seeded_worlds::PlanAnswer;
using seeded_worlds::WorldKind;

const std::string kAnswersFile = "scene_arm/plan_answers.txt";
const std::string kUnsound = "unsound";
constexpr int kShards = 8;
constexpr int kWorldsPerShard = 6;
constexpr int kPlansPerWorld = 50;
// The oracle tests this many times as many states as the scene's motion check.
constexpr int kOracleDensity = 4;

// By the seed's remainder modulo 4: 1 blocks, 2 a wall, each with the scene
// arm's usual robot padding; 3 blocks, 0 a wall, with a robot padding above
// the gripper padding (the simplify road is then the laxer one).
WorldKind kindOfWorld(std::uint64_t seed) { return seed % 2 == 1 ? WorldKind::kBlocks : WorldKind::kWallWithWindow; }
double robotPaddingOfWorld(std::uint64_t seed) { return seed % 4 == 1 || seed % 4 == 2 ? 0.01 : 0.08; }

std::string worldKey(std::uint64_t seed) {
  return seeded_worlds::kindName(kindOfWorld(seed)) + " " + std::to_string(seed);
}

// Recorded tokens by world key.
std::map<std::string, std::vector<std::string>> recordedAnswers() {
  std::map<std::string, std::vector<std::string>> answers;
  std::ifstream in(bramlock_test::fixturePath(kAnswersFile));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string kind, seed, token;
    fields >> kind >> seed;
    std::vector<std::string>& tokens = answers[kind + " " + seed];
    while (fields >> token) tokens.push_back(token);
  }
  return answers;
}

std::string recordedToken(const std::map<std::string, std::vector<std::string>>& recorded, std::uint64_t seed,
                          int plan) {
  const auto world = recorded.find(worldKey(seed));
  if (world == recorded.end() || plan >= static_cast<int>(world->second.size())) return "";
  return world->second[plan];
}

bool recording() { return std::getenv("BRAMLOCK_RECORD_PLAN_ANSWERS") != nullptr; }

void record(std::uint64_t seed, const std::vector<std::string>& tokens) {
  std::ofstream out(bramlock_test::fixturePath(kAnswersFile), std::ios::app);
  out << worldKey(seed);
  for (const std::string& token : tokens) out << ' ' << token;
  out << '\n';
}

// One world with its scene and its plan requests; plan i draws from seed * 1000 + i.
struct SeededWorld {
  explicit SeededWorld(std::uint64_t world_seed, int plans)
      : seed(world_seed),
        world(seeded_worlds::makeWorld(kindOfWorld(seed), seed, robotPaddingOfWorld(seed))),
        scene(seeded_worlds::sceneIn(world)),
        requests(seeded_worlds::planRequests(*scene, seed, plans)) {}

  PlanAnswer plan(int i) { return seeded_worlds::planWithFixedDraws(*scene, requests.at(i), seed * 1000 + i); }

  std::uint64_t seed;
  seeded_worlds::World world;
  std::unique_ptr<ManipulatorPlanScene> scene;
  std::vector<seeded_worlds::PlanRequest> requests;
};

struct SweepTally {
  int plans = 0;
  int returned = 0;
  int unsound_before = 0;
  int unsound = 0;
  int oracle_misses = 0;
};

// Plans every request of one world and checks each answer.
void sweepWorld(std::uint64_t seed, const std::map<std::string, std::vector<std::string>>& recorded,
                SweepTally& tally) {
  SeededWorld world(seed, kPlansPerWorld);
  seeded_worlds::UnpaddedArmOracle oracle(world.world);
  // The oracle sees the world: some direct motion that the scene rejects runs into it.
  bool oracle_sees_world = false;
  for (std::size_t i = 0; i < world.requests.size() && !oracle_sees_world; ++i) {
    oracle_sees_world = oracle.motionTouches(*world.scene, world.requests[i].start, world.requests[i].goal, 1);
  }
  EXPECT_TRUE(oracle_sees_world) << worldKey(seed);
  std::vector<std::string> tokens;
  for (int i = 0; i < kPlansPerWorld; ++i) {
    const std::string key = worldKey(seed) + " plan " + std::to_string(i);
    const PlanAnswer answer = world.plan(i);
    ++tally.plans;
    const std::string failure = answer.code == 0 ? seeded_worlds::firstFailure(*world.scene, answer.path) : "";
    tokens.push_back(failure.empty() ? seeded_worlds::fingerprint(answer) : kUnsound);
    const std::string before = recordedToken(recorded, seed, i);
    tally.unsound_before += before == kUnsound;
    if (!before.empty() && before != kUnsound) {
      EXPECT_EQ(seeded_worlds::fingerprint(answer), before) << key << " changed";
    }
    if (answer.code != 0) continue;
    ++tally.returned;
    tally.unsound += !failure.empty();
    for (std::size_t s = 1; s < answer.path.size(); ++s) {
      if (oracle.motionTouches(*world.scene, answer.path[s - 1], answer.path[s], kOracleDensity)) {
        ++tally.oracle_misses;
        break;
      }
    }
  }
  if (recording()) record(seed, tokens);
}

class SlowPlanSoundness : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(SlowPlanSoundness, SoundAnswersStayAsRecorded) {
  const auto recorded = recordedAnswers();
  SweepTally tally;
  for (int w = 0; w < kWorldsPerShard; ++w) {
    sweepWorld(static_cast<std::uint64_t>(GetParam() * kWorldsPerShard + w + 1), recorded, tally);
  }
  std::printf("plans %d, returned %d, unsound %d (before: %d), oracle misses %d\n", tally.plans, tally.returned,
              tally.unsound, tally.unsound_before, tally.oracle_misses);
}

INSTANTIATE_TEST_SUITE_P(Shards, SlowPlanSoundness, ::testing::Range(0, kShards));
