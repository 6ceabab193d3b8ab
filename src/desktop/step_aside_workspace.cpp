#include "desktop/step_aside_workspace.h"

#include <thread>
#include <utility>

namespace tovrin::desktop {

StepAsideWorkspace::StepAsideWorkspace(std::shared_ptr<Workspace> inner,
                                       std::function<void()> stepAside,
                                       std::chrono::milliseconds patience)
    : inner_(std::move(inner)), stepAside_(std::move(stepAside)), patience_(patience) {}

std::optional<RunningApplication> StepAsideWorkspace::frontmostApplication() {
  return inner_->frontmostApplication();
}

std::optional<RunningApplication> StepAsideWorkspace::runningApplication(int32_t pid) {
  return inner_->runningApplication(pid);
}

void StepAsideWorkspace::observeActivations(
    std::function<void(const RunningApplication&)> handler) {
  inner_->observeActivations(std::move(handler));
}

void StepAsideWorkspace::openPrivacySettings() {
  inner_->openPrivacySettings();
}

bool StepAsideWorkspace::activate(int32_t pid) {
  auto isFront = [&] {
    auto front = inner_->frontmostApplication();
    return front && front->pid == pid;
  };
  if (isFront()) return true;
  if (stepAside_) stepAside_();
  // The frame turns active a moment after the palette's window is unmapped.
  const auto until = std::chrono::steady_clock::now() + patience_;
  while (std::chrono::steady_clock::now() < until) {
    if (isFront()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  // The user had gone to another window meanwhile: the desktop's own raise,
  // where it has one, and it says whether that worked.
  return inner_->activate(pid);
}

bool StepAsideWorkspace::openURLs(const std::vector<std::string>& urls,
                                  const std::string& bundleID) {
  return inner_->openURLs(urls, bundleID);
}

}  // namespace tovrin::desktop
