// Keys, fields, the clipboard, scrolling, tabs, history and links on real
// Chromium and Firefox. The help desk page reports what reached it (its
// status line: the last key, focus or edit; the "where" line: the section
// in view); each step reads that back after its `tovrin run` process ends.

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "desktop/browser_fixture.h"
#include "platform/linux/x11/x11_clipboard.h"

namespace tovrin::testing {
namespace {

std::string shown(const std::vector<std::string>& words) {
  std::string out;
  for (const auto& w : words)
    out += w + " ";
  return out;
}

ProcessResult run(const std::vector<std::string>& words) {
  std::vector<std::string> args = {"run"};
  args.insert(args.end(), words.begin(), words.end());
  return runTovrin(args);
}

class DeskTest : public ::testing::TestWithParam<BrowserKind> {};

TEST_P(DeskTest, KeysFieldsAndTheClipboardReachThePage) {
  auto browser = Browser::start(GetParam(), pageURL("desk.html"), {});
  ASSERT_TRUE(browser && browser->waitUntilShows("Help desk"));
  struct Step {
    std::vector<std::string> command;
    const char* outcome;
    const char* status;  // the page's status line afterwards; null: unchanged
  };
  const Step steps[] = {
      // The bell has no click action of its own: only the mouse rings it.
      {{"click", "the", "service", "bell"}, "[success] Clicked **Service bell**", "Bell rung"},
      {{"fill", "the", "full", "name", "field", "with", "Ada", "Lovelace"},
       "[success] Filled **Full name**",
       "name is Ada Lovelace"},
      {{"select", "all"}, "[success] Pressed **Select all**", nullptr},
      {{"copy"}, "[success] Pressed **Copy**", nullptr},
      {{"press", "tab"}, "[success] Pressed **Tab**", "Focus on email"},
      {{"paste"}, "[success] Pressed **Paste**", "email is Ada Lovelace"},
      {{"--profile", "name=Zoë Ångström 😀", "type", "my", "name", "into", "the", "notes", "field"},
       "[success] Filled **Notes** with “Zoë Ångström 😀”",
       "notes is Zoë Ångström 😀"},
      {{"replace", "the", "text", "with", "Grace", "Hopper"}, "[success]", "notes is Grace Hopper"},
      {{"press", "escape"}, "[success] Pressed **Escape**", "Escape pressed"},
      {{"press", "down", "arrow"}, "[success] Pressed **Down arrow**", "ArrowDown pressed"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(shown(step.command));
    ProcessResult r = run(step.command);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(step.outcome), std::string::npos) << r.out << r.err;
    if (step.command[0] == "click" && GetParam() == BrowserKind::chromium) {
      EXPECT_NE(r.out.find("Falling back to a mouse click at element center"), std::string::npos)
          << r.out;
    }
    if (step.command[0] == "copy") {
      // The browser owns the copy; it must hold the field's text.
      std::optional<std::string> copied;
      for (int i = 0; i < 20 && copied != "Ada Lovelace"; ++i) {
        copied = X11Clipboard().string();
        if (copied != "Ada Lovelace") std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      EXPECT_EQ(copied.value_or("(nobody serves the CLIPBOARD)"), "Ada Lovelace");
    }
    if (step.status == nullptr) continue;
    PageState page = waitForPage([&](const PageState& p) { return p.line(1) == step.status; });
    EXPECT_EQ(page.line(1), step.status);
  }
}

TEST_P(DeskTest, ScrollingMovesThePageWhereAsked) {
  auto browser = Browser::start(GetParam(), pageURL("desk.html"), {});
  ASSERT_TRUE(browser && browser->waitUntilShows("Help desk"));
  struct Step {
    std::vector<std::string> command;
    const char* outcome;
    const char* where;  // the section the page says is in view
  };
  const Step steps[] = {
      {{"scroll", "to", "the", "bottom"}, "[success] Scrolled to the **bottom**", "Bottom"},
      {{"scroll", "to", "the", "top"}, "[success] Scrolled to the **top**", "Top"},
      {{"scroll", "down"}, "[success] Scrolled **down**", "Pricing"},
      {{"scroll", "up"}, "[success] Scrolled **up**", "Top"},
      {{"scroll", "to", "reviews"}, "[success] Scrolled to **Reviews**", "Reviews"},
      {{"--reveal", "2", "find", "all", "warranty"},
       "**3** occurrences of “warranty” in 2 places",
       "Questions"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(shown(step.command));
    ProcessResult r = run(step.command);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(step.outcome), std::string::npos) << r.out << r.err;
    PageState page = waitForPage([&](const PageState& p) { return p.line(0) == step.where; });
    EXPECT_EQ(page.line(0), step.where);
  }
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// "!…": the address must no longer end so.
bool addressIs(const std::string& url, const std::string& expected) {
  if (!expected.empty() && expected[0] == '!') return !endsWith(url, expected.substr(1));
  return endsWith(url, expected);
}

TEST_P(DeskTest, TabsHistoryAndLinksFollowTheCommands) {
  auto browser = Browser::start(GetParam(), servedPageURL("desk.html"), {});
  ASSERT_TRUE(browser && browser->waitUntilShows("Help desk"));
  struct Step {
    std::vector<std::string> command;
    const char* outcome;
    const char* url;  // how the front tab's address ends afterwards; null: not checked
  };
  const Step steps[] = {
      {{"open", "the", "article"}, "[success]", "/story.html"},
      {{"go", "back"}, "[success] **Went back**", "/desk.html"},
      {{"go", "forward"}, "[success] **Went forward**", "/story.html"},
      {{"go", "back"}, "[success] **Went back**", "/desk.html"},
      {{"open", "the", "customer", "reviews", "of", "the", "tent", "link"},
       "[success]",
       "/reviews.html"},
      {{"go", "back"}, "[success] **Went back**", "/desk.html"},
      // They open as tabs two and three, in the order of the page.
      {{"open", "every", "link", "about", "reviews"},
       "[success] Opened **2** links mentioning “reviews”",
       nullptr},
      {{"tab", "3"}, "[success] Switched to tab **3**", "/reviews.html?stove"},
      {{"previous", "tab"}, "[success] Switched to the **previous** tab", "/reviews.html"},
      {{"next", "tab"}, "[success] Switched to the **next** tab", "/reviews.html?stove"},
      {{"tab", "1"}, "[success] Switched to tab **1**", "/desk.html"},
      {{"switch", "to", "the", "stove", "reviews", "tab"},
       "[success] Switched to **Stove reviews**",
       "/reviews.html?stove"},
      {{"--confirm", "close", "tab"}, "[success]", "!/reviews.html?stove"},
      {{"tab", "2"}, "[success] Switched to tab **2**", "/reviews.html"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(shown(step.command));
    ProcessResult r = run(step.command);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(step.outcome), std::string::npos) << r.out << r.err;
    if (step.url == nullptr) continue;
    PageState page = waitForPage([&](const PageState& p) { return addressIs(p.url, step.url); });
    EXPECT_TRUE(addressIs(page.url, step.url)) << page.url << "\n" << r.out;
  }
  // A reload runs the page again: it counts its loads in this tab.
  PageState before =
      waitForPage([](const PageState& p) { return p.line(0).rfind("Loaded ", 0) == 0; });
  const std::string loads = before.line(0);
  ProcessResult r = run({"reload"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  PageState after = waitForPage(
      [&](const PageState& p) { return p.line(0) != loads && p.line(0).rfind("Loaded ", 0) == 0; });
  const int was = std::atoi(loads.c_str() + 7);
  EXPECT_EQ(after.line(0), "Loaded " + std::to_string(was + 1) + " times") << loads;
}

// The window manager of this private desktop, found by its display.
pid_t windowManager() {
  const std::string display = std::string("DISPLAY=") + std::getenv("DISPLAY");
  DIR* proc = opendir("/proc");
  pid_t found = 0;
  while (dirent* entry = proc ? readdir(proc) : nullptr) {
    const std::string dir = std::string("/proc/") + entry->d_name;
    std::ifstream comm(dir + "/comm");
    std::string name;
    if (!(comm >> name) || name != "openbox") continue;
    std::ifstream environ(dir + "/environ");
    std::string env((std::istreambuf_iterator<char>(environ)), std::istreambuf_iterator<char>());
    if (env.find(display + '\0') != std::string::npos) found = std::atoi(entry->d_name);
  }
  if (proc) closedir(proc);
  return found;
}

TEST_P(DeskTest, NothingIsTypedWhenTheBrowserCannotComeToTheFront) {
  auto browser = Browser::start(GetParam(), pageURL("desk.html"), {});
  ASSERT_TRUE(browser && browser->waitUntilShows("Help desk"));
  TestWindow blocker;
  // The window manager lists the window once it has taken it on.
  bool inFront = false;
  for (int i = 0; i < 50 && !inFront; ++i) {
    inFront = desktop().workspace()->activate(getpid());
    if (!inFront) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(inFront);
  // A window manager that no longer answers refuses every activation.
  const pid_t wm = windowManager();
  ASSERT_GT(wm, 0);
  kill(wm, SIGSTOP);
  ProcessResult r = run({"type", "hello", "into", "the", "notes", "field"});
  // The window in front, which kept the focus, got none of it either; a key
  // pressed now shows that it does receive what is typed.
  EXPECT_EQ(blocker.keyPresses(), 0);
  pressChord({"x"});
  for (int i = 0; i < 20 && blocker.keyPresses() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(blocker.keyPresses(), 1) << "the window in front did not have the focus";
  kill(wm, SIGCONT);
  EXPECT_NE(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("to the front"), std::string::npos) << r.out << r.err;
  ASSERT_TRUE(browser->front());
  PageState page = pageState();
  EXPECT_EQ(page.line(1).find("notes is"), std::string::npos) << page.line(1);
}

TEST_P(DeskTest, TheTerminalPaletteActsOnTheRealBrowser) {
  auto browser = Browser::start(GetParam(), pageURL("shop.html"), {});
  ASSERT_TRUE(browser && browser->waitUntilShows("Acme Outdoor Supplies"));
  ProcessResult r = runTovrin({"shell"}, "click sign in\nclick buy now\ny\n");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("✓ Clicked **Sign in**"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("? Click “Buy now”?"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("✓ Clicked **Buy now**"), std::string::npos) << r.out;
  PageState page = waitForPage([](const PageState& p) {
    return std::find(p.lines.begin(), p.lines.end(), "Purchased") != p.lines.end();
  });
  EXPECT_NE(std::find(page.lines.begin(), page.lines.end(), "Purchased"), page.lines.end());
}

INSTANTIATE_TEST_SUITE_P(Browsers, DeskTest,
                         ::testing::Values(BrowserKind::chromium, BrowserKind::firefox),
                         [](const auto& param) { return std::string(browserLabel(param.param)); });

}  // namespace
}  // namespace tovrin::testing
