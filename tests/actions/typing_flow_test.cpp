#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace tovrin {
namespace {

using testing::contains;
using testing::EngineFixture;
using testing::headline;
using testing::resultOf;

std::string valueOf(EngineFixture& f, const std::string& id) {
  return AX::str(f.desktop->attribute(id, "AXValue"));
}

constexpr const char* kForm = R"(
AXWindow "Sign up" id=w
  AXWebArea "Sign up" frame=0,100,800,600
    AXHeading "Account" value=2
    AXTextField "Email" value="old@example.com" frame=10,150,300,30 settable=AXValue,AXFocused id=email
    AXTextField "Password" subrole=AXSecureTextField frame=10,200,300,30 settable=AXValue,AXFocused id=password
    AXTextField "Access key" subrole=AXSecureTextField frame=10,225,300,20 settable=AXValue,AXFocused id=key
    AXTextField "Notes" frame=10,250,300,30 settable=AXValue,AXFocused id=notes
    AXTextField "Disabled" disabled frame=10,300,300,30 settable=AXValue,AXFocused
)";

TEST(TypingFlowTest, NamedFields) {
  struct Case {
    const char* command;
    std::string headline;
    const char* field;
    const char* value;
  };
  const Case cases[] = {
      {"type hello into the notes field", "Typed in **Notes** with “hello”", "notes", "hello"},
      {"type hunter2 into the password field", "Typed in **Password** with “••••••••”", "password",
       "hunter2"},
      {"set the email field to ada@example.com", "Filled **Email** with “ada@example.com”", "email",
       "ada@example.com"},
      {"type abcdefghijabcdefghijabcdefghijabcdefghij into notes",  // 40 characters: shown whole
       "Typed in **Notes** with “abcdefghijabcdefghijabcdefghijabcdefghij”", "notes",
       "abcdefghijabcdefghijabcdefghijabcdefghij"},
      {"type abcdefghijabcdefghijabcdefghijabcdefghijk into notes",  // 41: cut to 39 and "…"
       "Typed in **Notes** with “abcdefghijabcdefghijabcdefghijabcdefghi…”", "notes",
       "abcdefghijabcdefghijabcdefghijabcdefghijk"},
      {"type wow! into notes", "Typed in **Notes** with “wow\\!”", "notes",
       "wow!"},  // Markdown escaped
      {"type hi into the disabled field", "Couldn't find that field", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EngineFixture f(kForm);
    Outcome o = f.run(c.command);
    EXPECT_EQ(headline(o), c.headline);
    if (c.field != nullptr) {
      EXPECT_EQ(valueOf(f, c.field), c.value);
    }
  }
}

TEST(TypingFlowTest, ASecretLeavesNoCopyInTheTrail) {
  // The command does not say it is a secret; the field does.
  EngineFixture f(kForm);
  const ActionResult r = resultOf(f.run("type s3cr3t-value-of-some-length into the access key"));
  EXPECT_EQ(r.headline, "Typed in **Access key** with “••••••••”");
  EXPECT_EQ(valueOf(f, "key"), "s3cr3t-value-of-some-length");
  ASSERT_FALSE(r.debug.empty());
  EXPECT_EQ(r.debug.front(), "Intent: Type “••••••••” in “access key” field");
  for (const std::string& line : r.debug)
    EXPECT_EQ(line.find("s3cr3t"), std::string::npos) << line;
}

TEST(TypingFlowTest, ReplaceSelectsAllFirstAndKeysGoOnlyToTheBrowser) {
  EngineFixture f(kForm);
  Outcome o = f.run("set the email field to ada@example.com");
  auto keys = f.effectsContaining("key down");
  ASSERT_GE(keys.size(), 2u);
  EXPECT_EQ(keys[0], "key down 0 ⌘ → Google Chrome");
  EXPECT_EQ(keys[1], "key down 0 “a” → Google Chrome");
  EXPECT_TRUE(contains(resultOf(o).debug, "Typed via keyboard events"));
  EXPECT_TRUE(contains(resultOf(o).debug, "Field: Element: AXTextField (10,150 300×30) actions="));
}

TEST(TypingFlowTest, ABrowserThatCannotBeActivatedGetsNoKeys) {
  nlohmann::json scene = {{"apps",
                           {{{"pid", 2}, {"bundleID", "com.apple.finder"}, {"frontmost", true}},
                            {{"pid", 412},
                             {"bundleID", "com.google.Chrome"},
                             {"name", "Google Chrome"},
                             {"activates", false},
                             {"focusedWindow", 0},
                             {"windows", {testing::treeJson(kForm)}}}}}};
  auto desktop = testing::sceneDesktop(scene);
  EngineFixture f(desktop);
  auto target = BrowserTarget{desktop->platform(), *desktop->runningApplication(412),
                              BrowserRegistry::adapter(std::string("com.google.Chrome"))};
  auto engine = ActionEngine::make(target, {.model = f.model, .highlighter = f.highlighter});
  desktop->clearEffects();
  Outcome o = engine->run(*IntentParser::parse("type hello into notes"));
  EXPECT_EQ(headline(o), "Couldn't bring Google Chrome to the front");
  EXPECT_TRUE(f.effectsContaining("key ").empty());
  EXPECT_EQ(valueOf(f, "notes"), "");
  EXPECT_EQ(headline(engine->run(*IntentParser::parse("press enter"))),
            "Couldn't bring Google Chrome to the front");
  EXPECT_TRUE(f.effectsContaining("key ").empty());
}

TEST(TypingFlowTest, FocusedFieldsAndFieldsThatIgnoreKeys) {
  const char* page = R"(
AXWindow "W" id=w
  AXWebArea "W" frame=0,0,800,600
    AXTextField "Deaf" value="old " focused settable=AXValue,AXFocused id=deaf
)";
  nlohmann::json scene = {{"apps",
                           {{{"pid", 412},
                             {"bundleID", "com.google.Chrome"},
                             {"name", "Google Chrome"},
                             {"frontmost", true},
                             {"focusedWindow", 0},
                             {"windows", {testing::treeJson(page)}}}}}};
  scene["apps"][0]["windows"][0]["children"][0]["children"][0]["behavior"] = {
      {"ignoresKeys", true}};
  EngineFixture f(testing::sceneDesktop(scene));
  // The rules take one line; a multi-line text comes from elsewhere (the model, a paste).
  Outcome o = f.newEngine()->run(Intent{Intent::Type{"new\nline", std::nullopt, false}});
  EXPECT_EQ(headline(o), "Typed in **focused field** with “new\nline”");
  EXPECT_EQ(valueOf(f, "deaf"), "old new\nline");  // appended, set directly
  EXPECT_TRUE(contains(resultOf(o).debug, "Typing into the focused AXTextField"));
  EXPECT_TRUE(contains(resultOf(o).debug, "Keystrokes didn't register; set AXValue directly"));
  EXPECT_FALSE(
      f.effectsContaining("key down 0 “ ”").empty());  // the line feed was typed as a space
}

