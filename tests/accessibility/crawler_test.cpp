#include "accessibility/crawler.h"

#include <gtest/gtest.h>

#include "accessibility/ax.h"
#include "support/scene_tree.h"

namespace tovrin {
namespace {

using testing::browserDesktop;

// Each element as "depth:role:label", in crawl order.
std::vector<std::string> outline(const std::vector<PageElement>& elements) {
  std::vector<std::string> out;
  for (const PageElement& e : elements) {
    out.push_back(std::to_string(e.depth) + ":" + e.role + ":" + e.label());
  }
  return out;
}

std::vector<PageElement> crawlWindow(SimulatedDesktop& desktop, Crawler::Limits limits) {
  return Crawler::crawl(desktop.elementNamed("w"), limits, desktop);
}

constexpr const char* kPage = R"(
AXWindow "Shop" id=w
  AXButton "Back" actions=AXPress
  AXWebArea "Acme" frame=0,88,1440,812
    AXHeading "Welcome" value=1
      AXStaticText value="Welcome"
    AXGroup
      AXStaticText value="Hidden text" hidden
      AXGroup hidden
        AXButton "Inside hidden"
      AXButton "Buy"
  AXButton "Menu"
)";

TEST(CrawlerTest, LimitsHoldExactly) {
  auto desktop = browserDesktop(kPage);
  struct Case {
    const char* name;
    Crawler::Limits limits;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"whole tree, hidden subtrees skipped",
       {.maxNodes = 100, .maxDepth = 80},
       {"0:AXWindow:Shop", "1:AXButton:Back", "1:AXWebArea:Acme", "2:AXHeading:Welcome",
        "3:AXStaticText:Welcome", "2:AXGroup:", "3:AXButton:Buy", "1:AXButton:Menu"}},
      {"node cap keeps the pre-order prefix",
       {.maxNodes = 3, .maxDepth = 80},
       {"0:AXWindow:Shop", "1:AXButton:Back", "1:AXWebArea:Acme"}},
      {"element at the depth cap is recorded, its children are not",
       {.maxNodes = 100, .maxDepth = 1},
       {"0:AXWindow:Shop", "1:AXButton:Back", "1:AXWebArea:Acme", "1:AXButton:Menu"}},
      {"web areas below the root are recorded but not entered",
       {.stopAtWebArea = true, .maxNodes = 100, .maxDepth = 80},
       {"0:AXWindow:Shop", "1:AXButton:Back", "1:AXWebArea:Acme", "1:AXButton:Menu"}},
      {"zero nodes", {.maxNodes = 0}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outline(crawlWindow(*desktop, c.limits)), c.expected);
  }
}

TEST(CrawlerTest, WebAreaAtTheRootIsEntered) {
  auto desktop = browserDesktop(R"(
AXWebArea "Acme" id=w
  AXButton "Buy"
)");
  EXPECT_EQ(outline(crawlWindow(*desktop, {.stopAtWebArea = true})),
            (std::vector<std::string>{"0:AXWebArea:Acme", "1:AXButton:Buy"}));
}

TEST(CrawlerTest, SharedChildrenAndCyclesAreRecordedOnce) {
  auto desktop = browserDesktop(R"(
AXWindow "W" id=w
  AXGroup "A"
    AXButton "Shared" id=shared
  AXGroup "B"
    ref=shared
    ref=w
)");
  auto elements = crawlWindow(*desktop, {});
  EXPECT_EQ(outline(elements), (std::vector<std::string>{"0:AXWindow:W", "1:AXGroup:A",
                                                         "2:AXButton:Shared", "1:AXGroup:B"}));
  // Ids are positions, parents point backwards, depth follows the parent.
  for (const PageElement& e : elements) {
    EXPECT_EQ(e.id, &e - elements.data());
    if (e.parent) {
      EXPECT_LT(*e.parent, e.id);
      EXPECT_EQ(e.depth, elements[static_cast<std::size_t>(*e.parent)].depth + 1);
    }
  }
}

