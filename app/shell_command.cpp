// The terminal palette, on the real desktop or a scene: each line read is
// what the user types into the palette.

#include <unistd.h>

#include <iostream>
#include <memory>

#include "commands.h"
#include "intent/intent_parser.h"
#include "palette_terminal.h"
#include "scene_source.h"

namespace tovrin::cli {

namespace {

struct ShellOptions {
  DesktopChoice desktop;
  std::string modelScript;
  std::vector<std::string> profile;
  bool effects = false;
};

int run(const ShellOptions& options) {
  auto session = openSession(options.desktop, options.modelScript, options.profile);
  if (!session) return 2;
  PaletteTerminal palette(*session, std::cout);
  if (!palette.trusted()) std::cout << "Tovrin needs Accessibility access\n";

  const bool interactive = isatty(STDIN_FILENO) != 0;
  // What each command did is recorded only on the simulated desktop.
  auto desktop = session->desktop.simulated;
  std::size_t effectsShown = desktop ? desktop->effects().size() : 0;
  auto showEffects = [&] {
    if (!options.effects || !desktop) return;
    auto all = desktop->effects();
    for (std::size_t i = effectsShown; i < all.size(); ++i)
      std::cout << "    ⚙ " << all[i].describe() << '\n';
    effectsShown = all.size();
  };

  for (std::string line;;) {
    if (interactive) std::cout << "› " << std::flush;
    if (!std::getline(std::cin, line)) break;
    if (!interactive) std::cout << "› " << IntentParser::shownCommand(line) << '\n';
    palette.handle(line);
    showEffects();
  }
  return 0;
}

}  // namespace

Command addShellCommand(CLI::App& app) {
  auto options = std::make_shared<ShellOptions>();
  CLI::App* sub = app.add_subcommand("shell",
                                     "The palette in a terminal: type commands, answer y/n and "
                                     "numbers; reads a script from a pipe");
  addDesktopOptions(*sub, options->desktop);
  sub->add_option("--model", options->modelScript,
                  "A script for the on-device model (default: no model)");
  addProfileOption(*sub, options->profile);
  sub->add_flag("--effects", options->effects,
                "Also print what each command did to the simulated desktop");
  return Command{sub, [options] { return run(*options); }};
}

}  // namespace tovrin::cli
