#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "accessibility/browser.h"
#include "actions/outcome.h"
#include "ai/language_model.h"
#include "content/page_snapshot.h"
#include "platform/linux/linux_desktop.h"
#include "platform/simulated_desktop.h"

namespace tovrin::cli {

extern const char* const kEmbeddedSceneName;
extern const char* const kEmbeddedScene;

// Which desktop a command acts on: a scene file (or "shop", the built-in
// scene) for the simulated desktop, else the real one, optionally recorded
// to or replayed from a file of AT-SPI replies.
struct DesktopChoice {
  std::string scene;
  std::string record;
  std::string replay;
  [[nodiscard]] bool simulated() const { return !scene.empty(); }
};

// Adds --scene FILE|shop, --record FILE and --replay FILE to a subcommand.
void addDesktopOptions(CLI::App& sub, DesktopChoice& choice);

// An open desktop of either kind.
struct Desktop {
  Platform platform;
  std::shared_ptr<SimulatedDesktop> simulated;  // set for a scene
  std::shared_ptr<LinuxDesktop> real;           // set for the real desktop
};

// The desktop, or nothing after printing why (and how to fix it) to
// standard error.
std::optional<Desktop> openDesktop(const DesktopChoice& choice);

// The browser a command acts on, or the failure result that says why not:
// Tovrin is not trusted, or no supported browser is in front.
std::variant<BrowserTarget, ActionResult> findBrowser(const Desktop& desktop);
// The same, printing the failure to standard error.
std::optional<BrowserTarget> frontBrowser(const Desktop& desktop);

// The page of the target, or nothing after printing why. On the real
// desktop an empty read is explained: a Chromium without its accessibility
// flag, a browser started before support was on, one that does not answer.
std::optional<PageSnapshot> readPage(const Desktop& desktop, const BrowserTarget& target);

// Why a browser's tree cannot be read, with the fix; nothing when it can.
std::optional<std::string> unreadableReason(LinuxDesktop& desktop, const RunningApplication& app);

// The desktop of the scene, or nothing after printing why to standard error.
std::shared_ptr<SimulatedDesktop> openScene(const std::string& path);

// A desktop with the model and profile values of one run.
struct Session {
  Desktop desktop;
  std::shared_ptr<LanguageModel> model;
};
// Nothing after printing why, when the desktop, the model script or a
// profile value cannot be used.
std::optional<Session> openSession(const DesktopChoice& choice, const std::string& modelScript,
                                   const std::vector<std::string>& profile);
std::shared_ptr<LanguageModel> loadModelScript(const std::string& path, std::string& error);

// Adds the repeatable --profile name=…|email=…|phone=… option.
void addProfileOption(CLI::App& sub, std::vector<std::string>& settings);
// Stores the profile values in the desktop's defaults; false after printing
// why when one is malformed.
bool applyProfile(Defaults& defaults, const std::vector<std::string>& settings);

}  // namespace tovrin::cli
