#include "scene_source.h"

#include <iostream>

#include "actions/input.h"

namespace tovrin::cli {

void addSceneOption(CLI::App& sub, std::string& path) {
  sub.add_option("--scene", path,
                 "A scene file for the simulated desktop (default: the built-in shop scene)");
}

std::shared_ptr<SimulatedDesktop> openScene(const std::string& path) {
  auto loaded = path.empty() ? SimulatedDesktop::fromJson(kEmbeddedScene, kEmbeddedSceneName)
                             : SimulatedDesktop::load(path);
  if (auto* error = std::get_if<SceneError>(&loaded)) {
    std::cerr << "tovrin: " << error->message << '\n';
    return nullptr;
  }
  return std::get<std::shared_ptr<SimulatedDesktop>>(loaded);
}

void addProfileOption(CLI::App& sub, std::vector<std::string>& settings) {
  sub.add_option("--profile", settings,
                 "A saved profile value: name=…, email=… or phone=… (repeatable)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
}

bool applyProfile(SimulatedDesktop& desktop, const std::vector<std::string>& settings) {
  for (const std::string& setting : settings) {
    auto eq = setting.find('=');
    auto field = profileFieldFromRaw(setting.substr(0, eq));
    if (eq == std::string::npos || !field) {
      std::cerr << "tovrin: --profile takes name=…, email=… or phone=…, not “" << setting << "”\n";
      return false;
    }
    desktop.setString(Profile::key(*field), setting.substr(eq + 1));
  }
  return true;
}

std::optional<Session> openSession(const std::string& scene, const std::string& modelScript,
                                   const std::vector<std::string>& profile) {
  auto desktop = openScene(scene);
  if (!desktop) return std::nullopt;
  std::string error;
  auto model = loadModelScript(modelScript, error);
  if (!model) {
    std::cerr << "tovrin: " << error << '\n';
    return std::nullopt;
  }
  if (!applyProfile(*desktop, profile)) return std::nullopt;
  return Session{desktop, model};
}

}  // namespace tovrin::cli
