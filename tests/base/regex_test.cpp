#include "base/regex.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/unicode.h"

namespace tovrin {
namespace {

icu::UnicodeString u(std::string_view s) {
  return unicode::toUnicode(s);
}

TEST(RegexTest, CapturesAndNonParticipatingGroups) {
  Regex re(R"((\d+)|(x))", {.caseInsensitive = true});
  auto m = re.find(u("abc X"));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->start, 4);
  ASSERT_EQ(m->groups.size(), 2u);
  EXPECT_TRUE(m->groups[0].isEmpty());
  EXPECT_EQ(unicode::toUtf8(m->groups[1]), "X");
}

TEST(RegexTest, InvalidPatternMatchesNothing) {
  Regex re("(unclosed");
  EXPECT_FALSE(re.valid());
  EXPECT_FALSE(re.find(u("(unclosed")));
}

TEST(RegexTest, RunawayBacktrackingCountsAsNoMatch) {
  // Exponential on a near miss; the step limit ends it quickly.
  Regex re("^(a+)+$");
  std::string text(40, 'a');
  text += '!';
  EXPECT_FALSE(re.find(u(text)));
  // The same matcher still works afterwards.
  EXPECT_TRUE(re.find(u("aaaa")));
}

TEST(RegexTest, SharedBetweenThreads) {
  static const Regex re(R"(tab\s+(\d+))");
  std::vector<std::thread> threads;
  std::vector<std::string> results(8);
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&results, i] {
      for (int n = 0; n < 500; ++n) {
        auto m = re.find(u("go to tab " + std::to_string(i)));
        results[i] = m ? unicode::toUtf8(m->groups[0]) : "none";
      }
    });
  }
  for (auto& t : threads)
    t.join();
  for (std::size_t i = 0; i < results.size(); ++i)
    EXPECT_EQ(results[i], std::to_string(i));
}

TEST(RegexTest, ManyShortLivedRegexes) {
  // Beyond the per-thread cache, regexes still work (served uncached).
  for (int i = 0; i < 1500; ++i) {
    Regex re("n" + std::to_string(i));
    ASSERT_TRUE(re.find(u("xn" + std::to_string(i)))) << i;
  }
}

}  // namespace
}  // namespace tovrin
