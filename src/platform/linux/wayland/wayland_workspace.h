#pragma once

// The workspace of a Wayland session. Wayland tells no client which window
// is in front, so the accessibility bus does: the application whose
// top-level window has the `active` state is the front one (Chromium's
// unnamed popup frames aside). Activations are heard as AT-SPI window
// activation events and handed to the observers on the owner's thread
// (pollActivations); without the events, the frames are asked again there.
// Bringing a browser to the front is possible only where the compositor
// offers it (sway's IPC), never on GNOME.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "accessibility/platform.h"
#include "platform/linux/atspi/accessibility_events.h"
#include "platform/linux/atspi/linux_accessibility.h"
#include "platform/linux/session_type.h"

namespace tovrin {

namespace WaylandWindows {
// The process whose window is in front: the first active frame with a name.
std::optional<int32_t> frontPid(const std::vector<AccessibleFrame>& frames);
// The processes with a named window, each once, the active one last: what
// stands in for the activations before Tovrin ran (Wayland keeps no
// stacking order a client can read).
std::vector<int32_t> activationHistory(const std::vector<AccessibleFrame>& frames);
}  // namespace WaylandWindows

class WaylandWorkspace final : public Workspace {
 public:
  struct Options {
    SessionKind session;
    std::shared_ptr<LinuxAccessibility> accessibility;
    // Brings a process's window to the front; unset where the compositor
    // lets no program do that (GNOME).
    std::function<bool(int32_t pid)> raise;
    // The browsers running now, for opening addresses in them.
    std::function<std::vector<RunningApplication>()> browsers;
  };
  explicit WaylandWorkspace(Options options);

  std::optional<RunningApplication> frontmostApplication() override;
  std::optional<RunningApplication> runningApplication(int32_t pid) override;
  void observeActivations(std::function<void(const RunningApplication&)> handler) override;
  void openPrivacySettings() override;
  bool activate(int32_t pid) override;
  bool openURLs(const std::vector<std::string>& urls, const std::string& bundleID) override;

  // Tells the observers of the activations since the last call; the owner
  // calls it from its main loop (the command line once).
  void pollActivations();
  // Whether activations are heard as events (otherwise they are polled).
  [[nodiscard]] bool hearsActivations() const { return events_ != nullptr; }
  [[nodiscard]] bool canRaise() const { return static_cast<bool>(options_.raise); }
  [[nodiscard]] const SessionKind& session() const { return options_.session; }

 private:
  Options options_;
  std::mutex mutex_;
  std::vector<std::function<void(const RunningApplication&)>> observers_;
  std::optional<int32_t> lastActive_;
  // Heard on the events' thread, handed over in pollActivations.
  std::vector<std::string> heard_;  // senders on the accessibility bus
  std::unique_ptr<AccessibilityEvents> events_;
};

}  // namespace tovrin
