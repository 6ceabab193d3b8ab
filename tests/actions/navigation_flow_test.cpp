#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace tovrin {
namespace {

using testing::contains;
using testing::EngineFixture;
using testing::headline;
using testing::resultOf;

constexpr const char* kBrowser = R"(
AXWindow "Shop - Chrome" id=w frame=0,0,1440,900
  AXTabGroup
    AXTab "Inbox (3) - Mail" actions=AXPress id=inbox
    AXTab "Inbox archive" actions=AXPress
    AXRadioButton "Hidden tab" frame=0,0,0,0 actions=AXPress
  AXToolbar
    AXButton "Back" disabled actions=AXPress
    AXButton "Forward" actions=AXPress id=forward
    AXButton "Reloader" actions=AXPress
    AXMenuButton "Open a new tab" actions=AXPress
  AXWebArea "Shop" frame=0,88,1440,812
    AXButton "Back to results" actions=AXPress
)";

TEST(NavigationTest, KeysAndShortcuts) {
  struct Case {
    const char* command;
    std::string headline;
    std::vector<std::string> keys;  // key-down effects
    std::string lastLine;
  };
  const Case cases[] = {
      {"copy",
       "Pressed **Copy**",
       {"key down 8 ⌘ → Google Chrome"},
       "Keyboard event sent to Google Chrome"},
      {"press enter",
       "Pressed **Return**",
       {"key down 36 → Google Chrome"},
       "Keyboard event sent to Google Chrome"},
      {"arrow left",
       "Pressed **Left arrow**",
       {"key down 123 → Google Chrome"},
       "Keyboard event sent to Google Chrome"},
      {"tab 3", "Switched to tab **3**", {"key down 20 ⌘ → Google Chrome"}, "⌘3 sent"},
      {"tab 0", "Switched to tab **1**", {"key down 18 ⌘ → Google Chrome"}, "⌘1 sent"},
      {"tab 15", "Switched to the **last** tab", {"key down 25 ⌘ → Google Chrome"}, "⌘9 sent"},
      {"next tab", "Switched to the **next** tab", {"key down 48 ⌃ → Google Chrome"}, "⌃Tab sent"},
      {"previous tab",
       "Switched to the **previous** tab",
       {"key down 48 ⌃ ⇧ → Google Chrome"},
       "⌃Tab sent"},
      // "Reloader" is not "reload": the shortcut goes instead.
      {"reload",
       "**Reloaded**",
       {"key down 15 ⌘ → Google Chrome"},
       "Toolbar button not available — sent keyboard shortcut"},
      {"go forward", "**Went forward**", {}, "AXPress on toolbar button “Forward”"},
      {"new tab", "**Opened a new tab**", {}, "AXPress on toolbar button “Open a new tab”"},
      // The page's own "Back to results" is not in the browser's toolbar; the toolbar's Back is
      // disabled.
      {"go back",
       "Can't went back — that button is disabled",
       {},
       "Browser: Google Chrome (Chrome adapter)"},
      {"switch to the mail tab",
       "Switched to **Inbox \\(3\\) - Mail**",
       {},
       "Pressed tab “Inbox (3) - Mail”"},
      {"switch to the hidden tab",
       "No tab matches “hidden”",
       {},
       "Browser: Google Chrome (Chrome adapter)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EngineFixture f(kBrowser);
    Outcome o = f.run(c.command);
    EXPECT_EQ(resultOf(o).headline, c.headline);
    EXPECT_EQ(f.effectsContaining("key down"), c.keys);
    EXPECT_EQ(resultOf(o).debug.back(), c.lastLine);
  }
}

TEST(NavigationTest, KeysNeedNoPageRead) {
  nlohmann::json scene = {
      {"apps",
       {{{"pid", 1}, {"bundleID", "com.google.Chrome"}, {"name", "Chrome"}, {"frontmost", true}}}}};
  EngineFixture f(testing::sceneDesktop(scene));
  Outcome o = f.run("press escape");
  EXPECT_EQ(resultOf(o).headline, "Pressed **Escape**");
  EXPECT_EQ(resultOf(o).debug,
            (std::vector<std::string>{"Intent: Press Escape", "Browser: Chrome (Chrome adapter)",
                                      "Keyboard event sent to Chrome"}));
}

TEST(NavigationTest, KeysBringTheBrowserToTheFrontFirst) {
  nlohmann::json scene = {
      {"apps",
       {{{"pid", 2}, {"bundleID", "com.apple.finder"}, {"name", "Finder"}, {"frontmost", true}},
        {{"pid", 412},
         {"bundleID", "com.google.Chrome"},
         {"name", "Google Chrome"},
         {"focusedWindow", 0},
         {"windows", {testing::treeJson(kBrowser)}}}}}};
  auto desktop = testing::sceneDesktop(scene);
  EngineFixture f(desktop);
  auto engine =
      ActionEngine::make(BrowserTarget{desktop->platform(), *desktop->runningApplication(412),
                                       BrowserRegistry::adapter(std::string("com.google.Chrome"))},
                         {});
  engine->run(*IntentParser::parse("copy"));
  EXPECT_EQ(f.effects(),
            (std::vector<std::string>{"activate Google Chrome", "key down 8 ⌘ → Google Chrome",
                                      "key up 8 ⌘ → Google Chrome"}));
}

TEST(NavigationTest, ClosingATabWaitsForConfirmation) {
  EngineFixture f(kBrowser);
  Outcome o = f.run("close this tab");
  const Confirmation* c = o.confirmation();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->title, "Close this tab?");
  EXPECT_EQ(c->message, "Unsaved work on the page may be lost.");
  EXPECT_EQ(c->confirmLabel, "Close tab");
  EXPECT_EQ(c->debug, (std::vector<std::string>{"Intent: Close tab",
                                                "Browser: Google Chrome (Chrome adapter)"}));
  EXPECT_TRUE(f.effects().empty());
  ActionResult done = c->perform();
  EXPECT_EQ(done.headline, "Closed the tab");
  EXPECT_EQ(done.debug.back(), "⌘W sent");
  EXPECT_EQ(f.effectsContaining("key down"),
            std::vector<std::string>{"key down 13 ⌘ → Google Chrome"});
}

