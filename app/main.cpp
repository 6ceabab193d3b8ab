#include <CLI/CLI.hpp>
#include <vector>

#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Tovrin: a command palette for web browsers"};
  app.require_subcommand(1);
  std::vector<tovrin::cli::Command> commands = {
      tovrin::cli::addParseCommand(app),  tovrin::cli::addSnapshotCommand(app),
      tovrin::cli::addMatchCommand(app),  tovrin::cli::addRunCommand(app),
      tovrin::cli::addShellCommand(app),  tovrin::cli::addInspectCommand(app),
      tovrin::cli::addDoctorCommand(app), tovrin::cli::addDemoCommand(app),
  };
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  for (const auto& command : commands) {
    if (command.sub->parsed()) return command.run();
  }
  return 2;
}
