#include "scene_source.h"

#include <iostream>

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

}  // namespace tovrin::cli
