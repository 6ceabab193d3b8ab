#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "actions/input.h"
#include "platform/linux/atspi/atspi_transport.h"
#include "platform/linux/ini_defaults.h"
#include "platform/linux/key_translation.h"

namespace tovrin {
namespace {

using Keys::Family;

TEST(KeyTranslationTest, MacChordsBecomeTheBrowsersOwn) {
  struct Case {
    KeyStroke key;
    Family family;
    const char* sent;
  };
  const uint64_t cmd = KeyFlags::kCommand;
  const Case cases[] = {
      {{KeyCode::kA, cmd}, Family::chromium, "Ctrl+A"},
      {{KeyCode::kC, cmd}, Family::firefox, "Ctrl+C"},
      {{KeyCode::kV, cmd}, Family::chromium, "Ctrl+V"},
      {{KeyCode::kLeftBracket, cmd}, Family::firefox, "Alt+Left"},
      {{KeyCode::kRightBracket, cmd}, Family::chromium, "Alt+Right"},
      {{KeyCode::kR, cmd}, Family::chromium, "Ctrl+R"},
      {{KeyCode::kT, cmd}, Family::firefox, "Ctrl+T"},
      {{KeyCode::kW, cmd}, Family::chromium, "Ctrl+W"},
      {{KeyCode::digit(3), cmd}, Family::chromium, "Ctrl+3"},
      {{KeyCode::digit(3), cmd}, Family::firefox, "Alt+3"},
      {{KeyCode::digit(3), cmd}, Family::gnomeWeb, "Alt+3"},
      {{KeyCode::kLeftBracket, cmd}, Family::gnomeWeb, "Alt+Left"},
      {{KeyCode::kR, cmd}, Family::gnomeWeb, "Ctrl+R"},
      {{KeyCode::kTab, KeyFlags::kControl}, Family::firefox, "Ctrl+Tab"},
      {{KeyCode::kTab, KeyFlags::kControl | KeyFlags::kShift}, Family::chromium, "Ctrl+Shift+Tab"},
      {{KeyCode::kPageDown, 0}, Family::chromium, "Page Down"},
      {{KeyCode::kHome, 0}, Family::firefox, "Home"},
      {{KeyCode::kReturn, 0}, Family::firefox, "Return"},
      {{KeyCode::kDelete, 0}, Family::chromium, "Backspace"},  // the Mac "delete" key
      {{KeyCode::kEscape, 0}, Family::chromium, "Escape"},
      {{KeyCode::kUp, 0}, Family::firefox, "Up"},
  };
  for (const Case& c : cases) {
    auto chord = Keys::translate(c.key.code, c.key.flags, c.family);
    ASSERT_TRUE(chord) << c.sent;
    EXPECT_EQ(Keys::describe(*chord), c.sent);
  }
  EXPECT_FALSE(Keys::translate(200, 0, Family::chromium)) << "an unknown key is not posted";
  EXPECT_EQ(Keys::familyOf("org.gnome.Epiphany"), Family::gnomeWeb);
  EXPECT_EQ(Keys::familyOf("firefox-esr"), Family::firefox);
  EXPECT_EQ(Keys::familyOf("brave-browser"), Family::chromium);
}

TEST(IniDefaultsTest, ValuesSurviveTheRoundTripInQtsFormat) {
  const std::map<std::string, std::string> values = {
      {"profile.name", "Zoë Ångström"},
      {"profile.email", "ada@example.com"},
      {"profile.phone", " +44 20 7946 0958 "},  // edges kept by quoting
      {"hotkeyPreset", "2"},
      {"odd", "a;b,c=d \"quoted\" back\\slash\nline"},
      {"control", std::string("x\x01"
                              "ab")},
      {"empty", ""},
  };
  const std::string text = Ini::serialize(values);
  EXPECT_EQ(text.rfind("[General]\n", 0), 0u) << text;
  EXPECT_NE(text.find("profile.email=ada@example.com\n"), std::string::npos) << text;
  EXPECT_NE(text.find("profile.phone=\" +44 20 7946 0958 \"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("control=x\\x0001\\x0061\\x0062\n"), std::string::npos)
      << "hex digits after a hex escape are escaped too: " << text;
  EXPECT_EQ(Ini::parse(text), values);
  // As QSettings writes a file of its own.
  EXPECT_EQ(Ini::parse("[General]\r\nhotkeyPreset=1\r\nprofile.name=\"Ada, Countess\"\r\n"
                       "[Other]\r\nkey=v\r\n"),
            (std::map<std::string, std::string>{
                {"hotkeyPreset", "1"}, {"profile.name", "Ada, Countess"}, {"Other/key", "v"}}));
}

TEST(IniDefaultsTest, WritesAreWholeAndSharedWithOtherWriters) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(::testing::TempDir()) / "tovrin-ini";
  fs::remove_all(dir);
  const std::string path = (dir / "tovrin" / "tovrin.conf").string();
  IniDefaults a(path), b(path);
  a.setString("profile.email", "ada@example.com");
  b.setInteger("hotkeyPreset", 3);  // another process's write keeps the first one's
  EXPECT_TRUE(a.lastWriteSucceeded());
  EXPECT_EQ(a.integer("hotkeyPreset"), 3);
  EXPECT_EQ(b.string("profile.email"), "ada@example.com");
  EXPECT_EQ(a.integer("profile.email"), std::nullopt) << "not a number";
  EXPECT_EQ(a.string("profile.name"), std::nullopt);
  for (const auto& entry : fs::directory_iterator(dir / "tovrin")) {
    EXPECT_EQ(entry.path().filename(), "tovrin.conf") << "no temporary file is left behind";
  }
  // A store that cannot be written says so and keeps what it had.
  IniDefaults blocked("/proc/tovrin-cannot-write/tovrin.conf");
  blocked.setString("profile.name", "Ada");
  EXPECT_FALSE(blocked.lastWriteSucceeded());
}

}  // namespace
}  // namespace tovrin

namespace tovrin {
namespace {

// A page read waits for a busy browser but not for a stopped one: the two
// are told apart by the process's own state.
TEST(ProcessStateTest, AStoppedOrGoneProcessCannotAnswerARunningOneMay) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (;;)
      pause();
  }
  auto waitFor = [child](bool stopped) {
    for (int i = 0; i < 200 && atspi::processStopped(child) != stopped; ++i)
      usleep(10000);
    return atspi::processStopped(child);
  };
  EXPECT_FALSE(waitFor(false));
  kill(child, SIGSTOP);
  EXPECT_TRUE(waitFor(true));
  kill(child, SIGCONT);
  EXPECT_FALSE(waitFor(false));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(atspi::processStopped(child));  // reaped: no such process
  EXPECT_TRUE(atspi::processStopped(-1));
}

}  // namespace
}  // namespace tovrin
