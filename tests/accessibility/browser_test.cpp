#include "accessibility/browser.h"

#include <gtest/gtest.h>

#include "accessibility/ax.h"
#include "support/scene_tree.h"

namespace tovrin {
namespace {

using Json = nlohmann::json;

TEST(BrowserRegistryTest, LookupIsExact) {
  const std::pair<std::optional<std::string>, const char*> cases[] = {
      {"com.apple.Safari", "Safari"},
      {"com.google.Chrome.canary", "Chrome"},
      {"chromium", "Chrome"},
      {"google-chrome", "Chrome"},
      {"firefox-esr", "Firefox"},
      {"org.mozilla.nightly", "Firefox"},
      {"company.thebrowser.Browser", "Arc"},
      {"brave-browser", "Brave"},
      {"com.microsoft.edgemac.Beta", "Edge"},
      {"microsoft-edge", "Edge"},
      {"org.gnome.Epiphany", "GNOME Web"},
      {"com.microsoft.edgemac.beta", nullptr},  // letter case matters
      {"org.gnome.epiphany", nullptr},
      {"Chromium", nullptr},
      {"com.apple.finder", nullptr},
      {"", nullptr},
      {std::nullopt, nullptr},
  };
  for (const auto& [id, expected] : cases) {
    const BrowserAdapter* adapter = BrowserRegistry::adapter(id);
    SCOPED_TRACE(id.value_or("(none)"));
    if (expected == nullptr) {
      EXPECT_EQ(adapter, nullptr);
    } else {
      ASSERT_NE(adapter, nullptr);
      EXPECT_EQ(adapter->name(), expected);
    }
  }
}

Json app(int pid, const char* bundle, bool frontmost, Json windows = Json::array()) {
  return {{"pid", pid},
          {"bundleID", bundle},
          {"name", bundle},
          {"frontmost", frontmost},
          {"windows", windows}};
}

TEST(BrowserTrackerTest, ChoosesTheFrontBrowserElseTheLastActivatedOne) {
  auto desktop = testing::sceneDesktop(
      {{"apps",
        {app(1, "com.apple.Safari", false), app(2, "org.mozilla.firefox", false),
         app(3, "com.apple.finder", true), app(4, "com.google.Chrome", false)}}});
  BrowserTracker tracker(desktop->platform());
  tracker.start();
  EXPECT_FALSE(tracker.current());  // nothing activated yet, a non-browser in front

  desktop->activate(2);
  ASSERT_TRUE(tracker.current());
  EXPECT_EQ(tracker.current()->app.pid, 2);

  desktop->activate(3);  // the palette or any other application in front
  EXPECT_EQ(tracker.current()->app.pid, 2);

  desktop->activate(1);
  desktop->activate(4);
  desktop->activate(2);  // a browser in front wins over the remembered one
  EXPECT_EQ(tracker.current()->app.pid, 2);
  EXPECT_EQ(tracker.current()->adapter->name(), "Firefox");

  desktop->activate(3);
  desktop->terminate(2);
  EXPECT_FALSE(tracker.current());  // the last browser quit
}

TEST(BrowserTrackerTest, StartRemembersAFrontBrowser) {
  auto desktop = testing::sceneDesktop(
      {{"apps", {app(7, "com.brave.Browser", true), app(8, "com.apple.finder", false)}}});
  BrowserTracker tracker(desktop->platform());
  tracker.start();
  desktop->activate(8);
  ASSERT_TRUE(tracker.current());
  EXPECT_EQ(tracker.current()->app.pid, 7);
}

TEST(BrowserTrackerTest, ObserverOutlivingTheTrackerIsHarmless) {
  auto desktop = testing::sceneDesktop({{"apps", {app(1, "com.apple.Safari", true)}}});
  {
    BrowserTracker tracker(desktop->platform());
    tracker.start();
  }
  desktop->activate(1);  // must not touch the destroyed tracker
  SUCCEED();
}

std::vector<std::string> writes(const SimulatedDesktop& desktop) {
  std::vector<std::string> out;
  for (const Effect& e : desktop.effects())
    out.push_back(e.describe());
  return out;
}

TEST(BrowserTargetTest, ChromiumFamilyIsPreparedOncePerProcess) {
  struct Case {
    const char* bundle;
    bool prepared;
  };
  for (const Case& c : {Case{"com.google.Chrome", true}, Case{"company.thebrowser.Browser", true},
                        Case{"com.brave.Browser", true}, Case{"com.microsoft.edgemac", true},
                        Case{"com.apple.Safari", false}, Case{"org.mozilla.firefox", false},
                        Case{"org.gnome.Epiphany", false}}) {
    SCOPED_TRACE(c.bundle);
    auto desktop =
        testing::browserDesktop("AXWindow \"W\"", {.pid = 50, .bundleID = c.bundle, .name = "B"});
    BrowserTracker tracker(desktop->platform());
    auto target = tracker.current();
    ASSERT_TRUE(target);
    EXPECT_TRUE(target->window());
    EXPECT_TRUE(target->window());
    std::vector<std::string> expected;
    if (c.prepared) {
      expected = {"set AXApplication “B” AXManualAccessibility = true → 0",
                  "set AXApplication “B” AXEnhancedUserInterface = true → 0"};
    }
    EXPECT_EQ(writes(*desktop), expected);
    EXPECT_EQ(desktop->messagingTimeoutSets(), 2);  // every call sets it
  }
}

TEST(BrowserTargetTest, WindowFallsBackFromFocusedToMainToTheList) {
  Json w1 = testing::treeJson("AXWindow \"First\"");
  Json w2 = testing::treeJson("AXWindow \"Second\"");
  struct Case {
    Json focused, main;
    Json windows;
    const char* expected;
  };
  const Case cases[] = {
      {1, 0, {w1, w2}, "Second"},
      {nullptr, 1, {w1, w2}, "Second"},
      {nullptr, nullptr, {w1, w2}, "First"},
      {nullptr, nullptr, Json::array(), nullptr},
  };
  for (const Case& c : cases) {
    Json a = app(3, "com.apple.Safari", true, c.windows);
    a["focusedWindow"] = c.focused;
    a["mainWindow"] = c.main;
    auto desktop = testing::sceneDesktop({{"apps", {a}}});
    auto target = BrowserTracker(desktop->platform()).current();
    ASSERT_TRUE(target);
    auto window = target->window();
    if (c.expected == nullptr) {
      EXPECT_FALSE(window);
    } else {
      ASSERT_TRUE(window);
      EXPECT_EQ(AX::str(AX::copy(*window, "AXTitle")), c.expected);
    }
  }
}

TEST(BrowserTargetTest, WindowsThatAreNotElementsCountAsNone) {
  Json a = app(3, "com.apple.Safari", true, {testing::treeJson("AXWindow \"W\"")});
  a["behavior"] = {{"attributes", {{"AXWindows", "junk"}}}};
  auto desktop = testing::sceneDesktop({{"apps", {a}}});
  auto target = BrowserTracker(desktop->platform()).current();
  ASSERT_TRUE(target);
  EXPECT_FALSE(target->window());
}

TEST(BrowserTargetTest, FocusedElement) {
  auto desktop = testing::browserDesktop(R"(
AXWindow "W"
  AXWebArea
    AXTextField "Email" focused id=email
)");
  auto target = BrowserTracker(desktop->platform()).current();
  ASSERT_TRUE(target);
  EXPECT_EQ(target->focusedElement(), desktop->elementNamed("email"));
}

}  // namespace
}  // namespace tovrin
