#include "intent/intent.h"

#include <gtest/gtest.h>

#include <string>

namespace tovrin {
namespace {

TargetSpec target(std::string query, std::optional<int64_t> ordinal = std::nullopt,
                  RoleHint role = RoleHint::any, std::optional<std::string> nextTo = std::nullopt) {
  return TargetSpec{std::move(query), ordinal, role, std::move(nextTo)};
}

TEST(TargetSpecTest, Summary) {
  const std::pair<TargetSpec, const char*> cases[] = {
      {target("sign in", 2, RoleHint::button), "second “sign in” button"},
      {target(""), "element"},
      {target("", -1, RoleHint::link), "last link"},
      {target("", std::nullopt, RoleHint::any, "Email"), "next to “Email”"},
      {target("Go", 10), "tenth “Go”"},
      {target("Go", 11), "#11 “Go”"},
      {target("", 0), "#0"},
      {target("", -3, RoleHint::result), "#-3 result"},
      {target("Buy", 1, RoleHint::image, "cart"), "first “Buy” image next to “cart”"},
  };
  for (const auto& [spec, expected] : cases)
    EXPECT_EQ(spec.summary(), expected);
}

Intent typed(std::string text, bool replace, std::optional<TargetSpec> field = std::nullopt) {
  return Intent{Intent::Type{std::move(text), std::move(field), replace}};
}

TEST(IntentTest, Titles) {
  const std::pair<Intent, const char*> cases[] = {
      {Intent{Intent::Click{target("sign in", 2, RoleHint::button)}},
       "Click second “sign in” button"},
      {Intent{Intent::OpenLink{target("")}}, "Open element"},
      {Intent{Intent::OpenLinks{"reviews"}}, "Open every link mentioning “reviews”"},
      {Intent{Intent::Ask{"why?"}}, "Ask: why?"},
      {Intent{Intent::Find{"refund"}}, "Find “refund”"},
      {Intent{Intent::FindAll{"refund"}}, "Find every “refund”"},
      {Intent{Intent::Scroll{{ScrollSpec::Down{}}}}, "Scroll down"},
      {Intent{Intent::Scroll{{ScrollSpec::Up{}}}}, "Scroll up"},
      {Intent{Intent::Scroll{{ScrollSpec::Top{}}}}, "Scroll to top"},
      {Intent{Intent::Scroll{{ScrollSpec::Bottom{}}}}, "Scroll to bottom"},
      {Intent{Intent::Scroll{{ScrollSpec::Section{"pricing"}}}}, "Scroll to “pricing”"},
      {typed("exactly twenty-four char", false), "Type “exactly twenty-four char”"},
      {typed("exactly twenty-five chars", false), "Type “exactly twenty-five cha…”"},
      {typed("👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍"
             "👩"
             "‍"
             "👧"
             "‍"
             "👦"
             "👩"
             "‍"
             "👩"
             "‍"
             "👧"
             "‍"
             "👦"
             "👩"
             "‍"
             "👩"
             "‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍"
             "👦"
             "👩"
             "‍"
             "👩"
             "‍"
             "👧"
             "‍"
             "👦"
             "👩"
             "‍"
             "👩"
             "‍"
             "👧"
             "‍"
             "👦"
             "👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍"
             "👩"
             "‍"
             "👧"
             "‍"
             "👦"
             "👩"
             "‍"
             "👩"
             "‍"
             "👧"
             "‍"
             "👦"
             "👩"
             "‍"
             "👩"
             "‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍"
             "👦"
             "👩"
             "‍"
             "👩"
             "‍"
             "👧"
             "‍"
             "👦"
             "👩"
             "‍"
             "👩"
             "‍"
             "👧"
             "‍"
             "👦",
             false),
       "Type "
       "“👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧"
       "‍"
       "👦"
       "👩"
       "‍"
       "👩"
       "‍"
       "👧"
       "‍"
       "👦"
       "👩"
       "‍"
       "👩"
       "‍"
       "👧"
       "‍"
       "👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩"
       "‍"
       "👧"
       "‍"
       "👦"
       "👩"
       "‍"
       "👩"
       "‍"
       "👧"
       "‍"
       "👦"
       "👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍"
       "👦"
       "👩"
       "‍"
       "👩"
       "‍"
       "👧"
       "‍"
       "👦"
       "👩"
       "‍"
       "👩"
       "‍"
       "👧"
       "‍"
       "👦"
       "👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍👧‍👦👩‍👩‍"
       "👧"
       "‍"
       "👦"
       "👩"
       "‍"
       "👩"
       "‍"
       "👧"
       "‍"
       "👦"
       "”"},
      {typed("hi", true, target("email", std::nullopt, RoleHint::field)),
       "Replace with “hi” in “email” field"},
      // What goes into a secret's field is never shown, whatever its length.
      {typed("hunter2", false, target("password", std::nullopt, RoleHint::field)),
       "Type “••••••••” in “password” field"},
      {typed("1234", true, target("new PIN", std::nullopt, RoleHint::field)),
       "Replace with “••••••••” in “new PIN” field"},
      {typed("x", false, target("current-passwords", std::nullopt, RoleHint::field)),
       "Type “••••••••” in “current-passwords” field"},
      {typed("sharp", false, target("pinned note", std::nullopt, RoleHint::field)),
       "Type “sharp” in “pinned note” field"},
      {Intent{Intent::FillProfile{ProfileField::phone, std::nullopt}}, "Fill my phone"},
      {Intent{Intent::FillProfile{ProfileField::email,
                                  target("login", std::nullopt, RoleHint::field)}},
       "Fill my email in “login” field"},
      {Intent{Intent::Key{KeyAction::enter}}, "Press Return"},
      {Intent{Intent::Key{KeyAction::selectAll}}, "Press Select all"},
      {Intent{Intent::Navigate{{NavAction::TabIndex{3}}}}, "Switch to tab 3"},
      {Intent{Intent::Navigate{{NavAction::TabNamed{"inbox"}}}}, "Switch to tab “inbox”"},
      {Intent{Intent::Navigate{{NavAction::Back{}}}}, "Go back"},
      {Intent{Intent::Navigate{{NavAction::Forward{}}}}, "Go forward"},
      {Intent{Intent::Navigate{{NavAction::Reload{}}}}, "Reload"},
      {Intent{Intent::Navigate{{NavAction::NewTab{}}}}, "New tab"},
      {Intent{Intent::Navigate{{NavAction::CloseTab{}}}}, "Close tab"},
      {Intent{Intent::Navigate{{NavAction::NextTab{}}}}, "Next tab"},
      {Intent{Intent::Navigate{{NavAction::PreviousTab{}}}}, "Previous tab"},
      {Intent{Intent::List{RoleHint::any}}, "List elements"},
      {Intent{Intent::List{RoleHint::checkbox}}, "List checkboxs"},
      {Intent{Intent::OpenArticle{}}, "Open this article"},
      {Intent{Intent::Read{}}, "Read page"},
      {Intent{Intent::Summarize{}}, "Summarize page"},
      {Intent{Intent::CopyArticle{}}, "Copy page text"},
  };
  for (const auto& [intent, expected] : cases)
    EXPECT_EQ(intent.title(), expected);
}

TEST(IntentTest, RawValueLookupsAreExactAndCaseSensitive) {
  EXPECT_EQ(keyActionFromRaw("up"), KeyAction::up);
  EXPECT_EQ(keyActionFromRaw("Up"), std::nullopt);
  EXPECT_EQ(keyActionFromRaw("selectAll"), KeyAction::selectAll);
  EXPECT_EQ(keyActionFromRaw("selectall"), std::nullopt);
  EXPECT_EQ(keyActionFromRaw("delete"), KeyAction::deleteKey);
  EXPECT_EQ(roleHintFromRaw("checkbox"), RoleHint::checkbox);
  EXPECT_EQ(roleHintFromRaw("Button"), std::nullopt);
  EXPECT_EQ(roleHintFromRaw(""), std::nullopt);
  EXPECT_EQ(profileFieldFromRaw("email"), ProfileField::email);
  EXPECT_EQ(profileFieldFromRaw("e-mail"), std::nullopt);
  // Every case round-trips through its raw value.
  for (int i = 0; i <= static_cast<int>(RoleHint::result); ++i) {
    auto role = static_cast<RoleHint>(i);
    EXPECT_EQ(roleHintFromRaw(rawValue(role)), role);
  }
  for (int i = 0; i <= static_cast<int>(KeyAction::right); ++i) {
    auto key = static_cast<KeyAction>(i);
    EXPECT_EQ(keyActionFromRaw(rawValue(key)), key);
  }
}

}  // namespace
}  // namespace tovrin
