// Moving the page: by the scroll area's own page actions when it has them,
// else by wheel events over the page, else by the browser's navigation keys;
// and bringing one element into view.

#include <cmath>

#include "actions/action_engine.h"
#include "base/overloaded.h"
#include "base/unicode.h"
#include "content/page_qa.h"
#include "text/text_util.h"

namespace tovrin {
namespace {

using Kind = ActionResult::Kind;

bool interactive(const PageElement& e) {
  return Roles::clickable(e.role) ||
         std::find(e.actions.begin(), e.actions.end(), "AXPress") != e.actions.end() ||
         Roles::textInput(e.role) || e.role == "AXSearchField";
}

}  // namespace

std::optional<Frame> ActionEngine::pageArea() {
  std::shared_ptr<const PageSnapshot> snap;
  {
    std::lock_guard lock(snapMutex_);
    snap = snap_;
  }
  if (!snap || !snap->webArea) return std::nullopt;
  if (auto fresh = AX::frame(snap->webArea->element)) return fresh;
  return snap->webArea->frame;
}

std::optional<Frame> ActionEngine::chromeWindowArea(const PageSnapshot& snap) const {
  for (const PageElement& e : snap.chrome) {
    if (e.role == "AXWindow") return e.frame;
  }
  return std::nullopt;
}

void ActionEngine::postWheel(const Frame& area, int32_t pixels) {
  if (SyntheticInput* input = target_.platform.input.get()) {
    input->postScrollWheel(area.x + area.width / 2, area.y + area.height / 2, pixels);
  }
}

Outcome ActionEngine::scroll(const ScrollSpec& spec, const PageSnapshot& snap, Trail dbg) {
  auto keyFallback = [&](uint16_t code, std::string line) -> std::optional<Outcome> {
    dbg.push_back(std::move(line));
    if (auto refused = requireActive(dbg)) return Outcome{*refused};
    Input::postKey(target_, {code, KeyFlags::kNone});
    return std::nullopt;
  };
  auto byPage = [&](bool down) -> Outcome {
    const std::string action = down ? "AXScrollDownByPage" : "AXScrollUpByPage";
    const std::string headline = down ? "Scrolled **down**" : "Scrolled **up**";
    if (snap.webArea) {
      std::optional<AXElement> current = snap.webArea->element;
      for (int step = 0; step < 4 && current; ++step, current = AX::parent(*current)) {
        if (AX::str(AX::copy(*current, "AXRole")) != "AXScrollArea") continue;
        auto actions = AX::actions(*current);
        if (std::find(actions.begin(), actions.end(), action) == actions.end()) continue;
        if (AX::perform(*current, action) == AXErr::kSuccess) {
          dbg.push_back("Used " + action + " on AXScrollArea");
          return Outcome{Display::result(Kind::success, headline, dbg)};
        }
      }
    }
    std::optional<Frame> area = pageArea();
    if (!area) area = chromeWindowArea(snap);
    const SyntheticInput* input = target_.platform.input.get();
    if (!area || (input && !input->canPostAtPoints())) {
      if (auto refused = keyFallback(down ? KeyCode::kPageDown : KeyCode::kPageUp,
                                     "Fell back to Page Down / Page Up key")) {
        return *refused;
      }
      return Outcome{Display::result(Kind::success, headline, dbg)};
    }
    dbg.push_back("Posted scroll-wheel event over the page");
    const auto amount = static_cast<int32_t>(std::trunc(std::clamp(area->height * 0.8, -1e9, 1e9)));
    const int32_t step = (down ? -amount : amount) / 4;
    for (int i = 0; i < 4 && !cancelled(); ++i) {
      postWheel(*area, step);
      wait(0.015);
    }
    return Outcome{Display::result(Kind::success, headline, dbg)};
  };
  auto toEnd = [&](bool top) -> Outcome {
    const PageElement* target = nullptr;
    for (const PageElement& e : snap.elements) {
      if (!e.frame || !(e.frame->width > 0 && e.frame->height > 0) || e.label().empty()) continue;
      target = &e;
      if (top) break;
    }
    // An element fixed to the view (a header, a cookie bar, a status line)
    // is in view wherever the page is, so bringing it into view moves
    // nothing: the element that does is the farthest one outside the view.
    if (const std::optional<Frame> area = snap.webArea ? snap.webArea->frame : std::nullopt) {
      const PageElement* farthest = nullptr;
      for (const PageElement& e : snap.elements) {
        // Unlabelled blocks count (text runs may carry no frame of their
        // own); ones taller than the view are wrappers, not an end.
        if (!e.frame || !(e.frame->width > 0 && e.frame->height > 0) ||
            e.frame->height > area->height || e.role == "AXWebArea") {
          continue;
        }
        const double edge = top ? e.frame->y : e.frame->y + e.frame->height;
        const bool outside = top ? edge < area->y : edge > area->y + area->height;
        if (!outside) continue;
        const double best = farthest == nullptr ? 0
                            : top               ? farthest->frame->y
                                                : farthest->frame->y + farthest->frame->height;
        if (farthest == nullptr || (top ? edge < best : edge > best)) farthest = &e;
      }
      if (farthest != nullptr) target = farthest;
    }
    if (target != nullptr && scrollIntoView(target->element)) {
      dbg.push_back(std::string("AXScrollToVisible on the ") + (top ? "first" : "last") +
                    " element");
    } else if (auto refused =
                   keyFallback(top ? KeyCode::kHome : KeyCode::kEnd,
                               std::string("Fell back to ") + (top ? "Home" : "End") + " key")) {
      return *refused;
    }
    return Outcome{Display::result(
        Kind::success, top ? "Scrolled to the **top**" : "Scrolled to the **bottom**", dbg)};
  };
  auto toSection = [&](const std::string& name) -> Outcome {
    const PageElement* best = nullptr;
    double bestScore = -1;
    for (const PageLine& line : snap.lines) {
      if (line.kind != PageLine::Kind::heading || line.elementID < 0 ||
          static_cast<std::size_t>(line.elementID) >= snap.elements.size()) {
        continue;
      }
      const double s = ElementMatcher::score(std::string_view(line.text), name);
      if (s >= 30 && s + 20 > bestScore) {
        best = &snap.elements[static_cast<std::size_t>(line.elementID)];
        bestScore = s + 20;
      }
    }
    if (best == nullptr) {
      auto ranked = PageQA::rankLines(snap, name);
      if (!ranked.empty()) {
        const int id = snap.lines[ranked.front().index].elementID;
        if (id >= 0 && static_cast<std::size_t>(id) < snap.elements.size())
          best = &snap.elements[static_cast<std::size_t>(id)];
      }
    }
    if (best == nullptr)
      return Outcome{
          Display::result(Kind::failure, "Couldn't find a section about “" + name + "”", dbg)};
    dbg.push_back("Target: " + elementDebug(*best));
    (void)scrollIntoView(best->element);
    return Outcome{Display::result(
        Kind::success, "Scrolled to **" + TextUtil::md(unicode::truncate(best->label(), 60)) + "**",
        dbg)};
  };

  return std::visit(Overloaded{
                        [&](const ScrollSpec::Down&) { return byPage(true); },
                        [&](const ScrollSpec::Up&) { return byPage(false); },
                        [&](const ScrollSpec::Top&) { return toEnd(true); },
                        [&](const ScrollSpec::Bottom&) { return toEnd(false); },
                        [&](const ScrollSpec::Section& s) { return toSection(s.text); },
                    },
                    spec.value);
}

std::optional<bool> ActionEngine::inside(const AXElement& element) {
  auto frame = AX::frame(element);
  auto area = pageArea();
  if (!frame || !area) return std::nullopt;
  const double mid = frame->y + frame->height / 2;
  return area->y <= mid && mid <= area->y + area->height;
}

bool ActionEngine::scrollIntoView(const AXElement& element) {
  (void)AX::perform(element, "AXScrollToVisible");
  wait(0.120);
  std::optional<bool> in = inside(element);
  if (!in || *in) return AX::frame(element).has_value();
  std::optional<Frame> area = pageArea();
  if (!area) return false;
  if (const SyntheticInput* input = target_.platform.input.get();
      input && !input->canPostAtPoints())
    return false;  // no wheel to turn where the page lies
  for (int i = 0; i < 30 && !cancelled(); ++i) {
    auto rect = AX::rect(AX::copy(element, "AXPosition"), AX::copy(element, "AXSize"));
    if (!rect) return false;
    const double mid = rect->y + rect->height / 2;
    if (mid >= area->y + 20 && mid <= area->y + area->height - 20) return true;
    const auto amount = static_cast<int32_t>(std::trunc(std::clamp(area->height * 0.7, -1e9, 1e9)));
    postWheel(*area, mid > area->y + area->height ? -amount : amount);
    wait(0.090);
  }
  return inside(element).value_or(false);
}

void ActionEngine::reveal(const PageElement& element) {
  const bool ok = scrollIntoView(element.element);
  if (interactive(element)) AX::set(element.element, "AXFocused", true);
  wait(0.150);
  if (!ok) return;
  std::optional<Frame> frame = AX::frame(element.element);
  if (!frame) frame = element.frame;
  if (frame) highlight(*frame, 3.5);
}

}  // namespace tovrin
