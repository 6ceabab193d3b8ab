#pragma once

// Where only the compositor moves the keyboard (Wayland), a palette in front
// keeps the browser from being the active window, and on some desktops no
// program may raise another's window at all. Before a command types or
// presses keys the palette steps aside; the compositor hands the focus back
// to the window the user was in, and the browser's frame saying it is active
// is what lets the keys go. Everything else is the desktop's own workspace.

#include <chrono>
#include <functional>
#include <memory>

#include "accessibility/platform.h"

namespace tovrin::desktop {

class StepAsideWorkspace final : public Workspace {
 public:
  // `stepAside` hides the palette; it is called from the command's thread
  // and returns once the palette is gone (or gave up waiting for it).
  StepAsideWorkspace(std::shared_ptr<Workspace> inner, std::function<void()> stepAside,
                     std::chrono::milliseconds patience = std::chrono::milliseconds(2000));

  std::optional<RunningApplication> frontmostApplication() override;
  std::optional<RunningApplication> runningApplication(int32_t pid) override;
  void observeActivations(std::function<void(const RunningApplication&)> handler) override;
  void openPrivacySettings() override;
  // Steps aside, waits for the compositor to make the browser active, and
  // only then (not in time) asks the desktop's own way to raise it.
  bool activate(int32_t pid) override;
  bool openURLs(const std::vector<std::string>& urls, const std::string& bundleID) override;

 private:
  std::shared_ptr<Workspace> inner_;
  std::function<void()> stepAside_;
  std::chrono::milliseconds patience_;
};

}  // namespace tovrin::desktop
