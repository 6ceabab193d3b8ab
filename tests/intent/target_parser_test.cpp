#include <gtest/gtest.h>

#include "intent/intent_json.h"
#include "intent/intent_parser.h"
#include "test_json.h"

namespace tovrin {
namespace {

using testing::J;
using testing::T;

struct TargetCase {
  const char* phrase;
  RoleHint defaultRole;
  std::string expected;  // single-quoted target JSON
};

const TargetCase kTargetCases[] = {
    {"the second Sign In button", RoleHint::any, T("Sign In", "2", "button")},
    {"button labeled “Save”", RoleHint::any, T("Save", "null", "button")},
    {"Save button", RoleHint::any, T("Save", "null", "button")},
    {"search box", RoleHint::any, T("search", "null", "field")},
    {"link to pricing", RoleHint::any, T("pricing", "null", "link")},
    {"the last link", RoleHint::any, T("", "-1", "link")},
    {"first", RoleHint::any, T("", "1", "any")},
    {"first", RoleHint::field, T("", "1", "field")},
    {"button", RoleHint::any, T("", "null", "button")},
    {"Buttons", RoleHint::any, T("", "null", "button")},
    {"about", RoleHint::any, T("about", "null", "any")},
    {"the about link", RoleHint::any, T("", "null", "link")},
    {"about", RoleHint::field, T("", "null", "field")},
    {"Buy now button next to the price.", RoleHint::any, T("Buy now", "null", "button", "'price'")},
    {"email field", RoleHint::field, T("email", "null", "field")},
    {"the", RoleHint::any, T("the", "null", "any")},  // a lone article stays
    {"the the", RoleHint::any, T("the", "null", "any")},
    {"", RoleHint::any, T("", "null", "any")},
    {"  ,.!? ", RoleHint::link, T("", "null", "link")},
    // only the first word after the articles can be an ordinal
    {"Sign in second", RoleHint::any, T("Sign in second", "null", "any")},
    {"3rd result", RoleHint::any, T("", "3", "result")},
    {"10th Result with pictures", RoleHint::any, T("pictures", "10", "result")},
    // a role word first, with no ordinal and no connector after it, is part of the label
    {"tab settings", RoleHint::any, T("tab settings", "null", "any")},
    {"third button Save", RoleHint::any, T("Save", "3", "button")},
    // the anchor splits before role handling; both sides are cleaned
    {"the box beside “Email”!", RoleHint::any, T("", "null", "field", "'Email'")},
    {"Reply near the first comment", RoleHint::any, T("Reply", "null", "any", "'first comment'")},
    {"icon left of   the cart", RoleHint::any, T("", "null", "image", "'cart'")},
    {"Save next to", RoleHint::any, T("Save next to", "null", "any")},
    // only the space character splits words: a tab stays inside one
    {"Save\tbutton", RoleHint::any, T("Save\\tbutton", "null", "any")},
    {"a \"quoted\" name", RoleHint::any, T("\\\"quoted\\\" name", "null", "any")},
};

TEST(TargetParserTest, SplitsPhrasesIntoTheirParts) {
  for (const TargetCase& c : kTargetCases) {
    SCOPED_TRACE(c.phrase);
    EXPECT_EQ(dumpJson(toJson(IntentParser::parseTarget(c.phrase, c.defaultRole))), J(c.expected));
  }
}

}  // namespace
}  // namespace tovrin
