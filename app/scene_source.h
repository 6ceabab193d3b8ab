#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "platform/simulated_desktop.h"

namespace tovrin::cli {

extern const char* const kEmbeddedSceneName;
extern const char* const kEmbeddedScene;

// Adds --scene FILE to a subcommand; without it the built-in shop scene is used.
void addSceneOption(CLI::App& sub, std::string& path);

// The desktop of the scene, or nothing after printing why to standard error.
std::shared_ptr<SimulatedDesktop> openScene(const std::string& path);

}  // namespace tovrin::cli
