#include "platform/linux/wayland/wayland_workspace.h"

#include <algorithm>
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

std::vector<int32_t> WaylandWindows::activationHistory(const std::vector<AccessibleFrame>& frames) {
  std::vector<int32_t> out;
  auto front = frontPid(frames);
  for (const AccessibleFrame& f : frames) {
    if (f.name.empty() || f.pid <= 0 || f.pid == front) continue;
    if (std::find(out.begin(), out.end(), f.pid) == out.end()) out.push_back(f.pid);
  }
  if (front) out.push_back(*front);
  return out;
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
  if (options_.accessibility) {
    for (int32_t pid : WaylandWindows::activationHistory(options_.accessibility->frames())) {
      if (auto app = runningApplication(pid)) handler(*app);
    }
  }
  std::lock_guard lock(mutex_);
  observers_.push_back(std::move(handler));
  if (events_ || !options_.accessibility) return;
  std::string error;
  events_ = AccessibilityEvents::open(
      {AccessibilityEvent::Kind::windowActivated},
      [this](const AccessibilityEvent& event) {
        std::lock_guard heardLock(mutex_);
        heard_.push_back(event.sender);
      },
      error);
}

void WaylandWorkspace::pollActivations() {
  std::vector<std::string> senders;
  {
    std::lock_guard lock(mutex_);
    senders.swap(heard_);
  }
  std::vector<int32_t> activated;
  for (const std::string& sender : senders) {
    if (auto pid = events_->pidOf(sender)) activated.push_back(*pid);
  }
  if (!hearsActivations()) {
    if (auto front = frontmostApplication()) activated.push_back(front->pid);
  }
  for (int32_t pid : activated) {
    std::vector<std::function<void(const RunningApplication&)>> observers;
    {
      std::lock_guard lock(mutex_);
      if (pid == lastActive_) continue;
      lastActive_ = pid;
      observers = observers_;
    }
    auto app = runningApplication(pid);
    if (!app) continue;
    for (const auto& observer : observers)
      observer(*app);
  }
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
