#include "content/page_qa.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/scene_tree.h"

namespace tovrin {
namespace {

PageChunk chunk(std::string heading, std::string text, int id = 0) {
  return {std::move(heading), std::move(text), id};
}

PageSnapshot withChunks(std::vector<PageChunk> chunks, std::string title = "Page") {
  PageSnapshot snap;
  snap.pageTitle = std::move(title);
  snap.chunks = std::move(chunks);
  return snap;
}

std::vector<std::size_t> order(const std::vector<PageQA::Ranked>& ranked) {
  std::vector<std::size_t> out;
  for (const auto& r : ranked)
    out.push_back(r.index);
  return out;
}

TEST(PageQATest, RankFollowsTheWeightingFormula) {
  // One term, in one of two texts: (ln 1 + 1) × ln(2/1 + 1), full coverage,
  // no phrase, then the length normaliser for 12 characters.
  auto ranked = PageQA::rank({"apple banana", "banana cherry"}, nullptr, "apple");
  ASSERT_EQ(ranked.size(), 1u);
  EXPECT_EQ(ranked[0].index, 0u);
  EXPECT_NEAR(ranked[0].score, std::log(3.0) / (1 + 0.12 * std::log(1 + 12.0 / 80)), 1e-12);

  EXPECT_TRUE(PageQA::rank({"apple"}, nullptr, "what is it").empty());  // only stop words
  EXPECT_TRUE(PageQA::rank({}, nullptr, "apple").empty());
}

TEST(PageQATest, SynonymsHeadingsPhrasesAndTies) {
  const std::vector<std::string> texts = {"The fee is small.", "Our pricing is simple.",
                                          "Nothing here.", "Nothing here either."};
  auto ranked = PageQA::rank(texts, nullptr, "price");
  EXPECT_EQ(order(ranked), (std::vector<std::size_t>{1, 0}));  // same stem beats a synonym
  EXPECT_GT(ranked[0].score, ranked[1].score);

  // A heading match alone ranks a text whose body lacks the term.
  const std::vector<std::string> headings = {"", "", "Price list", ""};
  EXPECT_EQ(order(PageQA::rank(texts, &headings, "price")), (std::vector<std::size_t>{1, 2, 0}));

  // Equal scores keep document order.
  EXPECT_EQ(order(PageQA::rank({"red shoe", "blue hat", "red shoe"}, nullptr, "red")),
            (std::vector<std::size_t>{0, 2}));
  // The phrase bonus prefers the words together and in order.
  EXPECT_EQ(order(PageQA::rank({"shoe red", "red shoe"}, nullptr, "red shoe")),
            (std::vector<std::size_t>{1, 0}));
}

TEST(PageQATest, RankLinesBoostsHeadings) {
  PageSnapshot snap;
  snap.lines = {{"Shipping is free over $50", 1, PageLine::Kind::text, 0},
                {"Shipping", 2, PageLine::Kind::heading, 2}};
  auto ranked = PageQA::rankLines(snap, "shipping");
  ASSERT_EQ(ranked.size(), 2u);
  EXPECT_EQ(ranked[0].index, 1u);
}

TEST(PageQATest, ExcerptsFitTheBudget) {
  PageSnapshot snap =
      withChunks({chunk("", std::string(300, 'x') + " apple"), chunk("", "apple apple pie"),
                  chunk("", "nothing"), chunk("", "apple " + std::string(5000, 'y'))});
  auto picked = PageQA::excerpts(snap, "apple", 330);
  ASSERT_EQ(picked.size(), 2u);  // the best two fit (15 + 306 characters); the long one does not
  EXPECT_EQ(picked[0].text.substr(0, 3), "xxx");
  EXPECT_EQ(picked[1].text, "apple apple pie");

  PageSnapshot longBest =
      withChunks({chunk("Apple", "apple " + std::string(6000, 'z')), chunk("", "apple pie")});
  picked = PageQA::excerpts(longBest, "apple", 4500);
  ASSERT_EQ(picked.size(), 1u);  // the best is taken though too long; then the budget is spent
  EXPECT_EQ(picked[0].heading, "Apple");

  PageSnapshot unrelated = withChunks({chunk("", "one"), chunk("", "two")});
  EXPECT_EQ(PageQA::excerpts(unrelated, "apple", 4500).size(),
            2u);  // document order when nothing ranks

  PageQAExcerpts excerpts(unrelated, "apple");
  EXPECT_EQ(excerpts.text, "one\n---\ntwo");
}

TEST(PageQATest, ExtractiveAnswer) {
  PageSnapshot empty = withChunks({}, "");
  EXPECT_EQ(PageQA::extractiveAnswer(empty, "what is this page about"),
            "The page has no readable text.");
  EXPECT_EQ(PageQA::extractiveAnswer(empty, "refund"), "The page doesn't appear to mention that.");

  PageSnapshot page = withChunks(
      {chunk("", "Short intro."),
       chunk("About",
             "About\nWe make boats. Our boats float well in any weather. We ship worldwide. Call "
             "us."),
       chunk("Refunds",
             "Refunds\nRefunds take 5 days. You can return any boat. Returns are free.")},
      "Boat Co");
  EXPECT_EQ(PageQA::extractiveAnswer(page, "what is this page about"),
            "“Boat Co”\n\nAbout We make boats. Our boats float well in any weather.");
  // "return" counts through the synonym table.
  EXPECT_EQ(PageQA::extractiveAnswer(page, "how do refunds work"),
            "• Refunds\n• Refunds take 5 days.\n• You can return any boat.\n• Returns are free.");

  // A chunk found through its heading alone, with no sentence holding the term.
  PageSnapshot headingOnly = withChunks({chunk("Warranty", std::string(500, 'w'))});
  EXPECT_EQ(PageQA::extractiveAnswer(headingOnly, "warranty"), std::string(399, 'w') + "…");

  // At most four bullets from at most three chunks, in chunk-rank order.
  std::vector<PageChunk> many;
  for (int i = 0; i < 5; ++i)
    many.push_back(chunk("", "Kayak one. Kayak two. Kayak three."));
  std::string answer = PageQA::extractiveAnswer(withChunks(many), "kayak");
  EXPECT_EQ(answer, "• Kayak one.\n• Kayak two.\n• Kayak three.\n• Kayak one.");
}

TEST(PageQATest, ExtractiveSummary) {
  std::vector<PageChunk> seven;
  for (int i = 0; i < 7; ++i) {
    seven.push_back(
        chunk("Part " + std::to_string(i),
              "Part " + std::to_string(i) +
                  "\nThis sentence is long enough to be a summary bullet. More words follow to "
                  "make the chunk longer than a hundred characters."));
  }
  std::string summary = PageQA::extractiveSummary(withChunks(seven, "Guide"));
  EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 6);  // title + six bullets
  EXPECT_EQ(summary.substr(0, summary.find('\n', summary.find('\n') + 1)),
            "**Guide**\n• Part 0 — This sentence is long enough to be a summary bullet.");

