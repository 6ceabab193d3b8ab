#include "platform/linux/wayland/wayland_workspace.h"

#include <chrono>
#include <thread>

#include "platform/linux/process/child_process.h"
#include "platform/linux/process/process_info.h"

namespace tovrin {

std::optional<int32_t> WaylandWindows::frontPid(const std::vector<AccessibleFrame>& frames) {
  for (const AccessibleFrame& f : frames) {
    if (f.active && !f.name.empty() && f.pid > 0) return f.pid;
  }
  return std::nullopt;
}

WaylandWorkspace::WaylandWorkspace(Options options) : options_(std::move(options)) {}

std::optional<RunningApplication> WaylandWorkspace::frontmostApplication() {
  if (!options_.accessibility) return std::nullopt;
  auto pid = WaylandWindows::frontPid(options_.accessibility->frames());
  if (!pid) return std::nullopt;
  return runningApplication(*pid);
}

std::optional<RunningApplication> WaylandWorkspace::runningApplication(int32_t pid) {
  if (!ProcessInfo::alive(pid)) return std::nullopt;
  ProcessIdentity identity = ProcessInfo::identify(ProcessInfo::executableName(pid), "");
  return RunningApplication{pid, identity.applicationID, identity.name, false};
}

void WaylandWorkspace::observeActivations(std::function<void(const RunningApplication&)> handler) {
  std::lock_guard lock(mutex_);
  observers_.push_back(std::move(handler));
}

void WaylandWorkspace::pollActivations() {
  auto front = frontmostApplication();
  std::vector<std::function<void(const RunningApplication&)>> observers;
  {
    std::lock_guard lock(mutex_);
    std::optional<int32_t> pid = front ? std::optional<int32_t>(front->pid) : std::nullopt;
    if (pid == lastActive_) return;
    lastActive_ = pid;
    if (!front) return;
    observers = observers_;
  }
  for (const auto& observer : observers)
    observer(*front);
}

void WaylandWorkspace::openPrivacySettings() {
  std::string error;
  if (options_.session.compositor == Compositor::kde) {
    ChildProcess::startDetached({"systemsettings", "kcm_access"}, error);
  } else {
    ChildProcess::startDetached({"gnome-control-center", "universal-access"}, error);
  }
}

bool WaylandWorkspace::activate(int32_t pid) {
  auto isFront = [&] {
    auto front = frontmostApplication();
    return front && front->pid == pid;
  };
  if (isFront()) return true;
  if (!options_.raise || !options_.raise(pid)) return false;
  // The compositor acts on its own time; the browser says when its window
  // became the active one.
  for (int i = 0; i < 40; ++i) {
    if (isFront()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

bool WaylandWorkspace::openURLs(const std::vector<std::string>& urls, const std::string& bundleID) {
  std::vector<RunningApplication> running;
  if (options_.browsers) running = options_.browsers();
  return ProcessInfo::openURLs(urls, bundleID, running);
}

}  // namespace tovrin
