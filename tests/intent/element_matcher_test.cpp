#include "intent/element_matcher.h"

#include <gtest/gtest.h>

#include "accessibility/crawler.h"
#include "intent/intent_parser.h"
#include "support/scene_tree.h"

namespace tovrin {
namespace {

// The page pass of a tree whose root has id=root.
std::vector<PageElement> page(std::string_view tree) {
  auto desktop = testing::browserDesktop(tree);
  return Crawler::crawl(desktop->elementNamed("root"), {}, *desktop);
}

// Matches as "score|label|reason", scores to one decimal.
std::vector<std::string> render(const MatchResult& result) {
  std::vector<std::string> out;
  for (const Match& m : result.matches) {
    char score[16];
    std::snprintf(score, sizeof score, "%.1f", m.score);
    out.push_back(std::string(score) + "|" + m.element.label() + "|" + m.reason);
  }
  return out;
}

MatchResult match(const std::vector<PageElement>& elements, std::string_view phrase,
                  MatchPurpose purpose = MatchPurpose::click) {
  RoleHint role = purpose == MatchPurpose::field ? RoleHint::field : RoleHint::any;
  return ElementMatcher::matches(IntentParser::parseTarget(phrase, role), elements, purpose);
}

TEST(ElementMatcherTest, LabelSimilarity) {
  struct Case {
    const char* label;
    const char* query;
    double expected;
  };
  const Case cases[] = {
      {"Sign in", "sign in", 100},
      {"Sign-in", "signin", 96},
      {"Sign-In", "signin", 96},
      {"Sign in with Google", "sign in", 82 / (1 + 0.07 * 3) + 8},  // ≈ 75.8
      {"Pricing plans", "price", 70 / 1.07},  // ≈ 65.4, through the shared stem
      {"Shopping cart", "cart", 82 / 1.07 + 8},
      {"Superstars", "star", 66 / 1.0},  // four letters: space-free containment applies
      {"Superstars", "sta", 0},          // three: it does not
      {"Go to ab", "a", 0},              // "a" is a stop word and one letter: no prefix use
      {"", "anything", 0},
      {"!!!", "anything", 0},
      {"👍🏽", "👍🏽", 0},  // nothing left to compare once symbols are dropped
      {"Save", "", 0},
      {"Save draft now", "save now", 70 / 1.07},  // both tokens, no phrase
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.label) + " / " + c.query);
    EXPECT_NEAR(ElementMatcher::score(c.label, c.query), c.expected, 1e-9);
  }
  EXPECT_NEAR(ElementMatcher::score("Sign in with Google", "sign in"), 75.8, 0.05);
  EXPECT_NEAR(ElementMatcher::score("Pricing plans", "price"), 65.4, 0.05);
}

TEST(ElementMatcherTest, ElementScoreUsesAliasesAndWeighsHelpDown) {
  auto elements = page(R"(
AXWebArea id=root
  AXButton "Sign in" actions=AXPress
  AXButton help="Only help" actions=AXPress
  AXButton "Save" help="Only help" actions=AXPress
  AXButton actions=AXPress
)");
  EXPECT_NEAR(ElementMatcher::score(elements[1], "login"), 95, 1e-9);
  EXPECT_NEAR(ElementMatcher::score(elements[2], "only help"), 100, 1e-9);
  EXPECT_NEAR(ElementMatcher::score(elements[3], "only help"), 80, 1e-9);
  EXPECT_EQ(ElementMatcher::score(elements[4], "anything"), 0);
}

TEST(ElementMatcherTest, Fits) {
  auto elements = page(R"(
AXWebArea id=root
  AXButton "b"
  AXLink "l" actions=AXPress
  AXCheckBox "c" actions=AXPress
  AXRadioButton "r"
  AXGroup "g" actions=AXPress
  AXCheckBox "s" subrole=AXSwitch
  AXTextField "f"
  AXGroup "search" subrole=AXSearchField
  AXTab "t"
  AXImage "i"
  AXHeading "h"
)");
  auto kinds = [&](RoleHint role) {
    std::string out;
    for (std::size_t i = 1; i < elements.size(); ++i) {
      if (ElementMatcher::fits(elements[i], role)) out += elements[i].title.substr(0, 1);
    }
    return out;
  };
  EXPECT_EQ(kinds(RoleHint::any), "blcrgsfstih");
  EXPECT_EQ(kinds(RoleHint::button), "brgt");  // pressable things other than links and checkboxes
  EXPECT_EQ(kinds(RoleHint::link), "l");
  EXPECT_EQ(kinds(RoleHint::result), "l");
  EXPECT_EQ(kinds(RoleHint::field), "fs");
  EXPECT_EQ(kinds(RoleHint::checkbox), "crs");
  EXPECT_EQ(kinds(RoleHint::tab), "rt");
  EXPECT_EQ(kinds(RoleHint::image), "i");
  EXPECT_EQ(kinds(RoleHint::heading), "h");
}

