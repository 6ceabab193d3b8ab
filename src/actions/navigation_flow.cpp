// Key presses and browser navigation: keys go to the browser process; back,
// forward, reload and new tab press the toolbar button when there is one and
// fall back to the shortcut; closing a tab always asks first.

#include <algorithm>

#include "actions/action_engine.h"
#include "base/overloaded.h"
#include "base/unicode.h"
#include "text/text_util.h"

namespace tovrin {
namespace {

using Kind = ActionResult::Kind;

struct ToolbarRow {
  std::vector<std::string> names;
  KeyStroke shortcut;
  std::string headline;
  std::string verb;
};

}  // namespace

ActionResult ActionEngine::pressKey(KeyAction key, Trail dbg) {
  if (auto refused = requireActive(dbg)) return *refused;
  Input::postKey(target_, keyStroke(key));
  dbg.push_back("Keyboard event sent to " + browserName());
  return Display::result(Kind::success, "Pressed **" + std::string(title(key)) + "**", dbg);
}

std::optional<PageElement> ActionEngine::chromeButton(const std::vector<std::string>& names,
                                                      const PageSnapshot* snap) {
  if (snap == nullptr) return std::nullopt;
  for (const PageElement& e : snap->chrome) {
    if (e.role != "AXButton" && e.role != "AXMenuButton") continue;
    for (const std::string& label : e.labels()) {
      const std::string key = TextUtil::norm(label);
      for (const std::string& name : names) {
        if (key == name || key.rfind(name + " ", 0) == 0) return e;
      }
    }
  }
  return std::nullopt;
}

std::string ActionEngine::sentLine(KeyStroke key, const std::string& macChord) const {
  if (SyntheticInput* input = target_.platform.input.get()) {
    if (auto sent = input->sentChord(target_.app.pid, key.code, key.flags)) return *sent + " sent";
  }
  return macChord + " sent";
}

Outcome ActionEngine::navigate(const NavAction& action, Trail dbg) {
  auto shortcut = [&](KeyStroke key, std::string headline, std::string line) -> Outcome {
    if (auto refused = requireActive(dbg)) return Outcome{*refused};
    Input::postKey(target_, key);
    dbg.push_back(std::move(line));
    return Outcome{Display::result(Kind::success, std::move(headline), dbg)};
  };
  auto toolbar = [&](const ToolbarRow& row) -> Outcome {
    auto snap = snapshot();
    std::optional<PageElement> button = chromeButton(row.names, snap.get());
    if (button && !button->enabled) {
      std::string verb = unicode::lower(row.verb);
      return Outcome{
          Display::result(Kind::failure, "Can't " + verb + " — that button is disabled", dbg)};
    }
    if (button && AX::perform(button->element, "AXPress") == AXErr::kSuccess) {
      dbg.push_back("AXPress on toolbar button “" + button->label() + "”");
      return Outcome{Display::result(Kind::success, row.headline, dbg)};
    }
    return shortcut(row.shortcut, row.headline,
                    "Toolbar button not available — sent keyboard shortcut");
  };
  const uint64_t cmd = KeyFlags::kCommand;

  return std::visit(
      Overloaded{
          [&](const NavAction::TabIndex& t) {
            const int k = static_cast<int>(std::clamp<int64_t>(t.index, 1, 9));
            // The ninth shortcut goes to the last tab, however many there are.
            return shortcut({KeyCode::digit(k), cmd},
                            k == 9 ? std::string("Switched to the **last** tab")
                                   : "Switched to tab **" + std::to_string(k) + "**",
                            sentLine({KeyCode::digit(k), cmd}, "⌘" + std::to_string(k)));
          },
          [&](const NavAction::TabNamed& t) -> Outcome {
            auto snap = snapshot();
            const PageElement* best = nullptr;
            double bestScore = 0;
            if (snap) {
              for (const PageElement& e : snap->chrome) {
                if (e.role != "AXRadioButton" && e.role != "AXTab") continue;
                if (e.frame && !(e.frame->width > 0 && e.frame->height > 0)) continue;
                const double s = ElementMatcher::score(e, t.name);
                if (s >= 30 && s > bestScore) {  // strictly greater: the earliest wins a tie
                  best = &e;
                  bestScore = s;
                }
              }
            }
            if (best == nullptr)
              return Outcome{
                  Display::result(Kind::failure, "No tab matches “" + t.name + "”", dbg)};
            // Some tab strips offer only a context menu on their tabs
            // (Chromium's on Linux): a refused press is not a switch, so
            // the tab is clicked where it is shown, or the failure told.
            if (const int32_t code = AX::perform(best->element, "AXPress");
                code == AXErr::kSuccess) {
              dbg.push_back("Pressed tab “" + best->label() + "”");
            } else {
              dbg.push_back("AXPress failed (" + std::to_string(code) + ")");
              std::optional<Frame> frame = AX::frame(best->element);
              SyntheticInput* input = target_.platform.input.get();
              if (!frame || !(frame->width > 0 && frame->height > 0) || input == nullptr ||
                  !input->canPostAtPoints()) {
                return Outcome{Display::result(
                    Kind::failure,
                    "Couldn't switch to “" + unicode::truncate(best->label(), 50) + "”", dbg,
                    "The tab can't be pressed and has no on-screen position.")};
              }
              dbg.push_back("Clicked tab “" + best->label() + "” at its center");
              input->postMouse(frame->x + frame->width / 2, frame->y + frame->height / 2, true);
              input->postMouse(frame->x + frame->width / 2, frame->y + frame->height / 2, false);
            }
            return Outcome{Display::result(
                Kind::success,
                "Switched to **" + TextUtil::md(unicode::truncate(best->label(), 50)) + "**", dbg)};
          },
          [&](const NavAction::Back&) {
            return toolbar(
                {{"back", "go back"}, {KeyCode::kLeftBracket, cmd}, "**Went back**", "Went back"});
          },
          [&](const NavAction::Forward&) {
            return toolbar({{"forward", "go forward"},
                            {KeyCode::kRightBracket, cmd},
                            "**Went forward**",
                            "Went forward"});
          },
          [&](const NavAction::Reload&) {
            return toolbar({{"reload", "reload this page", "reload page", "refresh"},
                            {KeyCode::kR, cmd},
                            "**Reloaded**",
                            "Reloaded"});
          },
          [&](const NavAction::NewTab&) {
            return toolbar({{"new tab", "open a new tab"},
                            {KeyCode::kT, cmd},
                            "**Opened a new tab**",
                            "Opened a new tab"});
          },
          [&](const NavAction::CloseTab&) {
            auto self = shared_from_this();
            return Outcome{Confirmation{
                "Close this tab?", "Unsaved work on the page may be lost.", "Close tab", dbg,
                [self, dbg]() mutable {
                  if (auto refused = self->requireActive(dbg)) return *refused;
                  Input::postKey(self->target_, {KeyCode::kW, KeyFlags::kCommand});
                  dbg.push_back(self->sentLine({KeyCode::kW, KeyFlags::kCommand}, "⌘W"));
                  return Display::result(Kind::success, "Closed the tab", dbg);
                }}};
          },
          [&](const NavAction::NextTab&) {
            return shortcut({KeyCode::kTab, KeyFlags::kControl}, "Switched to the **next** tab",
                            sentLine({KeyCode::kTab, KeyFlags::kControl}, "⌃Tab"));
          },
          [&](const NavAction::PreviousTab&) {
            return shortcut(
                {KeyCode::kTab, KeyFlags::kControl | KeyFlags::kShift},
                "Switched to the **previous** tab",
                sentLine({KeyCode::kTab, KeyFlags::kControl | KeyFlags::kShift}, "⌃Tab"));
          },
      },
      action.value);
}

}  // namespace tovrin
