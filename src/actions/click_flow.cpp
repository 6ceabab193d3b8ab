// Click and open-link commands: one press of one element, with the model or
// the user choosing among near-equal candidates, risky presses confirmed
// first, and a mouse click when the browser refuses the press.

#include <cmath>
#include <set>

#include "actions/action_engine.h"
#include "actions/safety.h"
#include "ai/local_ai.h"
#include "base/unicode.h"
#include "text/text_util.h"

namespace tovrin {
namespace {

using Kind = ActionResult::Kind;

long long whole(double v) {
  return static_cast<long long>(std::trunc(std::clamp(v, -1e15, 1e15)));
}

// Same label within the same 4-point grid cell: the same thing on screen.
std::string positionKey(const PageElement& e) {
  double x = e.frame ? e.frame->x : 0;
  double y = e.frame ? e.frame->y : 0;
  return TextUtil::norm(e.label()) + "|" + std::to_string(whole(x * 0.25)) + "|" +
         std::to_string(whole(y * 0.25));
}

std::string option(const PageElement& e) {
  return Display::role(e.role) + ": " + e.label();
}

bool onScreen(const PageElement& e) {
  return !e.frame || (e.frame->width > 0 && e.frame->height > 0);
}

bool pressableRole(const PageElement& e) {
  return Roles::clickable(e.role) ||
         std::find(e.actions.begin(), e.actions.end(), "AXPress") != e.actions.end();
}

}  // namespace

Outcome ActionEngine::clickFlow(const TargetSpec& spec, MatchPurpose purpose,
                                std::shared_ptr<const PageSnapshot> snap, Trail dbg) {
  MatchResult found = ElementMatcher::matches(spec, snap->elements, purpose);
  if (found.matches.empty() && purpose == MatchPurpose::link) {
    found = ElementMatcher::matches(spec, snap->elements, MatchPurpose::click);
  }
  std::vector<Match> filtered;
  std::set<std::string> seen;
  for (Match& m : found.matches) {
    if (seen.insert(positionKey(m.element)).second) filtered.push_back(std::move(m));
  }

  std::string line = "Candidates: ";
  if (filtered.empty()) line += "none";
  for (std::size_t i = 0; i < std::min<std::size_t>(5, filtered.size()); ++i) {
    if (i > 0) line += ", ";
    line += "“" + unicode::truncate(filtered[i].element.label(), 30) + "” " +
            std::to_string(whole(filtered[i].score));
  }
  dbg.push_back(line);

  auto select = [&](const Match& m) {
    // Given up while the model was choosing: the command's result is
    // dropped, and nothing may be pressed on its behalf.
    if (cancelled()) {
      dbg.push_back("Cancelled before pressing");
      return Outcome{Display::result(Kind::info, "Cancelled", dbg, std::nullopt)};
    }
    dbg.push_back("Selected: " + Display::role(m.element.role) + " “" + m.element.label() + "” — " +
                  m.reason + " (score " + std::to_string(whole(m.score)) + ")");
    return press(m, snap, dbg);
  };
  auto notFound = [&] {
    // Words that are on the page, but on nothing that can be pressed: say
    // so rather than press the paragraph or section that holds them.
    if (!spec.query.empty() && spec.role == RoleHint::any) {
      const std::string words = " " + TextUtil::norm(spec.query) + " ";
      for (const PageLine& l : snap->lines) {
        const bool holds = (" " + TextUtil::norm(l.text) + " ").find(words) != std::string::npos;
        if (!holds && ElementMatcher::score(std::string_view(l.text), spec.query) < 60) continue;
        return Outcome{Display::result(
            Kind::failure, "Nothing to press matches “" + TextUtil::md(spec.query) + "”", dbg,
            "The words are on the page, but not on a button or link. Say “find " + spec.query +
                "” to see them.")};
      }
    }
    return Outcome{
        Display::result(Kind::failure, "Couldn't find " + spec.summary(), dbg,
                        "Try different wording, or ask “What buttons are available here?”")};
  };

  if (filtered.empty()) {
    std::vector<const PageElement*> pool;
    for (const PageElement& e : snap->elements) {
      if (pool.size() >= 40) break;
      if (onScreen(e) && pressableRole(e) && !e.label().empty() &&
          ElementMatcher::fits(e, spec.role))
        pool.push_back(&e);
    }
    if (spec.query.empty()) return notFound();
    std::vector<std::string> options;
    for (const PageElement* e : pool)
      options.push_back(option(*e));
    auto index =
        services_.model ? LocalAI::choose(*services_.model, spec.summary(), options) : std::nullopt;
    if (!index) return notFound();
    return select(Match{*pool[*index], 40, "chosen by on-device model"});
  }

  if (found.ordinalApplied || filtered.size() == 1) return select(filtered.front());

  const Match& top = filtered.front();
  std::vector<const Match*> rivals;
  for (const Match& m : filtered) {
    if (m.element.id != top.element.id && m.score >= top.score - 6) rivals.push_back(&m);
  }
  if (rivals.empty()) {
    if (top.score >= 45) return select(top);
    std::vector<std::string> options;
    for (std::size_t i = 0; i < std::min<std::size_t>(8, filtered.size()); ++i)
      options.push_back(option(filtered[i].element));
    auto index =
        services_.model ? LocalAI::choose(*services_.model, spec.summary(), options) : std::nullopt;
    if (!index) return select(top);
    dbg.push_back("Low confidence — on-device model picked #" + std::to_string(*index));
    return select(filtered[*index]);
  }

  std::vector<const Match*> candidates = {&top};
  for (const Match* r : rivals) {
    if (candidates.size() >= 6) break;
    candidates.push_back(r);
  }
  auto choiceSet = [&] {
    ChoiceSet set{"Which one do you mean?", {}};
    for (const Match* c : candidates)
      set.options.push_back(describe(*c, snap));
    return Outcome{std::move(set)};
  };
  std::set<std::string> keys;
  for (const Match* c : candidates)
    keys.insert(TextUtil::norm(c->element.label()));
  if (keys.size() < 2) return choiceSet();
  std::vector<std::string> options;
  for (const Match* c : candidates) {
    options.push_back(option(c->element) + " — " + snap->sectionTitle(c->element.id).value_or(""));
  }
  auto index =
      services_.model ? LocalAI::choose(*services_.model, spec.summary(), options) : std::nullopt;
  if (!index) return choiceSet();
  dbg.push_back("Ambiguous — on-device model picked “" + candidates[*index]->element.label() + "”");
  return select(*candidates[*index]);
}

Outcome ActionEngine::press(const Match& match, std::shared_ptr<const PageSnapshot> snap,
                            Trail dbg) {
  const PageElement target = ElementMatcher::pressable(match.element, snap->elements);
  std::string label = match.element.label();
  if (label.empty()) label = target.label();
  if (label.empty()) label = Display::role(target.role);
  dbg.push_back(elementDebug(target));
  if (wantChecked_ && ElementMatcher::fits(target, RoleHint::checkbox)) {
    // Read now, not from the snapshot: the page may have changed it since.
    const bool now = AX::boolean(AX::copy(target.element, "AXValue"), target.value == "1");
    if (now == *wantChecked_) {
      dbg.push_back("Already in the wanted state: not pressed");
      return Outcome{Display::result(
          Kind::success,
          "**" + TextUtil::md(label) + "** is already " + (now ? "checked" : "unchecked"), dbg)};
    }
  }
  // Ticking a box only marks a choice on the page; the form's own button
  // is what sends it, and that press is still confirmed.
  std::optional<std::string> risk = wantChecked_ && ElementMatcher::fits(target, RoleHint::checkbox)
                                        ? std::nullopt
                                        : Safety::assess(label);
  if (!risk) return Outcome{doPress(target, label, dbg)};
  auto self = shared_from_this();
  return Outcome{
      Confirmation{"Click “" + label + "”?", *risk, "Click", dbg,
                   [self, target, label, dbg] { return self->doPress(target, label, dbg); }}};
}

ActionResult ActionEngine::doPress(const PageElement& element, const std::string& label,
                                   Trail dbg) {
  if (element.frame) highlight(*element.frame, 1.5);
  const int32_t code = AX::perform(element.element, "AXPress");
  const std::string clicked = "Clicked **" + TextUtil::md(label) + "**";
  if (code == AXErr::kSuccess && wantChecked_ &&
      ElementMatcher::fits(element, RoleHint::checkbox)) {
    dbg.push_back("AXPress succeeded");
    // A box that did not change was not checked, whatever the press said.
    bool now = !*wantChecked_;
    for (int i = 0; i < 10 && now != *wantChecked_; ++i) {
      wait(0.05);
      now = AX::boolean(AX::copy(element.element, "AXValue"), now);
    }
    if (now != *wantChecked_) {
      return Display::result(
          Kind::failure,
          "**" + TextUtil::md(label) + "** is still " + (now ? "checked" : "unchecked"), dbg,
          "The page did not take the press.");
    }
    return Display::result(
        Kind::success, (*wantChecked_ ? "Checked **" : "Unchecked **") + TextUtil::md(label) + "**",
        dbg);
  }
  if (code == AXErr::kSuccess) {
    dbg.push_back("AXPress succeeded");
    return Display::result(Kind::success, clicked, dbg);
  }
  dbg.push_back("AXPress failed (" + std::to_string(code) + ")");
  std::optional<Frame> frame = AX::frame(element.element);
  // A vanished element has no position any more, and a browser that stopped
  // answering may have gone with it: clicking where the element used to be
  // could press whatever took its place, so only a live frame counts then.
  const bool mayBeGone = code == AXErr::kInvalidUIElement || code == AXErr::kCannotComplete;
  if (!frame && !mayBeGone) frame = element.frame;
  if (mayBeGone) {
    if ((!frame || !(frame->width > 0)) && code == AXErr::kCannotComplete) {
      // The request went out and cannot be taken back: say so.
      return Display::result(Kind::failure, "Couldn't click “" + label + "”", dbg,
                             browserName() +
                                 " did not answer in time. It may still carry out the click "
                                 "when it responds.");
    }
    if (!frame || !(frame->width > 0)) {
      return Display::result(Kind::failure, "That element is no longer available", dbg,
                             "The page changed after it was read. Try the command again.");
    }
  } else if (!frame || !(frame->width > 0) || !(frame->height > 0)) {
    return Display::result(Kind::failure, "Couldn't click “" + label + "”", dbg,
                           "The element doesn't support pressing and has no on-screen position.");
  }
  SyntheticInput* input = target_.platform.input.get();
  if (!input) {
    return Display::result(
        Kind::failure, "Couldn't click “" + label + "”", dbg,
        "The element doesn't support pressing and Tovrin can't post clicks here.");
  }
  if (!input->canPostAtPoints()) {
    // Where a window's place on the screen is unknown, a point could land
    // on anything: nothing is clicked.
    dbg.push_back("No mouse fallback: positions on this desktop are not known");
    return Display::result(
        Kind::failure, "Couldn't click “" + label + "”", dbg,
        "The element doesn't support pressing and Tovrin can't click at a position on this "
        "desktop.");
  }
  dbg.push_back("Falling back to a mouse click at element center");
  const double x = frame->x + frame->width / 2;
  const double y = frame->y + frame->height / 2;
  input->postMouse(x, y, true);
  input->postMouse(x, y, false);
  return Display::result(Kind::success, clicked, dbg);
}

ChoiceOption ActionEngine::describe(const Match& match, std::shared_ptr<const PageSnapshot> snap) {
  const PageElement& e = match.element;
  std::string subtitle = Display::role(e.role);
  if (auto section = snap->sectionTitle(e.id))
    subtitle += " · under “" + unicode::truncate(*section, 40) + "”";
  if (e.frame && snap->webArea && snap->webArea->frame && snap->webArea->frame->height > 0) {
    const Frame& area = *snap->webArea->frame;
    const double r = (e.frame->y + e.frame->height / 2 - area.y) / area.height;
    subtitle += r < 0.33 ? " · top of view" : r < 0.66 ? " · middle of view" : " · bottom of view";
  }
  std::string title = e.label().empty() ? "(unlabeled " + Display::role(e.role) + ")" : e.label();
  auto self = shared_from_this();
  return ChoiceOption{newUUID(), std::move(title), subtitle, e, [self, match, snap, subtitle] {
                        return self->press(match, snap, {"Picked by you from " + subtitle});
                      }};
}

}  // namespace tovrin