  PageSnapshot shortChunks = withChunks({chunk("", "Tiny.")}, "");
  shortChunks.windowTitle = "Window";
  shortChunks.lines = {{std::string(600, 'a'), 1, PageLine::Kind::text, 0}};
  EXPECT_EQ(PageQA::extractiveSummary(shortChunks), "**Window**\n" + std::string(499, 'a') + "…");
  EXPECT_EQ(PageQA::extractiveSummary(withChunks({}, "")), "");
}

// Rankings, excerpts, answers and summaries of the example scenes, kept as
// expectation files (TOVRIN_REGENERATE=1 rewrites them).
PageSnapshot captured(std::string_view windowTree) {
  auto desktop = testing::browserDesktop(windowTree);
  auto target = BrowserTracker(desktop->platform()).current();
  EXPECT_TRUE(target);
  auto snap = target ? PageSnapshot::capture(*target) : std::nullopt;
  EXPECT_TRUE(snap);
  return snap ? *snap : PageSnapshot{};
}

// A printer's page as a printing system's web interface shows it: a menu
// bar of links, a table of labels and values, a list of printers, and a
// glossary-like term with its definition on the next line.
constexpr const char* kPrinterPage = R"tree(
AXWindow "Blue_Laser" id=w
  AXWebArea "Blue_Laser - CUPS" frame=0,100,800,600
    AXList
      AXListItem
        AXLink "Home"
      AXListItem
        AXLink "Administration"
      AXListItem
        AXLink "Printers"
      AXListItem
        AXLink "Help: printing from every application on this system"
    AXHeading "Blue_Laser" value=1
    AXTable
      AXRow
        AXCell
          AXStaticText value="Location:"
        AXCell
          AXStaticText value="Room 214, second floor"
      AXRow
        AXCell
          AXStaticText value="Serial number:"
        AXCell
          AXStaticText value="BL-2231-X"
    AXHeading "All printers" value=2
    AXTable
      AXRow
        AXCell
          AXLink "Front_Desk"
        AXCell
          AXStaticText value="Colour printer at the front desk"
        AXCell
          AXStaticText value="Reception, ground floor"
      AXRow
        AXCell
          AXLink "Plotter"
        AXCell
          AXStaticText value="Large format plotter for blue prints"
        AXCell
          AXStaticText value="Room 305"
    AXHeading "Terms" value=2
    AXStaticText value="Raw queue mentioned in passing, as raw queues go."
    AXGroup
      AXStaticText value="Raw queue"
    AXGroup
      AXStaticText value="A printer queue that passes jobs to the device unchanged, with no filters."
    AXGroup
      AXStaticText value="os.path. basename ( path)"
    AXGroup
      AXStaticText value="Return the base name of pathname path. It is the second half of a split."
    AXGroup
      AXStaticText value="See also os.path.basename for names."
    AXHeading "About this printer" value=2
    AXStaticText value="This printer serves the library and the reading rooms on the second floor of the east wing."
)tree";

