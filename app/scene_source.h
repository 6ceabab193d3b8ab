#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "platform/simulated_desktop.h"

namespace tovrin::cli {

extern const char* const kEmbeddedSceneName;
extern const char* const kEmbeddedScene;

// Adds --scene FILE to a subcommand; without it the built-in shop scene is used.
void addSceneOption(CLI::App& sub, std::string& path);

// The desktop of the scene, or nothing after printing why to standard error.
std::shared_ptr<SimulatedDesktop> openScene(const std::string& path);

// Adds the repeatable --profile name=…|email=…|phone=… option.
void addProfileOption(CLI::App& sub, std::vector<std::string>& settings);
// Stores the profile values in the desktop's defaults; false after printing
// why when one is malformed.
bool applyProfile(SimulatedDesktop& desktop, const std::vector<std::string>& settings);

}  // namespace tovrin::cli
