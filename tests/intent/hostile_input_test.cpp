#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/unicode.h"
#include "intent/intent_json.h"
#include "intent/intent_parser.h"
#include "test_json.h"

namespace tovrin {
namespace {

std::string repeat(std::string_view piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += piece;
  return out;
}

// Whatever a command holds, the parser gives nothing or a well-formed intent:
// valid UTF-8 in its title and in every field of its JSON.
TEST(HostileInputTest, NeverCrashesAndAlwaysGivesWellFormedText) {
  const std::vector<std::string> inputs = {
      "",
      std::string(1, '\0'),
      std::string("click \0 ok", 10),
      "\t\n\v\f\r",
      repeat(" ", 10000),
      repeat("a", 10000),
      repeat("click ", 2000),
      repeat("?", 10000),
      "replace " + repeat(" ", 5000) + "x",
      "scroll " + repeat(" \t", 5000) + "to x",
      "go to " + repeat("to a ", 2000) + "tab",
      "click " + repeat("x near ", 1500),
      "\xFF\xFE\xFD",
      "click \xC3",
      "type \xED\xA0\x80 into \xF4\x90\x80\x80",
      "click\x01ok",
      "click ok\x07\x1B[31m",
      "tab \u0663\u0663",
      "👩‍👩‍👧‍👦 click 👍🏽",
      "click 🇫🇷 flag",
      "type " + repeat("e\u0301", 3000),
      "\u202Eclick evil\u202C",
      "click \u200B\u200D",
      "set \"\" to \"\"",
      "click \"",
      "type ''",
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(unicode::repair(input.substr(0, 60)));
    auto intent = IntentParser::parse(input);
    if (!intent) continue;
    std::string title = intent->title();
    EXPECT_EQ(unicode::repair(title), title);
    std::string json = toJson(*intent).dump();  // throws on invalid UTF-8
    EXPECT_FALSE(json.empty());
  }
}

TEST(HostileInputTest, LongCommandsStillParseInFull) {
  std::string text = repeat("a", 10000);
  auto intent = IntentParser::parse("type " + text);
  ASSERT_TRUE(intent);
  ASSERT_TRUE(intent->as<Intent::Type>());
  EXPECT_EQ(intent->as<Intent::Type>()->text, text);
  EXPECT_EQ(intent->title(), "Type “" + repeat("a", 23) + "…”");

  auto click = IntentParser::parse("click " + repeat("b", 100000) + " button");
  ASSERT_TRUE(click && click->as<Intent::Click>());
  EXPECT_EQ(click->as<Intent::Click>()->target.query.size(), 100000u);
  EXPECT_EQ(click->as<Intent::Click>()->target.role, RoleHint::button);
}

TEST(HostileInputTest, MalformedAndUnusualTextIsReadAsCharacters) {
  const std::pair<std::string, const char*> cases[] = {
      {"click \xFF\xFE",
       "{'intent':'click','target':{'query':'\uFFFD\uFFFD','ordinal':null,"
       "'role':'any','nextTo':null}}"},
      {"click\x01ok", "null"},  // a control character is not a space
      {"Click  É\u0301cole",
       "{'intent':'click','target':{'query':'É\u0301cole','ordinal':null,"
       "'role':'any','nextTo':null}}"},
      {"find 👍🏽", "{'intent':'find','text':'👍🏽'}"},
      {"\u00A0click\u2003ok\u3000",
       "{'intent':'click','target':{'query':'ok','ordinal':null,"
       "'role':'any','nextTo':null}}"},
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(unicode::repair(input));
    EXPECT_EQ(testing::parsed(input), testing::J(expected));
  }
}

}  // namespace
}  // namespace tovrin