TEST(PageQATest, AnswersReadRowsLabelsAndDefinitionsWhole) {
  PageSnapshot snap = captured(kPrinterPage);
  struct Case {
    const char* question;
    const char* mustStartWith;  // the first bullet
  };
  const Case cases[] = {
      {"what is the serial number?", "• Serial number: BL-2231-X"},
      {"where is the location?", "• Location: Room 214, second floor"},
      {"which room is the plotter in?",
       "• Plotter · Large format plotter for blue prints · Room 305"},
      {"what is a raw queue?",
       "• Raw queue — A printer queue that passes jobs to the device unchanged, with no filters."},
      // An entry's signature, as Chromium spaces it: its text follows.
      {"what does os.path.basename do?",
       "• os.path. basename ( path) — Return the base name of pathname path."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.question);
    const std::string answer = PageQA::extractiveAnswer(snap, c.question);
    EXPECT_EQ(answer.substr(0, std::string(c.mustStartWith).size()), c.mustStartWith) << answer;
  }
  // The menu bar's long link is not the summary's opening.
  const std::string summary = PageQA::extractiveSummary(snap);
  EXPECT_EQ(summary.find("Help: printing"), std::string::npos) << summary;
  EXPECT_NE(summary.find("This printer serves the library"), std::string::npos) << summary;
}

TEST(PageQATest, ExampleScenesMatchTheirExpectations) {
  const std::pair<const char*, std::vector<const char*>> scenes[] = {
      {"shop",
       {"how much is the trail runner", "what is the refund policy", "shipping cost",
        "what is this page about"}},
      {"article",
       {"why is the night sky dark", "how old is the universe", "what about dust",
        "what is this page about"}},
      {"signup", {"password", "terms of service", "what is this page about"}},
  };
  for (const auto& [name, questions] : scenes) {
    SCOPED_TRACE(name);
    auto loaded = SimulatedDesktop::load(
        testing::sourcePath(std::string("examples/scenes/") + name + ".json"));
    ASSERT_TRUE(std::holds_alternative<std::shared_ptr<SimulatedDesktop>>(loaded));
    auto target =
        BrowserTracker(std::get<std::shared_ptr<SimulatedDesktop>>(loaded)->platform()).current();
    ASSERT_TRUE(target);
    auto snap = PageSnapshot::capture(*target);
    ASSERT_TRUE(snap);
    std::ostringstream out;
    for (const char* question : questions) {
      out << "## " << question << "\nranked chunks:";
      for (const auto& r : PageQA::rankChunks(*snap, question)) {
        char score[32];
        std::snprintf(score, sizeof score, " %zu=%.3f", r.index, r.score);
        out << score;
      }
      out << "\nranked lines:";
      auto lines = PageQA::rankLines(*snap, question);
      for (std::size_t i = 0; i < std::min<std::size_t>(3, lines.size()); ++i)
        out << " " << lines[i].index;
      out << "\nexcerpts:";
      for (const PageChunk& c : PageQAExcerpts(*snap, question).chunks)
        out << " #" << c.elementID;
      out << "\nanswer:\n" << PageQA::extractiveAnswer(*snap, question) << "\n\n";
    }
    out << "## summary\n" << PageQA::extractiveSummary(*snap) << "\n";
    std::string path = testing::sourcePath(std::string("tests/expected/") + name + ".qa.txt");
    if (std::getenv("TOVRIN_REGENERATE")) {
      std::ofstream(path, std::ios::binary) << out.str();
      continue;
    }
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << "missing " << path << " (run with TOVRIN_REGENERATE=1)";
    std::stringstream expected;
    expected << file.rdbuf();
    EXPECT_EQ(out.str(), expected.str());
  }
}

}  // namespace
}  // namespace tovrin
