// Real browsers' accessibility replies, recorded from Chromium, Firefox and
// GNOME Web (tests/recorded, made by the desktop tests with
// TOVRIN_REGENERATE=1) and replayed here without a bus: the mapping of roles, labels, text leaves,
// press actions, frames and secure fields is checked offline. The readings
// are kept in tests/expected/*.recorded.txt; TOVRIN_REGENERATE=1 rewrites
// them from the recordings for review.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "accessibility/browser.h"
#include "content/page_snapshot.h"
#include "platform/linux/atspi/linux_accessibility.h"
#include "platform/linux/linux_desktop.h"
#include "platform/linux/wayland/wayland_workspace.h"

namespace tovrin {
namespace {

std::string sourceDir() {
  const char* dir = std::getenv("TOVRIN_SOURCE_DIR");
  return dir ? dir : ".";
}

std::optional<PageSnapshot> replay(const std::string& recording) {
  auto opened = LinuxDesktop::open({.recordFile = {}, .replayFile = recording});
  if (auto* error = std::get_if<std::string>(&opened)) {
    ADD_FAILURE() << *error;
    return std::nullopt;
  }
  auto desktop = std::get<std::shared_ptr<LinuxDesktop>>(opened);
  BrowserTracker tracker(desktop->platform());
  tracker.start();
  auto target = tracker.current();
  if (!target) {
    ADD_FAILURE() << recording << ": no front browser in the recording";
    return std::nullopt;
  }
  return PageSnapshot::capture(*target);
}

// The reading as kept in the expectation file: the page, every element of
// the page pass, and the lines.
std::string describe(const PageSnapshot& snap) {
  std::ostringstream out;
  out << "Page: " << snap.pageTitle << "\nURL: " << snap.url << "\nElements:\n";
  for (const PageElement& e : snap.elements) {
    out << std::string(static_cast<std::size_t>(e.depth) * 2, ' ') << e.role;
    if (!e.subrole.empty()) out << '/' << e.subrole;
    if (!e.label().empty()) out << " “" << e.label() << "”";
    for (const std::string& a : e.actions)
      out << ' ' << a;
    if (e.frame) out << " frame";
    if (!e.enabled) out << " disabled";
    out << '\n';
  }
  out << "Lines:\n";
  for (const PageLine& line : snap.lines) {
    out << kindName(line.kind) << '\t' << line.level << '\t' << line.text << '\n';
  }
  return out.str();
}

std::vector<std::filesystem::path> recordings() {
  std::vector<std::filesystem::path> out;
  std::error_code ec;
  for (const auto& entry :
       std::filesystem::directory_iterator(sourceDir() + "/tests/recorded", ec)) {
    if (entry.path().extension() == ".atspi") out.push_back(entry.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(RecordedTreeTest, ReplayedReadingsMatchTheirExpectations) {
  auto files = recordings();
  ASSERT_FALSE(files.empty()) << "no recordings in tests/recorded";
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    auto snap = replay(file.string());
    ASSERT_TRUE(snap && snap->webArea);
    const std::string reading = describe(*snap);
    const std::string expected =
        sourceDir() + "/tests/expected/" + file.stem().string() + ".recorded.txt";
    if (std::getenv("TOVRIN_REGENERATE")) {
      std::ofstream(expected) << reading;
      continue;
    }
    std::ifstream in(expected);
    std::stringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(reading, kept.str());
  }
}

TEST(RecordedTreeTest, TheMappingHoldsInBothBrowsers) {
  for (const auto& file : recordings()) {
    SCOPED_TRACE(file.filename().string());
    auto snap = replay(file.string());
    ASSERT_TRUE(snap && snap->webArea);
    EXPECT_TRUE(snap->webArea->frame) << "the page's web area has a frame";
    bool sawButton = false, sawSecure = false, sawText = false;
    for (const PageElement& e : snap->elements) {
      const bool presses =
          std::find(e.actions.begin(), e.actions.end(), "AXPress") != e.actions.end();
      if (e.role == "AXButton") {
        sawButton = true;
        EXPECT_TRUE(presses) << "button " << e.label();
      }
      if (e.role == "AXGroup" && e.label().empty()) {
        EXPECT_FALSE(presses) << "a plain group is not pressable";
      }
      if (e.role == "AXStaticText") {
        sawText = true;
        EXPECT_TRUE(e.actions.empty());
        EXPECT_NE(e.value, "") << "text leaves carry their words";
      }
      if (e.subrole == "AXSecureTextField") {
        sawSecure = true;
        EXPECT_EQ(e.value, "");
      }
    }
    EXPECT_TRUE(sawText);
    if (file.string().find("shop") != std::string::npos) {
      EXPECT_TRUE(sawButton && sawSecure);
    }
  }
}

TEST(RecordedTreeTest, EveryBrowserGivesTheSameLines) {
  // X11's recordings, GNOME Web's among them, and a GNOME Wayland session's
  // (window-relative extents, the front window found by its active frame).
  for (const char* page : {"shop", "article", "wayland:shop"}) {
    SCOPED_TRACE(page);
    std::string name = page, session;
    if (name.rfind("wayland:", 0) == 0) {
      session = "wayland-";
      name.erase(0, 8);
    }
    const std::string dir = sourceDir() + "/tests/recorded/" + session;
    auto chromium = replay(dir + "chromium-" + name + ".atspi");
    ASSERT_TRUE(chromium);
    std::vector<std::string> others = {"firefox-"};
    if (session.empty()) others.emplace_back("gnome-web-");
    for (const std::string& other : others) {
      SCOPED_TRACE(other);
      auto read = replay(dir + other + name + ".atspi");
      ASSERT_TRUE(read);
      ASSERT_EQ(chromium->lines.size(), read->lines.size());
      for (std::size_t i = 0; i < chromium->lines.size(); ++i) {
        EXPECT_EQ(chromium->lines[i].text, read->lines[i].text);
        EXPECT_EQ(chromium->lines[i].kind, read->lines[i].kind);
      }
    }
  }
}

// On Wayland the front window is the application whose frame is active;
// the recording holds the frames as the browser reported them.
TEST(RecordedTreeTest, AWaylandRecordingNamesItsActiveFrame) {
  for (const char* browser : {"chromium", "firefox"}) {
    SCOPED_TRACE(browser);
    const std::string file =
        sourceDir() + "/tests/recorded/wayland-" + std::string(browser) + "-shop.atspi";
    std::string error;
    LinuxAccessibility::Options options;
    options.replayFile = file;
    auto accessibility = LinuxAccessibility::open(std::move(options), error);
    ASSERT_TRUE(accessibility) << error;
    const std::vector<AccessibleFrame> frames = accessibility->frames();
    auto front = WaylandWindows::frontPid(frames);
    ASSERT_TRUE(front.has_value());
    auto opened = LinuxDesktop::open({.recordFile = {}, .replayFile = file});
    auto desktop = std::get<std::shared_ptr<LinuxDesktop>>(opened);
    auto named = desktop->platform().workspace->frontmostApplication();
    ASSERT_TRUE(named);
    EXPECT_EQ(*front, named->pid);
  }
}

// The recordings hold every request a read sent: none asked a password
// field for its text.
TEST(RecordedTreeTest, NoRequestEverAsksAPasswordFieldForItsText) {
  int passwords = 0;
  for (const auto& file : recordings()) {
    std::ifstream in(file);
    std::set<std::string> passwordPaths, textPaths;
    for (std::string line; std::getline(in, line);) {
      std::istringstream words(line);
      std::string bus, path, method;
      words >> bus >> path >> method;
      if (method == "org.a11y.atspi.Accessible.GetRole" &&
          line.find("\tok\t(uint32 40,)") != std::string::npos) {
        passwordPaths.insert(bus + path);
      }
      if (method.rfind("org.a11y.atspi.Text.", 0) == 0) textPaths.insert(bus + path);
    }
    passwords += static_cast<int>(passwordPaths.size());
    for (const std::string& p : passwordPaths) {
      EXPECT_EQ(textPaths.count(p), 0u) << file.filename() << ": " << p;
    }
  }
  EXPECT_GE(passwords, 3) << "the shop page has a password field in each browser";
}

// A long-running palette reads page after page; past its limit the element
// table forgets what recent reads did not meet. A forgotten handle must fail
// as a vanished element (never name another), and a fresh read must find
// everything again.
TEST(RecordedTreeTest, ForgottenElementsFailAsVanishedAndAFreshReadFindsThemAgain) {
  const std::string recording = sourceDir() + "/tests/recorded/chromium-shop.atspi";
  std::ifstream header(recording);
  std::string hash, word;
  int32_t pid = 0;
  header >> hash >> word >> pid;
  ASSERT_GT(pid, 0);

  TreeRequest request;
  request.attributes = {"AXRole", "AXChildren"};
  request.childrenIndex = 1;
  request.hiddenIndex = 1;
  auto roleOf = [](LinuxAccessibility& ax, const AXElement& e) {
    auto r = ax.copyAttributeValue(e, "AXRole");
    const auto* role = r.value ? std::get_if<std::string>(&*r.value) : nullptr;
    return role ? *role : std::string();
  };
  for (std::size_t limit : {std::size_t{0}, std::size_t{8}}) {
    SCOPED_TRACE(limit);
    std::string error;
    LinuxAccessibility::Options options;
    options.replayFile = recording;
    options.trusted = [] { return true; };
    options.rememberAtMost = limit;
    auto ax = LinuxAccessibility::open(std::move(options), error);
    ASSERT_TRUE(ax) << error;
    SystemClock clock;
    const AXElement app = ax->createApplication(pid);
    const std::vector<TreeNode> first = ax->readTree(app, request, clock);
    ASSERT_GT(first.size(), 20u);
    const AXElement deep = first.back().element;
    const std::string deepRole = roleOf(*ax, deep);
    ASSERT_FALSE(deepRole.empty());
    // Two reads that meet only the application's first child.
    const AXElement branch = first[1].element;
    for (int i = 0; i < 2; ++i)
      (void)ax->readTree(branch, request, clock);
    const bool forgotten = limit != 0;
    auto again = ax->copyAttributeValue(deep, "AXRole");
    EXPECT_EQ(again.code, forgotten ? AXErr::kInvalidUIElement : AXErr::kSuccess);
    const std::vector<TreeNode> fresh = ax->readTree(app, request, clock);
    ASSERT_EQ(fresh.size(), first.size());
    EXPECT_EQ(roleOf(*ax, fresh.back().element), deepRole);
    EXPECT_EQ(fresh.back().element == deep, !forgotten) << "a forgotten key is never reused";
  }
}

// Firefox goes on answering for a button whose DOM node was replaced, with
// its old role and place but the defunct state: it is gone, not refusing.
TEST(RecordedTreeTest, ADefunctElementIsGone) {
  const std::string path = ::testing::TempDir() + "/defunct.atspi";
  const std::string app = ":1.7 /org/a11y/atspi/accessible/root ";
  const std::string button = ":1.7 /org/a11y/atspi/accessible/88 ";
  std::ofstream(path) << "org.a11y.atspi.Registry /org/a11y/atspi/accessible/root "
                         "org.a11y.atspi.Accessible.GetChildren\tok\t([(':1.7', objectpath "
                         "'/org/a11y/atspi/accessible/root')],)\n"
                         "org.freedesktop.DBus /org/freedesktop/DBus "
                         "org.freedesktop.DBus.GetConnectionUnixProcessID (':1.7',)\tok\t(uint32 "
                         "4242,)\n"
                      << app << "org.a11y.atspi.Accessible.GetRole\tok\t(uint32 75,)\n"
                      << app
                      << "org.freedesktop.DBus.Properties.Get ('org.a11y.atspi.Application', "
                         "'ToolkitName')\tok\t(<'Gecko'>,)\n"
                      << app
                      << "org.a11y.atspi.Accessible.GetState\tok\t([uint32 1107296256, 0],)\n"
                      << app
                      << "org.a11y.atspi.Accessible.GetChildren\tok\t([(':1.7', objectpath "
                         "'/org/a11y/atspi/accessible/88')],)\n"
                      << button << "org.a11y.atspi.Accessible.GetRole\tok\t(uint32 43,)\n"
                      << button
                      << "org.a11y.atspi.Accessible.GetState\tok\t([uint32 1107296320, 0],)\n"
                      << button
                      << "org.a11y.atspi.Component.GetExtents (uint32 0,)\tok\t((9, 226, 57, "
                         "23),)\n";
  std::string error;
  LinuxAccessibility::Options options;
  options.replayFile = path;
  options.trusted = [] { return true; };
  auto ax = LinuxAccessibility::open(std::move(options), error);
  ASSERT_TRUE(ax) << error;
  TreeRequest request;
  request.attributes = {"AXRole", "AXChildren"};
  request.childrenIndex = 1;
  request.hiddenIndex = 1;
  SystemClock clock;
  const std::vector<TreeNode> tree = ax->readTree(ax->createApplication(4242), request, clock);
  ASSERT_FALSE(tree.empty());
  const AXElement root = tree.front().element;
  auto children = ax->copyAttributeValue(root, "AXChildren");
  const auto* list = children.value ? std::get_if<AXElementArray>(&*children.value) : nullptr;
  ASSERT_TRUE(list && list->size() == 1) << children.code;
  const AXElement& stale = list->front();
  EXPECT_EQ(ax->performAction(stale, "AXPress"), AXErr::kInvalidUIElement);
  EXPECT_EQ(ax->copyAttributeValue(stale, "AXPosition").code, AXErr::kInvalidUIElement);
}

TEST(RecordedTreeTest, AMalformedRecordingIsRefusedWithItsLine) {
  const std::string path = ::testing::TempDir() + "/bad.atspi";
  std::ofstream(path)
      << "# frontmost 1 chromium Chromium\n"
         "org.a11y.atspi.Registry /org/a11y/atspi/accessible/root x.GetChildren\tok\t(((\n";
  auto opened = LinuxDesktop::open({.recordFile = {}, .replayFile = path});
  ASSERT_TRUE(std::holds_alternative<std::string>(opened));
  EXPECT_NE(std::get<std::string>(opened).find("bad.atspi:2: "), std::string::npos)
      << std::get<std::string>(opened);
}

}  // namespace
}  // namespace tovrin
