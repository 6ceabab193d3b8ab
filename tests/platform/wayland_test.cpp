#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "actions/input.h"
#include "platform/linux/atspi/accessibility_events.h"
#include "platform/linux/key_translation.h"
#include "platform/linux/session_type.h"
#include "platform/linux/wayland/keyboard_input.h"
#include "platform/linux/wayland/sway/sway_route.h"
#include "platform/linux/wayland/wayland_workspace.h"

namespace tovrin {
namespace {

TEST(SessionTest, TheEnvironmentAndTheBusTellTheSessionAndCompositor) {
  struct Case {
    std::map<std::string, std::string> env;
    std::vector<std::string> onBus;
    SessionKind kind;
  };
  const SessionKind x11{SessionType::x11, Compositor::none};
  const Case cases[] = {
      {{{"DISPLAY", ":0"}}, {}, x11},
      {{{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}}, {"org.gnome.Mutter.RemoteDesktop"}, x11},
      // A nested compositor's socket inside an X11 session is not the session.
      {{{"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", "wayland-1"}}, {}, x11},
      {{{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}},
       {},
       {SessionType::wayland, Compositor::gnome}},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "KDE"}},
       {},
       {SessionType::wayland, Compositor::kde}},
      {{{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_CURRENT_DESKTOP", "sway"}},
       {},
       {SessionType::wayland, Compositor::sway}},
      {{{"WAYLAND_DISPLAY", "wayland-1"}, {"SWAYSOCK", "/run/user/1000/sway-ipc.sock"}},
       {},
       {SessionType::wayland, Compositor::sway}},
      // Nothing in the environment names the desktop: what answers on the bus does.
      {{{"WAYLAND_DISPLAY", "wl-test"}},
       {"org.gnome.Mutter.RemoteDesktop"},
       {SessionType::wayland, Compositor::gnome}},
      {{{"WAYLAND_DISPLAY", "wl-test"}}, {"org.kde.KWin"}, {SessionType::wayland, Compositor::kde}},
      {{{"XDG_SESSION_TYPE", "wayland"}}, {}, {SessionType::wayland, Compositor::other}},
  };
  for (const Case& c : cases) {
    SessionKind kind = Session::detect(
        [&](const char* name) -> std::optional<std::string> {
          auto it = c.env.find(name);
          return it == c.env.end() ? std::nullopt : std::optional<std::string>(it->second);
        },
        [&](const char* name) {
          return std::find(c.onBus.begin(), c.onBus.end(), name) != c.onBus.end();
        });
    EXPECT_EQ(Session::describe(kind), Session::describe(c.kind))
        << (c.env.empty() ? "" : c.env.begin()->second);
  }
}

TEST(WaylandWindowsTest, TheFrontWindowIsTheActiveNamedFrame) {
  struct Case {
    const char* what;
    std::vector<AccessibleFrame> frames;
    std::optional<int32_t> front;
  };
  const Case cases[] = {
      {"none active", {{10, ":1.1", "Shop - Chromium", false, true}}, std::nullopt},
      {"the active one",
       {{10, ":1.1", "Shop - Chromium", false, true}, {20, ":1.2", "Desk — Firefox", true, true}},
       20},
      // Chromium's menus and popups are unnamed frames that report active
      // alongside the real window.
      {"an unnamed popup does not count",
       {{30, ":1.3", "", true, true}, {10, ":1.1", "Shop - Chromium", true, true}},
       10},
      {"an unknown process does not count", {{0, ":1.4", "Terminal", true, true}}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WaylandWindows::frontPid(c.frames), c.front) << c.what;
  }
}

// A command run from a terminal acts on the browser used last: the windows
// that exist stand in for the activations before Tovrin started.
TEST(WaylandWindowsTest, TheActivationHistoryEndsWithTheFrontWindow) {
  struct Case {
    const char* what;
    std::vector<AccessibleFrame> frames;
    std::vector<int32_t> history;
  };
  const Case cases[] = {
      {"nothing open", {}, {}},
      {"the active one comes last",
       {{20, ":1.2", "Scratch notes", true, true}, {10, ":1.1", "Desk - Chromium", false, true}},
       {10, 20}},
      {"each process once, popups and unnamed frames left out",
       {{10, ":1.1", "Desk - Chromium", false, true},
        {10, ":1.1", "Shop - Chromium", false, true},
        {30, ":1.3", "", true, true},
        {0, ":1.4", "Unknown", false, true}},
       {10}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WaylandWindows::activationHistory(c.frames), c.history) << c.what;
  }
}

TEST(AccessibilityEventsTest, SignalsAreToldApartByInterfaceMemberAndDetail) {
  using Kind = AccessibilityEvent::Kind;
  struct Case {
    const char* interfaceName;
    const char* member;
    const char* detail;
    std::optional<Kind> kind;
  };
  const Case cases[] = {
      {"org.a11y.atspi.Event.Window", "Activate", "", Kind::windowActivated},
      {"org.a11y.atspi.Event.Window", "Deactivate", "", std::nullopt},
      {"org.a11y.atspi.Event.Document", "LoadComplete", "", Kind::documentLoaded},
      {"org.a11y.atspi.Event.Object", "ChildrenChanged", "add", Kind::childrenChanged},
      {"org.a11y.atspi.Event.Object", "TextChanged", "insert", Kind::textChanged},
      {"org.a11y.atspi.Event.Object", "PropertyChange", "accessible-name", Kind::nameChanged},
      // Other property changes (a description, a value) do not change the page's words.
      {"org.a11y.atspi.Event.Object", "PropertyChange", "accessible-description", std::nullopt},
      {"org.a11y.atspi.Event.Focus", "Focus", "", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AccessibilityEventNames::kindOf(c.interfaceName, c.member, c.detail), c.kind)
        << c.member << " " << c.detail;
  }
  EXPECT_EQ(AccessibilityEventNames::registryName(Kind::windowActivated), "window:activate");
  EXPECT_EQ(AccessibilityEventNames::registryName(Kind::nameChanged),
            "object:property-change:accessible-name");
}

TEST(WaylandKeysTest, CharactersAndChordsBecomeKeysyms) {
  EXPECT_EQ(Keys::codePoints("aë東😀"), (std::vector<uint32_t>{0x61, 0xEB, 0x6771, 0x1F600}));
  EXPECT_EQ(Keys::keysymForCodePoint('a'), static_cast<uint32_t>(XKB_KEY_a));
  EXPECT_EQ(Keys::keysymForCodePoint(0xEB), static_cast<uint32_t>(XKB_KEY_ediaeresis));
  EXPECT_EQ(Keys::keysymForCodePoint('\n'), static_cast<uint32_t>(XKB_KEY_Return));
  EXPECT_EQ(Keys::keysymForCodePoint(0x6771), 0x01006771u);
  EXPECT_EQ(keysymFromName("Control_L"), static_cast<uint32_t>(XKB_KEY_Control_L));
  EXPECT_EQ(keysymFromName("Prior"), static_cast<uint32_t>(XKB_KEY_Prior));
  EXPECT_EQ(SwayIpc::chordArguments({XKB_KEY_Control_L, XKB_KEY_Shift_L}, XKB_KEY_Tab),
            (std::vector<std::string>{"-k", "Shift_L", "-M", "ctrl", "-M", "shift", "-k", "Tab",
                                      "-m", "shift", "-m", "ctrl"}));
  EXPECT_EQ(SwayIpc::chordArguments({XKB_KEY_Alt_L}, XKB_KEY_Left),
            (std::vector<std::string>{"-k", "Shift_L", "-M", "alt", "-k", "Left", "-m", "alt"}));
}

TEST(SwayConfigTest, EachHotkeyPresetBecomesABindingThatTogglesAFloatingPalette) {
  struct Case {
    uint32_t modifiers;  // Carbon's mask, as the presets keep it
    const char* binding;
  };
  const Case cases[] = {
      {2048, "bindsym Mod1+space exec tovrin toggle"},
      {4096, "bindsym Ctrl+space exec tovrin toggle"},
      {768, "bindsym Mod4+Shift+space exec tovrin toggle"},
      {2304, "bindsym Mod1+Mod4+space exec tovrin toggle"},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> lines = SwayIpc::configLines(c.modifiers);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], c.binding);
    EXPECT_EQ(lines[1], "for_window [app_id=\"tovrin\"] floating enable");
  }
}

