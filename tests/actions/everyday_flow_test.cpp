// The flows behind everyday phrasings: boxes checked by the state they
// should end in, searches through the page's own search box, places that
// are headings here or links away, a key after typing, and words that sit
// on nothing pressable.

#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace tovrin {
namespace {

using testing::EngineFixture;
using testing::headline;

// Presses, and the last key sent; what was typed is read from the field.
std::vector<std::string> pressesAndKeys(const EngineFixture& f) {
  std::vector<std::string> out;
  std::string lastKey;
  for (const std::string& e : f.effects()) {
    if (e.rfind("AXPress", 0) == 0) out.push_back(e);
    if (e.rfind("key down", 0) == 0) lastKey = e;
  }
  if (!lastKey.empty()) out.push_back(lastKey);
  return out;
}

constexpr const char* kSettings = R"(
AXWindow "Administration" id=w
  AXWebArea "Administration" frame=0,100,800,600
    AXHeading "Server Settings" value=2 frame=10,110,300,20
    AXCheckBox "Allow remote administration" value=0 actions=AXPress frame=10,150,20,20 id=remote
    AXCheckBox "Allow users to cancel any job" value=1 actions=AXPress frame=10,180,20,20 id=cancel
    AXCheckBox "Frozen option" value=0 actions=AXPress press=0 frame=10,210,20,20 id=frozen
    AXButton "Change Settings" actions=AXPress frame=10,240,100,20
    AXCheckBox "Send me the newsletter" value=1 actions=AXPress frame=10,270,20,20
)";

TEST(EverydayFlowTest, BoxesAreCheckedOnlyWhenNotAlreadySo) {
  struct Case {
    const char* command;
    std::string headline;
    std::size_t presses;
  };
  const Case cases[] = {
      {"tick allow remote administration", "Checked **Allow remote administration**", 1},
      {"uncheck allow users to cancel any job", "Unchecked **Allow users to cancel any job**", 1},
      {"check allow users to cancel any job",
       "**Allow users to cancel any job** is already checked", 0},
      {"turn off remote administration", "**Allow remote administration** is already unchecked", 0},
      // Only boxes: a button named the same is never "checked".
      {"tick change settings", "Couldn't find “change settings” checkbox", 0},
      // Marking a box sends nothing, whatever its words; a plain click on it
      // is still confirmed as before.
      {"untick send me the newsletter", "Unchecked **Send me the newsletter**", 1},
      {"click send me the newsletter", "confirm: Click “Send me the newsletter”?", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EngineFixture f(kSettings);
    Outcome o = f.run(c.command);
    EXPECT_EQ(headline(o), c.headline);
    EXPECT_EQ(f.effectsContaining("AXPress").size(), c.presses);
  }
}

// The press "succeeded" but the page kept the box as it was.
TEST(EverydayFlowTest, ABoxThatDidNotChangeIsNotReportedChecked) {
  EngineFixture f(kSettings);
  Outcome o = f.run("tick frozen option");
  EXPECT_EQ(headline(o), "**Frozen option** is still unchecked");
}

constexpr const char* kPrinters = R"(
AXWindow "Printers" id=w
  AXWebArea "Printers" frame=0,100,800,600
    AXLink "Administration" actions=AXPress frame=10,105,80,20
    AXLink "Help" actions=AXPress frame=100,105,80,20
    AXHeading "Printers" value=1 frame=10,130,300,20
    AXGroup
      AXStaticText value="Search in Printers:" frame=10,160,120,20
      AXTextField subrole=AXSearchField frame=140,160,200,20 settable=AXValue,AXFocused id=query
      AXButton "Search" actions=AXPress frame=350,160,60,20
    AXHeading "Help for printing" value=2 frame=10,900,300,20
    AXStaticText value="Blue laser printer in the library" frame=10,200,300,20
)";

const std::string kReturn = "key down 36 → Google Chrome";

TEST(EverydayFlowTest, SearchesPlacesAndKeys) {
  struct Case {
    const char* tree;
    const char* command;
    std::string headline;
    std::vector<std::string> effects;
  };
  const Case cases[] = {
      {kPrinters,
       "search for blue",
       "Filled **search box** with “blue”, then pressed **Return**",
       {kReturn}},
      {kPrinters,
       "type blue into the search box and press enter",
       "Typed in **search box** with “blue”, then pressed **Return**",
       {kReturn}},
      // No search box: the words are found on the page instead.
      {kSettings,
       "search for remote administration",
       "Found **1** match for “remote administration”",
       {}},
      // A heading here wins over a link away unless the words ask for a page.
      {kPrinters, "jump to help for printing", "Scrolled to **Help for printing**", {}},
      {kPrinters, "go to the help page", "Clicked **Help**", {"AXPress AXLink “Help” → 0"}},
      {kPrinters,
       "take me to administration",
       "Clicked **Administration**",
       {"AXPress AXLink “Administration” → 0"}},
      {kPrinters, "take me to the pricing section", "Couldn't find “pricing” on this page", {}},
      // Words on nothing pressable: said, and nothing pressed.
      {kPrinters,
       "click blue laser printer in the library",
       "Nothing to press matches “blue laser printer in the library”",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EngineFixture f(c.tree);
    Outcome o = f.run(c.command);
    if (!c.headline.empty()) {
      EXPECT_EQ(headline(o), c.headline);
    }
    EXPECT_EQ(pressesAndKeys(f), c.effects);
    if (!c.effects.empty() && c.effects.back() == kReturn) {
      EXPECT_EQ(AX::str(f.desktop->attribute("query", "AXValue")), "blue");
    }
  }
}

}  // namespace
}  // namespace tovrin
