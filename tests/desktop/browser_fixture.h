#pragma once

// Real browsers for end-to-end tests, inside the private desktop that
// tests/desktop/desktop-session.sh starts: each browser gets a fresh profile
// under that desktop's scratch folder, and is stopped (with everything it
// spawned) when its object goes.

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/linux_desktop.h"
#include "platform/linux/process/browser_launch.h"

struct _XDisplay;

namespace tovrin::testing {

using BrowserKind = BrowserFamily;
// Every browser the end-to-end tests drive.
inline constexpr BrowserKind kEveryBrowser[] = {BrowserKind::chromium, BrowserKind::firefox,
                                                BrowserKind::gnomeWeb};
// A name fit for a test's name: "Chromium", "Firefox", "GNOMEWeb".
const char* browserLabel(BrowserKind kind);

struct ProcessResult {
  int exitCode = -1;
  std::string out;  // standard output
  std::string err;  // standard error
  double seconds = 0;
  long maxResidentKB = 0;  // the peak resident memory of the process and its children
};

// Runs the tovrin binary under test with these arguments, `input` on its
// standard input; `wrapper` (such as strace and its options) runs it.
ProcessResult runTovrin(const std::vector<std::string>& args, const std::string& input = {},
                        const std::vector<std::string>& wrapper = {});

// The front page as Tovrin reads it (`tovrin snapshot --json`).
struct PageState {
  std::string title;
  std::string url;
  std::vector<std::string> lines;
  [[nodiscard]] std::string line(std::size_t fromEnd) const {
    return lines.size() > fromEnd ? lines[lines.size() - 1 - fromEnd] : "(no line)";
  }
  [[nodiscard]] bool has(const std::string& text) const {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }
};
PageState pageState();
// Reads the page until `holds` is true of it: a page repaints, scrolls
// smoothly and runs its handlers after the event that changed it.
PageState waitForPage(const std::function<bool(const PageState&)>& holds);

// The path of a page in tests/pages, as a file: address.
std::string pageURL(const std::string& name);
// The same page served over HTTP on the loopback interface.
std::string servedPageURL(const std::string& name);
// A page of a web application saved under tests/pages/<site>, served at
// the address path the application gave it ("/printers/").
std::string savedSiteURL(const std::string& site, const std::string& path);

class Browser {
 public:
  struct Options {
    bool accessibilityFlag = true;  // Chromium's --force-renderer-accessibility
    bool privateInstance = true;    // GNOME Web: not the session's one instance
    bool allowPopups = false;       // a page may open tabs without a click
  };
  // Starts the browser on `url`; check ready() before use.
  static std::unique_ptr<Browser> start(BrowserKind kind, const std::string& url, Options options);
  ~Browser();

  [[nodiscard]] int32_t pid() const { return pid_; }
  [[nodiscard]] BrowserKind kind() const { return kind_; }
  // Waits until the browser's page, read as Tovrin reads it, shows `text`
  // (the document is in the tree and loaded), then brings the browser to
  // the front. False after `seconds` without that.
  bool waitUntilShows(const std::string& text, double seconds = 90);
  // Waits until the browser is on the accessibility bus with a window.
  bool waitForWindow(double seconds = 90);
  // Makes its window the active one and waits for the desktop to agree.
  bool front();
  // Stops or resumes the whole browser (SIGSTOP / SIGCONT).
  void pause();
  void resume();

 private:
  Browser(BrowserKind kind, int32_t pid) : kind_(kind), pid_(pid) {}
  BrowserKind kind_;
  int32_t pid_;
};

// Asks the window manager to close the active window, as its close button
// does; false when no window is active.
bool closeActiveWindow();

// A plain window of the test process (its _NET_WM_PID is ours), mapped on
// top of the others; closed when the object goes.
class TestWindow {
 public:
  TestWindow();
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  // The key presses that reached this window so far.
  int keyPresses();

 private:
  _XDisplay* display_;
  unsigned long window_ = 0;
  int keyPresses_ = 0;
};

// Whether a window of this title is on screen at least `minWidth` wide,
// waiting up to `seconds` for it to be (or, with `shown` false, not to be).
bool windowShown(const std::string& title, int minWidth, bool shown = true, double seconds = 10);
// Waits until the keyboard focus is in a window of this title.
bool windowFocused(const std::string& title, double seconds = 10);
// Presses the keys (X keysym names, "Control_L", "space", "a") together
// through XTest, holds them for `held`, then lets go of them in reverse order.
void pressChord(const std::vector<std::string>& keysyms,
                std::chrono::milliseconds held = std::chrono::milliseconds(0));
// Types plain lower-case text and Return through XTest.
void typeLine(const std::string& text);
// The screen rectangle (x, y, width, height) of the shown window of this
// title, or nothing.
std::optional<std::array<int, 4>> windowRect(const std::string& title);
// A left click at a screen point through XTest.
void clickAt(int x, int y);

// A program of the test's own (the tovrin desktop application), stopped
// with its process group when the object goes.
class Program {
 public:
  explicit Program(const std::vector<std::string>& args);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  // What it has written to standard output and error so far.
  [[nodiscard]] std::string output() const;
  // Waits for it to exit; its exit code, or -1 after `seconds`.
  int wait(double seconds);
  [[nodiscard]] int pid() const { return pid_; }

 private:
  int pid_ = 0;
  std::string log_;
};

// The desktop the tests run in, opened once.
LinuxDesktop& desktop();

}  // namespace tovrin::testing
