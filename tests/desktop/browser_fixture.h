#pragma once

// Real browsers for end-to-end tests, inside the private desktop that
// tests/desktop/desktop-session.sh starts: each browser gets a fresh profile
// under that desktop's scratch folder, and is stopped (with everything it
// spawned) when its object goes.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/linux_desktop.h"

struct _XDisplay;

namespace tovrin::testing {

enum class BrowserKind { chromium, firefox };
const char* browserLabel(BrowserKind kind);

struct ProcessResult {
  int exitCode = -1;
  std::string out;  // standard output
  std::string err;  // standard error
  double seconds = 0;
};

// Runs the tovrin binary under test with these arguments, `input` on its
// standard input.
ProcessResult runTovrin(const std::vector<std::string>& args, const std::string& input = {});

// The path of a page in tests/pages, as a file: address.
std::string pageURL(const std::string& name);
// The same page served over HTTP on the loopback interface.
std::string servedPageURL(const std::string& name);

class Browser {
 public:
  struct Options {
    bool accessibilityFlag = true;  // Chromium's --force-renderer-accessibility
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

// A plain window of the test process (its _NET_WM_PID is ours), mapped on
// top of the others; closed when the object goes.
class TestWindow {
 public:
  TestWindow();
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

 private:
  _XDisplay* display_;
  unsigned long window_ = 0;
};

// The desktop the tests run in, opened once.
LinuxDesktop& desktop();

}  // namespace tovrin::testing
