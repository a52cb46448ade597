#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/collision_detection/allowed_collision_matrix.h"

namespace {

using collision_detection::AllowedCollisionMatrix;
using collision_detection::Contact;
using collision_detection::ContactDeciderFn;
using Type = collision_detection::AllowedCollision::Type;
using Names = std::vector<std::string>;
constexpr Type NEVER = collision_detection::AllowedCollision::NEVER;
constexpr Type ALWAYS = collision_detection::AllowedCollision::ALWAYS;
constexpr Type CONDITIONAL = collision_detection::AllowedCollision::CONDITIONAL;

// The effective type of a pair; the sentinel 7 when the matrix has no answer.
int allowed(const AllowedCollisionMatrix& acm, const std::string& a, const std::string& b) {
  Type type = static_cast<Type>(7);
  return acm.getAllowedCollision(a, b, type) ? type : 7;
}

int entry(const AllowedCollisionMatrix& acm, const std::string& a, const std::string& b) {
  Type type = static_cast<Type>(7);
  return acm.getEntry(a, b, type) ? type : 7;
}

// A decider that answers `answer` and counts its calls.
ContactDeciderFn counting(bool answer, int& calls) {
  return [answer, &calls](Contact&) {
    ++calls;
    return answer;
  };
}

Names entryNames(const AllowedCollisionMatrix& acm) {
  Names names;
  acm.getAllEntryNames(names);
  return names;
}

TEST(AllowedCollisionMatrix, PairEntriesAreStoredBothWays) {
  AllowedCollisionMatrix acm;
  acm.setEntry("a", "b", true);
  EXPECT_EQ(entry(acm, "b", "a"), ALWAYS);
  EXPECT_TRUE(acm.hasEntry("b"));
  EXPECT_TRUE(acm.hasEntry("a", "b"));
  EXPECT_FALSE(acm.hasEntry("a", "a"));
  EXPECT_EQ(allowed(acm, "a", "c"), 7);  // no answer leaves the out-parameter alone

  int calls = 0;
  acm.setEntry("a", "b", counting(true, calls));
  EXPECT_EQ(entry(acm, "b", "a"), CONDITIONAL);
  ContactDeciderFn fn;
  ASSERT_TRUE(acm.getEntry("b", "a", fn));
  Contact contact;
  EXPECT_TRUE(fn(contact));
  EXPECT_EQ(calls, 1);

  acm.setEntry("a", "b", false);
  EXPECT_EQ(entry(acm, "a", "b"), NEVER);
  EXPECT_FALSE(acm.getEntry("a", "b", fn));
  EXPECT_FALSE(acm.getEntry("b", "a", fn));
}

TEST(AllowedCollisionMatrix, SettingEveryPairKeepsDeciders) {
  AllowedCollisionMatrix acm;
  int calls = 0;
  acm.setEntry("a", "b", counting(false, calls));
  acm.setEntry("a", "c", false);
  acm.setEntry(true);
  EXPECT_EQ(entry(acm, "a", "b"), ALWAYS);
  EXPECT_EQ(entry(acm, "c", "a"), ALWAYS);
  ContactDeciderFn fn;
  EXPECT_TRUE(acm.getEntry("a", "b", fn));
  EXPECT_FALSE(acm.hasEntry("b", "c"));  // no entry is created
}

TEST(AllowedCollisionMatrix, ConstructorAndGroupSetters) {
  const AllowedCollisionMatrix from_names(Names{"a", "b"}, false);
  for (const char* a : {"a", "b"}) {
    for (const char* b : {"a", "b"}) EXPECT_EQ(entry(from_names, a, b), NEVER) << a << b;
  }

  AllowedCollisionMatrix acm(Names{"a", "b"}, false);
  acm.setEntry("x", true);
  EXPECT_EQ(entry(acm, "x", "a"), ALWAYS);
  EXPECT_EQ(entry(acm, "b", "x"), ALWAYS);
  EXPECT_FALSE(acm.hasEntry("x", "x"));
  EXPECT_EQ(entryNames(acm), (Names{"a", "b", "x"}));

  AllowedCollisionMatrix lists;
  lists.setEntry(Names{"p", "q"}, Names{"p", "r", "s"}, true);
  EXPECT_FALSE(lists.hasEntry("p", "p"));  // a name is never paired with itself here
  for (const char* a : {"p", "q"}) {
    for (const char* b : {"r", "s"}) EXPECT_EQ(entry(lists, b, a), ALWAYS) << a << b;
  }
  EXPECT_EQ(entry(lists, "q", "p"), ALWAYS);
  EXPECT_FALSE(lists.hasEntry("r", "s"));
}

TEST(AllowedCollisionMatrix, DefaultsTakePrecedenceOverPairs) {
  AllowedCollisionMatrix acm;
  acm.setEntry("a", "b", false);
  acm.setDefaultEntry("a", true);
  EXPECT_EQ(allowed(acm, "a", "b"), ALWAYS);
  EXPECT_EQ(allowed(acm, "b", "a"), ALWAYS);
  EXPECT_EQ(entry(acm, "a", "b"), NEVER);  // the pair itself is unchanged

  int calls = 0;
  acm.setDefaultEntry("b", counting(true, calls));
  EXPECT_EQ(allowed(acm, "a", "b"), CONDITIONAL);
  acm.setDefaultEntry("a", counting(true, calls));
  acm.setDefaultEntry("b", false);
  EXPECT_EQ(allowed(acm, "a", "b"), NEVER);
  ContactDeciderFn fn;
  EXPECT_FALSE(acm.getDefaultEntry("b", fn));  // a bool default drops the decider
  Type type;
  ASSERT_TRUE(acm.getDefaultEntry("b", type));
  EXPECT_EQ(type, NEVER);

  acm.removeEntry("a");
  EXPECT_FALSE(acm.hasEntry("a"));
  EXPECT_FALSE(acm.hasEntry("b", "a"));
  EXPECT_EQ(allowed(acm, "a", "z"), CONDITIONAL);  // answered from a's default

  acm.clear();
  EXPECT_EQ(allowed(acm, "a", "b"), 7);
  EXPECT_TRUE(entryNames(acm).empty());
}

TEST(AllowedCollisionMatrix, DecidersComeFromDefaultsOrThePair) {
  AllowedCollisionMatrix acm;
  int pair_calls = 0, first_calls = 0, second_calls = 0;
  acm.setEntry("a", "b", counting(true, pair_calls));
  Contact contact;
  ContactDeciderFn fn;
  ASSERT_TRUE(acm.getAllowedCollision("a", "b", fn));
  EXPECT_TRUE(fn(contact));
  EXPECT_EQ(pair_calls, 1);

  acm.setDefaultEntry("a", counting(false, first_calls));
  ASSERT_TRUE(acm.getAllowedCollision("b", "a", fn));
  EXPECT_FALSE(fn(contact));
  EXPECT_EQ(first_calls, 1);

  // Both defaults: the second is asked only when the first accepts.
  acm.setDefaultEntry("b", counting(true, second_calls));
  ASSERT_TRUE(acm.getAllowedCollision("a", "b", fn));
  EXPECT_FALSE(fn(contact));
  EXPECT_EQ(first_calls, 2);
  EXPECT_EQ(second_calls, 0);
  acm.setDefaultEntry("a", counting(true, first_calls));
  ASSERT_TRUE(acm.getAllowedCollision("a", "b", fn));
  EXPECT_TRUE(fn(contact));
  EXPECT_EQ(first_calls, 3);
  EXPECT_EQ(second_calls, 1);
  EXPECT_EQ(pair_calls, 1);

  // The combined decider owns copies of both.
  acm.clear();
  EXPECT_TRUE(fn(contact));

  acm.setDefaultEntry("e", ContactDeciderFn());
  ASSERT_TRUE(acm.getAllowedCollision("e", "f", fn));
  EXPECT_THROW(fn(contact), std::bad_function_call);
}

TEST(AllowedCollisionMatrix, RemovingAPairKeepsItsNames) {
  AllowedCollisionMatrix acm;
  int calls = 0;
  acm.setEntry("a", "b", counting(true, calls));
  acm.removeEntry("b", "a");
  EXPECT_FALSE(acm.hasEntry("a", "b"));
  EXPECT_FALSE(acm.hasEntry("b", "a"));
  ContactDeciderFn fn;
  EXPECT_FALSE(acm.getEntry("a", "b", fn));
  EXPECT_EQ(entryNames(acm), (Names{"a", "b"}));
  acm.removeEntry("x", "y");  // absent: nothing happens
  EXPECT_EQ(entryNames(acm), (Names{"a", "b"}));
}

std::string printed(const AllowedCollisionMatrix& acm) {
  std::ostringstream out;
  acm.print(out);
  return out.str();
}

TEST(AllowedCollisionMatrix, EveryChangeDrawsARevisionNeverSeenBefore) {
  AllowedCollisionMatrix acm;
  std::set<std::uint64_t> seen{acm.revision()};
  const ContactDeciderFn accept = [](Contact&) { return true; };
  const std::vector<std::function<void()>> changes = {
      [&] { acm.setEntry("a", "b", true); },
      [&] { acm.setEntry("a", "b", accept); },
      [&] { acm.setEntry("c", true); },
      [&] {
        acm.setEntry("d", Names{"a", "b"}, false);
      },
      [&] { acm.setEntry(Names{"e"}, Names{"a"}, true); },
      [&] { acm.setEntry(false); },
      [&] { acm.setDefaultEntry("a", true); },
      [&] { acm.setDefaultEntry("b", accept); },
      [&] { acm.removeEntry("a", "b"); },
      [&] { acm.removeEntry("c"); },
      [&] { acm.clear(); },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    changes[i]();
    EXPECT_TRUE(seen.insert(acm.revision()).second) << "change " << i;
  }
  EXPECT_TRUE(seen.insert(AllowedCollisionMatrix().revision()).second);
  EXPECT_EQ(seen.count(0), 0u);  // 0 stands for "no matrix" in the checkers' memo
}

TEST(AllowedCollisionMatrix, ACopySharesTheRevisionUntilEitherChanges) {
  AllowedCollisionMatrix source;
  source.setEntry("a", "b", true);
  AllowedCollisionMatrix copy = source;
  EXPECT_EQ(copy.revision(), source.revision());
  copy.setEntry("a", "b", false);
  EXPECT_NE(copy.revision(), source.revision());
  copy = source;
  EXPECT_EQ(copy.revision(), source.revision());

  // A moved-from matrix no longer holds what its number stood for.
  const std::uint64_t held = source.revision();
  AllowedCollisionMatrix target = std::move(source);
  EXPECT_EQ(target.revision(), held);
  EXPECT_NE(source.revision(), held);  // NOLINT(bugprone-use-after-move)
  AllowedCollisionMatrix assigned;
  assigned = std::move(target);
  EXPECT_EQ(assigned.revision(), held);
  EXPECT_NE(target.revision(), held);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(allowed(assigned, "a", "b"), ALWAYS);
}

TEST(AllowedCollisionMatrix, PrintLayout) {
  EXPECT_EQ(printed(AllowedCollisionMatrix()), std::string(11, ' ') + "\n" + std::string(11, ' ') + "\n");

  AllowedCollisionMatrix acm;
  acm.setEntry("base_link", "link1", true);
  const std::string expected = std::string(22, ' ') + "\n" +  //
                               std::string(16, ' ') + "  0  1\n" +
                               " base_link  0 |   -  1\n"
                               "     link1  1 |   1  -\n";
  EXPECT_EQ(printed(acm), expected);

  // Defaults show in the cells; a conditional pair prints '?'.
  int calls = 0;
  acm.setEntry("c", "link1", counting(true, calls));
  acm.setDefaultEntry("base_link", false);
  std::istringstream lines(printed(acm));
  std::string line;
  std::vector<std::string> rows;
  while (std::getline(lines, line)) rows.push_back(line);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[2], " base_link  0 |   0  0  0");
  EXPECT_EQ(rows[3], "         c  1 |   0  -  ?");
  EXPECT_EQ(calls, 0);
}

TEST(AllowedCollisionMatrix, PrintWidensForManyNames) {
  Names names;
  for (int i = 0; i < 100; ++i) names.push_back("n" + std::to_string(1000 + i));
  AllowedCollisionMatrix acm(names, true);
  std::istringstream lines(printed(acm));
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 103u);
  const std::string indent(6 + 3 + 4, ' ');
  // Indices are three characters wide, written down the three header lines.
  EXPECT_EQ(rows[0], indent + std::string(300, ' '));
  EXPECT_EQ(rows[1].substr(rows[1].size() - 6), "  9  9");
  EXPECT_EQ(rows[2].substr(rows[2].size() - 6), "  8  9");
  EXPECT_EQ(rows[2].substr(indent.size(), 6), "  0  1");
  EXPECT_EQ(rows[102].substr(0, 13), " n1099  99 | ");
  EXPECT_EQ(rows[102].size(), 13u + 300u);
}

}  // namespace
