#include "text/text_util.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace tovrin {
namespace {

using Strings = std::vector<std::string>;

TEST(TextUtilTest, Norm) {
  const std::pair<const char*, const char*> cases[] = {
      {"Sign-In!", "sign in"},
      {"e-mail   address", "e mail address"},
      {"$49.99/mo", "49 99 mo"},
      {"Café", "cafe"},
      {"ÉTÉ", "ete"},
      {"Step 2 of 3", "step 2 of 3"},
      {"", ""},
      {"!!! ... ???", ""},
      {"  ¡Hola, señor!  ", "hola senor"},
      {"Straße", "strasse"},
      {"👍 great 🎉 deal", "great deal"},
      {"naïve\u00A0café", "naive cafe"},  // no-break space separates
      {"e\u0301cole", "ecole"},           // decomposed accent
      {"हिन्दी भाषा", "हिनदी भाषा"},       // virama folded away, vowel signs kept with their letters
      {"東京タワー", "東京タワー"},       // the long-vowel mark is a (modifier) letter
      {"٣ items", "٣ items"},             // any Unicode digit counts
      {"Ⅻ chapters", "ⅻ chapters"},       // letter-like numbers too
      {"\xFF\xFE broken", "broken"},      // malformed bytes are not letters
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(input);
    EXPECT_EQ(TextUtil::norm(input), expected);
  }
}

TEST(TextUtilTest, Stem) {
  const std::pair<const char*, const char*> cases[] = {
      {"pricing", "pric"},
      {"price", "pric"},
      {"prices", "pric"},
      {"settings", "sett"},
      {"shipped", "shipp"},
      {"plans", "plan"},
      {"uses", "use"},
      {"use", "use"},
      {"ties", "tie"},
      {"policies", "policy"},
      {"cookies", "cooky"},
      {"bus", "bus"},
      {"ices", "ice"},
      {"things", "thing"},
      {"sing", "sing"},
      {"as", "as"},
      {"", ""},
      {"cafés", "café"},
      {"ééés", "ééé"},
      {"éés", "éés"},
  };
  for (const auto& [word, expected] : cases) {
    SCOPED_TRACE(word);
    EXPECT_EQ(TextUtil::stem(word), expected);
  }
}

TEST(TextUtilTest, TokensAndContentTokens) {
  EXPECT_EQ(TextUtil::tokens("Step 2 of 3"), (Strings{"step", "2", "of", "3"}));
  EXPECT_EQ(TextUtil::contentTokens("Step 2 of 3"), (Strings{"step", "2", "3"}));
  EXPECT_EQ(TextUtil::contentTokens("what is the price"), Strings{"pric"});
  EXPECT_EQ(TextUtil::contentTokens("what is it"), Strings{});
  // Stop words are tested before stemming.
  EXPECT_EQ(TextUtil::contentTokens("mentions mentioning finds"), Strings{"find"});
  EXPECT_EQ(TextUtil::tokens("plans, plans & PLANS"), (Strings{"plan", "plan", "plan"}));
  EXPECT_EQ(TextUtil::tokens("!!!"), Strings{});
  EXPECT_EQ(TextUtil::stop().size(), 79u);
}

TEST(TextUtilTest, Synonyms) {
  // "price" precedes "pricing" in the table, so the shared stem takes its list.
  EXPECT_EQ(TextUtil::synonyms("pric"), (Strings{"cost", "pric", "fee", "plan", "subscription"}));
  EXPECT_EQ(TextUtil::synonyms("ship"), Strings{});
  EXPECT_EQ(TextUtil::synonyms("shipp"), (Strings{"delivery", "deliver"}));
  EXPECT_EQ(TextUtil::synonyms("fre"), (Strings{"trial", "no", "cost"}));
  EXPECT_EQ(TextUtil::synonyms("publish"), (Strings{"dat", "post"}));
  EXPECT_EQ(TextUtil::synonyms(""), Strings{});
}

TEST(TextUtilTest, CleanAndWords) {
  EXPECT_EQ(TextUtil::clean("  Sign\n  in\r\n"), "Sign in");
  EXPECT_EQ(TextUtil::clean("a\tb\u00A0c\u2028d\u2029e\u0085f\vg\fh"), "a b c d e f g h");
  EXPECT_EQ(TextUtil::clean(" \n\t "), "");
  EXPECT_EQ(TextUtil::clean("bad\xC3 byte"), "bad\uFFFD byte");
  EXPECT_EQ(TextUtil::words("  one two\nthree\u3000four "), 4u);
  EXPECT_EQ(TextUtil::words(""), 0u);
  EXPECT_EQ(TextUtil::words("   "), 0u);
}

TEST(TextUtilTest, Sentences) {
  EXPECT_EQ(TextUtil::sentences("Hello there. How are you?  Fine!"),
            (Strings{"Hello there.", "How are you?", "Fine!"}));
  EXPECT_EQ(TextUtil::sentences("Line one\n\nLine  two."), (Strings{"Line one", "Line two."}));
  EXPECT_EQ(TextUtil::sentences(""), Strings{});
  EXPECT_EQ(TextUtil::sentences("  \n "), Strings{});
}

TEST(TextUtilTest, MarkdownEscaping) {
  EXPECT_EQ(TextUtil::md("snake_case *bold*"), "snake\\_case \\*bold\\*");
  EXPECT_EQ(TextUtil::md("plain text, nothing special"), "plain text, nothing special");
  EXPECT_EQ(TextUtil::md("\\`*_{}[]()#+!<>|~"),
            "\\\\\\`\\*\\_\\{\\}\\[\\]\\(\\)\\#\\+\\!\\<\\>\\|\\~");
  EXPECT_EQ(TextUtil::md("line\nbreak — dash"), "line\nbreak — dash");
}

TEST(TextUtilTest, TablesAreSafeToBuildFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<Strings> results(8);
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&results, i] {
      results[i] = TextUtil::synonyms("pric");
      auto sentences = TextUtil::sentences("One. Two.");
      results[i].insert(results[i].end(), sentences.begin(), sentences.end());
    });
  }
  for (auto& t : threads)
    t.join();
  for (const Strings& r : results)
    EXPECT_EQ(r, results[0]);
}

}  // namespace
}  // namespace tovrin
