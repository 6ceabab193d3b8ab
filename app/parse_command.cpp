#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "intent/intent_json.h"
#include "intent/intent_parser.h"

namespace tovrin::cli {
namespace {

struct ParseOptions {
  std::vector<std::string> words;
  bool json = false;
  bool fromStdin = false;
};

// Prints one command's intent; false when it has none.
bool printOne(const std::string& command, bool json) {
  std::optional<Intent> intent = IntentParser::parse(command);
  if (json) {
    std::cout << (intent ? dumpJson(toJson(*intent)) : "null") << '\n';
  } else {
    std::cout << (intent ? intent->title() : "(no intent)") << '\n';
  }
  return intent.has_value();
}

}  // namespace

Command addParseCommand(CLI::App& app) {
  auto options = std::make_shared<ParseOptions>();
  CLI::App* sub = app.add_subcommand(
      "parse", "Print what a typed command would do (its intent's title), without a browser");
  sub->add_option("command", options->words,
                  "The command, e.g. \"click the second Sign in button\"");
  sub->add_flag("--json", options->json, "Print the intent as one JSON object (null for none)");
  sub->add_flag("--stdin", options->fromStdin, "Read commands from standard input, one per line");
  auto run = [options, sub]() {
    if (options->fromStdin == !options->words.empty()) {
      std::cerr << "tovrin parse: give one command, or --stdin\n" << sub->help();
      return 2;
    }
    if (!options->fromStdin) {
      std::string command;
      for (const auto& word : options->words)
        command += (command.empty() ? "" : " ") + word;
      return printOne(command, options->json) ? 0 : 1;
    }
    bool all = true;
    for (std::string line; std::getline(std::cin, line);)
      all = printOne(line, options->json) && all;
    return all ? 0 : 1;
  };
  return Command{sub, run};
}

}  // namespace tovrin::cli
