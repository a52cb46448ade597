#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bramlock_arm_planning_core/logger.h"
#include "test_support.h"

using bramlock::Logger;
using bramlock_test::ChildResult;
using bramlock_test::Environment;
using bramlock_test::runInChild;

namespace {

const Environment kQuietStartup = {{"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", "info"}};

Environment with(Environment base, const Environment& changes) {
  for (const auto& entry : changes) base[entry.first] = entry.second;
  return base;
}

struct StartupCase {
  Environment environment;
  std::string expected_startup_lines;
  bool stdout_sink;
  int level;
};

}  // namespace

TEST(LoggerEnvironment, StartupLinesSinksAndLevelFollowTheVariables) {
  const std::vector<StartupCase> cases = {
      {{{"SPDLOG_STDOUT", std::nullopt}, {"SPDLOG_SYSTEMD", std::nullopt}, {"SPDLOG_LEVEL", std::nullopt}},
       "environment variable SPDLOG_STDOUT is not set, and set true\n"
       "environment variable SPDLOG_SYSTEMD is not set, and set false\n"
       "environment variable SPDLOG_LEVEL is not set, and set default level\n",
       true,
       2},
      {kQuietStartup, "", true, 2},
      {with(kQuietStartup, {{"SPDLOG_STDOUT", "TRUE"}}),
       "environment variable SPDLOG_STDOUT is invalid, and set true\n", true, 2},
      {with(kQuietStartup, {{"SPDLOG_STDOUT", "false"}}), "", false, 2},
      {with(kQuietStartup, {{"SPDLOG_SYSTEMD", "yes"}}),
       "environment variable SPDLOG_SYSTEMD is invalid, and set false\n", true, 2},
      {with(kQuietStartup, {{"SPDLOG_LEVEL", "warn"}}),
       "environment variable SPDLOG_LEVEL is invalid, and set default level\n", true, 2},
      {with(kQuietStartup, {{"SPDLOG_LEVEL", "off"}}),
       "environment variable SPDLOG_LEVEL is invalid, and set default level\n", true, 2},
      {with(kQuietStartup, {{"SPDLOG_LEVEL", "trace"}}), "", true, 0},
      {with(kQuietStartup, {{"SPDLOG_LEVEL", "debug"}}), "", true, 1},
      {with(kQuietStartup, {{"SPDLOG_LEVEL", "warning"}}), "", true, 3},
      {with(kQuietStartup, {{"SPDLOG_LEVEL", "error"}}), "", true, 4},
      {with(kQuietStartup, {{"SPDLOG_LEVEL", "critical"}}), "", true, 5},
  };
  for (const StartupCase& each : cases) {
    const ChildResult result = runInChild(each.environment, [&] {
      Logger* logger = Logger::Instance();
      const bool sink_count_ok = logger->logger_->sinks().size() == (each.stdout_sink ? 1u : 0u);
      return (sink_count_ok ? 0 : 1) | (logger->level_ == each.level ? 0 : 2) |
             (static_cast<int>(logger->logger_->level()) == each.level ? 0 : 4);
    });
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_EQ(result.out, each.expected_startup_lines);
  }
}

TEST(LoggerEnvironment, JournalSinkFollowsTheStdoutSink) {
  const ChildResult result = runInChild(with(kQuietStartup, {{"SPDLOG_SYSTEMD", "true"}}),
                                        [] { return Logger::Instance()->logger_->sinks().size() == 2 ? 0 : 1; });
  EXPECT_EQ(result.exit_code, 0);
}

TEST(LoggerStatements, NumberTagAndMessageFormTheLine) {
  const ChildResult result = runInChild(kQuietStartup, [] {
    BRAMLOCK_INFO("IK failed");
    BRAMLOCK_WARN("value {} and {:.4f}", 7, 0.5);
    BRAMLOCK_ERROR("oops");
    return 0;
  });
  EXPECT_EQ(result.out, "  1 [INFO] IK failed\n  2 [WARN] value 7 and 0.5000\n  3 [ERROR] oops\n");
}

TEST(LoggerStatements, CounterPrintsModulo128AndWrapsAt256) {
  const ChildResult result = runInChild(kQuietStartup, [] {
    for (int i = 1; i <= 129; ++i) BRAMLOCK_INFO("m{}", i);
    for (int i = 130; i <= 256; ++i) BRAMLOCK_INFO("m{}", i);
    return Logger::Instance()->counter_.load() == 0 ? 0 : 1;
  });
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.out.find("\n  0 [INFO] m128\n  1 [INFO] m129\n"), std::string::npos);
  EXPECT_NE(result.out.find(" 12 [INFO] m12\n"), std::string::npos);
  EXPECT_NE(result.out.find("\n127 [INFO] m255\n  0 [INFO] m256\n"), std::string::npos);
}

TEST(LoggerStatements, DisabledLevelsNeitherPrintNorCount) {
  const ChildResult result = runInChild(with(kQuietStartup, {{"SPDLOG_LEVEL", "error"}}), [] {
    BRAMLOCK_INFO("hidden info");
    BRAMLOCK_WARN("hidden warn");
    BRAMLOCK_ERROR("shown");
    return Logger::Instance()->counter_.load() == 1 ? 0 : 1;
  });
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "  1 [ERROR] shown\n");

  const ChildResult critical = runInChild(with(kQuietStartup, {{"SPDLOG_LEVEL", "critical"}}), [] {
    BRAMLOCK_ERROR("hidden");
    return Logger::Instance()->counter_.load() == 0 ? 0 : 1;
  });
  EXPECT_EQ(critical.exit_code, 0);
  EXPECT_EQ(critical.out, "");
}

TEST(LoggerStatements, LoggerWithoutSinksStillCounts) {
  const ChildResult result = runInChild(with(kQuietStartup, {{"SPDLOG_STDOUT", "false"}}), [] {
    BRAMLOCK_INFO("a");
    BRAMLOCK_WARN("b");
    return Logger::Instance()->counter_.load() == 2 ? 0 : 1;
  });
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
}

TEST(LoggerStatements, MissingSpdlogLoggerSkipsOutputWithoutCrashing) {
  const ChildResult result = runInChild(kQuietStartup, [] {
    Logger::Instance()->logger_.reset();
    BRAMLOCK_ERROR("nowhere to go");
    return 0;
  });
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
}

TEST(LoggerStatements, BracesAndUtf8PassByteExact) {
  const ChildResult result = runInChild(kQuietStartup, [] {
    BRAMLOCK_INFO("{}", std::string("literal {} and {0} braces"));
    BRAMLOCK_INFO("轨迹规划失败, 关节 {} 超限 {{x}}", 3);
    return 0;
  });
  EXPECT_EQ(result.out,
            "  1 [INFO] literal {} and {0} braces\n"
            "  2 [INFO] 轨迹规划失败, 关节 3 超限 {x}\n");
}

TEST(BuildFlags, InternalChecksStayActive) {
#ifdef NDEBUG
  FAIL() << "NDEBUG is defined: assertions are off";
#else
  SUCCEED();
#endif
}
