#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ai/language_model.h"
#include "platform/simulated_desktop.h"

namespace tovrin::cli {

extern const char* const kEmbeddedSceneName;
extern const char* const kEmbeddedScene;

// Adds --scene FILE to a subcommand; without it the built-in shop scene is used.
void addSceneOption(CLI::App& sub, std::string& path);

// The desktop of the scene, or nothing after printing why to standard error.
std::shared_ptr<SimulatedDesktop> openScene(const std::string& path);

// A scene's desktop with the model and profile values of one run.
struct Session {
  std::shared_ptr<SimulatedDesktop> desktop;
  std::shared_ptr<LanguageModel> model;
};
// Nothing after printing why, when the scene, the model script or a profile
// value cannot be used.
std::optional<Session> openSession(const std::string& scene, const std::string& modelScript,
                                   const std::vector<std::string>& profile);
std::shared_ptr<LanguageModel> loadModelScript(const std::string& path, std::string& error);

// Adds the repeatable --profile name=…|email=…|phone=… option.
void addProfileOption(CLI::App& sub, std::vector<std::string>& settings);
// Stores the profile values in the desktop's defaults; false after printing
// why when one is malformed.
bool applyProfile(SimulatedDesktop& desktop, const std::vector<std::string>& settings);

}  // namespace tovrin::cli
