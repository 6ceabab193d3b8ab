#include "base/unicode.h"

#include <gtest/gtest.h>

namespace tovrin {
namespace {

const char* const kFamily = "👩‍👩‍👧‍👦";  // one character, eleven code points

TEST(UnicodeTest, LengthCountsUserPerceivedCharacters) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"", 0},
      {"abc", 3},
      {"\r\n", 1},
      {"a\r\nb", 3},
      {"e\u0301", 1},
      {kFamily, 1},
      {std::string(kFamily) + "x" + kFamily, 3},
      {"🇫🇷🇩🇪", 2},
      {"\xFF\xFE", 2},  // each malformed byte counts as one character
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(unicode::length(text), expected) << text;
}

TEST(UnicodeTest, CutsNeverSplitACharacter) {
  EXPECT_EQ(unicode::prefix("e\u0301te\u0301", 2), "e\u0301t");
  EXPECT_EQ(unicode::prefix(std::string(kFamily) + kFamily, 1), kFamily);
  EXPECT_EQ(unicode::prefix("abc", 10), "abc");
  EXPECT_EQ(unicode::prefix("abc", 0), "");
  EXPECT_EQ(unicode::truncate("abcd", 4), "abcd");
  EXPECT_EQ(unicode::truncate("abcde", 4), "abc…");
  EXPECT_EQ(unicode::truncate(std::string(kFamily) + kFamily + kFamily, 2),
            std::string(kFamily) + "…");
  EXPECT_EQ(unicode::firstCharacter("e\u0301x"), "e\u0301");
  EXPECT_EQ(unicode::lastCharacter("xe\u0301"), "e\u0301");
  EXPECT_EQ(unicode::lastCharacter(""), "");
}

TEST(UnicodeTest, TrimsAndRepairs) {
  EXPECT_EQ(unicode::trimWhitespace("\u00A0\u2028 x y \t\u3000"), "x y");
  EXPECT_EQ(unicode::trimWhitespace(" \n "), "");
  EXPECT_EQ(unicode::trimCodePoints(",. Hi!?", U" .!?,"), "Hi");
  EXPECT_EQ(unicode::trimCodePoints("\xE2\x80 x", U" "), "\uFFFD x");
  EXPECT_EQ(unicode::repair("ok\xC0\xAFok"), "ok\uFFFD\uFFFDok");    // overlong '/'
  EXPECT_EQ(unicode::repair("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD");  // lone surrogate
  EXPECT_EQ(unicode::lower("ÉCOLE Straße"), "école straße");
}

}  // namespace
}  // namespace tovrin