TEST(NavigationTest, TiedTabsPressTheFirst) {
  EngineFixture f(R"(
AXWindow "W" id=w
  AXTab "Docs" actions=AXPress id=first
  AXTab "Docs" actions=AXPress id=second
)");
  f.run("switch to the docs tab");
  EXPECT_EQ(f.effectsContaining("AXPress"),
            std::vector<std::string>{"AXPress AXTab “Docs” #first → 0"});
}

// A tab that offers only its context menu is clicked where it is shown;
// one with nowhere to click is a failure, not a switch.
TEST(NavigationTest, ARefusedTabPressClicksTheTabOrFails) {
  const struct {
    const char* tab;
    std::string headline;
    std::vector<std::string> clicks;
  } cases[] = {
      {R"(AXTab "Docs" actions=AXShowMenu frame=100,10,200,30)",
       "Switched to **Docs**",
       {"mouse down at 200,25", "mouse up at 200,25"}},
      {R"(AXTab "Docs" actions=AXShowMenu)", "Couldn't switch to “Docs”", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tab);
    EngineFixture f(std::string("AXWindow \"W\" id=w\n  ") + c.tab + "\n");
    Outcome o = f.run("switch to the docs tab");
    EXPECT_EQ(resultOf(o).headline, c.headline);
    EXPECT_EQ(f.effectsContaining("mouse"), c.clicks);
  }
}

TEST(HighlighterTest, OutlinesReplaceEachOtherAndHideOnTime) {
  auto desktop = testing::browserDesktop("AXWindow \"W\"");
  Highlighter highlighter(desktop->platform());
  highlighter.show({0, 0, 0, 10}, 1.5);     // zero wide: nothing
  highlighter.show({0, 0, 10, 6000}, 1.5);  // too tall: nothing
  highlighter.show({10, 20, 100, 30}, 1.5);
  desktop->sleep(1.0);
  highlighter.show({10, 60, 100, 30}, 1.5);  // restarts the timer
  desktop->sleep(1.0);                       // 2 s after the first: still shown
  highlighter.show({0, 0, 0, 0}, 1.5);       // ignored, leaves the timer alone
  desktop->sleep(0.6);                       // 1.6 s after the second: hidden
  std::vector<std::string> lines;
  for (const Effect& e : desktop->effects())
    lines.push_back(e.describe());
  EXPECT_EQ(lines, (std::vector<std::string>{"outline 10,20,100,30 for 1.5s",
                                             "outline 10,60,100,30 for 1.5s", "outline hidden"}));
  highlighter.show({10, 20, 100, 30}, 3.5);
  highlighter.hide();
  desktop->sleep(5);  // the cancelled timer hides nothing more
  EXPECT_EQ(desktop->effects().size(), 5u);
  EXPECT_EQ(Highlighter::windowFrame({0, 0, 100, 20}, 900), (Frame{-4, 876, 108, 28}));
}

}  // namespace
}  // namespace tovrin

namespace tovrin {
namespace {

// A pending hide timer must not keep the desktop (which holds the timer) alive.
TEST(HighlighterTest, APendingOutlineDoesNotKeepTheDesktopAlive) {
  std::weak_ptr<SimulatedDesktop> weak;
  {
    auto desktop = testing::browserDesktop("AXWindow \"W\"");
    weak = desktop;
    Highlighter highlighter(desktop->platform());
    highlighter.show({10, 20, 100, 30}, 60);
  }
  EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace tovrin
