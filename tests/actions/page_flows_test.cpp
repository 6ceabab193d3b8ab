#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace tovrin {
namespace {

using testing::contains;
using testing::EngineFixture;
using testing::headline;
using testing::resultOf;

std::vector<std::string> itemTexts(const Outcome& o) {
  std::vector<std::string> out;
  for (const FoundItem& item : resultOf(o).items)
    out.push_back(item.text);
  return out;
}

TEST(ScrollTest, PreferTheScrollAreaThenWheelThenKeys) {
  EngineFixture area(R"(
AXWindow "W" id=w frame=0,0,1000,1100
  AXScrollArea actions=AXScrollDownByPage,AXScrollUpByPage frame=0,100,1000,1000
    AXWebArea "Page" frame=0,100,1000,1000
      AXStaticText value="Hello"
)");
  Outcome o = area.run("scroll down");
  EXPECT_EQ(resultOf(o).headline, "Scrolled **down**");
  EXPECT_EQ(resultOf(o).debug.back(), "Used AXScrollDownByPage on AXScrollArea");
  EXPECT_EQ(area.effects(), std::vector<std::string>{"AXScrollDownByPage AXScrollArea → 0"});

  EngineFixture wheel(R"(
AXWindow "W" id=w frame=0,0,1000,1100
  AXWebArea "Page" frame=0,100,1000,1000
    AXStaticText value="Hello"
)");
  o = wheel.run("scroll down");
  EXPECT_EQ(resultOf(o).debug.back(), "Posted scroll-wheel event over the page");
  EXPECT_EQ(wheel.effects(), std::vector<std::string>(4, "scroll wheel -200 at 500,600"));
  wheel.run("page up");
  EXPECT_EQ(wheel.effects(), std::vector<std::string>(4, "scroll wheel 200 at 500,600"));

  EngineFixture keys(R"(
AXGroup "No web area, no window" id=w
  AXStaticText value="Hello"
)");
  o = keys.run("scroll down");
  EXPECT_EQ(resultOf(o).debug.back(), "Fell back to Page Down / Page Up key");
  EXPECT_EQ(keys.effectsContaining("key down"),
            std::vector<std::string>{"key down 121 → Google Chrome"});
}

constexpr const char* kLongPage = R"(
AXWindow "W" id=w frame=0,0,1000,700
  AXWebArea "Long page" frame=0,100,1000,600
    AXHeading "Introduction" value=1 frame=0,100,500,30
    AXStaticText value="Welcome to the guide." frame=0,140,500,20
    AXHeading "Shipping rates" value=2 frame=0,2000,500,30 id=shipping
    AXStaticText value="Parcels travel by sea and by air." frame=0,2040,500,20 id=parcels
    AXTextField "Postcode" frame=0,3000,200,30 settable=AXValue,AXFocused id=postcode
    AXStaticText value="The end." frame=0,4000,500,20
)";

TEST(ScrollTest, SectionsTopBottomAndReveal) {
  EngineFixture f(kLongPage);
  Outcome o = f.run("scroll to shipping");
  EXPECT_EQ(resultOf(o).headline, "Scrolled to **Shipping rates**");
  EXPECT_EQ(resultOf(o).debug.back(), "Target: Element: AXHeading (0,2000 500×30) actions=");
  // Its middle is now a third of the way down the 600-point page area.
  EXPECT_EQ(AX::frame(f.desktop->elementNamed("shipping"))->y, 285);

  EngineFixture body(kLongPage);
  EXPECT_EQ(headline(body.run("scroll to parcels by air")),
            "Scrolled to **Parcels travel by sea and by air.**");
  EXPECT_EQ(headline(body.run("scroll to the unicorns")),
            "Couldn't find a section about “unicorns”");

  EngineFixture ends(kLongPage);
  o = ends.run("scroll to the bottom");
  EXPECT_EQ(resultOf(o).headline, "Scrolled to the **bottom**");
  EXPECT_EQ(resultOf(o).debug.back(), "AXScrollToVisible on the last element");

  EngineFixture reveal(kLongPage);
  auto engine = reveal.newEngine();
  auto snap = engine->snapshot();
  const PageElement& postcode = snap->elements[5];
  ASSERT_EQ(postcode.label(), "Postcode");
  engine->reveal(postcode);
  reveal.desktop->sleep(4);
  EXPECT_TRUE(AX::boolean(reveal.desktop->attribute("postcode", "AXFocused"),
                          false));  // a field is focused
  auto outlines = reveal.effectsContaining("outline");
  ASSERT_EQ(outlines.size(), 2u);
  EXPECT_EQ(outlines[0], "outline 0,285,200,30 for 3.5s");
}