TEST(CrawlerTest, DeadlineEndsTheWalkBetweenElements) {
  // Each request to a slow element costs one simulated second (static text
  // gets one request). The deadline is tested before each element, so the
  // element that starts before it is still read in full.
  auto desktop = browserDesktop(R"(
AXWindow "W" id=w
  AXStaticText value="One" delay=1
  AXStaticText value="Two" delay=1
  AXStaticText value="Three" delay=1
)");
  auto elements = crawlWindow(*desktop, {.timeLimit = 1.5});
  EXPECT_EQ(outline(elements),
            (std::vector<std::string>{"0:AXWindow:W", "1:AXStaticText:One", "1:AXStaticText:Two"}));
}

TEST(CrawlerTest, HungElementCostsOneTimeoutAndIsRecordedEmpty) {
  auto desktop = browserDesktop(R"(
AXWindow "W" id=w
  AXButton "Hung" delay=30
  AXButton "Fine"
)");
  double start = desktop->now();
  auto elements = crawlWindow(*desktop, {});
  EXPECT_EQ(outline(elements),
            (std::vector<std::string>{"0:AXWindow:W", "1::", "1:AXButton:Fine"}));
  EXPECT_TRUE(elements[1].enabled);
  EXPECT_FALSE(elements[1].frame);
  EXPECT_LE(desktop->now() - start, 6.0 + 1e-9);  // the system's default timeout, not 30 s
}

TEST(CrawlerTest, ElementFields) {
  auto desktop = browserDesktop(R"(
AXWindow "W" id=w
  AXTextField "Password" subrole=AXSecureTextField value="hunter2"
  AXTextField value="typed text" frame=1,2,3,4
  AXButton help="Only help" disabled actions=AXPress,AXShowMenu
  AXStaticText "  Two\n words  " actions=AXPress
  AXButton "Odd enabled" attr.AXEnabled='yes'
  AXImage desc="Logo" frame=nan,0,10,10 actions=AXPress
)");
  auto e = crawlWindow(*desktop, {});
  ASSERT_EQ(e.size(), 7u);
  EXPECT_EQ(e[1].value, "");  // a secure field never carries its value
  EXPECT_EQ(e[1].label(), "Password");
  EXPECT_EQ(e[2].label(), "");  // a field's typed value is not its name
  EXPECT_EQ(e[2].frame, (Frame{1, 2, 3, 4}));
  EXPECT_EQ(e[3].label(), "Only help");
  EXPECT_FALSE(e[3].enabled);
  EXPECT_EQ(e[3].actions, (std::vector<std::string>{"AXPress", "AXShowMenu"}));
  EXPECT_EQ(e[4].label(), "Two words");
  EXPECT_TRUE(e[4].actions.empty());  // static text is not asked for actions
  EXPECT_TRUE(e[5].enabled);          // an undecodable flag counts as enabled
  EXPECT_FALSE(e[6].frame);           // NaN position: no frame
  EXPECT_EQ(e[6].actions, std::vector<std::string>{"AXPress"});
}

TEST(CrawlerTest, LongValuesAreCutToTwentyThousandCharacters) {
  std::string huge(100000, 'x');
  huge += "é";
  auto desktop = browserDesktop("AXWindow \"W\" id=w\n  AXStaticText value=\"" + huge + "\"\n");
  auto e = crawlWindow(*desktop, {});
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[1].value, std::string(20000, 'x'));
}

TEST(CrawlerTest, DeepNestingIsBoundedByTheDepthCap) {
  std::string tree = "AXWindow \"W\" id=w\n";
  // Deeper than the cap is enough here; 10,000-deep scenes are loaded in the
  // loader's tests (this notation serialises through a recursive writer).
  for (int depth = 1; depth <= 300; ++depth) {
    tree += std::string(static_cast<std::size_t>(depth) * 2, ' ') + "AXGroup\n";
  }
  auto desktop = browserDesktop(tree);
  ASSERT_TRUE(desktop);
  auto elements = crawlWindow(*desktop, {.maxDepth = 80});
  EXPECT_EQ(elements.size(), 81u);
  EXPECT_EQ(elements.back().depth, 80);
}

}  // namespace
}  // namespace tovrin
