#include "actions/action_engine.h"

#include <cmath>

#include "ai/local_ai.h"
#include "base/overloaded.h"
#include "base/unicode.h"
#include "content/page_qa.h"
#include "text/text_util.h"

namespace tovrin {

namespace Display {

std::string role(const std::string& role) {
  return role.rfind("AX", 0) == 0 ? role.substr(2) : role;
}

ActionResult result(ActionResult::Kind kind, std::string headline, Trail dbg,
                    std::optional<std::string> body) {
  ActionResult r;
  r.kind = kind;
  r.headline = std::move(headline);
  r.body = std::move(body);
  r.debug = std::move(dbg);
  return r;
}

}  // namespace Display

namespace {

using Kind = ActionResult::Kind;

Outcome outcome(ActionResult r) {
  return Outcome{std::move(r)};
}

std::string displayTitle(const PageSnapshot& snap) {
  return snap.pageTitle.empty() ? snap.windowTitle : snap.pageTitle;
}

}  // namespace

std::shared_ptr<ActionEngine> ActionEngine::make(BrowserTarget target, Services services) {
  return std::shared_ptr<ActionEngine>(new ActionEngine(std::move(target), std::move(services)));
}

ActionEngine::ActionEngine(BrowserTarget target, Services services)
    : target_(std::move(target)), services_(std::move(services)) {}

void ActionEngine::wait(double seconds) {
  if (!cancelled_ && target_.platform.clock) target_.platform.clock->sleep(seconds);
}

void ActionEngine::highlight(const Frame& frame, double seconds) {
  if (services_.highlighter) services_.highlighter->show(frame, seconds);
}

bool ActionEngine::modelAvailable() {
  return services_.model && services_.model->isAvailable();
}

std::optional<ActionResult> ActionEngine::requireActive(Trail& dbg) {
  if (Input::activate(target_)) return std::nullopt;
  dbg.push_back("Couldn't bring " + browserName() + " to the front — nothing sent");
  return Display::result(
      Kind::failure, "Couldn't bring " + TextUtil::md(browserName()) + " to the front", dbg,
      "Tovrin sends keys only to the browser, so nothing was typed or pressed. Switch to " +
          browserName() + " and try again, or give the command from Tovrin's palette.");
}

std::shared_ptr<const PageSnapshot> ActionEngine::snapshot() {
  std::lock_guard lock(snapMutex_);
  if (snap_) return snap_;
  if (readAheadSource_) {
    snap_ = readAheadSource_(target_);
    readAhead_ = snap_ != nullptr;
    if (snap_) return snap_;
  }
  if (auto captured = PageSnapshot::capture(target_))
    snap_ = std::make_shared<const PageSnapshot>(std::move(*captured));
  return snap_;
}

std::string ActionEngine::elementDebug(const PageElement& e) {
  std::string out = "Element: " + e.role;
  if (!e.subrole.empty()) out += "/" + e.subrole;
  out += " ";
  if (e.frame) {
    auto whole = [](double v) {
      return std::to_string(static_cast<long long>(std::trunc(std::clamp(v, -1e15, 1e15))));
    };
    out += "(" + whole(e.frame->x) + "," + whole(e.frame->y) + " " + whole(e.frame->width) + "×" +
           whole(e.frame->height) + ")";
  } else {
    out += "no frame";
  }
  out += " actions=";
  for (std::size_t i = 0; i < e.actions.size(); ++i)
    out += (i > 0 ? "," : "") + e.actions[i];
  return out;
}

Outcome ActionEngine::run(const Intent& intent) {
  Outcome out = runIntent(intent);
  // Every model call of the command, translation included, with its time.
  if (services_.model) {
    std::vector<std::string> notes = services_.model->takeCallNotes();
    std::vector<std::string>* trail = nullptr;
    if (auto* r = std::get_if<ActionResult>(&out.value)) trail = &r->debug;
    if (auto* c = std::get_if<Confirmation>(&out.value)) trail = &c->debug;
    if (trail) trail->insert(trail->end(), notes.begin(), notes.end());
  }
  return out;
}

Outcome ActionEngine::runIntent(const Intent& intent) {
  Trail dbg = {"Intent: " + intent.title(), "Browser: " + browserName() + " (" +
                                                (target_.adapter ? target_.adapter->name() : "") +
                                                " adapter)"};

  if (const auto* t = intent.as<Intent::Type>()) {
    afterTyping_ = t->then;
    return typeFlow(t->text, t->field, t->replace, dbg);
  }
  if (const auto* c = intent.as<Intent::Click>()) wantChecked_ = c->checked;
  if (const auto* f = intent.as<Intent::FillProfile>()) {
    const std::string raw(rawValue(f->profile));
    std::string value = Profile::value(target_.platform, f->profile);
    if (value.empty()) {
      return outcome(Display::result(Kind::failure, "No " + raw + " saved", dbg,
                                     "Tovrin never invents personal details. Add your " + raw +
                                         " in Settings, or say “Enter …” with the exact text."));
    }
    dbg.push_back("Using saved profile " + raw);
    return typeFlow(value, f->field, true, dbg);
  }
  if (const auto* k = intent.as<Intent::Key>()) return outcome(pressKey(k->key, dbg));
  if (const auto* n = intent.as<Intent::Navigate>()) return navigate(n->nav, dbg);

  std::shared_ptr<const PageSnapshot> snap = snapshot();
  if (!snap) {
    return outcome(Display::result(Kind::failure, "Couldn't read " + browserName(), dbg,
                                   "No window is accessible. Make sure " + browserName() +
                                       " has an open window and try again."));
  }
  dbg.push_back(snap->readSummary());
  if (readAhead_) dbg.push_back("Read while the command was typed");
  if (auto page = snap->pageLine()) dbg.push_back(*page);

  return std::visit(
      Overloaded{
          [&](const Intent::Click& c) {
            return clickFlow(c.target, MatchPurpose::click, snap, dbg);
          },
          [&](const Intent::OpenLink& o) {
            return clickFlow(o.target, MatchPurpose::link, snap, dbg);
          },
          [&](const Intent::OpenLinks& o) { return openLinks(o.matching, *snap, dbg); },
          [&](const Intent::Ask& a) { return ask(a.question, *snap, dbg); },
          [&](const Intent::Find& f) { return find(f.text, *snap, dbg); },
          [&](const Intent::FindAll& f) { return findAll(f.text, *snap, dbg); },
          [&](const Intent::Scroll& s) { return scroll(s.spec, *snap, dbg); },
          [&](const Intent::List& l) { return list(l.role, *snap, dbg); },
          [&](const Intent::OpenArticle&) { return openArticle(snap, dbg); },
          [&](const Intent::Read&) { return outcome(read(*snap, dbg)); },
          [&](const Intent::Summarize&) { return summarize(*snap, dbg); },
          [&](const Intent::CopyArticle&) { return outcome(copyArticle(*snap, dbg)); },
          [&](const Intent::GoTo& g) { return goTo(g.place, snap, dbg); },
          [&](const Intent::Search& s) { return search(s.text, snap, dbg); },
          [&](const auto&) {
            return outcome(Display::result(Kind::failure, "Unsupported command", dbg));
          },
      },
      intent.value);
}

ActionResult ActionEngine::read(const PageSnapshot& snap, Trail dbg) {
  const std::string text = snap.text();
  if (text.empty()) return Display::result(Kind::failure, "Nothing readable on this page", dbg);
  std::string title = displayTitle(snap);
  if (title.empty()) title = "page";
  ActionResult r = Display::result(Kind::info,
                                   "Read **" + TextUtil::md(unicode::truncate(title, 60)) +
                                       "** — " + std::to_string(TextUtil::words(text)) + " words",
                                   dbg);
  std::string body = unicode::prefix(text, 8000);
  if (unicode::length(text) > 8000) body += "\n…(truncated here; Copy gets everything)";
  r.body = std::move(body);
  r.copyText = text;
  return r;
}

ActionResult ActionEngine::copyArticle(const PageSnapshot& snap, Trail dbg) {
  const std::string text = snap.text();
  if (text.empty()) return Display::result(Kind::failure, "Nothing to copy", dbg);
  if (target_.platform.pasteboard) target_.platform.pasteboard->setString(text);
  return Display::result(
      Kind::success,
      "Copied **" + std::to_string(TextUtil::words(text)) + "** words to the clipboard", dbg);
}

Outcome ActionEngine::summarize(const PageSnapshot& snap, Trail dbg) {
  if (snap.lines.empty())
    return outcome(Display::result(Kind::failure, "Nothing to summarize", dbg));
  const std::string title = displayTitle(snap);
  std::optional<std::string> summary;
  if (modelAvailable()) summary = Impl::summarize(*services_.model, title, snap.text());
  const bool byModel = summary.has_value();
  if (!summary) summary = PageQA::extractiveSummary(snap);
  dbg.push_back(byModel ? "Summarized by the on-device model from extracted text only"
                        : "Extractive summary (no on-device model)");
  std::string heading = title.empty() ? "this page" : title;
  ActionResult r = Display::result(
      Kind::info, "Summary of **" + TextUtil::md(unicode::truncate(heading, 60)) + "**", dbg,
      summary);
  r.copyText = summary;
  return outcome(std::move(r));
}

Outcome ActionEngine::ask(const std::string& question, const PageSnapshot& snap, Trail dbg) {
  if (snap.chunks.empty())
    return outcome(Display::result(Kind::failure, "The page has no readable text", dbg));
  PageQAExcerpts excerpts(snap, question);
  dbg.push_back("Grounding: " + std::to_string(excerpts.chunks.size()) + " excerpt(s), " +
                std::to_string(unicode::length(excerpts.text)) + " chars from this page only");
  std::optional<std::string> answer;
  if (modelAvailable())
    answer = Impl::answer(*services_.model, question, displayTitle(snap), excerpts.text);
  const bool byModel = answer.has_value();
  if (!answer) answer = PageQA::extractiveAnswer(snap, question);
  dbg.push_back(byModel ? "Answered by the on-device model"
                        : "Extractive answer (no on-device model)");

  ActionResult r = Display::result(
      Kind::info, "**" + TextUtil::md(unicode::truncate(question, 70)) + "**", dbg, answer);
  for (std::size_t i = 0; i < std::min<std::size_t>(3, excerpts.chunks.size()); ++i) {
    const PageChunk& c = excerpts.chunks[i];
    FoundItem item{newUUID(), unicode::truncate(c.heading.empty() ? c.text : c.heading, 80),
                   std::nullopt};
    if (c.elementID >= 0 && static_cast<std::size_t>(c.elementID) < snap.elements.size()) {
      item.element = snap.elements[static_cast<std::size_t>(c.elementID)];
    }
    r.items.push_back(std::move(item));
  }
  r.copyText = answer;
  return outcome(std::move(r));
}

}  // namespace tovrin