// Bars fixed to the view come first and last in document order but are
// always in view; the page's ends are the content farthest outside it.
TEST(ScrollTest, TopAndBottomSkipElementsFixedToTheView) {
  constexpr const char* kScrolledPage = R"(
AXWindow "W" id=w frame=0,0,1000,700
  AXWebArea "Scrolled page" frame=0,100,1000,600
    AXStaticText value="Cookie bar at the top" frame=0,100,1000,20
    AXHeading "Start of the page" value=1 frame=0,-900,500,30 id=start
    AXStaticText value="The middle of the page." frame=0,400,500,20
    AXStaticText value="The end of the page." frame=0,2500,500,20 id=end
    AXStaticText value="Status line at the bottom" frame=0,680,1000,20
)";
  const struct {
    const char* command;
    const char* element;
  } cases[] = {{"scroll to the bottom", "end"}, {"scroll to the top", "start"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    EngineFixture f(kScrolledPage);
    f.run(c.command);
    auto frame = AX::frame(f.desktop->elementNamed(c.element));
    ASSERT_TRUE(frame);
    EXPECT_GE(frame->y, 100);
    EXPECT_LE(frame->y + frame->height, 700);
  }
}

TEST(ScrollTest, ScrollToTheBottomOfAnUnlabelledPagePostsEnd) {
  EngineFixture f(R"(
AXWindow "W" id=w frame=0,0,1000,700
  AXWebArea frame=0,100,1000,600
    AXGroup frame=0,100,10,10
)");
  Outcome o = f.run("scroll to the bottom");
  EXPECT_EQ(resultOf(o).headline, "Scrolled to the **bottom**");
  EXPECT_EQ(resultOf(o).debug.back(), "Fell back to End key");
  EXPECT_EQ(f.effectsContaining("key down"),
            std::vector<std::string>{"key down 119 → Google Chrome"});
}

std::string manyLines(int count, const std::string& text) {
  std::string tree = "AXWindow \"W\" id=w\n  AXWebArea \"Many\"\n";
  for (int i = 0; i < count; ++i)
    tree += "    AXGroup\n      AXStaticText value=\"" + text + " " + std::to_string(i) + "\"\n";
  return tree;
}

TEST(FindTest, FindShowsEightOfAllMatches) {
  EngineFixture f(manyLines(20, "Cookie settings line"));
  Outcome o = f.run("find cookie settings");
  EXPECT_EQ(resultOf(o).headline, "Found **20** matches for “cookie settings”");
  EXPECT_EQ(resultOf(o).items.size(), 8u);
  EXPECT_EQ(resultOf(o).debug.back(), "Best match: Element: AXStaticText no frame actions=");

  EngineFixture one(manyLines(1, "Just one"));
  EXPECT_EQ(resultOf(one.run("find just one")).headline, "Found **1** match for “just one”");
  // Only stop words: no ranking, so a literal search of the normalised lines.
  EXPECT_EQ(resultOf(one.run("find just")).headline, "Found **1** match for “just”");
  EXPECT_EQ(headline(one.run("find what is it")), "Nothing on the page matches “what is it”");
  EXPECT_EQ(headline(one.run("find ?!?")),
            "Nothing on the page matches “”");  // nothing to look for
}

TEST(FindTest, FindAllCountsEveryOccurrence) {
  EngineFixture f(manyLines(45, "a cookie and another cookie"));
  Outcome o = f.run("find all mentions of cookie");
  EXPECT_EQ(resultOf(o).headline, "**90** occurrences of “cookie” in 30+ places");
  EXPECT_EQ(resultOf(o).items.size(), 30u);

  EngineFixture snippets(R"(
AXWindow "W" id=w
  AXWebArea "P"
    AXStaticText value="aaaa"
    AXStaticText value="Write to e-mail or email us. Ça va"
    AXStaticText value="0123456789012345678901234567890123456789012345678901234567890123456789 needle and more text after it"
)");
  EXPECT_EQ(resultOf(snippets.run("find all mentions of aa")).headline,
            "**2** occurrences of “aa” in 1 place");
  EXPECT_EQ(resultOf(snippets.run("find all mentions of e-mail")).headline,
            "**1** occurrence of “e-mail” in 1 place");
  EXPECT_EQ(resultOf(snippets.run("find all mentions of ça")).headline,
            "**1** occurrence of “ça” in 1 place");
  EXPECT_EQ(
      itemTexts(snippets.run("find all mentions of needle")),
      std::vector<std::string>{
          "…1234567890123456789012345678901234567890123456789 needle and more text after it"});
  EXPECT_EQ(headline(snippets.run("find all mentions of zebra")), "No occurrences of “zebra”");
}

