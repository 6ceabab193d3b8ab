#include "intent/intent_parser.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "test_json.h"

namespace tovrin {
namespace {

using testing::J;
using testing::parsed;
using testing::T;

struct RuleCase {
  int rule;  // the rule that should decide, 0 for none
  const char* command;
  std::string expected;  // single-quoted JSON
};

// For each rule: a command it must win, and a look-alike that it must leave to
// a later rule (or to nothing), which is how rule order and the whole-command
// wrapper are exercised.
const RuleCase kRuleCases[] = {
    {1, "go back a page", "{'intent':'navigate','nav':'back'}"},
    {1, "Please go back.", "{'intent':'navigate','nav':'back'}"},
    {43, "click back", "{'intent':'click','target':" + T("back", "null", "any") + "}"},
    {2, "next page", "{'intent':'navigate','nav':'forward'}"},
    {6, "next tab", "{'intent':'navigate','nav':'nextTab'}"},
    {3, "refresh this page", "{'intent':'navigate','nav':'reload'}"},
    {43, "press reload", "{'intent':'click','target':" + T("reload", "null", "any") + "}"},
    {4, "open a new tab", "{'intent':'navigate','nav':'newTab'}"},
    {4, "open a tab", "{'intent':'navigate','nav':'newTab'}"},
    {36, "open new tabs", "{'intent':'openLink','target':" + T("new tabs", "null", "any") + "}"},
    {5, "close this tab", "{'intent':'navigate','nav':'closeTab'}"},
    {43, "click close tab", "{'intent':'click','target':" + T("close", "null", "tab") + "}"},
    {6, "switch to the next tab", "{'intent':'navigate','nav':'nextTab'}"},
    {6, "switch tab", "{'intent':'navigate','nav':'nextTab'}"},
    // Words of position before "tab" are never a tab's name.
    {9, "go to the right tab", "{'intent':'navigate','nav':'nextTab'}"},
    {9, "go to the next tab", "{'intent':'navigate','nav':'nextTab'}"},
    {9, "switch to the first tab", "{'intent':'navigate','nav':'tabIndex','index':1}"},
    {9, "go to the last tab", "{'intent':'navigate','nav':'tabIndex','index':9}"},
    {9, "switch to the inbox tab", "{'intent':'navigate','nav':'tabNamed','name':'inbox'}"},
    {7, "prev tab", "{'intent':'navigate','nav':'previousTab'}"},
    {9, "go to the previous tab", "{'intent':'navigate','nav':'previousTab'}"},
    {8, "tab 3", "{'intent':'navigate','nav':'tabIndex','index':3}"},
    {8, "go to tab 2", "{'intent':'navigate','nav':'tabIndex','index':2}"},
    {8, "Switch to tab 12", "{'intent':'navigate','nav':'tabIndex','index':12}"},
    {8, "tab ٣", "{'intent':'navigate','nav':'tabIndex','index':3}"},
    {8, "tab 9223372036854775807",
     "{'intent':'navigate','nav':'tabIndex','index':9223372036854775807}"},
    {0, "tab 9223372036854775808", "null"},
    {9, "switch to the inbox tab", "{'intent':'navigate','nav':'tabNamed','name':'inbox'}"},
    {9, "go to the bottom tab", "{'intent':'navigate','nav':'tabNamed','name':'bottom'}"},
    {0, "switch to the inbox", "null"},
    {10, "copy the article text", "{'intent':'copyArticle'}"},
    {10, "copy the text of this page", "{'intent':'copyArticle'}"},
    {10, "copy all of this story", "{'intent':'copyArticle'}"},
    // Keys people hit or tap, not buttons named after them.
    {43, "hit enter", "{'intent':'key','key':'enter'}"},
    {43, "hit return", "{'intent':'key','key':'enter'}"},
    {43, "tap tab", "{'intent':'key','key':'tab'}"},
    {43, "hit the escape key", "{'intent':'key','key':'escape'}"},
    {43, "hit the sign in button",
     "{'intent':'click','target':" + T("sign in", "null", "button") + "}"},
    {11, "copy this", "{'intent':'key','key':'copy'}"},
    {11, "copy", "{'intent':'key','key':'copy'}"},
    {0, "copy the link", "null"},
    {12, "paste it", "{'intent':'key','key':'paste'}"},
    {0, "paste it here", "null"},
    {13, "select all the text in this field", "{'intent':'key','key':'selectAll'}"},
    {43, "select all checkboxes",
     "{'intent':'click','target':" + T("all checkboxes", "null", "any") + "}"},
    {14, "press the return key", "{'intent':'key','key':'enter'}"},
    {43, "press return policy",
     "{'intent':'click','target':" + T("return policy", "null", "any") + "}"},
    {15, "esc", "{'intent':'key','key':'escape'}"},
    {43, "press escape room",
     "{'intent':'click','target':" + T("escape room", "null", "any") + "}"},
    {16, "press tab", "{'intent':'key','key':'tab'}"},
    {43, "press the tab key twice",
     "{'intent':'click','target':" + T("tab key twice", "null", "any") + "}"},
    {17, "backspace", "{'intent':'key','key':'delete'}"},
    {43, "press delete account",
     "{'intent':'click','target':" + T("delete account", "null", "any") + "}"},
    {18, "press the up arrow key", "{'intent':'key','key':'up'}"},
    {18, "arrow LEFT", "{'intent':'key','key':'left'}"},
    {43, "press the arrow", "{'intent':'click','target':" + T("arrow", "null", "any") + "}"},
    {19, "can you scroll down a bit please", "{'intent':'scroll','scroll':'down'}"},
    {19, "page down", "{'intent':'scroll','scroll':'down'}"},
    {23, "scroll down to pricing", "{'intent':'scroll','scroll':'section','section':'pricing'}"},
    {20, "scroll up a little", "{'intent':'scroll','scroll':'up'}"},
    {22, "scroll up to the top", "{'intent':'scroll','scroll':'top'}"},
    {21, "scroll to the end of the page", "{'intent':'scroll','scroll':'bottom'}"},
    {21, "go to the bottom", "{'intent':'scroll','scroll':'bottom'}"},
    {23, "scroll to the end of the article",
     "{'intent':'scroll','scroll':'section','section':'end of the article'}"},
    {22, "scroll all the way up to the top", "{'intent':'scroll','scroll':'top'}"},
    {22, "go to the top", "{'intent':'scroll','scroll':'top'}"},
    {23, "scroll to top stories", "{'intent':'scroll','scroll':'section','section':'top stories'}"},
    {23, "scroll to the pricing section.",
     "{'intent':'scroll','scroll':'section','section':'pricing section'}"},
    {23, "scroll until I see reviews",
     "{'intent':'scroll','scroll':'section','section':'reviews'}"},
    {0, "scroll sideways", "null"},
    {24, "read this page aloud", "{'intent':'read'}"},
    {24, "what's on this page", "{'intent':'read'}"},
    {24, "show me the page text", "{'intent':'read'}"},
    {27, "read the reviews", "{'intent':'ask','text':'What does the page say about the reviews?'}"},
    {25, "summarize the page", "{'intent':'summarize'}"},
    {25, "tl;dr", "{'intent':'summarize'}"},
    {25, "give me a summary of this article", "{'intent':'summarize'}"},
    {26, "summarize the reviews", "{'intent':'ask','text':'Summarize the reviews'}"},
    {0, "summary of the reviews", "null"},
    {27, "read me the shipping policy",
     "{'intent':'ask','text':'What does the page say about the shipping policy?'}"},
    {0, "reading list", "null"},
    {28, "find all mentions of refund", "{'intent':'findAll','text':'refund'}"},
    {28, "locate all instances of free shipping", "{'intent':'findAll','text':'free shipping'}"},
    {32, "locate every price", "{'intent':'find','text':'every price'}"},
    {29, "highlight every price", "{'intent':'findAll','text':'price'}"},
    {32, "find every", "{'intent':'find','text':'every'}"},
    {30, "where does the page mention refunds?", "{'intent':'find','text':'refunds'}"},
    {0, "where does it ship", "{'intent':'ask','text':'where does it ship'}"},
    {31, "where is the login button", "{'intent':'find','text':'login button'}"},
    {31, "where can I find the FAQ", "{'intent':'find','text':'FAQ'}"},
    {32, "look for \"free returns\"", "{'intent':'find','text':'free returns'}"},
    {0, "look at the reviews", "null"},
    {33, "what buttons are there?", "{'intent':'list','role':'button'}"},
    {33, "show me all the controls", "{'intent':'list','role':'any'}"},
    {33, "List the INPUTS", "{'intent':'list','role':'field'}"},
    {33, "which headings does it have", "{'intent':'list','role':'heading'}"},
    {33, "get images", "{'intent':'list','role':'image'}"},
    {33, "show checkboxes", "{'intent':'list','role':'checkbox'}"},
    {0, "what links mention pricing?", "{'intent':'ask','text':'what links mention pricing?'}"},
    {0, "show me the linkage", "null"},
    {34, "open every link about reviews", "{'intent':'openLinks','matching':'reviews'}"},
    {34, "open all the links that mention pricing", "{'intent':'openLinks','matching':'pricing'}"},
    {36, "open all the reviews",
     "{'intent':'openLink','target':" + T("all the reviews", "null", "any") + "}"},
    {35, "open the article", "{'intent':'openArticle'}"},
    {36, "open the article list",
     "{'intent':'openLink','target':" + T("article list", "null", "any") + "}"},
    {36, "open linkedin", "{'intent':'openLink','target':" + T("linkedin", "null", "link") + "}"},
    {36, "open up the third result", "{'intent':'openLink','target':" + T("", "3", "result") + "}"},
    {0, "open", "null"},
    {37, "type my email into the login field",
     "{'intent':'fillProfile','profile':'email','field':" + T("login", "null", "field") + "}"},
    {37, "put my phone number inside the contact form",
     "{'intent':'fillProfile','profile':'phone','field':" + T("contact form", "null", "field") +
         "}"},
    {41, "type my address into the form",
     "{'intent':'type','text':'my address','field':" + T("form", "null", "field") +
         ",'replace':false}"},
    {38, "fill in my phone number", "{'intent':'fillProfile','profile':'phone','field':null}"},
    {38, "type my e-mail", "{'intent':'fillProfile','profile':'email','field':null}"},
    {42, "type my nickname", "{'intent':'type','text':'my nickname','field':null,'replace':false}"},
    {39, "set the name field to \"Ada\"",
     "{'intent':'type','text':'Ada','field':" + T("name", "null", "field") + ",'replace':true}"},
    {39, "fill email with ada@example.com",
     "{'intent':'type','text':'ada@example.com','field':" + T("email", "null", "field") +
         ",'replace':true}"},
    {0, "fill in the blanks", "null"},
    {40, "replace it with 42", "{'intent':'type','text':'42','field':null,'replace':true}"},
    {40, "replace with “new text”",
     "{'intent':'type','text':'new text','field':null,'replace':true}"},
    {0, "replace the battery", "null"},
    {41, "type hello world into search",
     "{'intent':'type','text':'hello world','field':" + T("search", "null", "field") +
         ",'replace':false}"},
    {41, "enter My Name in the signup box",
     "{'intent':'fillProfile','profile':'name','field':" + T("signup", "null", "field") + "}"},
    {42, "type hello world", "{'intent':'type','text':'hello world','field':null,'replace':false}"},
    {42, "enter 'hunter2'", "{'intent':'type','text':'hunter2','field':null,'replace':false}"},
    {14, "enter", "{'intent':'key','key':'enter'}"},
    {0, "input", "null"},
    {43, "click on the second Sign In button",
     "{'intent':'click','target':" + T("Sign In", "2", "button") + "}"},
    {43, "tap the last link", "{'intent':'click','target':" + T("", "-1", "link") + "}"},
    {43, "please can you just click ok",
     "{'intent':'click','target':" + T("ok", "null", "any") + "}"},
    {0, "click", "null"},
};

class RuleTableTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(RuleTableTest, DecidesTheExpectedIntent) {
  const RuleCase& c = GetParam();
  SCOPED_TRACE(::testing::Message() << "rule " << c.rule << ": " << c.command);
  EXPECT_EQ(parsed(c.command), J(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Rules, RuleTableTest, ::testing::ValuesIn(kRuleCases));

TEST(IntentParserTest, EveryRuleHasAWinningCase) {
  std::set<int> covered;
  for (const RuleCase& c : kRuleCases)
    covered.insert(c.rule);
  for (int rule = 1; rule <= 43; ++rule)
    EXPECT_TRUE(covered.contains(rule)) << "rule " << rule;
}

struct TextCase {
  const char* command;
  std::string expected;
};

// Filler words, trailing "please" and the question fallback keep the user's
// letter case in the question.
const TextCase kFallbackCases[] = {
    {"", "null"},
    {"   \t\n ", "null"},
    {"bananas", "null"},
    {"Why is the sky blue", "{'intent':'ask','text':'Why is the sky blue'}"},
    {"Hey could you tell me the price", "{'intent':'ask','text':'tell me the price'}"},
    {"the price?", "{'intent':'ask','text':'the price?'}"},
    {"pls please go back", "{'intent':'navigate','nav':'back'}"},
    {"reload please!!", "{'intent':'navigate','nav':'reload'}"},
    {"reload  PLEASE?", "{'intent':'navigate','nav':'reload'}"},
    {"JUST   go forward", "{'intent':'navigate','nav':'forward'}"},
    {"please", "null"},
    {"hey please", "null"},
    {"justify the text", "null"},
    {"describe this", "{'intent':'ask','text':'describe this'}"},
    {"isolate it", "null"},
    {"go back!?.", "{'intent':'navigate','nav':'back'}"},
};

TEST(IntentParserTest, FillerRemovalAndQuestionFallback) {
  for (const TextCase& c : kFallbackCases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(parsed(c.command), J(c.expected));
  }
}

// Phrasings people use that no rule takes, and look-alikes that must keep
// the meaning the rules give them.
const TextCase kEverydayCases[] = {
    // Places: a part of this page or a link away.
    {"take me to the pricing section", "{'intent':'goTo','place':'pricing section'}"},
    {"jump to the FAQ", "{'intent':'goTo','place':'FAQ'}"},
    {"Jump down to installation", "{'intent':'goTo','place':'installation'}"},
    {"go to the downloads page", "{'intent':'goTo','place':'downloads page'}"},
    {"bring me to Administration", "{'intent':'goTo','place':'Administration'}"},
    {"navigate to the jobs page", "{'intent':'goTo','place':'jobs page'}"},
    {"skip to the main content", "{'intent':'goTo','place':'main content'}"},
    {"show me the printers section", "{'intent':'goTo','place':'printers section'}"},
    {"back to the top", "{'intent':'scroll','scroll':'top'}"},
    {"scroll back up to the top of the page", "{'intent':'scroll','scroll':'top'}"},
    {"take me to the bottom", "{'intent':'scroll','scroll':'bottom'}"},
    {"go back to the search results", "{'intent':'navigate','nav':'back'}"},
    {"take me back to the printer list", "{'intent':'navigate','nav':'back'}"},
    {"go back to the options section", "{'intent':'goTo','place':'options section'}"},
    {"go to the previous page", "{'intent':'navigate','nav':'back'}"},
    {"follow the link to the changelog",
     "{'intent':'openLink','target':" + T("changelog", "null", "link") + "}"},
    {"follow Help", "{'intent':'openLink','target':" + T("Help", "null", "link") + "}"},
    // Rules keep theirs: tabs, "go to the top", named tabs.
    {"go to the next tab", "{'intent':'navigate','nav':'nextTab'}"},
    {"go to the top", "{'intent':'scroll','scroll':'top'}"},
    {"go to tab 2", "{'intent':'navigate','nav':'tabIndex','index':2}"},
    {"scroll to pricing", "{'intent':'scroll','scroll':'section','section':'pricing'}"},
    // Check boxes and switches by the state they should end in.
    {"tick remember me",
     "{'intent':'click','target':" + T("remember me", "null", "checkbox") + ",'checked':true}"},
    {"check the box for Share printers",
     "{'intent':'click','target':" + T("Share printers", "null", "checkbox") + ",'checked':true}"},
    {"uncheck allow remote administration",
     "{'intent':'click','target':" + T("allow remote administration", "null", "checkbox") +
         ",'checked':false}"},
    {"untick the newsletter checkbox",
     "{'intent':'click','target':" + T("newsletter", "null", "checkbox") + ",'checked':false}"},
    {"turn on debug logging",
     "{'intent':'click','target':" + T("debug logging", "null", "checkbox") + ",'checked':true}"},
    {"turn dark mode off",
     "{'intent':'click','target':" + T("dark mode", "null", "checkbox") + ",'checked':false}"},
    {"disable notifications",
     "{'intent':'click','target':" + T("notifications", "null", "checkbox") + ",'checked':false}"},
    {"check", "null"},
    // The rules' "select" stays a click.
    {"select remember me", "{'intent':'click','target':" + T("remember me", "null", "any") + "}"},
    // Searches: the page's search box, or a find when the page is named.
    {"search for printers", "{'intent':'search','text':'printers'}"},
    {"search blue laser", "{'intent':'search','text':'blue laser'}"},
    {"look up zfill", "{'intent':'search','text':'zfill'}"},
    {"search this page for kerberos", "{'intent':'find','text':'kerberos'}"},
    {"find printers", "{'intent':'find','text':'printers'}"},
    // A key after typing is no part of the field's name.
    {"type printers into the search field and press enter",
     "{'intent':'type','text':'printers','field':" + T("search", "null", "field") +
         ",'replace':false,'then':'enter'}"},
    {"type blue in the search box, then hit return",
     "{'intent':'type','text':'blue','field':" + T("search", "null", "field") +
         ",'replace':false,'then':'enter'}"},
    {"enter ada@example.com and press tab",
     "{'intent':'type','text':'ada@example.com','field':null,'replace':false,'then':'tab'}"},
    // One key at most; the rest is the text as typed.
    {"type a and press enter and press enter",
     "{'intent':'type','text':'a and press enter','field':null,'replace':false,'then':'enter'}"},
    {"click sign in and press enter",
     "{'intent':'click','target':" + T("sign in and press enter", "null", "any") + "}"},
    {"define generator", "{'intent':'ask','text':'define generator'}"},
    {"meaning of GIL", "{'intent':'ask','text':'meaning of GIL'}"},
    // Questions stay questions.
    {"what is the serial number?", "{'intent':'ask','text':'what is the serial number?'}"},
    {"which room is the blue printer in",
     "{'intent':'ask','text':'which room is the blue printer in'}"},
    {"how do I search for printers?", "{'intent':'ask','text':'how do I search for printers?'}"},
};

TEST(IntentParserTest, EverydayPhrasingsWhereNoRuleApplies) {
  for (const TextCase& c : kEverydayCases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(parsed(c.command), J(c.expected));
  }
}

TEST(IntentParserTest, WholeCommandMatcher) {
  using IntentParser::m;
  EXPECT_EQ(m("tab\\s+(\\d+)", "  tab 4 !?"), std::vector<std::string>{"4"});
  EXPECT_EQ(m("go\\s+back", "Go Back."), std::vector<std::string>{});
  EXPECT_EQ(m("(a)|(b)", "b"), (std::vector<std::string>{"", "b"}));
  EXPECT_EQ(m("go\\s+back", "go back now"), std::nullopt);
  EXPECT_EQ(m("go\\s+back", "please go back"), std::nullopt);
  EXPECT_EQ(m("(unclosed", "(unclosed"), std::nullopt);
}

TEST(IntentParserTest, StripRemovesOnePairOfEnclosingQuotes) {
  const std::pair<const char*, const char*> cases[] = {
      {"  \"Ada\"  ", "Ada"},
      {"“ Ada ”", "Ada"},
      {"'Ada'", "Ada"},
      {"‘Ada’", "Ada"},
      {"`ls -l`", "ls -l"},
      {"\"\"Ada\"\"", "\"Ada\""},  // one pair only
      {"\"Ada”", "\"Ada”"},        // mismatched pair stays
      {"\"", "\""},                // a lone quote is not a pair
      {"\"\"", ""},
      {"”Ada“", "”Ada“"},  // closing before opening is no pair
      {"\"é\"", "é"},
      {"\"a\"\u0301", "\"a\"\u0301"},  // the last character is a quote with an accent, not a quote
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(input);
    EXPECT_EQ(IntentParser::strip(input), expected);
  }
}

TEST(IntentParserTest, ASecretIsNotShownBack) {
  const std::pair<const char*, const char*> cases[] = {
      {"type hunter2 into the password field", "type •••••••• into the password field"},
      {"enter 4711 in the PIN box", "enter •••••••• in the PIN box"},
      {"type hello into notes", "type hello into notes"},
      {"click password reset", "click password reset"},
  };
  for (const auto& [command, shown] : cases)
    EXPECT_EQ(IntentParser::shownCommand(command), shown) << command;
}

TEST(IntentParserTest, ProfileFieldBySubstring) {
  const std::pair<const char*, std::optional<ProfileField>> cases[] = {
      {"username", ProfileField::name},
      {"e-mail address", ProfileField::email},
      {"Phone number", ProfileField::phone},
      {"mobile", std::nullopt},
      {"EMAIL name", ProfileField::email},
      {"phone name", ProfileField::phone},
      {"", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(IntentParser::profileField(text), expected);
  }
}

}  // namespace
}  // namespace tovrin

namespace tovrin {
namespace {

// The compiled rules and each thread's matchers are shared state; parsing from
// several threads at once must give what one thread gives.
TEST(IntentParserTest, ParsesConcurrentlyFromManyThreads) {
  std::vector<std::string> expected;
  for (const RuleCase& c : kRuleCases)
    expected.push_back(testing::parsed(c.command));
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (std::size_t t = 0; t < mismatches.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        for (std::size_t i = 0; i < std::size(kRuleCases); ++i) {
          if (testing::parsed(kRuleCases[i].command) != expected[i]) ++mismatches[t];
        }
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  for (int m : mismatches)
    EXPECT_EQ(m, 0);
}

}  // namespace
}  // namespace tovrin