// What a route was asked to press. The keyboard's own thread ends the
// command's input, so the list is read and written under a lock.
struct PressJournal {
  std::mutex mutex;
  std::vector<std::string> lines;
  std::atomic<int> finished = 0;

  void add(std::string line) {
    std::lock_guard lock(mutex);
    lines.push_back(std::move(line));
  }
  std::vector<std::string> snapshot() {
    std::lock_guard lock(mutex);
    return lines;
  }
};

class RecordingRoute final : public KeyRoute {
 public:
  explicit RecordingRoute(PressJournal& journal) : journal_(journal) {}
  bool chord(const std::vector<uint32_t>& modifiers, uint32_t key) override {
    std::string line = "chord";
    for (uint32_t m : modifiers)
      line += " " + std::to_string(m);
    journal_.add(line + " " + std::to_string(key));
    return true;
  }
  bool typeCharacter(const std::string& character) override {
    journal_.add("type " + character);
    return true;
  }
  void finish() override {
    journal_.add("finish");
    ++journal_.finished;
  }
  std::string problem() override { return {}; }

 private:
  PressJournal& journal_;
};

TEST(WaylandKeysTest, KeysGoOnlyToTheActiveBrowserAndTheRouteIsLetGoOfAfterward) {
  PressJournal journal;
  std::atomic<int32_t> active = 42;
  {
    WaylandKeyboard keyboard(std::make_unique<RecordingRoute>(journal),
                             [&]() -> std::optional<int32_t> { return active.load(); });
    EXPECT_FALSE(keyboard.canPostAtPoints());
    EXPECT_FALSE(keyboard.postMouse(10, 10, true));
    EXPECT_FALSE(keyboard.postScrollWheel(10, 10, -100));
    // Another window in front: nothing reaches the route.
    active = 7;
    EXPECT_FALSE(keyboard.postKey(42, {.keyCode = 0, .flags = 0, .text = "x", .down = true}));
    EXPECT_TRUE(journal.snapshot().empty());
    active = 42;
    // A character and a chord each go whole on their key's down.
    EXPECT_TRUE(keyboard.postKey(42, {.keyCode = 0, .flags = 0, .text = "ë", .down = true}));
    EXPECT_TRUE(keyboard.postKey(42, {.keyCode = 0, .flags = 0, .text = "ë", .down = false}));
    EXPECT_TRUE(keyboard.postKey(
        42, {.keyCode = KeyCode::kA, .flags = KeyFlags::kCommand, .text = "", .down = true}));
    EXPECT_TRUE(keyboard.postKey(
        42, {.keyCode = KeyCode::kA, .flags = KeyFlags::kCommand, .text = "", .down = false}));
    // On a slow machine the idle finish may already have come: only the
    // presses before it are compared.
    std::vector<std::string> pressed = journal.snapshot();
    ASSERT_GE(pressed.size(), 2u);
    pressed.resize(2);
    EXPECT_EQ(pressed,
              (std::vector<std::string>{"type ë", "chord " + std::to_string(XKB_KEY_Control_L) +
                                                      " " + std::to_string(XKB_KEY_a)}));
    // A moment without keys ends the command's input.
    for (int i = 0; i < 300 && journal.finished == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(journal.finished, 1);
    const std::vector<std::string> afterIdle = journal.snapshot();
    ASSERT_EQ(afterIdle.size(), 3u);
    EXPECT_EQ(afterIdle.back(), "finish");
  }
  EXPECT_EQ(journal.snapshot().back(), "finish");  // and so does the keyboard's end
}

}  // namespace
}  // namespace tovrin
