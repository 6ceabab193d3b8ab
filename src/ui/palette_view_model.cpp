#include "ui/palette_view_model.h"

#include "ai/local_ai.h"
#include "base/overloaded.h"
#include "base/unicode.h"
#include "intent/intent_parser.h"

namespace tovrin {
namespace {

bool isLineBreak(char32_t c) {
  return c == U'\n' || c == U'\r' || c == U'\v' || c == U'\f' || c == U'\u0085' || c == U'\u2028' ||
         c == U'\u2029';
}

// Trims spaces and tabs (any Unicode white space that is not a line break).
std::string trimSpaces(std::string_view text) {
  std::u32string set;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = unicode::nextCodePoint(text, i);
    if (unicode::isWhitespace(c) && !isLineBreak(c) && set.find(c) == std::u32string::npos)
      set.push_back(c);
  }
  return unicode::trimCodePoints(text, set);
}

}  // namespace

std::shared_ptr<PaletteViewModel> PaletteViewModel::make(Services services) {
  return std::shared_ptr<PaletteViewModel>(new PaletteViewModel(std::move(services)));
}

PaletteViewModel::PaletteViewModel(Services services)
    : services_(std::move(services)), focusToken_(newUUID()) {
  trusted_ =
      services_.platform.accessibility && services_.platform.accessibility->isProcessTrusted();
}

void PaletteViewModel::changed() {
  for (const auto& observer : observers_)
    observer();
}

void PaletteViewModel::setPhase(Phase phase) {
  phase_ = std::move(phase);
  changed();
}

void PaletteViewModel::hideOutline() {
  if (services_.highlighter) services_.highlighter->hide();
}

void PaletteViewModel::reset() {
  input.clear();
  phase_ = Idle{};
  showWhy = false;
  selected = 0;
  hideOutline();
  refreshContext();
  focusToken_ = newUUID();
  changed();
}

void PaletteViewModel::opened() {
  if (prefetch_ && trusted_ && target_) prefetch_->begin(*target_);
}

void PaletteViewModel::closed() {
  if (prefetch_) prefetch_->end();
  if (task_) task_->cancelled = true;  // it finishes, but its outcome is dropped
  task_.reset();
  engine_.reset();
  hideOutline();
  setPhase(Idle{});
}

void PaletteViewModel::refreshContext() {
  trusted_ =
      services_.platform.accessibility && services_.platform.accessibility->isProcessTrusted();
  target_ = services_.tracker ? services_.tracker->current() : std::nullopt;
  changed();
}

bool PaletteViewModel::recheckTrust() {
  const bool now =
      services_.platform.accessibility && services_.platform.accessibility->isProcessTrusted();
  if (now != trusted_) refreshContext();
  return trusted_;
}

std::optional<std::string> PaletteViewModel::preview() const {
  const std::string text = trimSpaces(input);
  if (text.empty()) return std::nullopt;
  auto intent = IntentParser::parse(text);
  if (!intent) return std::nullopt;
  return intent->title();
}

std::vector<Suggestion> PaletteViewModel::suggestions() const {
  const std::string q = unicode::trimWhitespace(unicode::lower(input));
  struct Row {
    const char* title;
    const char* icon;
    const char* fill;
    bool runs;
  };
  static constexpr Row kScroll[] = {{"Scroll down", "arrow.down", "Scroll down", true},
                                    {"Scroll up", "arrow.up", "Scroll up", true},
                                    {"Bottom", "arrow.down.to.line", "Scroll to the bottom", true},
                                    {"Top", "arrow.up.to.line", "Scroll to the top", true}};
  static constexpr Row kStart[] = {{"Read page", "doc.text", "Read page", true},
                                   {"Summarize", "text.alignleft", "Summarize this page", true},
                                   {"Find…", "magnifyingglass", "Find ", false},
                                   {"Click…", "cursorarrow.click", "Click ", false},
                                   {"Scroll…", "arrow.up.and.down", "Scroll ", false}};
  std::vector<Suggestion> out;
  auto add = [&out](const auto& rows) {
    for (const Row& r : rows)
      out.push_back({newUUID(), r.title, r.icon, r.fill, r.runs});
  };
  if (q.rfind("scroll", 0) == 0) {
    add(kScroll);
  } else {
    add(kStart);
  }
  return out;
}

void PaletteViewModel::use(const Suggestion& suggestion) {
  input = suggestion.fill;
  phase_ = Idle{};
  changed();
  if (suggestion.runs) {
    submit();
  } else {
    focusToken_ = newUUID();
    changed();
  }
}

void PaletteViewModel::inputChanged() {
  if (std::holds_alternative<Idle>(phase_) || std::holds_alternative<Working>(phase_)) return;
  hideOutline();
  setPhase(Idle{});
}

void PaletteViewModel::startTask(std::shared_ptr<Task> task, std::function<Outcome()> work) {
  task_ = task;
  std::weak_ptr<PaletteViewModel> weak = weak_from_this();
  std::shared_ptr<Executor> executor = services_.executor;
  executor->inBackground([weak, task, work = std::move(work), executor] {
    Outcome outcome = work();
    executor->onMain([weak, task, outcome = std::move(outcome)] {
      auto self = weak.lock();
      if (!self || task->cancelled) return;  // a cancelled command's outcome is dropped
      self->apply(outcome);
    });
  });
}

