#include "scene_source.h"

#include <iostream>
#include <map>

#include "actions/input.h"
#include "ai/model_settings.h"

namespace tovrin::cli {
namespace {

// Profile values given for one run on the real desktop, over the user's
// saved ones; nothing given here is written.
class RunDefaults final : public Defaults {
 public:
  explicit RunDefaults(std::shared_ptr<Defaults> saved) : saved_(std::move(saved)) {}
  std::optional<std::string> string(const std::string& key) override {
    auto it = strings_.find(key);
    if (it != strings_.end()) return it->second;
    return saved_ ? saved_->string(key) : std::nullopt;
  }
  std::optional<int64_t> integer(const std::string& key) override {
    auto it = integers_.find(key);
    if (it != integers_.end()) return it->second;
    return saved_ ? saved_->integer(key) : std::nullopt;
  }
  void setString(const std::string& key, const std::string& value) override {
    strings_[key] = value;
  }
  void setInteger(const std::string& key, int64_t value) override { integers_[key] = value; }

 private:
  std::map<std::string, std::string> strings_;
  std::map<std::string, int64_t> integers_;
  std::shared_ptr<Defaults> saved_;
};

}  // namespace

void addDesktopOptions(CLI::App& sub, DesktopChoice& choice) {
  sub.add_option("--scene", choice.scene,
                 "Act on the simulated desktop of this scene file (\"shop\": the built-in "
                 "scene); without it, on the real desktop");
  sub.add_option("--record", choice.record,
                 "Real desktop: append every accessibility call and reply to this file");
  sub.add_option("--replay", choice.replay,
                 "Read the desktop from a recording made with --record instead of the bus");
  sub.get_option("--record")->excludes(sub.get_option("--scene"));
  sub.get_option("--replay")->excludes(sub.get_option("--scene"));
  sub.get_option("--replay")->excludes(sub.get_option("--record"));
}

std::shared_ptr<SimulatedDesktop> openScene(const std::string& path) {
  auto loaded = path.empty() || path == "shop"
                    ? SimulatedDesktop::fromJson(kEmbeddedScene, kEmbeddedSceneName)
                    : SimulatedDesktop::load(path);
  if (auto* error = std::get_if<SceneError>(&loaded)) {
    std::cerr << "tovrin: " << error->message << '\n';
    return nullptr;
  }
  return std::get<std::shared_ptr<SimulatedDesktop>>(loaded);
}

std::optional<Desktop> openDesktop(const DesktopChoice& choice) {
  Desktop desktop;
  if (choice.simulated()) {
    desktop.simulated = openScene(choice.scene);
    if (!desktop.simulated) return std::nullopt;
    desktop.platform = desktop.simulated->platform();
    return desktop;
  }
  auto opened = LinuxDesktop::open({.recordFile = choice.record, .replayFile = choice.replay});
  if (auto* error = std::get_if<std::string>(&opened)) {
    std::cerr << *error << '\n';
    return std::nullopt;
  }
  desktop.real = std::get<std::shared_ptr<LinuxDesktop>>(opened);
  desktop.platform = desktop.real->platform();
  desktop.platform.defaults = std::make_shared<RunDefaults>(desktop.platform.defaults);
  desktop.real->pollActivations();
  return desktop;
}

std::variant<BrowserTarget, ActionResult> findBrowser(const Desktop& desktop) {
  ActionResult why;
  why.kind = ActionResult::Kind::failure;
  if (!desktop.platform.accessibility->isProcessTrusted()) {
    why.headline = "Tovrin needs Accessibility access";
    if (desktop.real) {
      why.body =
          "Assistive technology support is off in this session, so browsers do not show their "
          "pages.\nRun “tovrin doctor --fix” to turn it on, then restart your browser.";
    }
    return why;
  }
  BrowserTracker tracker(desktop.platform);
  tracker.start();
  if (std::optional<BrowserTarget> target = tracker.current()) return *target;
  why.headline = "No supported browser in front";
  why.body = "Open " + BrowserRegistry::supportedNames() + ", then press the hotkey again.";
  return why;
}

std::optional<BrowserTarget> frontBrowser(const Desktop& desktop) {
  auto found = findBrowser(desktop);
  if (auto* target = std::get_if<BrowserTarget>(&found)) return *target;
  const auto& why = std::get<ActionResult>(found);
  std::cerr << why.headline << '\n';
  if (why.body) std::cerr << *why.body << '\n';
  return std::nullopt;
}

std::optional<std::string> unreadableReason(LinuxDesktop& desktop, const RunningApplication& app) {
  const std::string name = app.localizedName.empty() ? app.bundleID : app.localizedName;
  switch (desktop.accessibility().treeAccess(app.pid)) {
    case TreeAccess::readable:
      return std::nullopt;
    case TreeAccess::bareSkeleton:
      return name + " shows Tovrin only empty windows\n" + name +
             " did not build its page tree when Tovrin asked; it does when started with "
             "--force-renderer-accessibility.\nRun “tovrin doctor --fix” to restart it that way "
             "(your tabs are restored), or start it yourself with that flag.";
    case TreeAccess::notOnBus:
      return name +
             " isn't on the accessibility bus\nIt started before assistive technology "
             "support was on. Quit and reopen it, or run “tovrin doctor --fix”.";
    case TreeAccess::noWindow:
      return "Couldn't read " + name + "\nNo window is accessible. Make sure " + name +
             " has an open window and try again.";
    case TreeAccess::unresponsive:
      return name +
             " is not responding\nIt did not answer in time. Wait until it responds, "
             "or quit and reopen it.";
  }
  return std::nullopt;
}

std::optional<PageSnapshot> readPage(const Desktop& desktop, const BrowserTarget& target) {
  std::optional<PageSnapshot> snap = PageSnapshot::capture(target);
  if (desktop.real && (!snap || !snap->webArea)) {
    if (auto reason = unreadableReason(*desktop.real, target.app)) {
      std::cerr << *reason << '\n';
      return std::nullopt;
    }
  }
  if (!snap) {
    std::string name = target.browserName();
    std::cerr << "Couldn't read " << name << "\nNo window is accessible. Make sure " << name
              << " has an open window and try again.\n";
  }
  return snap;
}

void addProfileOption(CLI::App& sub, std::vector<std::string>& settings) {
  sub.add_option("--profile", settings,
                 "A saved profile value: name=…, email=… or phone=… (repeatable)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
}

bool applyProfile(Defaults& defaults, const std::vector<std::string>& settings) {
  for (const std::string& setting : settings) {
    auto eq = setting.find('=');
    auto field = profileFieldFromRaw(setting.substr(0, eq));
    if (eq == std::string::npos || !field) {
      std::cerr << "tovrin: --profile takes name=…, email=… or phone=…, not “" << setting << "”\n";
      return false;
    }
    defaults.setString(Profile::key(*field), setting.substr(eq + 1));
  }
  return true;
}

std::optional<Session> openSession(const DesktopChoice& choice, const std::string& modelScript,
                                   const std::vector<std::string>& profile) {
  std::string error;
  auto model = loadModelScript(modelScript, error);
  if (!model) {
    std::cerr << "tovrin: " << error << '\n';
    return std::nullopt;
  }
  auto desktop = openDesktop(choice);
  if (!desktop) return std::nullopt;
  if (!applyProfile(*desktop->platform.defaults, profile)) return std::nullopt;
  // Without a script, the local model server the user set up (a scene
  // carries its own store, so it sets up none unless it says so).
  if (modelScript.empty()) model = std::make_shared<ConfiguredModel>(desktop->platform.defaults);
  return Session{std::move(*desktop), model};
}

}  // namespace tovrin::cli
