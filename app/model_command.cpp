// `tovrin model`: which local model server Tovrin uses, in the per-user
// store the desktop application shares. `model` alone tells the status and
// the models the server offers; `model set` and `model off` change it.

#include <iostream>
#include <memory>

#include "ai/model_settings.h"
#include "commands.h"
#include "platform/linux/ini_defaults.h"

namespace tovrin::cli {
namespace {

struct ModelOptions {
  std::string dialect;
  std::string address;
  std::string name;
};

int showStatus(Defaults& store) {
  ConfiguredModel model(std::shared_ptr<Defaults>(&store, [](Defaults*) {}));
  std::cout << model.status() << '\n';
  auto server = model.current();
  if (!server) return 0;
  const LocalServerModel::Probe probe = server->probe();
  if (probe.state == LocalServerModel::Probe::State::refused) return 1;
  if (probe.state == LocalServerModel::Probe::State::unreachable) {
    std::cout << "No answer from " << server->config().address << " (" << probe.detail
              << "). Start the server, or choose another with “tovrin model set”.\n";
    return 1;
  }
  if (probe.models.empty()) {
    std::cout << "The server offers no models.\n";
  } else {
    std::cout << "The server offers:\n";
    for (const std::string& name : probe.models)
      std::cout << "  " << name
                << (LocalServer::offers({name}, server->config().model) ? "  (in use)" : "")
                << '\n';
  }
  return probe.state == LocalServerModel::Probe::State::ready ? 0 : 1;
}

}  // namespace

Command addModelCommand(CLI::App& app) {
  auto options = std::make_shared<ModelOptions>();
  CLI::App* sub = app.add_subcommand(
      "model", "The local model server Tovrin asks (on this computer only), or built-in rules");
  CLI::App* set = sub->add_subcommand("set", "Use a model server on this computer");
  set->add_option("kind", options->dialect, "ollama or openai (an OpenAI-compatible server)")
      ->required();
  set->add_option("address", options->address, "Its address, such as http://127.0.0.1:11434")
      ->required();
  set->add_option("model", options->name, "The model's name as the server lists it")->required();
  CLI::App* off = sub->add_subcommand("off", "Use the built-in rules only");
  sub->require_subcommand(0, 1);
  return {sub, [options, set, off]() -> int {
            IniDefaults store;
            if (off->parsed()) {
              ModelSettings::save(store, std::nullopt);
              if (!store.lastWriteSucceeded()) {
                std::cerr << "tovrin: could not write " << Ini::defaultPath() << '\n';
                return 1;
              }
              std::cout << kBuiltInRulesStatus << '\n';
              return 0;
            }
            if (set->parsed()) {
              auto dialect = LocalServer::dialectFromName(options->dialect);
              if (!dialect) {
                std::cerr << "tovrin: the server kind is ollama or openai, not “"
                          << options->dialect << "”\n";
                return 2;
              }
              auto checked = LocalServer::loopbackEndpoint(options->address, *dialect);
              if (auto* refusal = std::get_if<std::string>(&checked)) {
                std::cerr << "tovrin: " << *refusal << ". Nothing was changed.\n";
                return 2;
              }
              if (options->name.empty()) {
                std::cerr << "tovrin: give the model's name as the server lists it\n";
                return 2;
              }
              ModelSettings::save(store, ServerConfig{*dialect, options->address, options->name});
              if (!store.lastWriteSucceeded()) {
                std::cerr << "tovrin: could not write " << Ini::defaultPath() << '\n';
                return 1;
              }
            }
            return showStatus(store);
          }};
}

}  // namespace tovrin::cli
