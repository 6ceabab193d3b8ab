// The terminal palette: the real PaletteViewModel driven line by line. Each
// line is what the user types into the palette; Return runs it. Phases are
// printed as they change; a confirmation is answered y or n, a choice with
// its number; "why" shows the trail, "reveal N" reveals a found item, "esc"
// is the Escape key.

#include <unistd.h>

#include <charconv>
#include <iostream>
#include <memory>

#include "actions/highlighter.h"
#include "ai/scripted_model.h"
#include "base/overloaded.h"
#include "base/unicode.h"
#include "commands.h"
#include "scene_source.h"
#include "ui/palette_controls.h"
#include "ui/palette_view_model.h"

namespace tovrin::cli {

namespace {

struct ShellOptions {
  std::string scene;
  std::string modelScript;
  std::vector<std::string> profile;
  bool effects = false;
};

class Printer {
 public:
  explicit Printer(PaletteViewModel& vm) : vm_(vm) {}

  // Prints the phase when it differs from the last one printed.
  void phaseChanged() {
    std::visit(Overloaded{
                   [&](const PaletteViewModel::Idle&) { last_.clear(); },
                   [&](const PaletteViewModel::Working& w) { once("  … " + w.status); },
                   [&](const ActionResult& r) {
                     std::string text = "  " + std::string(symbol(r.kind)) + " " + r.headline;
                     if (r.body) text += "\n" + indent(*r.body);
                     for (std::size_t i = 0; i < r.items.size(); ++i) {
                       text += "\n    " + std::to_string(i + 1) + ". " + oneLine(r.items[i].text);
                     }
                     if (!r.debug.empty())
                       text += "\n    (why: the trail has " + std::to_string(r.debug.size()) +
                               " lines)";
                     once(text);
                   },
                   [&](const Confirmation& c) {
                     once("  ? " + c.title + "\n    " + c.message + "\n    [" + c.confirmLabel +
                          "] y / n");
                   },
                   [&](const ChoiceSet& s) {
                     std::string text = "  ? " + s.prompt;
                     for (std::size_t i = 0; i < s.options.size(); ++i) {
                       text += "\n    " + std::to_string(i + 1) + ". " + s.options[i].title +
                               " — " + s.options[i].subtitle;
                     }
                     once(text + "\n    (answer with a number)");
                   },
               },
               vm_.phase());
  }

 private:
  static std::string_view symbol(ActionResult::Kind kind) {
    switch (kind) {
      case ActionResult::Kind::success:
        return "✓";
      case ActionResult::Kind::info:
        return "•";
      case ActionResult::Kind::failure:
        return "✗";
    }
    return "";
  }
  static std::string indent(const std::string& text) {
    std::string out = "    ";
    for (char c : text)
      out += c == '\n' ? std::string("\n    ") : std::string(1, c);
    return out;
  }
  static std::string oneLine(std::string text) {
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
      text.replace(at, 1, " ⏎ ");
    return text;
  }
  void once(const std::string& text) {
    if (text == last_) return;
    last_ = text;
    std::cout << text << '\n';
  }

  PaletteViewModel& vm_;
  std::string last_;
};

int run(const ShellOptions& options) {
  // The terminal palette acts, so it runs on the simulated desktop.
  DesktopChoice choice{
      .scene = options.scene.empty() ? "shop" : options.scene, .record = {}, .replay = {}};
  auto session = openSession(choice, options.modelScript, options.profile);
  if (!session) return 2;
  auto desktop = session->desktop.simulated;
  auto model = session->model;
  Platform platform = session->desktop.platform;
  auto tracker = std::make_shared<BrowserTracker>(platform);
  tracker->start();
  auto vm = PaletteViewModel::make({.platform = platform,
                                    .tracker = tracker,
                                    .model = model,
                                    .highlighter = std::make_shared<Highlighter>(platform),
                                    .executor = std::make_shared<InlineExecutor>()});
  Printer printer(*vm);
  vm->onChange([&printer] { printer.phaseChanged(); });
  vm->reset();
  if (!vm->trusted()) std::cout << "Tovrin needs Accessibility access\n";

  const bool interactive = isatty(STDIN_FILENO) != 0;
  std::size_t effectsShown = desktop->effects().size();
  auto showEffects = [&] {
    if (!options.effects) return;
    auto all = desktop->effects();
    for (std::size_t i = effectsShown; i < all.size(); ++i)
      std::cout << "    ⚙ " << all[i].describe() << '\n';
    effectsShown = all.size();
  };

  for (std::string line;;) {
    if (interactive) std::cout << "› " << std::flush;
    if (!std::getline(std::cin, line)) break;
    if (!interactive) std::cout << "› " << line << '\n';
    const std::string word = unicode::lower(unicode::trimWhitespace(line));
    const auto& phase = vm->phase();

    if (std::holds_alternative<Confirmation>(phase) &&
        (word == "y" || word == "yes" || word == "n" || word == "no")) {
      if (word[0] == 'y') {
        vm->submit();
      } else {
        vm->escape();
        std::cout << "  Declined — nothing was done.\n";
      }
    } else if (std::holds_alternative<ChoiceSet>(phase) && !word.empty() &&
               word.find_first_not_of("0123456789") == std::string::npos) {
      handleKey(*vm, {.keyCode = 0, .characters = word});
    } else if (word == "why") {
      vm->showWhy = !vm->showWhy;
      const ActionResult* r = std::get_if<ActionResult>(&vm->phase());
      const Confirmation* c = std::get_if<Confirmation>(&vm->phase());
      const std::vector<std::string>* trail = r ? &r->debug : c ? &c->debug : nullptr;
      if (trail == nullptr || trail->empty()) std::cout << "  (no trail to show)\n";
      if (trail != nullptr) {
        for (const std::string& l : *trail)
          std::cout << "    " << l << '\n';
      }
    } else if (word.rfind("reveal ", 0) == 0) {
      const ActionResult* r = std::get_if<ActionResult>(&vm->phase());
      std::size_t n = 0;
      const std::string digits = word.substr(7);
      auto [end, parsed] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
      if (parsed != std::errc() || end != digits.data() + digits.size())
        n = 0;  // treated as out of range
      if (r == nullptr || n < 1 || n > r->items.size() || !r->items[n - 1].element) {
        std::cout << "  (there is no item " << word.substr(7) << " to reveal)\n";
      } else {
        vm->reveal(r->items[n - 1]);
        std::cout << "  Revealed item " << n << ".\n";
      }
    } else if (word == "esc" || word == "escape") {
      if (handleKey(*vm, {.keyCode = 53, .characters = ""}) == KeyRouting::consumedAndClose) {
        std::cout << "  (palette closed)\n";
        vm->reset();
      }
    } else if (!word.empty()) {
      vm->input = line;
      vm->inputChanged();
      auto preview = vm->preview();
      std::cout << "  → " << (preview ? *preview : "(not a known command: a search or a question)")
                << '\n';
      vm->submit();
    }
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
  sub->add_option("--scene", options->scene,
                  "A scene file for the simulated desktop (default: the built-in shop scene)");
  sub->add_option("--model", options->modelScript,
                  "A script for the on-device model (default: no model)");
  addProfileOption(*sub, options->profile);
  sub->add_flag("--effects", options->effects, "Also print what each command did to the desktop");
  return Command{sub, [options] { return run(*options); }};
}

}  // namespace tovrin::cli
