// The desktop application in a real X session: one instance on the
// session bus, the remote commands, the global hotkey when the window
// manager leaves it free and when it holds it (openbox binds Alt+Space),
// and a command typed into the palette acting on a real browser.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "desktop/browser_fixture.h"
#include "platform/linux/ini_defaults.h"
#include "platform/linux/x11/x11_hotkey.h"

namespace tovrin::testing {
namespace {

// Until the running application answers `tovrin show`.
bool answers(double seconds = 20) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (runTovrin({"show"}).exitCode == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

void choosePreset(int id) {
  IniDefaults defaults(Ini::defaultPath());
  defaults.setInteger("hotkeyPreset", id);
}

TEST(DesktopAppTest, OneInstanceAnswersOnTheSessionBus) {
  choosePreset(1);
  Program app({"--scene", "shop"});
  ASSERT_TRUE(answers()) << app.output();
  EXPECT_TRUE(windowShown("Tovrin", 600));
  ProcessResult second = runTovrin({});
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_NE(second.out.find("Tovrin is already running"), std::string::npos) << second.out;
  EXPECT_EQ(runTovrin({"toggle"}).exitCode, 0);
  EXPECT_TRUE(windowShown("Tovrin", 600, false));
  EXPECT_EQ(runTovrin({"toggle"}).exitCode, 0);
  EXPECT_TRUE(windowShown("Tovrin", 600));
  EXPECT_EQ(runTovrin({"hide"}).exitCode, 0);
  EXPECT_TRUE(windowShown("Tovrin", 600, false));
  EXPECT_EQ(runTovrin({"settings"}).exitCode, 0);
  EXPECT_TRUE(windowShown("Tovrin Settings", 300));
  EXPECT_EQ(runTovrin({"quit"}).exitCode, 0);
  EXPECT_EQ(app.wait(10), 0) << app.output();
  ProcessResult gone = runTovrin({"toggle"});
  EXPECT_EQ(gone.exitCode, 1);
  EXPECT_NE(gone.err.find("Tovrin isn't running. Start it with “tovrin”."), std::string::npos);
}

TEST(DesktopAppTest, AHotkeyTheWindowManagerHoldsIsReportedAndThePaletteStillOpens) {
  choosePreset(0);  // Alt+Space: openbox's window menu
  Program app({});
  EXPECT_TRUE(windowShown("Tovrin", 600)) << app.output();  // shown once, with the note
  for (int i = 0; i < 50 && app.output().find("Alt+Space") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(app.output().find("Alt+Space is used by another program"), std::string::npos)
      << app.output();
  EXPECT_EQ(runTovrin({"hide"}).exitCode, 0);
  EXPECT_TRUE(windowShown("Tovrin", 600, false));
  EXPECT_EQ(runTovrin({"toggle"}).exitCode, 0);  // still reachable
  EXPECT_TRUE(windowShown("Tovrin", 600));
  EXPECT_EQ(runTovrin({"quit"}).exitCode, 0);
  EXPECT_EQ(app.wait(10), 0);
}

// The application, telling its phases on its standard error, with its
// palette hidden; nothing (the test failed) when it does not come up.
std::unique_ptr<Program> tracedApp() {
  setenv("TOVRIN_TRACE", "1", 1);
  auto app = std::make_unique<Program>(std::vector<std::string>{});
  unsetenv("TOVRIN_TRACE");
  if (!answers()) {
    ADD_FAILURE() << app->output();
    return nullptr;
  }
  runTovrin({"hide"});
  if (!windowShown("Tovrin", 600, false)) {
    ADD_FAILURE() << "the palette stayed open";
    return nullptr;
  }
  return app;
}

// The application over a real browser, each of both.
class AppOnBrowserTest : public ::testing::TestWithParam<BrowserKind> {};

TEST_P(AppOnBrowserTest, TheHotkeyOpensThePaletteAndACommandActsOnTheBrowser) {
  choosePreset(1);  // Ctrl+Space, which openbox leaves free
  auto browser = Browser::start(GetParam(), pageURL("shop.html"), {});
  ASSERT_TRUE(browser && browser->waitUntilShows("Acme Outdoor Supplies"));
  auto app = tracedApp();
  ASSERT_TRUE(app);
  ASSERT_TRUE(browser->front());
  pressChord({"Control_L", "space"});
  ASSERT_TRUE(windowShown("Tovrin", 600)) << app->output();
  EXPECT_EQ(app->output().find("is used by another program"), std::string::npos) << app->output();
  // Typing starts once the palette has the keyboard, as a user's would.
  ASSERT_TRUE(windowFocused("Tovrin"));
  typeLine("click sign in");
  // The page itself says what happened; the keys went to the palette, not the page.
  std::string status;
  for (int i = 0; i < 50 && status.find("\tSigned in") == std::string::npos; ++i) {
    status = runTovrin({"snapshot", "--lines"}).out;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_NE(status.find("\tSigned in"), std::string::npos) << status << app->output();
  EXPECT_EQ(status.find("click sign in"), std::string::npos) << "typed into the page";

  // A numbered choice: the first candidate is outlined in the browser, ↓
  // moves the outline to the second, a digit presses its own candidate.
  ASSERT_TRUE(windowFocused("Tovrin"));
  pressChord({"Control_L", "a"});  // the next command replaces the last one
  typeLine("click add to cart");
  for (int i = 0; i < 100 && app->output().find("choose: ") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(windowShown("Tovrin outline", 50)) << app->output();
  const auto first = windowRect("Tovrin outline");
  pressChord({"Down"});
  std::optional<std::array<int, 4>> outline;
  for (int i = 0; i < 100 && (!outline || outline == first); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    outline = windowRect("Tovrin outline");
  }
  ASSERT_TRUE(outline && outline != first) << "the outline stayed on the first candidate";
  pressChord({"1"});
  const auto pageSays = [&](const std::string& line) {
    for (int i = 0; i < 50 && status.find(line) == std::string::npos; ++i) {
      status = runTovrin({"snapshot", "--lines"}).out;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return status.find(line) != std::string::npos;
  };
  EXPECT_TRUE(pageSays("\tAdded Trail Runner 2 to the cart")) << status << app->output();

  // The outline stood over the second button: a click at its centre, with
  // the palette out of the way, adds the Summit Jacket on the page.
  EXPECT_EQ(runTovrin({"hide"}).exitCode, 0);
  ASSERT_TRUE(windowShown("Tovrin", 600, false));
  clickAt((*outline)[0] + (*outline)[2] / 2, (*outline)[1] + (*outline)[3] / 2);
  EXPECT_TRUE(pageSays("\tAdded Summit Jacket to the cart")) << status << app->output();
  EXPECT_EQ(runTovrin({"quit"}).exitCode, 0);
  EXPECT_EQ(app->wait(10), 0);
}

// The inspector's pick takes the next click for itself: the element under
// it is shown, and the page never sees the click.
TEST_P(AppOnBrowserTest, TheInspectorPicksTheElementUnderTheNextClick) {
  auto browser = Browser::start(GetParam(), pageURL("shop.html"), {});
  ASSERT_TRUE(browser && browser->waitUntilShows("Acme Outdoor Supplies"));
  ASSERT_TRUE(browser->front());
  auto snapshot = nlohmann::json::parse(runTovrin({"snapshot", "--json"}).out, nullptr, false);
  ASSERT_FALSE(snapshot.is_discarded());
  std::optional<std::array<double, 4>> signIn;
  for (const auto& e : snapshot["elements"]) {
    if (e.value("role", "") == "AXButton" && e.value("label", "") == "Sign in")
      signIn = e["frame"].get<std::array<double, 4>>();
  }
  ASSERT_TRUE(signIn.has_value());

  setenv("TOVRIN_TRACE", "1", 1);
  Program app({});
  unsetenv("TOVRIN_TRACE");
  ASSERT_TRUE(answers()) << app.output();
  runTovrin({"hide"});
  EXPECT_EQ(runTovrin({"inspector"}).exitCode, 0);
  ASSERT_TRUE(windowFocused("Tovrin Inspector")) << app.output();
  pressChord({"Control_L", "p"});
  for (int i = 0; i < 50 && app.output().find("Click any element") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_NE(app.output().find("Click any element"), std::string::npos) << app.output();
  clickAt(static_cast<int>((*signIn)[0] + (*signIn)[2] / 2),
          static_cast<int>((*signIn)[1] + (*signIn)[3] / 2));
  for (int i = 0; i < 50 && app.output().find("Picked element") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(app.output().find("Picked element from the browser · Button  “Sign in”"),
            std::string::npos)
      << app.output();

  // The click went to the inspector, not to the page.
  ASSERT_TRUE(browser->front());
  const std::string lines = runTovrin({"snapshot", "--lines"}).out;
  EXPECT_NE(lines.find("Sign in"), std::string::npos) << lines;
  EXPECT_EQ(lines.find("\tSigned in"), std::string::npos) << lines;
  EXPECT_EQ(runTovrin({"quit"}).exitCode, 0);
  EXPECT_EQ(app.wait(10), 0) << app.output();
}

// The application's read-ahead over a real browser, each of all three.
class ReadAheadTest : public ::testing::TestWithParam<BrowserKind> {};

// The application, its palette hidden, over the shop page in the browser in
// front; false (the test failed) when either does not come up.
bool appOverShop(BrowserKind kind, std::unique_ptr<Program>& app,
                 std::unique_ptr<Browser>& browser) {
  choosePreset(1);
  app = tracedApp();
  if (!app) return false;
  browser = Browser::start(kind, pageURL("shop.html"), {});
  return browser && browser->waitUntilShows("Acme Outdoor Supplies") && browser->front();
}

// The page is read while the command is typed; when the page changes
// meanwhile, the command acts on the page as it is at Return.
TEST_P(ReadAheadTest, ACommandActsOnThePageAsItIsNotAsItWasReadAhead) {
  choosePreset(1);
  auto app = tracedApp();
  ASSERT_TRUE(app);
  struct Case {
    const char* page;     // changing.html changes itself once the palette has the focus
    const char* change;   // a line the page shows once it changed; empty: it does not change
    const char* command;  // typed into the palette
    const char* outcome;  // the page's own line afterwards
  };
  const Case cases[] = {
      {"changing.html?add", "Late offer", "click late offer", "Clicked Late offer"},
      {"changing.html?leave", "Welcome to Acme", "click sign in", "Signed in"},
      // The old tab has no such button: only the tab in front now does.
      {"changing.html?tab", "Late offer", "click late offer", "Clicked Late offer"},
      {"shop.html", "", "click sign in", "Signed in"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    auto browser = Browser::start(GetParam(), pageURL(c.page), {.allowPopups = true});
    // Each page's last line: a page still being built when the palette
    // opens changes after the read ahead, and rightly is read again.
    ASSERT_TRUE(browser &&
                browser->waitUntilShows(*c.change ? "Nothing done yet." : "Acme Outdoor Supplies"));
    ASSERT_TRUE(browser->front());
    const std::size_t before = app->output().size();
    pressChord({"Control_L", "space"});
    ASSERT_TRUE(windowFocused("Tovrin")) << app->output();
    // The palette was read ahead on open; the page changes after that.
    auto changed = [&](const PageState& s) {
      return std::any_of(s.lines.begin(), s.lines.end(), [&](const std::string& line) {
        return line.find(c.change) != std::string::npos;
      });
    };
    if (*c.change) {
      ASSERT_TRUE(changed(waitForPage(changed)));
    }
    if (GetParam() == BrowserKind::chromium && std::string_view(c.page) == "changing.html?tab") {
      // Chromium brings its window forward with the new tab: the palette
      // closes, and what it read goes with it.
      ASSERT_TRUE(windowShown("Tovrin", 600, false));
      EXPECT_NE(app->output().find("palette: hidden", before), std::string::npos);
      continue;
    }
    typeLine(c.command);
    const std::string outcome = std::string("\t") + c.outcome + "\n";
    std::string lines;
    for (int i = 0; i < 80 && lines.find(outcome) == std::string::npos; ++i) {
      lines = runTovrin({"snapshot", "--lines"}).out;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_NE(lines.find(outcome), std::string::npos) << lines << app->output().substr(before);
    for (int i = 0; i < 50 && app->output().find("why: Read ", before) == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const bool readAhead =
        app->output().find("why: Read while the command was typed", before) != std::string::npos;
    // A changed page is never used as read ahead. An unchanged one is, unless
    // the browser was heard changing something during or after the read (a
    // busy browser may still be telling of the focus it lost), which is
    // reason enough to read again. GNOME Web's page changes go unheard: its
    // pages are always read after Return.
    const bool heardChange =
        app->output().find(", changed meanwhile", before) != std::string::npos ||
        app->output().find("read ahead not used: the page changed", before) != std::string::npos;
    if (*c.change != '\0' || GetParam() == BrowserKind::gnomeWeb) {
      EXPECT_FALSE(readAhead) << app->output().substr(before);
    } else if (!heardChange) {
      EXPECT_TRUE(readAhead) << app->output().substr(before);
    }
    const ProcessResult hidden = runTovrin({"hide"});
    ASSERT_TRUE(windowShown("Tovrin", 600, false))
        << hidden.exitCode << hidden.err << app->output().substr(before);
  }
  EXPECT_EQ(runTovrin({"quit"}).exitCode, 0);
  EXPECT_EQ(app->wait(10), 0) << app->output();
}

// A browser stopped while the palette reads ahead: the command still fails
// within its deadline, and nothing is pressed once the browser runs again.
TEST_P(ReadAheadTest, ABrowserStoppedDuringTheReadAheadFailsTheCommandAndPressesNothing) {
  std::unique_ptr<Program> app;
  std::unique_ptr<Browser> browser;
  ASSERT_TRUE(appOverShop(GetParam(), app, browser));
  const std::size_t before = app->output().size();
  browser->pause();
  pressChord({"Control_L", "space"});
  ASSERT_TRUE(windowFocused("Tovrin")) << app->output();
  const auto start = std::chrono::steady_clock::now();
  typeLine("click sign in");
  for (int i = 0; i < 300 && app->output().find("palette: result:", before) == std::string::npos;
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_NE(app->output().find("palette: result: ✗", before), std::string::npos)
      << app->output().substr(before);
  EXPECT_LT(seconds, 20.0) << app->output().substr(before);
  browser->resume();
  runTovrin({"hide"});
  ASSERT_TRUE(browser->waitUntilShows("Acme Outdoor Supplies", 30));
  std::this_thread::sleep_for(std::chrono::seconds(1));  // a late press would show by now
  const std::string lines = runTovrin({"snapshot", "--lines"}).out;
  EXPECT_NE(lines.find("\tNothing done yet.\n"), std::string::npos) << lines;
  EXPECT_EQ(runTovrin({"quit"}).exitCode, 0);
  EXPECT_EQ(app->wait(10), 0) << app->output();
}

// Once its palette hides, the application asks nothing of anyone: not the
// browser while another program changes its page and fronts it, nor any
// other program. (Its own window stays accessible: the toolkit's bridge may
// still ask the registry which events screen readers listen to, and answer
// them.)
TEST_P(ReadAheadTest, AHiddenPaletteAsksNothing) {
  std::unique_ptr<Program> app;
  std::unique_ptr<Browser> browser;
  ASSERT_TRUE(appOverShop(GetParam(), app, browser));
  const std::size_t before = app->output().size();
  pressChord({"Control_L", "space"});
  ASSERT_TRUE(windowFocused("Tovrin")) << app->output();
  typeLine("click sign in");
  for (int i = 0; i < 100 && app->output().find("palette: result:", before) == std::string::npos;
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_NE(app->output().find("palette: result: ✓", before), std::string::npos)
      << app->output().substr(before);
  const ProcessResult hidden = runTovrin({"hide"});
  ASSERT_TRUE(windowShown("Tovrin", 600, false))
      << hidden.exitCode << hidden.err << app->output().substr(before);

  // Every thread's sends, traced while a command-line process acts on the
  // page (its changes reach whoever listens) and fronts the browser.
  const std::string trace =
      ::testing::TempDir() + "/hidden-palette-" + std::string(browserLabel(GetParam())) + ".strace";
  std::remove(trace.c_str());
  const std::string strace = "timeout -s INT 6 strace -f -qq -s 400 -e trace=sendmsg -o " + trace +
                             " -p " + std::to_string(app->pid()) + " 2>/dev/null";
  std::thread tracer([&] { (void)std::system(strace.c_str()); });
  for (int i = 0; i < 50 && access(trace.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ProcessResult acted = runTovrin({"run", "--pick", "1", "click", "add", "to", "cart"});
  EXPECT_EQ(acted.exitCode, 0) << acted.out << acted.err;
  tracer.join();
  auto added = [](const PageState& s) {
    return std::any_of(s.lines.begin(), s.lines.end(), [](const std::string& line) {
      return line.find("Added") != std::string::npos;
    });
  };
  EXPECT_TRUE(added(waitForPage(added))) << "the page did not change";
  std::ifstream traced(trace);
  ASSERT_TRUE(traced) << "strace did not run";
  // D-Bus method calls (a little-endian message of type 1), as strace
  // prints what was sent.
  std::string calls, line;
  while (std::getline(traced, line)) {
    if (line.find("iov_base=\"l\\1") != std::string::npos &&
        line.find("org.a11y.atspi.Registry") == std::string::npos) {
      calls += line + "\n";
    }
  }
  EXPECT_EQ(calls, "") << "the hidden application asked this";
  EXPECT_EQ(runTovrin({"quit"}).exitCode, 0);
  EXPECT_EQ(app->wait(10), 0) << app->output();
}

INSTANTIATE_TEST_SUITE_P(Browsers, AppOnBrowserTest,
                         ::testing::Values(BrowserKind::chromium, BrowserKind::firefox),
                         [](const auto& param) { return std::string(browserLabel(param.param)); });

INSTANTIATE_TEST_SUITE_P(Browsers, ReadAheadTest, ::testing::ValuesIn(kEveryBrowser),
                         [](const auto& param) { return std::string(browserLabel(param.param)); });

}  // namespace
}  // namespace tovrin::testing

namespace tovrin::testing {
namespace {

// Grabs as two programs would: a chord one holds is refused to the other,
// and moving to another preset lets go of the old chord first.
TEST(HotkeyTest, ARegrabReleasesTheOldChordAndAHeldChordIsRefused) {
  std::string error;
  auto first = X11Hotkey::open(error);
  auto second = X11Hotkey::open(error);
  ASSERT_TRUE(first && second) << error;
  const auto& presets = hotkeyPresets();
  ASSERT_EQ(first->grab(presets[1]), X11Hotkey::Grab::grabbed);  // Ctrl+Space
  EXPECT_EQ(second->grab(presets[1]), X11Hotkey::Grab::taken);   // held by the first
  EXPECT_FALSE(second->holding());
  ASSERT_EQ(first->grab(presets[2]), X11Hotkey::Grab::grabbed);   // Super+Shift+Space instead
  EXPECT_EQ(second->grab(presets[1]), X11Hotkey::Grab::grabbed);  // Ctrl+Space is free again
  EXPECT_EQ(second->grab(presets[2]), X11Hotkey::Grab::taken);    // and it let go of Ctrl+Space
  first->release();
  EXPECT_EQ(second->grab(presets[2]), X11Hotkey::Grab::grabbed);
}

// The server repeats a key held down (after about half a second): held for
// a second and a half, the chord is still one press, and the next tap
// counts again.
TEST(HotkeyTest, AChordHeldDownIsOnePress) {
  std::string error;
  auto hotkey = X11Hotkey::open(error);
  ASSERT_TRUE(hotkey) << error;
  ASSERT_EQ(hotkey->grab(hotkeyPresets()[1]), X11Hotkey::Grab::grabbed);  // Ctrl+Space
  const auto pressesWithin = [&](double seconds) {
    int count = 0;
    for (int i = 0; i < seconds * 20; ++i) {
      count += hotkey->presses();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return count;
  };
  pressChord({"Control_L", "space"}, std::chrono::milliseconds(1500));
  EXPECT_EQ(pressesWithin(0.5), 1);
  pressChord({"Control_L", "space"});
  pressChord({"Control_L", "space"});
  EXPECT_EQ(pressesWithin(0.5), 2);
}

}  // namespace
}  // namespace tovrin::testing
