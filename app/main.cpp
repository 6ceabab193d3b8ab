#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Tovrin: a command palette for web browsers"};
  // No subcommand starts the desktop application.
  app.require_subcommand(0, 1);
  std::string scene;
  app.add_option("--scene", scene,
                 "Run the desktop application on a scene file (or the built-in shop scene)");
  std::vector<tovrin::cli::Command> commands = {
      tovrin::cli::addParseCommand(app),  tovrin::cli::addSnapshotCommand(app),
      tovrin::cli::addMatchCommand(app),  tovrin::cli::addRunCommand(app),
      tovrin::cli::addShellCommand(app),  tovrin::cli::addInspectCommand(app),
      tovrin::cli::addDoctorCommand(app), tovrin::cli::addDemoCommand(app),
      tovrin::cli::addModelCommand(app),
  };
  for (auto& remote : tovrin::cli::addRemoteCommands(app))
    commands.push_back(std::move(remote));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  for (const auto& command : commands) {
    if (command.sub->parsed()) return command.run();
  }
  return tovrin::cli::runDesktopApplication(argc, argv, scene);
}
