#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

namespace tovrin::cli {

// A subcommand registered on the app, with what runs it once the arguments
// are parsed; the run's result is the exit code.
struct Command {
  CLI::App* sub = nullptr;
  std::function<int()> run;
};

Command addParseCommand(CLI::App& app);
Command addSnapshotCommand(CLI::App& app);
Command addMatchCommand(CLI::App& app);
Command addRunCommand(CLI::App& app);
Command addShellCommand(CLI::App& app);
Command addInspectCommand(CLI::App& app);
Command addDoctorCommand(CLI::App& app);
Command addDemoCommand(CLI::App& app);
Command addModelCommand(CLI::App& app);
// toggle, show, hide and quit: the running application, over the session bus.
std::vector<Command> addRemoteCommands(CLI::App& app);
// The desktop application itself; `scene` puts it on the simulated desktop.
int runDesktopApplication(int argc, char** argv, const std::string& scene);

}  // namespace tovrin::cli