const char* const kShop = R"(
AXWebArea "Shop" id=root frame=0,0,1000,1000
  AXLink "Home" actions=AXPress frame=10,10,50,20
  AXButton "Sign in" actions=AXPress frame=900,10,80,20
  AXGroup frame=0,100,1000,100
    AXStaticText value="Trail Runner" frame=10,100,100,20
    AXButton "Add to cart" actions=AXPress frame=10,150,100,30
  AXGroup frame=0,300,1000,100
    AXStaticText value="Summit Jacket" frame=10,300,100,20
    AXButton "Add to cart" actions=AXPress frame=10,350,100,30
  AXGroup frame=0,500,1000,100
    AXStaticText value="Camp Mug" frame=10,500,100,20
    AXButton "Add to basket" actions=AXPress frame=10,550,100,30
  AXGroup actions=AXPress frame=0,700,1000,50
    AXStaticText value="Continue to checkout" frame=10,700,200,20
  AXButton "Hidden by size" actions=AXPress frame=0,0,0,10
  AXTextField "Email" frame=10,800,200,20
  AXTextField frame=10,850,200,20
  AXLink "Read the complete buyer's guide" actions=AXPress frame=10,900,300,20
  AXLink "Short link" actions=AXPress frame=10,950,100,20
)";

TEST(ElementMatcherTest, Matching) {
  auto elements = page(kShop);
  struct Case {
    const char* phrase;
    MatchPurpose purpose;
    std::vector<std::string> expected;
    bool ordinalApplied = false;
  };
  const Case cases[] = {
      {"login", MatchPurpose::click, {"95.0|Sign in|label matches “login”"}},
      {"add to cart",
       MatchPurpose::click,
       {"100.0|Add to cart|label matches “add to cart”",
        "100.0|Add to cart|label matches “add to cart”",
        "95.0|Add to basket|label matches “add to cart”"}},
      {"second add to cart button",
       MatchPurpose::click,
       {"100.0|Add to cart|#2 of 3 matching"},
       true},
      {"last add to cart button",
       MatchPurpose::click,
       {"95.0|Add to basket|last of 3 matching"},
       true},
      {"fourth add to cart button", MatchPurpose::click, {}, true},
      // 82 / 1.14 + 8 − 12 for the static text; the pressable group has no label of its own.
      {"checkout", MatchPurpose::click, {"67.9||text “Continue to checkout” inside Group"}},
      {"hidden by size", MatchPurpose::click, {}},
      {"button",
       MatchPurpose::click,
       {"50.0|Sign in|button in document order", "50.0|Add to cart|button in document order",
        "50.0|Add to cart|button in document order",
        "50.0|Add to basket|button in document order"}},
      {"results",
       MatchPurpose::click,
       {"50.0|Read the complete buyer's guide|result in document order"}},
      {"",
       MatchPurpose::field,
       {"50.0|Email|field in document order", "50.0||field in document order"}},
      {"home", MatchPurpose::link, {"100.0|Home|label matches “home”"}},
      {"sign in button", MatchPurpose::link, {}},  // a link never fits "button"
      // Centre to centre: 55, 145 and 255 points; 100 − d / 8.
      {"add to cart next to Summit Jacket",
       MatchPurpose::click,
       {"93.1|Add to cart|nearest to “Summit Jacket” (55 pt)",
        "81.9|Add to cart|nearest to “Summit Jacket” (145 pt)",
        "68.1|Add to basket|nearest to “Summit Jacket” (255 pt)"}},
      // No query words: every pressable candidate, the ordinal ignored, the floor at 1.
      {"second button next to Camp Mug",
       MatchPurpose::click,
       {"93.1|Add to basket|nearest to “Camp Mug” (55 pt)",
        "81.9|Add to cart|nearest to “Camp Mug” (145 pt)",
        "56.9|Add to cart|nearest to “Camp Mug” (345 pt)", "38.8||nearest to “Camp Mug” (489 pt)",
        "1.0|Sign in|nearest to “Camp Mug” (1007 pt)"}},
      {"button next to nothing like this", MatchPurpose::click, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.phrase);
    MatchResult result = match(elements, c.phrase, c.purpose);
    EXPECT_EQ(render(result), c.expected);
    EXPECT_EQ(result.ordinalApplied, c.ordinalApplied);
  }
}