void PaletteViewModel::submit() {
  if (const auto* set = std::get_if<ChoiceSet>(&phase_)) {
    (void)set;
    pick(selected);
    return;
  }
  if (const auto* c = std::get_if<Confirmation>(&phase_)) {
    confirm(Confirmation(*c));
    return;
  }
  const std::string text = unicode::trimWhitespace(input);
  if (text.empty()) return;
  refreshContext();
  if (!trusted_) return;
  if (!target_) {
    ActionResult r;
    r.kind = ActionResult::Kind::failure;
    r.headline = "No supported browser in front";
    r.body = "Open " + BrowserRegistry::supportedNames() + ", then press the hotkey again.";
    setPhase(std::move(r));
    return;
  }
  setPhase(Working{"Reading " + target_->browserName() + "…"});

  engine_ = ActionEngine::make(*target_,
                               {.model = services_.model, .highlighter = services_.highlighter});
  if (prefetch_) {
    std::weak_ptr<PagePrefetch> prefetch = prefetch_;
    engine_->readAheadFrom([prefetch](const BrowserTarget& target) {
      auto p = prefetch.lock();
      return p ? p->take(target) : nullptr;
    });
  }
  auto task = std::make_shared<Task>();
  task->engine = engine_;
  std::weak_ptr<PaletteViewModel> weak = weak_from_this();
  std::shared_ptr<Executor> executor = services_.executor;
  std::shared_ptr<LanguageModel> model = services_.model;
  // Phase changes from the command thread hop to the interface thread, and a
  // cancelled command changes nothing.
  auto status = [weak, task, executor](std::string line) {
    executor->onMain([weak, task, line = std::move(line)] {
      auto self = weak.lock();
      if (self && !task->cancelled) self->setPhase(Working{line});
    });
  };
  startTask(task, [text, model, engine = engine_, status, task]() -> Outcome {
    std::optional<Intent> intent = IntentParser::parse(text);
    if (!intent) {
      status("Understanding…");
      if (model && model->isAvailable() && !task->cancelled)
        intent = Impl::parseIntent(*model, text);
      // Escape gave up the translation: nothing of the command is done.
      if (task->cancelled) return Outcome{ActionResult{}};
    }
    if (!intent) {
      std::size_t words = unicode::splitOnSpace(text).size();
      intent = words < 5 ? Intent{Intent::Find{text}} : Intent{Intent::Ask{text}};
    }
    status(intent->title() + "…");
    return engine->run(*intent);
  });
}

void PaletteViewModel::pick(int index) {
  const auto* set = std::get_if<ChoiceSet>(&phase_);
  if (set == nullptr || index < 0 || static_cast<std::size_t>(index) >= set->options.size()) return;
  std::function<Outcome()> run = set->options[static_cast<std::size_t>(index)].run;
  setPhase(Working{"Working…"});
  // A pick that has started completes; only its outcome can be dropped.
  startTask(std::make_shared<Task>(), [run] { return run(); });
}

void PaletteViewModel::confirm(const Confirmation& confirmation) {
  std::function<ActionResult()> perform = confirmation.perform;
  setPhase(Working{"Working…"});
  startTask(std::make_shared<Task>(), [perform] { return Outcome{perform()}; });
}

void PaletteViewModel::cancel() {
  hideOutline();
  setPhase(Idle{});
}

bool PaletteViewModel::escape() {
  if (std::holds_alternative<Working>(phase_)) {
    if (task_) {
      task_->cancelled = true;
      if (task_->engine) task_->engine->cancel();
      if (services_.model) services_.model->cancel();
    }
    setPhase(Idle{});
    return true;
  }
  if (std::holds_alternative<Idle>(phase_)) return false;
  cancel();
  return true;
}

void PaletteViewModel::reveal(const FoundItem& item) {
  if (!item.element || !target_) return;
  // The latest command's engine, or one made for this reveal only.
  std::shared_ptr<ActionEngine> engine =
      engine_ ? engine_
              : ActionEngine::make(
                    *target_, {.model = services_.model, .highlighter = services_.highlighter});
  PageElement element = *item.element;
  services_.executor->inBackground([engine, element] { engine->reveal(element); });
}

void PaletteViewModel::move(int delta) {
  const auto* set = std::get_if<ChoiceSet>(&phase_);
  if (set == nullptr || set->options.empty()) return;
  const int count = static_cast<int>(set->options.size());
  selected = ((selected + delta) % count + count) % count;
  changed();
  highlightSelected();
}

void PaletteViewModel::setSelected(int index) {
  selected = index;
  changed();
}

void PaletteViewModel::apply(const Outcome& outcome) {
  std::visit(Overloaded{
                 [&](const ActionResult& r) { setPhase(r); },
                 [&](const Confirmation& c) { setPhase(c); },
                 [&](const ChoiceSet& s) {
                   selected = 0;
                   setPhase(s);
                   highlightSelected();
                 },
             },
             outcome.value);
}

void PaletteViewModel::highlightSelected() {
  const auto* set = std::get_if<ChoiceSet>(&phase_);
  if (set == nullptr || selected < 0 || static_cast<std::size_t>(selected) >= set->options.size())
    return;
  const auto& element = set->options[static_cast<std::size_t>(selected)].element;
  if (element && element->frame && services_.highlighter)
    services_.highlighter->show(*element->frame, 6.0);
}

}  // namespace tovrin
