#include "content/page_reader.h"

#include <gtest/gtest.h>

#include "accessibility/ax.h"
#include "accessibility/crawler.h"
#include "support/scene_tree.h"

namespace tovrin {
namespace {

std::vector<PageElement> elementsOf(std::string_view tree) {
  auto desktop = testing::browserDesktop(tree);
  return Crawler::crawl(desktop->elementNamed("root"), {}, *desktop);
}

// Lines as "kind[level]: text".
std::vector<std::string> render(const std::vector<PageLine>& lines) {
  std::vector<std::string> out;
  for (const PageLine& line : lines) {
    std::string kind(kindName(line.kind));
    if (line.kind == PageLine::Kind::heading) kind += std::to_string(line.level);
    out.push_back(kind + ": " + line.text);
  }
  return out;
}

struct ReaderCase {
  const char* name;
  const char* tree;  // the root must have id=root
  std::vector<std::string> expected;
};

const ReaderCase kReaderCases[] = {
    {"text inside a link with the same words is said once",
     R"(
AXWebArea id=root
  AXLink "Pricing"
    AXStaticText value="Pricing"
  AXLink "Read the full pricing guide"
    AXStaticText value="Guide"
  AXLink "Docs"
    AXStaticText value="Documentation home"
)",
     {"link: Pricing", "link: Read the full pricing guide", "link: Docs",
      "text: Documentation home"}},
    {"a paragraph of texts and an inline link becomes one line",
     R"(
AXWebArea id=root
  AXGroup
    AXStaticText value="Read our "
    AXLink "terms"
      AXStaticText value="terms"
    AXStaticText value=" before buying."
  AXGroup
    AXStaticText value="Next paragraph."
)",
     {"text: Read our terms before buying.", "text: Next paragraph."}},
    {"list items never merge",
     R"(
AXWebArea id=root
  AXList
    AXListItem
      AXStaticText value="• "
      AXStaticText value="Basic plan"
    AXListItem
      AXStaticText value="Pro plan"
)",
     {"item: •", "item: Basic plan", "item: Pro plan"}},
    {"heading levels",
     R"(
AXWebArea id=root
  AXHeading "Three" value=3
  AXHeading "Text level" value="4"
  AXHeading "Signed" value="+5"
  AXHeading "Garbage" value="x1"
  AXHeading "Empty"
  AXHeading "Deep" value=9
)",
     {"heading3: Three", "heading4: Text level", "heading5: Signed", "heading2: Garbage",
      "heading2: Empty", "heading9: Deep"}},
    {"short links and buttons once per page, long links every time",
     R"(
AXWebArea id=root
  AXLink "Home"
  AXLink "home!"
  AXLink "Home"
  AXLink "A link label that is forty-five characters ok"
  AXLink "A link label that is forty-five characters ok"
  AXButton "Add to cart"
  AXPopUpButton "Add to cart"
  AXMenuButton "More"
  AXButton
)",
     {"link: Home", "link: A link label that is forty-five characters ok",
      "link: A link label that is forty-five characters ok", "button: Add to cart",
      "button: More"}},
    {"toggles show their state",
     R"(
AXWebArea id=root
  AXCheckBox "A" value="TRUE"
  AXCheckBox "B" value=1
  AXCheckBox "C" value=0
  AXRadioButton "D" value="true"
)",
     {"field: ☑ A", "field: ☑ B", "field: ☐ C", "field: ☑ D"}},
    {"fields show their value but never a secret",
     R"(
AXWebArea id=root
  AXTextField "Password" subrole=AXSecureTextField value="hunter2"
  AXTextField value="abc"
  AXSearchField placeholder="Search docs" value="  two   words "
  AXComboBox "Country" value="France"
  AXTextArea
)",
     {"field: Password", "field: text field: abc", "field: Search docs: two words",
      "field: Country: France", "field: text field"}},
    {"images need real alt text",
     R"(
AXWebArea id=root
  AXImage desc="hero.PNG"
  AXImage desc="photo.jpg"
  AXImage desc="Logo"
  AXImage desc="Cat"
  AXImage "Title used when no description"
  AXLink "Acme Logo home"
    AXImage desc="Acme logo"
)",
     {"image: Logo", "image: Title used when no description", "link: Acme Logo home"}},
    {"zero-sized elements give no line; no frame is fine",
     R"(
AXWebArea id=root
  AXButton "Flat" frame=0,0,100,0
  AXButton "Negative ok" frame=0,0,-100,-20
  AXButton "No frame"
)",
     {"button: Negative ok", "button: No frame"}},
    {"a skipped element keeps the running line open",
     R"(
AXWebArea id=root
  AXGroup
    AXStaticText value="Before"
    AXButton
    AXStaticText value="after."
)",
     {"text: Before after."}},
};