TEST(ElementMatcherTest, OrdinalKeepsOnlyMatchesNearTheBest) {
  auto elements = page(R"(
AXWebArea id=root
  AXButton "Save" actions=AXPress
  AXButton "Save all drafts of this long document now" actions=AXPress
  AXButton "Save" actions=AXPress
)");
  // The long label scores 26+ points below 100 and is not counted.
  auto result = match(elements, "third save button");
  EXPECT_TRUE(result.matches.empty());
  EXPECT_TRUE(result.ordinalApplied);
  EXPECT_EQ(render(match(elements, "second save button")),
            std::vector<std::string>{"100.0|Save|#2 of 2 matching"});
}

// An ordinal counts within the collection its noun names: the results
// list, not the navigation bar above it. Where that is unclear, the n-th of
// each place is offered instead of a guess.
TEST(ElementMatcherTest, OrdinalsCountWithinOneCollection) {
  const char* const navigation = R"(
AXWebArea id=root
  AXGroup "Navigation"
    AXLink "Documentation for every release" actions=AXPress frame=10,10,300,20
    AXLink "Download the latest packages here" actions=AXPress frame=10,40,300,20
)";
  const std::string results = std::string(navigation) + R"(  AXList "Search results"
    AXGroup
      AXLink "Installing printers on a network" actions=AXPress frame=10,100,300,20
    AXGroup
      AXLink "Sharing a printer with other computers" actions=AXPress frame=10,130,300,20
    AXGroup
      AXLink "Troubleshooting printers that stay idle" actions=AXPress frame=10,160,300,20
)";
  const std::string even = std::string(navigation) + R"(  AXList "Search results"
    AXGroup
      AXLink "Installing printers on a network" actions=AXPress frame=10,100,300,20
    AXGroup
      AXLink "Sharing a printer with other computers" actions=AXPress frame=10,130,300,20
)";
  struct Case {
    std::string tree;
    const char* phrase;
    std::vector<std::string> expected;
    bool ordinalApplied;
  };
  const Case cases[] = {
      {results,
       "open the second result",
       {"50.0|Sharing a printer with other computers|#2 of 3 in the largest list"},
       true},
      {results,
       "the first article",
       {"50.0|Installing printers on a network|#1 of 3 in the largest list"},
       true},
      {results,
       "the last row",
       {"50.0|Troubleshooting printers that stay idle|last of 3 in the largest list"},
       true},
      // Two places of two: which one is meant is asked.
      {even,
       "the second result",
       {"50.0|Download the latest packages here|#2 of 2 in one place of several",
        "50.0|Sharing a printer with other computers|#2 of 2 in one place of several"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.phrase);
    auto elements = page(c.tree);
    TargetSpec spec = IntentParser::parseTarget(c.phrase, RoleHint::any);
    if (std::string_view(c.phrase).rfind("open ", 0) == 0)
      spec = IntentParser::parseTarget(std::string_view(c.phrase).substr(5), RoleHint::any);
    MatchResult result = ElementMatcher::matches(spec, elements, MatchPurpose::link);
    EXPECT_EQ(render(result), c.expected);
    EXPECT_EQ(result.ordinalApplied, c.ordinalApplied);
  }
}

// Words found only as text inside containers are no collection to count
// in: the second such match is offered with the others, never pressed.
// A printer list as a printing system's web interface shows it: a menu bar
// of short links above the page's heading, then a table whose rows lead
// with short names. "The second row" is the table's, never the menu's.
TEST(ElementMatcherTest, RowsAreCountedInTheTableNotTheMenuBar) {
  auto elements = page(R"(
AXWebArea id=root
  AXList
    AXListItem
      AXLink "Home" actions=AXPress frame=10,10,50,20
    AXListItem
      AXLink "Administration" actions=AXPress frame=70,10,50,20
    AXListItem
      AXLink "Printers" actions=AXPress frame=130,10,50,20
  AXHeading "Printers" value=1
  AXTable
    AXRow
      AXCell
        AXLink "Blue_Laser" actions=AXPress frame=10,100,80,20
    AXRow
      AXCell
        AXLink "Front_Desk" actions=AXPress frame=10,130,80,20
    AXRow
      AXCell
        AXLink "Plotter_A0" actions=AXPress frame=10,160,80,20)");
  const std::pair<const char*, const char*> cases[] = {
      {"the second row", "50.0|Front_Desk|#2 of 3 matching"},
      {"the first result", "50.0|Blue_Laser|#1 of 3 matching"},
      {"the last entry", "50.0|Plotter_A0|last of 3 matching"},
      // Words that name no element: the things the list repeats.
      {"the third printer in the list", "50.0|Plotter_A0|#3 of 3 matching"},
  };
  for (const auto& [phrase, expected] : cases) {
    SCOPED_TRACE(phrase);
    MatchResult result = match(elements, phrase, MatchPurpose::link);
    EXPECT_EQ(render(result), std::vector<std::string>{expected});
  }
}