TEST(FindTest, Lists) {
  const char* page = R"(
AXWindow "W" id=w
  AXWebArea "P"
    AXLink "Learn more" actions=AXPress
    AXLink "Learn more" actions=AXPress
    AXButton "Learn more" actions=AXPress
    AXLink "Short" actions=AXPress
    AXHeading "Section" value=2
    AXTextField
    AXCheckBox "Remember me" actions=AXPress
    AXButton "Tiny" actions=AXPress frame=0,0,0,0
)";
  struct Case {
    const char* command;
    std::string headline;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"what buttons are there", "**1** button on this page", {"Learn more"}},
      {"list the links", "**2** links on this page", {"Learn more", "Short"}},
      {"which fields are there", "**1** field on this page", {"(unlabeled)"}},
      {"what headings are there", "**1** heading on this page", {"Section"}},
      {"show checkboxes", "**1** checkbox on this page", {"Remember me"}},
      {"what images are there", "No images found", {}},
      {"show me all the controls",
       "**4** interactive elements on this page",
       {"Learn more  · Link", "Learn more  · Button", "Short  · Link", "Remember me  · CheckBox"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EngineFixture f(page);
    Outcome o = f.run(c.command);
    EXPECT_EQ(resultOf(o).headline, c.headline);
    EXPECT_EQ(itemTexts(o), c.items);
  }
}

TEST(AnswersTest, ReadCopySummarizeAsk) {
  std::string long9000(9000, 'x');
  EngineFixture f("AXWindow \"\" id=w\n  AXWebArea\n    AXStaticText value=\"" + long9000 + "\"\n");
  Outcome read = f.run("read this page");
  EXPECT_EQ(resultOf(read).headline, "Read **page** — 1 words");
  EXPECT_EQ(resultOf(read).body,
            std::string(8000, 'x') + "\n…(truncated here; Copy gets everything)");
  EXPECT_EQ(resultOf(read).copyText, long9000);
  Outcome copy = f.run("copy the article");
  EXPECT_EQ(resultOf(copy).headline, "Copied **1** words to the clipboard");
  EXPECT_EQ(f.desktop->string(), long9000);
  EXPECT_EQ(resultOf(f.run("summarize this page")).headline, "Summary of **this page**");

  EngineFixture empty("AXWindow \"W\" id=w\n  AXWebArea \"Empty\"\n");
  EXPECT_EQ(headline(empty.run("read this page")), "Nothing readable on this page");
  EXPECT_EQ(headline(empty.run("copy the article")), "Nothing to copy");
  EXPECT_EQ(headline(empty.run("summarize this page")), "Nothing to summarize");
  EXPECT_EQ(headline(empty.run("what is the price?")), "The page has no readable text");
}

constexpr const char* kArticle = R"(
AXWindow "W" id=w
  AXWebArea "Boats"
    AXHeading "Refunds" value=2
    AXStaticText value="Refunds take five days. Returns are free."
    AXHeading "About" value=2
    AXStaticText value="We build small wooden boats."
)";

TEST(AnswersTest, ModelOrExtractive) {
  EngineFixture f(kArticle);
  Outcome o = f.run("how do refunds work?");
  const ActionResult& r = resultOf(o);
  EXPECT_EQ(r.headline, "**how do refunds work?**");
  EXPECT_EQ(r.body, "• Refunds\n• Refunds take five days.\n• Returns are free.");
  // Only the refunds chunk ranks: "Refunds\nRefunds take five days. Returns are free."
  EXPECT_EQ(r.debug[r.debug.size() - 2], "Grounding: 1 excerpt(s), 49 chars from this page only");
  EXPECT_EQ(r.debug.back(), "Extractive answer (no on-device model)");
  ASSERT_EQ(r.items.size(), 1u);
  EXPECT_EQ(r.items[0].text, "Refunds");

  EngineFixture model(kArticle);
  model.model->setAvailable(true);
  model.model->when("Question: how do refunds work?", std::string("The page doesn't say."));
  model.model->when("Summarize in at most 6", std::string("- Boats\n- Refunds"));
  Outcome answered = model.run("how do refunds work?");
  EXPECT_EQ(resultOf(answered).body, "The page doesn't say.");
  EXPECT_EQ(resultOf(answered).debug.back(), "Answered by the on-device model");
  Outcome summary = model.run("summarize this page");
  EXPECT_EQ(resultOf(summary).body, "- Boats\n- Refunds");
  EXPECT_EQ(resultOf(summary).copyText, "- Boats\n- Refunds");
  EXPECT_EQ(resultOf(summary).debug.back(),
            "Summarized by the on-device model from extracted text only");
}