TEST(TypingFlowTest, ARichEditorWithASettableValueCountsAsFocused) {
  EngineFixture f(R"(
AXWindow "W" id=w
  AXWebArea "W"
    AXGroup "Editor" focused settable=AXValue,AXFocused id=editor
)");
  EXPECT_EQ(headline(f.run("type hi")), "Typed in **focused field** with “hi”");
  EXPECT_EQ(valueOf(f, "editor"), "hi");
}

TEST(TypingFlowTest, WhichFieldWhenTheCommandDoesNotSay) {
  const char* page = R"(
AXWindow "W" id=w
  AXWebArea "W"
    AXTextField "First" settable=AXValue,AXFocused
    AXTextField settable=AXValue,AXFocused id=second
    AXTextField "Third" settable=AXValue,AXFocused
)";
  EngineFixture f(page);
  f.model->setAvailable(true);
  EXPECT_EQ(headline(f.run("type hello")), "No text field is focused");

  Outcome o = f.run("type hello into the field next to nothing");
  const ChoiceSet* set = o.choices();
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->prompt, "Which field?");
  ASSERT_EQ(set->options.size(), 3u);
  EXPECT_EQ(set->options[1].title, "(unlabeled field)");
  EXPECT_EQ(set->options[1].subtitle, "TextField");
  EXPECT_TRUE(f.model->calls().empty());
  Outcome picked = set->options[1].run();
  EXPECT_EQ(headline(picked), "Typed in **field** with “hello”");
  EXPECT_EQ(resultOf(picked).debug.back(), "Typed via keyboard events");
  EXPECT_TRUE(contains(resultOf(picked).debug, "Picked by you"));
  EXPECT_EQ(valueOf(f, "second"), "hello");
}