TEST(ElementMatcherTest, AnOrdinalOverWeakTextMatchesAsks) {
  auto elements = page(R"(
AXWebArea id=root
  AXGroup "Header"
    AXGroup actions=AXPress frame=10,10,300,40
      AXStaticText value="Printers on the first floor" frame=10,10,300,20
  AXGroup "Main"
    AXGroup "Rooms"
      AXGroup actions=AXPress frame=10,100,300,40
        AXStaticText value="Printers in room 4" frame=10,100,300,20
)");
  MatchResult result = match(elements, "the second printers");
  EXPECT_FALSE(result.ordinalApplied);
  EXPECT_EQ(result.matches.size(), 2U);
}

// A field without a label of its own is known by the words before it, by
// being a search field, or by being the page's only field; each is weaker
// than a label, so a labelled field still wins.
TEST(ElementMatcherTest, UnlabeledFieldsAreFoundByWeakerEvidence) {
  struct Case {
    const char* name;
    const char* tree;
    const char* phrase;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"bold words before it",
       R"(
AXWebArea id=root
  AXGroup
    AXStaticText value="Search in Printers:"
    AXTextField frame=10,10,200,20
  AXButton "Search" actions=AXPress)",
       "search box",
       {"67.9||the words before it, “Search in Printers:”, match"}},
      {"a search field by type",
       R"(
AXWebArea id=root
  AXTextField subrole=AXSearchField frame=10,10,200,20
  AXTextField "Email" frame=10,40,200,20)",
       "search field",
       {"90.0||a search field"}},
      {"a label beats the words before another field",
       R"(
AXWebArea id=root
  AXStaticText value="Search"
  AXTextField frame=10,10,200,20
  AXTextField "Search" frame=10,40,200,20)",
       "search box",
       {"100.0|Search|label matches “search”", "85.0||the words before it, “Search”, match"}},
      {"words past a button are not its name",
       R"(
AXWebArea id=root
  AXStaticText value="Search"
  AXButton "Go" actions=AXPress
  AXTextField "Name" frame=10,10,200,20
  AXTextField "Email" frame=10,40,200,20)",
       "search box",
       {}},
      {"the only field",
       R"(
AXWebArea id=root
  AXTextField "Query" frame=10,10,200,20)",
       "search box",
       {"30.0|Query|the only field on the page"}},
      {"never the only field beside a password",
       R"(
AXWebArea id=root
  AXTextField "Username" frame=10,10,200,20
  AXTextField "Password" subrole=AXSecureTextField frame=10,40,200,20)",
       "search box",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(render(match(page(c.tree), c.phrase, MatchPurpose::field)), c.expected);
  }
}

// "The language menu" names the control called "Language"; words found only
// inside a page-sized container never make that container the thing to press.
TEST(ElementMatcherTest, ControlNounsAndContainers) {
  auto elements = page(R"(
AXWebArea id=root
  AXPopUpButton "Language" actions=AXPress frame=10,10,100,20
  AXGroup actions=AXPress frame=0,40,800,4000
    AXStaticText value="the zfill method pads with zeros"
    AXStaticText value="one" frame=0,60,10,10
    AXStaticText value="two" frame=0,80,10,10
    AXStaticText value="three" frame=0,80,10,10
    AXStaticText value="four" frame=0,80,10,10
    AXStaticText value="five" frame=0,80,10,10
    AXStaticText value="six" frame=0,80,10,10
    AXStaticText value="seven" frame=0,80,10,10
    AXStaticText value="eight" frame=0,80,10,10
    AXStaticText value="nine" frame=0,80,10,10
    AXStaticText value="ten" frame=0,80,10,10
    AXStaticText value="eleven" frame=0,80,10,10
    AXStaticText value="twelve" frame=0,80,10,10
  AXGroup actions=AXPress frame=0,5000,300,40
    AXStaticText value="Summit Jacket card" frame=0,5000,300,20
  AXImage "Service bell" frame=0,6000,40,40)");
  EXPECT_EQ(render(match(elements, "the language menu")),
            std::vector<std::string>{"100.0|Language|label matches “language menu”"});
  EXPECT_EQ(render(match(elements, "the language dropdown")),
            std::vector<std::string>{"100.0|Language|label matches “language dropdown”"});
  EXPECT_EQ(render(match(elements, "zfill method")), std::vector<std::string>{});
  EXPECT_EQ(render(match(elements, "summit jacket")).size(), 1U);
  // A picture is pressed where it is, though the page gave it no action.
  EXPECT_EQ(render(match(elements, "service bell")).size(), 1U);
}