std::string links(int count, const std::string& extra = "") {
  std::string tree = "AXWindow \"W\" id=w\n  AXWebArea \"Links\"\n";
  for (int i = 0; i < count; ++i) {
    tree += "    AXLink \"Pricing page " + std::to_string(i) + "\" url=https://x.example/" +
            std::to_string(i) + " actions=AXPress\n";
  }
  return tree + extra;
}

TEST(LinksTest, OpenEveryLinkAbout) {
  EngineFixture three(links(3));
  Outcome o = three.run("open every link about pricing");
  EXPECT_EQ(resultOf(o).headline, "Opened **3** links mentioning “pricing”");
  EXPECT_EQ(resultOf(o).body, "• Pricing page 0\n• Pricing page 1\n• Pricing page 2");
  EXPECT_EQ(three.effectsContaining("open").size(), 3u);

  EngineFixture four(links(4));
  o = four.run("open every link about pricing");
  ASSERT_NE(o.confirmation(), nullptr);
  EXPECT_EQ(o.confirmation()->title, "Open 4 links?");
  EXPECT_EQ(o.confirmation()->message, "Each will open in a new Google Chrome tab.");
  EXPECT_TRUE(four.effectsContaining("open").empty());
  EXPECT_EQ(o.confirmation()->perform().headline, "Opened **4** links mentioning “pricing”");
  EXPECT_EQ(four.effectsContaining("open").size(), 4u);

  EngineFixture twenty(links(20));
  o = twenty.run("open every link about pricing");
  EXPECT_EQ(o.confirmation()->title, "Open 15 links?");
  o.confirmation()->perform();
  EXPECT_EQ(twenty.effectsContaining("open").size(), 15u);

  EngineFixture odd(
      links(1,
            "    AXLink \"Pricing by mail\" url=mailto:sales@x.example actions=AXPress\n"
            "    AXLink \"Pricing again\" url=https://x.example/0 actions=AXPress\n"
            "    AXLink \"Price\" attr.AXURL='https://x.example/string' actions=AXPress\n"));
  o = odd.run("open every link about pricing");
  EXPECT_EQ(odd.effectsContaining("open"),
            (std::vector<std::string>{"open https://x.example/0 in com.google.Chrome",
                                      "open https://x.example/string in com.google.Chrome"}));
  EXPECT_EQ(headline(odd.run("open every link about zebras")), "No links mention “zebras”");
}

TEST(LinksTest, OpenTheArticle) {
  EngineFixture heading(R"(
AXWindow "W" id=w
  AXWebArea "News"
    AXHeading "Hidden" value=2 frame=0,0,0,0
      AXLink "Hidden story" actions=AXPress
    AXLink "A very long link label that is surely an article" actions=AXPress
    AXHeading "Boats are back" value=2
      AXLink "Boats are back" actions=AXPress id=story
)");
  Outcome o = heading.run("open this article");
  EXPECT_EQ(resultOf(o).headline, "Clicked **Boats are back**");
  EXPECT_TRUE(contains(resultOf(o).debug, "Article link: “Boats are back”"));
  EXPECT_TRUE(contains(resultOf(o).debug, "Selected: Link") == false);

  EngineFixture longLink(R"(
AXWindow "W" id=w
  AXWebArea "News"
    AXLink "Short one" actions=AXPress
    AXLink "A very long link label that is surely an article" actions=AXPress
)");
  EXPECT_EQ(headline(longLink.run("open the article")),
            "Clicked **A very long link label that is surely an article**");

  EngineFixture focused(R"(
AXWindow "W" id=w
  AXWebArea "News"
    AXLink "Focused" focused actions=AXPress id=f
)");
  EXPECT_EQ(headline(focused.run("open the article")), "Opened the focused link");
  EXPECT_EQ(
      headline(EngineFixture("AXWindow \"W\" id=w\n  AXWebArea \"N\"\n").run("open the article")),
      "Couldn't find an article link");
}

TEST(EngineTest, OneReadPerEngine) {
  EngineFixture f(kArticle);
  auto engine = f.newEngine();
  auto first = engine->snapshot();
  auto second = engine->snapshot();
  EXPECT_EQ(first.get(), second.get());
  EXPECT_EQ(ActionEngine::elementDebug(PageElement{.role = "AXButton",
                                                   .frame = Frame{812.7, 140.2, 96.9, 32},
                                                   .actions = {"AXPress", "AXShowMenu"}}),
            "Element: AXButton (812,140 96×32) actions=AXPress,AXShowMenu");
}

}  // namespace
}  // namespace tovrin