TEST(TypingFlowTest, CloseFieldScoresGoToTheModelThenTheUser) {
  const char* page = R"(
AXWindow "W" id=w
  AXWebArea "W"
    AXTextField "Email address" settable=AXValue,AXFocused id=one
    AXTextField "Email for receipts" settable=AXValue,AXFocused id=two
)";
  EngineFixture without(page);
  EXPECT_EQ(headline(without.run("type a@b.c into the email field")), "choose: Which field?");
  EngineFixture with(page);
  with.model->setAvailable(true);
  with.model->when("User wants: “email” field", nlohmann::json{{"index", 1}});
  EXPECT_EQ(headline(with.run("type a@b.c into the email field")),
            "Typed in **Email for receipts** with “a@b.c”");
  EXPECT_EQ(with.model->calls().at(0).prompt,
            "User wants: “email” field\nOptions:\n0: Email address\n1: Email for receipts");
}

TEST(TypingFlowTest, ProfileFills) {
  EngineFixture f(kForm);
  f.desktop->setString("profile.email", "  ada@example.com \n");
  Outcome o = f.run("fill in my email");
  // No field named and none focused: the first field is not guessed.
  EXPECT_EQ(headline(o), "No text field is focused");
  EXPECT_TRUE(contains(resultOf(o).debug, "Using saved profile email"));

  Outcome named = f.run("type my email into the email field");
  EXPECT_EQ(headline(named), "Filled **Email** with “ada@example.com”");
  EXPECT_EQ(valueOf(f, "email"), "ada@example.com");

  EngineFixture empty(kForm);
  Outcome none = empty.run("type my phone into the notes field");
  EXPECT_EQ(headline(none), "No phone saved");
  EXPECT_EQ(resultOf(none).body,
            "Tovrin never invents personal details. Add your phone in Settings, or say “Enter …” "
            "with the exact text.");
  EXPECT_TRUE(empty.effects().empty());  // the page was never read or touched
}

TEST(TypingFlowTest, NothingToType) {
  EngineFixture f(kForm);
  auto engine = f.newEngine();
  EXPECT_EQ(headline(engine->run(Intent{Intent::Type{"", std::nullopt, false}})),
            "Nothing to type");
}

}  // namespace
}  // namespace tovrin

namespace tovrin {
namespace {

TEST(TypingFlowTest, ACancelledCommandStopsTyping) {
  testing::EngineFixture f(R"(
AXWindow "W" id=w
  AXWebArea "W"
    AXTextField "Notes" focused settable=AXValue,AXFocused id=notes
)");
  auto engine = f.newEngine();
  engine->cancel();
  f.desktop->clearEffects();
  Outcome o = engine->run(*IntentParser::parse("type a long sentence"));
  EXPECT_TRUE(f.effectsContaining("key ").empty());
  EXPECT_EQ(AX::str(f.desktop->attribute("notes", "AXValue")), "");  // and no direct set either
  EXPECT_TRUE(testing::contains(testing::resultOf(o).debug, "Cancelled while typing"));
}

}  // namespace
}  // namespace tovrin