// Firefox makes a <label> pressable in its own right. One that wraps its
// box, or names a box beside it, is that box's name: "click remember me"
// means the box, with no choice between the two.
TEST(ElementMatcherTest, ALabelOfAControlIsNotACandidateOfItsOwn) {
  auto elements = page(R"(
AXWebArea id=root
  AXGroup "Remember me" subrole=AXLabel actions=AXPress frame=10,10,300,20
    AXCheckBox "Remember me" actions=AXPress frame=10,10,14,14
    AXStaticText value="Remember me" frame=30,10,200,20
  AXGroup subrole=AXLabel actions=AXPress frame=10,40,300,20
    AXStaticText value="Dark theme" frame=10,40,100,20
  AXCheckBox "Dark theme" subrole=AXSwitch actions=AXPress frame=120,40,14,14
  AXGroup "Terms apply" subrole=AXLabel actions=AXPress frame=10,70,300,20
    AXStaticText value="Terms apply" frame=10,70,100,20)");
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"remember me", {"100.0|Remember me|label matches “remember me”"}},
      {"dark theme", {"100.0|Dark theme|label matches “dark theme”"}},
      // A label of nothing stays what the page made it.
      {"terms apply", {"100.0|Terms apply|label matches “terms apply”"}},
  };
  for (const auto& [phrase, expected] : cases) {
    SCOPED_TRACE(phrase);
    EXPECT_EQ(render(match(elements, phrase)), expected);
  }
  const std::vector<bool> folded = labelsOfControls(elements);
  EXPECT_EQ(folded, (std::vector<bool>{false, true, false, true, true, true, false, false, false}));
}

TEST(ElementMatcherTest, ProximityFloorAndAnchorExclusions) {
  auto elements = page(R"(
AXWebArea id=root
  AXGroup "Card" actions=AXPress frame=0,0,100,100
    AXButton "Anchor here" actions=AXPress frame=0,0,10,10
      AXButton "Inside" actions=AXPress frame=0,0,5,5
  AXButton "Far" actions=AXPress frame=2000,0,10,10
)");
  EXPECT_EQ(render(match(elements, "button next to anchor here")),
            std::vector<std::string>{"1.0|Far|nearest to “Anchor here” (2000 pt)"});
}

TEST(ElementMatcherTest, PressableClimbsAtMostSixLevels) {
  auto elements = page(R"(
AXWebArea id=root
  AXButton "Outer" actions=AXPress
    AXGroup
      AXGroup
        AXGroup
          AXGroup
            AXGroup
              AXStaticText value="six up"
              AXGroup
                AXStaticText value="seven up"
)");
  EXPECT_EQ(ElementMatcher::pressable(elements[7], elements).title, "Outer");
  EXPECT_EQ(ElementMatcher::pressable(elements[9], elements).role, "AXStaticText");
  PageElement orphan = elements[7];
  orphan.parent = -3;
  EXPECT_EQ(ElementMatcher::pressable(orphan, elements).role, "AXStaticText");
}

TEST(ElementMatcherTest, HostileInputEndsInResults) {
  auto elements = page(kShop);
  std::string huge(5000, 'x');
  EXPECT_TRUE(match(elements, huge).matches.empty());
  EXPECT_TRUE(match(elements, "!!! ???").matches.size() >= 4);  // punctuation only: an empty query
  EXPECT_TRUE(match(elements, "👍🏽").matches.size() >= 4);
  // Parent indexes that are negative, out of range or cyclic end the walks.
  std::vector<PageElement> broken = elements;
  broken[1].parent = -1;
  broken[2].parent = 999;
  broken[3].parent = 4;
  broken[4].parent = 3;
  for (const char* phrase : {"checkout", "add to cart next to camp mug", "second button"}) {
    MatchResult r = match(broken, phrase);
    (void)r;
  }
  EXPECT_TRUE(ElementMatcher::matches({}, {}, MatchPurpose::click).matches.empty());
}

}  // namespace
}  // namespace tovrin
