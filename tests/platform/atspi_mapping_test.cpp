#include "platform/linux/atspi/atspi_mapping.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/atspi/atspi_transport.h"
#include "platform/linux/process/browser_repair.h"
#include "platform/linux/process/process_info.h"

namespace tovrin::atspi {
namespace {

NodeInfo node(uint32_t role,
              std::initializer_list<int> states = {State::kVisible, State::kShowing,
                                                   State::kEnabled},
              std::map<std::string, std::string> attributes = {}) {
  NodeInfo n;
  n.role = role;
  n.hasStates = true;
  for (int s : states)
    n.states |= uint64_t{1} << s;
  n.attributes = std::move(attributes);
  return n;
}

TEST(AtspiMappingTest, RolesComeOutInTheLogicsVocabulary) {
  struct Case {
    NodeInfo node;
    const char* role;
    const char* subrole;
  };
  const Case cases[] = {
      {node(Role::kDocumentWeb), "AXWebArea", ""},
      {node(Role::kFrame), "AXWindow", ""},
      {node(Role::kPushButton), "AXButton", ""},
      {node(Role::kToggleButton), "AXButton", "AXToggle"},
      {node(Role::kToggleButton, {}, {{"xml-roles", "switch"}}), "AXCheckBox", "AXSwitch"},
      {node(Role::kLandmark, {}, {{"xml-roles", "navigation"}}), "AXGroup", "AXLandmarkNavigation"},
      {node(Role::kLandmark, {}, {{"xml-roles", "region"}}), "AXGroup", ""},
      {node(Role::kLink), "AXLink", ""},
      {node(Role::kStatic), "AXStaticText", ""},
      {node(Role::kEntry), "AXTextField", ""},
      {node(Role::kEntry, {State::kMultiLine}), "AXTextArea", ""},
      {node(Role::kEntry, {}, {{"text-input-type", "search"}}), "AXSearchField", "AXSearchField"},
      {node(Role::kPasswordText), "AXTextField", "AXSecureTextField"},
      {node(Role::kComboBox, {State::kEditable}), "AXComboBox", ""},
      {node(Role::kComboBox), "AXPopUpButton", ""},
      {node(Role::kCheckBox), "AXCheckBox", ""},
      {node(Role::kPageTab), "AXTab", ""},
      {node(73), "AXGroup", ""},   // paragraph
      {node(110), "AXGroup", ""},  // landmark
      {node(56), "AXCell", ""},    // table cell
      {node(90), "AXRow", ""},     // table row
      {node(200), "AXUnknown", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(roleNick(*c.node.role));
    AXRoleNames names = axRole(c.node);
    EXPECT_EQ(names.role, c.role);
    EXPECT_EQ(names.subrole, c.subrole);
  }
}

TEST(AtspiMappingTest, OnlyRealActivationsArePresses) {
  struct Case {
    std::vector<std::string> raw;
    std::vector<std::string> mapped;
  };
  const Case cases[] = {
      {{"press", "showContextMenu"}, {"AXPress", "AXShowMenu"}},
      {{"jump", "showContextMenu"}, {"AXPress", "AXShowMenu"}},
      {{"uncheck"}, {"AXPress"}},
      {{"doDefault", "showContextMenu"}, {"AXShowMenu"}},  // Chromium's every node
      {{"clickAncestor", "showContextMenu"}, {"AXShowMenu"}},
      {{}, {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(axActions(c.raw), c.mapped);
  EXPECT_EQ(rawActionIndex({"showContextMenu", "doDefault", "jump"}, "AXPress"), 2);
  EXPECT_EQ(rawActionIndex({"doDefault"}, "AXPress"), std::nullopt);
}

TEST(AtspiMappingTest, ValuesFollowTheRole) {
  NodeInfo heading = node(Role::kHeading, {State::kVisible}, {{"level", "2"}});
  heading.name = "Pricing";
  EXPECT_EQ(axValue("AXValue", heading, Toolkit::chromium), AXValue(AXNumber{2}));
  EXPECT_EQ(axValue("AXTitle", heading, Toolkit::chromium), AXValue(std::string("Pricing")));

  NodeInfo box = node(Role::kCheckBox, {State::kVisible, State::kChecked});
  EXPECT_EQ(axValue("AXValue", box, Toolkit::gecko), AXValue(AXNumber{1}));
  EXPECT_EQ(axValue("AXValue", node(Role::kCheckBox), Toolkit::gecko), AXValue(AXNumber{0}));

  NodeInfo image = node(Role::kImage);
  image.name = "A rocket";
  EXPECT_EQ(axValue("AXTitle", image, Toolkit::chromium), std::nullopt);
  EXPECT_EQ(axValue("AXDescription", image, Toolkit::chromium), AXValue(std::string("A rocket")));

  NodeInfo text = node(Role::kStatic);
  text.name = "We sell ";
  EXPECT_EQ(axValue("AXValue", text, Toolkit::chromium), AXValue(std::string("We sell ")));
  EXPECT_EQ(axValue("AXTitle", text, Toolkit::chromium), std::nullopt);

  NodeInfo entry = node(Role::kEntry, {State::kVisible}, {{"placeholder-text", "you@example.com"}});
  entry.text = "ada@example.com";
  EXPECT_EQ(axValue("AXValue", entry, Toolkit::chromium), AXValue(std::string("ada@example.com")));
  EXPECT_EQ(axValue("AXPlaceholderValue", entry, Toolkit::chromium),
            AXValue(std::string("you@example.com")));

  // Chromium's tab names carry the hover card's memory line; the title is the page's.
  NodeInfo tab = node(Role::kPageTab, {State::kVisible});
  tab.name = "Acme Help Desk - Memory usage - 23.2 MB";
  EXPECT_EQ(axValue("AXTitle", tab, Toolkit::chromium), AXValue(std::string("Acme Help Desk")));
  tab.name = "Notes - Memory usage - Part 2";  // Firefox names tabs by their titles alone
  EXPECT_EQ(axValue("AXTitle", tab, Toolkit::gecko), AXValue(*tab.name));

  NodeInfo unknown = node(Role::kDocumentWeb);
  unknown.extents = std::array<int32_t, 4>{-1, -1, -1, -1};  // Firefox's document
  EXPECT_EQ(axValue("AXPosition", unknown, Toolkit::gecko), std::nullopt);
}

TEST(AtspiMappingTest, APasswordIsNeverAskedForNorReported) {
  NodeInfo password = node(Role::kPasswordText);
  password.text = "hunter2";  // even if a browser volunteered it
  EXPECT_EQ(axValue("AXValue", password, Toolkit::chromium), std::nullopt);
  for (Toolkit toolkit : {Toolkit::chromium, Toolkit::gecko}) {
    Needs needs = needsFor({"AXRole", "AXValue", "AXTitle", "AXChildren"}, Role::kPasswordText,
                           toolkit, true);
    EXPECT_FALSE(needs.text);
    EXPECT_TRUE(needs.characterCount);
    EXPECT_FALSE(needsFor({"AXValue"}, Role::kPasswordText, toolkit, false, true).characterCount)
        << "a page read has no use for it";
  }
  // Its length alone, as the field shows it, tells typing that keys arrived.
  password.characterCount = 3;
  EXPECT_EQ(axValue("AXValue", password, Toolkit::gecko), AXValue(std::string("•••")));
  password.characterCount = 0;
  EXPECT_EQ(axValue("AXValue", password, Toolkit::gecko), std::nullopt);
}

TEST(AtspiMappingTest, HiddenMeansNotVisibleOrABackgroundPage) {
  struct Case {
    const char* what;
    NodeInfo node;
    Toolkit toolkit;
    bool hidden;
  };
  const Case cases[] = {
      {"a shown button", node(Role::kPushButton), Toolkit::chromium, false},
      {"an invisible button", node(Role::kPushButton, {State::kEnabled}), Toolkit::chromium, true},
      {"a background tab", node(Role::kDocumentWeb, {State::kVisible}), Toolkit::chromium, true},
      {"the front tab", node(Role::kDocumentWeb, {State::kVisible, State::kShowing}),
       Toolkit::gecko, false},
      {"off-screen content", node(73, {State::kVisible}), Toolkit::gecko, false},
      // GTK's socket holding GNOME Web's page, and WebKit's plug, say nothing.
      {"GTK's socket", node(Role::kFiller, {}), Toolkit::other, false},
      {"WebKit's plug", node(Role::kFiller, {}), Toolkit::webkit, false},
      {"a Chromium element with no state", node(Role::kPushButton, {}), Toolkit::chromium, true},
      {"WebKit's scroll view", node(Role::kScrollPane, {State::kEnabled}), Toolkit::webkit, false},
      {"a GTK scroll pane", node(Role::kScrollPane, {State::kEnabled}), Toolkit::other, true},
      {"WebKit's page once scrolled", node(Role::kDocumentWeb, {State::kVisible}), Toolkit::webkit,
       false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hidden(c.node, c.toolkit), c.hidden) << c.what;
  }
}

TEST(AtspiMappingTest, APointIsSoughtThroughWhatWebKitMisplaces) {
  NodeInfo button = node(Role::kPushButton);
  button.extents = std::array<int32_t, 4>{100, 100, 50, 20};
  EXPECT_TRUE(mayHoldPoint(button, Toolkit::webkit, 120, 110));
  EXPECT_FALSE(mayHoldPoint(button, Toolkit::webkit, 120, 130));
  NodeInfo offscreen = button;
  offscreen.states &= ~(uint64_t{1} << State::kShowing);
  EXPECT_FALSE(mayHoldPoint(offscreen, Toolkit::webkit, 120, 110));
  // The plug and the scroll view report the page's scrolled place.
  NodeInfo plug = node(Role::kFiller, {});
  plug.extents = std::array<int32_t, 4>{128, -552, 1024, 722};
  EXPECT_TRUE(mayHoldPoint(plug, Toolkit::webkit, 196, 172));
  NodeInfo view = node(Role::kScrollPane, {State::kEnabled});
  view.extents = plug.extents;
  EXPECT_TRUE(mayHoldPoint(view, Toolkit::webkit, 196, 172));
}

TEST(AtspiMappingTest, WebKitsDocumentShowsOnlyWithinItsView) {
  NodeInfo document = node(Role::kDocumentWeb);
  document.extents = std::array<int32_t, 4>{128, -552, 1024, 1386};
  document.view = std::array<int32_t, 4>{128, 112, 1024, 722};
  EXPECT_EQ(axValue("AXPosition", document, Toolkit::webkit), AXValue(AXPoint{128, 112}));
  EXPECT_EQ(axValue("AXSize", document, Toolkit::webkit), AXValue(AXSize{1024, 722}));
  document.extents = std::array<int32_t, 4>{128, 112, 1024, 300};  // a short page
  EXPECT_EQ(axValue("AXSize", document, Toolkit::webkit), AXValue(AXSize{1024, 300}));
}

TEST(AtspiMappingTest, WebKitKeepsTextInContainersAndMarksItsOwnSearchFields) {
  Needs paragraph = needsFor({"AXChildren"}, 73, Toolkit::webkit, false, true);
  EXPECT_TRUE(paragraph.text && paragraph.children);
  NodeInfo strong = node(Role::kStatic);
  strong.text = "bold words";
  EXPECT_EQ(axValue("AXValue", strong, Toolkit::webkit), AXValue(std::string("bold words")));
  // WebKit's list marker is a text object with the bullet in its text.
  EXPECT_TRUE(needsFor({"AXValue"}, Role::kText, Toolkit::webkit, false, true).text);
  NodeInfo search = node(Role::kEntry, {State::kVisible}, {{"computed-role", "searchbox"}});
  EXPECT_EQ(axRole(search).subrole, "AXSearchField");
  EXPECT_EQ(toolkitFromName("WebKitGTK"), Toolkit::webkit);
}

TEST(AtspiMappingTest, TextLeavesAreReadCheaplyInBulk) {
  Needs leaf = needsFor({"AXRole", "AXTitle", "AXValue", "AXPosition", "AXSize", "AXChildren"},
                        Role::kStatic, Toolkit::chromium, false, true);
  EXPECT_TRUE(leaf.name);
  EXPECT_FALSE(leaf.states || leaf.extents || leaf.children || leaf.text);
  // A paragraph's words come with its text, in one request, in every
  // browser: Chromium's leaves are then left unread.
  for (Toolkit toolkit : {Toolkit::gecko, Toolkit::chromium, Toolkit::webkit}) {
    Needs paragraph = needsFor({"AXChildren"}, 73, toolkit, false, true);
    EXPECT_TRUE(paragraph.text && paragraph.children);
  }
}

TEST(AtspiMappingTest, ChromiumsTextLeavesAreFoundByTheirPlaceInTheText) {
  const std::string fffc = "\xEF\xBF\xBC";
  struct Case {
    std::string text;
    std::size_t children;
    std::optional<std::vector<bool>> leaves;
  };
  const Case cases[] = {
      {"if " + fffc + " is false, then " + fffc, 4, std::vector<bool>{true, false, true, false}},
      {fffc + fffc, 2, std::vector<bool>{false, false}},
      {"Plain words", 1, std::vector<bool>{true}},
      {"", 0, std::vector<bool>{}},
      // White space is a leaf of its own in Chromium.
      {fffc + " " + fffc, 3, std::vector<bool>{false, true, false}},
      // A run made of two leaves (a marker and the words) does not line up.
      {"• Basic plan", 2, std::nullopt},
      {"Text " + fffc, 1, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(textLeavesByPosition(c.text, c.children), c.leaves) << c.text;
  }
}

TEST(AtspiMappingTest, HypertextSplitsIntoRunsAndEmbeddedChildren) {
  const std::string fffc = "\xEF\xBF\xBC";
  auto pieces = splitHypertext("We sell " + fffc + " and other things.", 1);
  ASSERT_TRUE(pieces);
  ASSERT_EQ(pieces->size(), 3u);
  EXPECT_EQ((*pieces)[0].text, "We sell ");
  EXPECT_EQ((*pieces)[1].child, 0);
  EXPECT_EQ((*pieces)[2].text, " and other things.");
  // White space between two embedded objects is no run of its own.
  auto form = splitHypertext(fffc + " " + fffc, 2);
  EXPECT_FALSE(form) << "no words at all: nothing to make";
  EXPECT_FALSE(splitHypertext("Text " + fffc, 2)) << "embedded count must match the children";
  auto heading = splitHypertext("Welcome to Acme", 0);
  ASSERT_TRUE(heading);
  EXPECT_EQ(heading->size(), 1u);
}

TEST(AtspiMappingTest, FirefoxsPaddingAfterAnEmojiIsDropped) {
  EXPECT_EQ(withoutSurrogatePadding("a\xF0\x9F\x98\x80\xEF\xBB\xBF b"), "a\xF0\x9F\x98\x80 b");
  // A no-break space of its own, not after such a character, stays.
  EXPECT_EQ(withoutSurrogatePadding("\xEF\xBB\xBFx\xC3\xA9\xEF\xBB\xBF"),
            "\xEF\xBB\xBFx\xC3\xA9\xEF\xBB\xBF");
}

TEST(AtspiMappingTest, ListMarkersAreRecognised) {
  struct Case {
    const char* text;
    std::size_t length;
  };
  const Case cases[] = {{"• Basic plan", 4}, {"• ", 4},         {"12. Twelfth", 4},
                        {"b) Second", 3},    {"iv. Fourth", 4}, {"Basic plan", 0},
                        {"3.14 is pi", 0},   {"word. Next", 0}, {"-", 1},
                        {"•Tight bullet", 0}};
  for (const Case& c : cases)
    EXPECT_EQ(listMarkerLength(c.text), c.length) << c.text;
}

TEST(BrowserRepairTest, TheFlagIsAddedOnceAndPagesAreLeftToTheSession) {
  EXPECT_EQ(BrowserRepair::restartArguments(
                {"/usr/lib/chromium/chromium", "--user-data-dir=/tmp/p", "file:///shop.html"}),
            (std::vector<std::string>{"/usr/lib/chromium/chromium", "--user-data-dir=/tmp/p",
                                      "--force-renderer-accessibility", "--restore-last-session"}));
  EXPECT_EQ(BrowserRepair::restartArguments(
                {"chromium", "--force-renderer-accessibility", "--restore-last-session"}),
            (std::vector<std::string>{"chromium", "--force-renderer-accessibility",
                                      "--restore-last-session"}));
  EXPECT_EQ(
      BrowserRepair::launcherWithFlag("[Desktop Entry]\nName=Chromium\nExec=/usr/bin/chromium "
                                      "%U\n[Desktop Action new-window]\nExec=/usr/bin/chromium\n"),
      "[Desktop Entry]\nName=Chromium\nExec=/usr/bin/chromium --force-renderer-accessibility "
      "%U\n[Desktop Action new-window]\nExec=/usr/bin/chromium --force-renderer-accessibility\n");
  const std::string already = "Exec=chromium --force-renderer-accessibility %U\n";
  EXPECT_EQ(BrowserRepair::launcherWithFlag(already), already);
}

TEST(BrowserRepairTest, TheLauncherIsTheUsersOwnAndSystemFilesStayAsTheyAre) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(::testing::TempDir()) / "launcher-test";
  fs::remove_all(root);
  fs::create_directories(root / "system/applications");
  const std::string original = "[Desktop Entry]\nExec=/usr/bin/chromium %U\n";
  std::ofstream(root / "system/applications/chromium.desktop") << original;
  setenv("XDG_DATA_HOME", (root / "home").c_str(), 1);
  setenv("XDG_DATA_DIRS", (root / "system").c_str(), 1);
  std::string error;
  auto path = BrowserRepair::installLauncher("chromium", error);
  ASSERT_TRUE(path) << error;
  EXPECT_EQ(*path, (root / "home/applications/chromium.desktop").string());
  std::ifstream written(*path);
  std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "[Desktop Entry]\nExec=/usr/bin/chromium --force-renderer-accessibility %U\n");
  std::ifstream system(root / "system/applications/chromium.desktop");
  std::string kept((std::istreambuf_iterator<char>(system)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, original);
  EXPECT_FALSE(BrowserRepair::installLauncher("no-such-browser", error));
  EXPECT_EQ(error, "no desktop entry no-such-browser.desktop was found");
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_DATA_DIRS");
}

TEST(ProcessInfoTest, BrowsersAreKnownByExecutableOrWindowClass) {
  struct Case {
    const char* executable;
    const char* windowClass;
    const char* id;
    const char* name;
  };
  const Case cases[] = {
      {"chromium", "Chromium", "chromium", "Chromium"},
      {"firefox-esr", "firefox-esr", "firefox-esr", "Firefox ESR"},
      {"chrome", "Google-chrome", "google-chrome", "Google Chrome"},
      {"brave", "", "brave-browser", "Brave"},
      {"", "Microsoft-edge", "microsoft-edge", "Microsoft Edge"},
      {"epiphany", "Epiphany", "org.gnome.Epiphany", "GNOME Web"},
      {"", "org.gnome.Epiphany", "org.gnome.Epiphany", "GNOME Web"},  // its Wayland app id
      {"gedit", "Gedit", "gedit", "Gedit"},
  };
  for (const Case& c : cases) {
    ProcessIdentity identity = ProcessInfo::identify(c.executable, c.windowClass);
    EXPECT_EQ(identity.applicationID, c.id) << c.executable << "/" << c.windowClass;
    EXPECT_EQ(identity.name, c.name);
  }
}

// Every reply body is held by a Variant; one reference too many kept every
// reply of a long session alive (a megabyte a command on a real page).
TEST(VariantTest, AWrappedValueIsFreedWithItsLastHolder) {
  struct Case {
    const char* name;
    bool floating;  // as g_variant_new gives, else a full reference
    bool adopt;     // Variant::adopt, else Variant::take
  };
  const Case cases[] = {
      {"floating, taken", true, false},
      {"floating, adopted", true, true},
      {"full, adopted", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    static const char kData[] = "reply";
    bool freed = false;
    GBytes* bytes = g_bytes_new_with_free_func(
        kData, sizeof kData, [](gpointer flag) { *static_cast<bool*>(flag) = true; }, &freed);
    GVariant* value = g_variant_new_from_bytes(G_VARIANT_TYPE_STRING, bytes, TRUE);
    g_bytes_unref(bytes);
    if (!c.floating) value = g_variant_ref_sink(value);
    {
      Variant held = c.adopt ? Variant::adopt(value) : Variant::take(value);
      Variant copy = held;
      EXPECT_STREQ(g_variant_get_string(copy.get(), nullptr), "reply");
    }
    EXPECT_TRUE(freed) << "a reference was left behind";
  }
}

}  // namespace
}  // namespace tovrin::atspi
