#pragma once

// The workspace of an X11 desktop: which application is in front (the
// window manager's active window and the process that owns it), running
// processes by id, and what browser a process is.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "accessibility/platform.h"
#include "platform/linux/process/process_info.h"

struct _XDisplay;

namespace tovrin {

class X11Workspace final : public Workspace {
 public:
  // Nothing, with `error` set, when the display cannot be opened.
  static std::shared_ptr<X11Workspace> open(std::string& error);
  ~X11Workspace() override;

  std::optional<RunningApplication> frontmostApplication() override;
  std::optional<RunningApplication> runningApplication(int32_t pid) override;
  void observeActivations(std::function<void(const RunningApplication&)> handler) override;
  void openPrivacySettings() override;
  bool activate(int32_t pid) override;
  bool openURLs(const std::vector<std::string>& urls, const std::string& bundleID) override;

  // Tells the observers when the active application changed since the last
  // call; the owner calls it from its main loop (the command line once).
  void pollActivations();
  // The process owning the top-most window under a global point.
  std::optional<int32_t> pidAtPoint(double x, double y);
  // Every process that owns a top-level window, front-most first.
  std::vector<RunningApplication> windowApplications();
  [[nodiscard]] std::string displayName() const { return displayName_; }
  // Writes what the screen shows of the process's top-most window (the
  // whole screen when it has none) to a PNG file; false with `error` set
  // when it cannot.
  bool screenshot(int32_t pid, const std::string& path, std::string& error);
  // Where the process's top-most window is on the screen; none when it
  // shows no window.
  std::optional<Frame> windowFrame(int32_t pid);
  // Xlib ends the process when a display connection breaks. While
  // `stopping` is set (a program taking its own X server down), the thread
  // that noticed waits instead, for the one stopping to end the process.
  static void holdWhenDisplayLost(const std::atomic<bool>& stopping);

 private:
  std::optional<Frame> topWindowFrame(int32_t pid);  // with the lock held
  explicit X11Workspace(_XDisplay* display);
  std::optional<RunningApplication> describe(int32_t pid, const std::string& windowClass);

  std::mutex mutex_;  // Xlib calls are made under it
  _XDisplay* display_;
  std::string displayName_;
  std::vector<std::function<void(const RunningApplication&)>> observers_;
  std::optional<int32_t> lastActive_;
};

}  // namespace tovrin
