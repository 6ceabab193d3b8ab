#pragma once

// The workspace of a Wayland session. Wayland tells no client which window
// is in front, so the accessibility bus does: the application whose
// top-level window has the `active` state is the front one (Chromium's
// unnamed popup frames aside). Activations are noticed by asking again
// (pollActivations) and from AT-SPI window activation events; bringing a
// browser to the front is possible only where the compositor offers it
// (sway's IPC), never on GNOME.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "accessibility/platform.h"
#include "platform/linux/atspi/linux_accessibility.h"
#include "platform/linux/session_type.h"

namespace tovrin {

namespace WaylandWindows {
// The process whose window is in front: the first active frame with a name.
std::optional<int32_t> frontPid(const std::vector<AccessibleFrame>& frames);
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

  // Tells the observers when the front application changed since the last
  // call; the owner calls it from its main loop (the command line once).
  void pollActivations();
  [[nodiscard]] bool canRaise() const { return static_cast<bool>(options_.raise); }
  [[nodiscard]] const SessionKind& session() const { return options_.session; }

 private:
  Options options_;
  std::mutex mutex_;
  std::vector<std::function<void(const RunningApplication&)>> observers_;
  std::optional<int32_t> lastActive_;
};

}  // namespace tovrin
