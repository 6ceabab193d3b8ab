#include "content/page_snapshot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/scene_tree.h"

namespace tovrin {
namespace {

using testing::browserDesktop;

std::optional<PageSnapshot> capture(SimulatedDesktop& desktop) {
  BrowserTracker tracker(desktop.platform());
  auto target = tracker.current();
  if (!target) return std::nullopt;
  return PageSnapshot::capture(*target);
}

TEST(PageSnapshotTest, PicksTheLargestWebArea) {
  auto desktop = browserDesktop(R"(
AXWindow "Two pages" id=w
  AXWebArea "Side panel" frame=0,0,300,800
    AXButton "Side"
  AXWebArea "Main page" frame=300,0,900,800 url=https://example.com/
    AXButton "Main"
  AXWebArea "Tie with main, later" frame=0,0,900,800
)");
  auto snap = capture(*desktop);
  ASSERT_TRUE(snap);
  ASSERT_TRUE(snap->webArea);
  EXPECT_EQ(snap->pageTitle, "Main page");
  EXPECT_EQ(snap->url, "https://example.com/");
  EXPECT_EQ(snap->webArea->id, 2);     // in the chrome list
  EXPECT_EQ(snap->chrome.size(), 4u);  // the window and three web areas, none entered
  ASSERT_EQ(snap->elements.size(), 2u);
  EXPECT_EQ(snap->elements[1].title, "Main");
  EXPECT_EQ(snap->readSummary(), "Read 2 elements, 1 text lines in 0.00s");
  EXPECT_EQ(snap->pageLine(), "Page: Main page");
}

TEST(PageSnapshotTest, WithoutAWebAreaTheWholeWindowIsRead) {
  auto desktop = browserDesktop(R"(
AXWindow "Settings" id=w
  AXButton "OK"
)");
  auto snap = capture(*desktop);
  ASSERT_TRUE(snap);
  EXPECT_FALSE(snap->webArea);
  EXPECT_EQ(snap->elements.size(), snap->chrome.size());
  EXPECT_EQ(snap->url, "");
  EXPECT_EQ(snap->pageTitle, "");
  EXPECT_EQ(snap->readSummary(),
            "Read 2 elements, 1 text lines in 0.00s (no web area found — using whole window)");
  EXPECT_EQ(snap->pageLine(), "Page: Settings");
}

TEST(PageSnapshotTest, UrlAsPlainStringAndTitles) {
  auto desktop = browserDesktop(R"(
AXWindow "" id=w
  AXWebArea "  Spaced \n title " attr.AXURL='about:blank'
)",
                                {.name = ""});
  auto snap = capture(*desktop);
  ASSERT_TRUE(snap);
  EXPECT_EQ(snap->url, "about:blank");
  EXPECT_EQ(snap->pageTitle, "Spaced title");
  EXPECT_EQ(snap->browserName, "Chrome");  // the adapter's name when the app has none
  EXPECT_NEAR(snap->captureTime, 0, 1e-9);
}

TEST(PageSnapshotTest, CaptureTimeComesFromTheDesktopClock) {
  auto desktop = browserDesktop(R"(
AXWindow "W" id=w
  AXWebArea "P" frame=0,0,10,10
    AXStaticText value="slow" delay=0.25
)");
  auto snap = capture(*desktop);
  ASSERT_TRUE(snap);
  EXPECT_EQ(snap->readSummary(), "Read 2 elements, 1 text lines in 0.25s");
}

TEST(PageSnapshotTest, NoWindowNoSnapshot) {
  nlohmann::json scene = {
      {"apps", {{{"pid", 9}, {"bundleID", "org.mozilla.firefox"}, {"frontmost", true}}}}};
  auto desktop = testing::sceneDesktop(scene);
  BrowserTracker tracker(desktop->platform());
  auto target = tracker.current();
  ASSERT_TRUE(target);
  EXPECT_FALSE(PageSnapshot::capture(*target));
}

PageSnapshot withLines(std::vector<PageLine> lines) {
  PageSnapshot snap;
  snap.lines = std::move(lines);
  return snap;
}

TEST(PageSnapshotTest, TextRendering) {
  using K = PageLine::Kind;
  PageSnapshot snap = withLines({{"Top", 1, K::heading, 1},
                                 {"Para", 2, K::text, 0},
                                 {"Deep", 3, K::heading, 6},
                                 {"Zero", 4, K::heading, 0},
                                 {"Minus", 5, K::heading, -3},
                                 {"Go", 6, K::link, 0},
                                 {"Buy", 7, K::button, 0},
                                 {"Email", 8, K::field, 0},
                                 {"Logo", 9, K::image, 0},
                                 {"One", 10, K::item, 0}});
  EXPECT_EQ(snap.text(),
            "# Top\nPara\n\n#### Deep\n\n# Zero\n\n# Minus\n→ Go\n[Button] Buy\n[Field] Email\n"
            "[Image] Logo\n• One");
  EXPECT_EQ(withLines({}).text(), "");
}

TEST(PageSnapshotTest, SectionTitle) {
  using K = PageLine::Kind;
  PageSnapshot snap = withLines({{"intro", 2, K::text, 0},
                                 {"First", 5, K::heading, 2},
                                 {"body", 6, K::text, 0},
                                 {"Second", 9, K::heading, 2}});
  EXPECT_EQ(snap.sectionTitle(1), std::nullopt);
  EXPECT_EQ(snap.sectionTitle(4), std::nullopt);
  EXPECT_EQ(snap.sectionTitle(5), "First");
  EXPECT_EQ(snap.sectionTitle(8), "First");
  EXPECT_EQ(snap.sectionTitle(500), "Second");
}

// The example scenes read as expected; the expectation files live next to the
// tests. Run with TOVRIN_REGENERATE=1 to rewrite them after a deliberate change.
std::string dump(const PageSnapshot& snap) {
  std::ostringstream out;
  out << snap.readSummary() << '\n' << snap.pageLine().value_or("(no page line)") << '\n';
  out << "url: " << snap.url << "\nbrowser: " << snap.browserName << "\n\n== text ==\n"
      << snap.text() << "\n\n== lines ==\n";
  for (const PageLine& line : snap.lines) {
    out << kindName(line.kind) << '\t' << line.level << '\t' << line.elementID << '\t' << line.text
        << '\n';
  }
  out << "\n== chunks ==\n";
  for (const PageChunk& chunk : snap.chunks) {
    out << "-- #" << chunk.elementID << " under “" << chunk.heading << "”\n" << chunk.text << '\n';
  }
  return out.str();
}

TEST(PageSnapshotTest, ExampleScenesMatchTheirExpectations) {
  for (const char* name : {"shop", "article", "signup"}) {
    SCOPED_TRACE(name);
    auto loaded = SimulatedDesktop::load(
        testing::sourcePath(std::string("examples/scenes/") + name + ".json"));
    ASSERT_TRUE(std::holds_alternative<std::shared_ptr<SimulatedDesktop>>(loaded));
    auto snap = capture(*std::get<std::shared_ptr<SimulatedDesktop>>(loaded));
    ASSERT_TRUE(snap);
    std::string actual = dump(*snap);
    std::string path = testing::sourcePath(std::string("tests/expected/") + name + ".snapshot.txt");
    if (std::getenv("TOVRIN_REGENERATE")) {
      std::ofstream(path, std::ios::binary) << actual;
      continue;
    }
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << "missing " << path << " (run with TOVRIN_REGENERATE=1)";
    std::stringstream expected;
    expected << file.rdbuf();
    EXPECT_EQ(actual, expected.str());
  }
}

}  // namespace
}  // namespace tovrin