TEST(PageReaderTest, Lines) {
  for (const ReaderCase& c : kReaderCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(render(PageReader::lines(elementsOf(c.tree))), c.expected);
  }
}

TEST(PageReaderTest, HeadingLevelFallsBackToALiveRead) {
  // The crawl saw no usable level; by the time lines are made the browser
  // reports one, so the live read decides. Once the element is gone, 2.
  auto desktop = testing::browserDesktop(R"(
AXWebArea id=root
  AXHeading "Live" value="?" settable=AXValue id=h
)");
  auto elements = Crawler::crawl(desktop->elementNamed("root"), {}, *desktop);
  ASSERT_EQ(AX::set(desktop->elementNamed("h"), "AXValue", AXNumber{3}), AXErr::kSuccess);
  EXPECT_EQ(PageReader::lines(elements).at(0).level, 3);

  auto vanishing = testing::browserDesktop(R"(
AXWebArea id=root
  AXHeading "Gone" value="?" vanish=1
)");
  elements = Crawler::crawl(vanishing->elementNamed("root"), {}, *vanishing);
  EXPECT_EQ(PageReader::lines(elements).at(0).level, 2);
}

TEST(PageReaderTest, BadParentIndexesAreIgnored) {
  std::vector<PageElement> elements(3);
  for (int i = 0; i < 3; ++i)
    elements[static_cast<std::size_t>(i)].id = i;
  elements[0].role = "AXLink";
  elements[0].title = "Same";
  elements[1].role = "AXStaticText";
  elements[1].value = "Same";
  elements[1].parent = -4;
  elements[2].role = "AXStaticText";
  elements[2].value = "Other";
  elements[2].parent = 99;
  EXPECT_EQ(render(PageReader::lines(elements)),
            (std::vector<std::string>{"link: Same", "text: Same", "text: Other"}));
}

PageLine line(std::string text, int id, PageLine::Kind kind = PageLine::Kind::text) {
  return PageLine{std::move(text), id, kind, kind == PageLine::Kind::heading ? 2 : 0};
}

TEST(PageReaderTest, Chunks) {
  using K = PageLine::Kind;
  std::vector<PageLine> lines = {
      line("Intro", 1),
      line("Pricing", 2, K::heading),
      line(std::string(500, 'a'), 3),
      line(std::string(450, 'b'), 4),
      line(std::string(1000, 'c'), 5),
      line("tail", 6),
      line("Empty section", 7, K::heading),
      line("Last", 8, K::heading),
      line("   ", 9),
  };
  auto chunks = PageReader::chunks(lines, 900);
  ASSERT_EQ(chunks.size(), 7u);
  EXPECT_EQ(chunks[0].heading, "");
  EXPECT_EQ(chunks[0].text, "Intro");
  EXPECT_EQ(chunks[1].heading, "Pricing");
  EXPECT_EQ(chunks[1].text, "Pricing\n" + std::string(500, 'a'));
  EXPECT_EQ(chunks[1].elementID, 2);
  EXPECT_EQ(chunks[2].heading, "Pricing");  // the continuation does not repeat the heading line
  EXPECT_EQ(chunks[2].text, std::string(450, 'b'));
  EXPECT_EQ(chunks[2].elementID, 4);
  EXPECT_EQ(chunks[3].text, std::string(1000, 'c'));  // one long line is a chunk by itself
  EXPECT_EQ(chunks[4].text, "tail");
  EXPECT_EQ(chunks[5].text, "Empty section");
  EXPECT_EQ(chunks[6].text, "Last\n   ");
  EXPECT_TRUE(PageReader::chunks({}, 900).empty());
}

TEST(PageReaderTest, ChunkBudgetCountsCharactersNotBytes) {
  std::vector<PageLine> lines = {line(std::string(20, 'x'), 1),
                                 line("ééééé", 2)};  // 5 characters, 10 bytes
  EXPECT_EQ(PageReader::chunks(lines, 25).size(), 1u);
  EXPECT_EQ(PageReader::chunks(lines, 24).size(), 2u);
}

}  // namespace
}  // namespace tovrin
