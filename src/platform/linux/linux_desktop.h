#pragma once

// The real Linux desktop behind Tovrin's platform interface: AT-SPI2 for the
// browsers' trees on every session; for windows, keys and the clipboard the
// services of the session it runs in: X11, or Wayland with the route its
// compositor offers. Also answers what a
// new user needs to know when something does not work: is there a display,
// an accessibility bus, is assistive-technology support on, and can each
// running browser's tree be read.

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "accessibility/platform.h"
#include "platform/linux/atspi/linux_accessibility.h"
#include "platform/linux/session_type.h"
#include "platform/linux/wayland/wayland_workspace.h"
#include "platform/linux/x11/x11_workspace.h"

namespace tovrin {

struct AccessibilityStatus {
  bool sessionBus = false;        // the session's message bus answers
  bool accessibilityBus = false;  // the accessibility bus is announced and reachable
  bool enabled = false;           // assistive-technology support is on (org.a11y.Status IsEnabled)
  std::string problem;            // what went wrong, when something did
};

// One running browser as the doctor sees it.
struct BrowserCheck {
  RunningApplication app;
  TreeAccess access = TreeAccess::notOnBus;
  bool wokenByTovrin = false;  // bare windows until Tovrin asked it to build its tree
};

class LinuxDesktop {
 public:
  struct Options {
    std::string recordFile;  // append every AT-SPI call and reply here
    std::string replayFile;  // read the desktop from a recording instead
  };

  // The desktop, or the reason it cannot be used (in words for the user).
  static std::variant<std::shared_ptr<LinuxDesktop>, std::string> open(const Options& options);

  [[nodiscard]] Platform platform() const;
  [[nodiscard]] LinuxAccessibility& accessibility() const { return *accessibility_; }
  [[nodiscard]] std::shared_ptr<Workspace> workspace() const { return workspace_; }
  // The X11 workspace; null on Wayland and when replaying a recording.
  [[nodiscard]] X11Workspace* x11() const { return x11_.get(); }
  // The Wayland workspace; null on X11 and when replaying a recording.
  [[nodiscard]] WaylandWorkspace* wayland() const { return wayland_.get(); }
  [[nodiscard]] const SessionKind& session() const { return session_; }
  // Tells the workspace's observers of an activation since the last call.
  void pollActivations();
  // What pressing keys here needs and lacks, in words for the user; empty
  // when keys can be sent.
  [[nodiscard]] std::string keyProblem() const;

  static AccessibilityStatus status();
  // Turns assistive-technology support on for this session and, where the
  // desktop keeps the setting (GSettings), for later sessions too. Returns
  // what was done, one line each.
  static std::vector<std::string> enableAccessibility();

  // The browsers that are running (with windows, or as processes), checked;
  // a Chromium showing bare windows is first prepared as a command would.
  std::vector<BrowserCheck> browsers();
  // The main processes of the browsers running in this session (on its
  // session bus), by /proc.
  static std::vector<RunningApplication> browserProcesses();
  // The running Chromium-family browsers that were started without the
  // accessibility flag: they show no pages until restarted with it.
  static std::vector<RunningApplication> browsersToRestart();

 private:
  LinuxDesktop() = default;
  void openWayland();
  std::shared_ptr<LinuxAccessibility> accessibility_;
  std::shared_ptr<Workspace> workspace_;
  std::shared_ptr<X11Workspace> x11_;
  std::shared_ptr<WaylandWorkspace> wayland_;
  SessionKind session_;
  std::shared_ptr<SyntheticInput> input_;
  std::shared_ptr<Defaults> defaults_;
  std::shared_ptr<Pasteboard> pasteboard_;
  std::shared_ptr<Clock> clock_ = std::make_shared<SystemClock>();
};

// The header of a recording: which application was in front when it was
// made, so a replay can offer the same target. One line:
// "# frontmost PID APPLICATION-ID NAME".
std::string recordingHeader(const RunningApplication& app);

}  // namespace tovrin
