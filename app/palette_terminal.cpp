#include "palette_terminal.h"

#include <charconv>
#include <ostream>

#include "actions/highlighter.h"
#include "base/overloaded.h"
#include "base/unicode.h"
#include "ui/palette_controls.h"

namespace tovrin::cli {

class PaletteTerminal::Printer {
 public:
  Printer(PaletteViewModel& vm, std::ostream& out) : vm_(vm), out_(out) {}

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
    out_ << text << '\n';
  }

  PaletteViewModel& vm_;
  std::ostream& out_;
  std::string last_;
};

PaletteTerminal::PaletteTerminal(const Session& session, std::ostream& out)
    : session_(session), out_(out) {
  Platform platform = session.desktop.platform;
  tracker_ = std::make_shared<BrowserTracker>(platform);
  tracker_->start();
  vm_ = PaletteViewModel::make({.platform = platform,
                                .tracker = tracker_,
                                .model = session.model,
                                .highlighter = std::make_shared<Highlighter>(platform),
                                .executor = std::make_shared<InlineExecutor>()});
  printer_ = std::make_unique<Printer>(*vm_, out_);
  vm_->onChange([this] { printer_->phaseChanged(); });
  vm_->reset();
}

PaletteTerminal::~PaletteTerminal() = default;

bool PaletteTerminal::trusted() const {
  return vm_->trusted();
}

bool PaletteTerminal::handle(const std::string& line) {
  // The user may have moved to another browser between two lines.
  if (session_.desktop.real) session_.desktop.real->pollActivations();
  const std::string word = unicode::lower(unicode::trimWhitespace(line));
  const auto& phase = vm_->phase();

  if (std::holds_alternative<Confirmation>(phase) &&
      (word == "y" || word == "yes" || word == "n" || word == "no")) {
    if (word[0] == 'y') {
      vm_->submit();
    } else {
      vm_->escape();
      out_ << "  Declined — nothing was done.\n";
    }
  } else if (std::holds_alternative<ChoiceSet>(phase) && !word.empty() &&
             word.find_first_not_of("0123456789") == std::string::npos) {
    handleKey(*vm_, {.keyCode = 0, .characters = word});
  } else if (word == "why") {
    vm_->showWhy = !vm_->showWhy;
    const ActionResult* r = std::get_if<ActionResult>(&vm_->phase());
    const Confirmation* c = std::get_if<Confirmation>(&vm_->phase());
    const std::vector<std::string>* trail = r ? &r->debug : c ? &c->debug : nullptr;
    if (trail == nullptr || trail->empty()) out_ << "  (no trail to show)\n";
    if (trail != nullptr) {
      for (const std::string& l : *trail)
        out_ << "    " << l << '\n';
    }
  } else if (word.rfind("reveal ", 0) == 0) {
    const ActionResult* r = std::get_if<ActionResult>(&vm_->phase());
    std::size_t n = 0;
    const std::string digits = word.substr(7);
    auto [end, parsed] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (parsed != std::errc() || end != digits.data() + digits.size())
      n = 0;  // treated as out of range
    if (r == nullptr || n < 1 || n > r->items.size() || !r->items[n - 1].element) {
      out_ << "  (there is no item " << word.substr(7) << " to reveal)\n";
    } else {
      vm_->reveal(r->items[n - 1]);
      out_ << "  Revealed item " << n << ".\n";
    }
  } else if (word == "esc" || word == "escape") {
    if (handleKey(*vm_, {.keyCode = 53, .characters = ""}) == KeyRouting::consumedAndClose) {
      out_ << "  (palette closed)\n";
      vm_->reset();
    }
  } else if (!word.empty()) {
    vm_->input = line;
    vm_->inputChanged();
    auto preview = vm_->preview();
    out_ << "  → " << (preview ? *preview : "(not a known command: a search or a question)")
         << '\n';
    vm_->submit();
  }
  return !word.empty() && word != "why";
}

}  // namespace tovrin::cli
