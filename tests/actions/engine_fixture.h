#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "actions/action_engine.h"
#include "ai/scripted_model.h"
#include "intent/intent_parser.h"
#include "support/scene_tree.h"

namespace tovrin::testing {

// One browser on a simulated desktop, an engine per command, a scripted model.
struct EngineFixture {
  std::shared_ptr<SimulatedDesktop> desktop;
  std::shared_ptr<ScriptedModel> model = std::make_shared<ScriptedModel>(false);
  std::shared_ptr<Highlighter> highlighter;
  std::shared_ptr<ActionEngine> engine;

  explicit EngineFixture(std::shared_ptr<SimulatedDesktop> d) : desktop(std::move(d)) {
    highlighter = std::make_shared<Highlighter>(desktop->platform());
  }
  explicit EngineFixture(std::string_view windowTree, BrowserApp app = {})
      : EngineFixture(browserDesktop(windowTree, app)) {}

  std::shared_ptr<ActionEngine> newEngine() {
    auto target = BrowserTracker(desktop->platform()).current();
    EXPECT_TRUE(target);
    engine = ActionEngine::make(*target, {.model = model, .highlighter = highlighter});
    return engine;
  }

  Outcome run(std::string_view command) {
    auto intent = IntentParser::parse(command);
    EXPECT_TRUE(intent) << command;
    desktop->clearEffects();
    return newEngine()->run(*intent);
  }

  // Effects other than the one-time Chromium preparation.
  std::vector<std::string> effects() const {
    std::vector<std::string> out;
    for (const Effect& e : desktop->effects()) {
      std::string line = e.describe();
      if (line.find("AXManualAccessibility") != std::string::npos ||
          line.find("AXEnhancedUserInterface") != std::string::npos) {
        continue;
      }
      out.push_back(line);
    }
    return out;
  }

  std::vector<std::string> effectsContaining(std::string_view needle) const {
    std::vector<std::string> out;
    for (const std::string& e : effects()) {
      if (e.find(needle) != std::string::npos) out.push_back(e);
    }
    return out;
  }
};

inline const ActionResult& resultOf(const Outcome& o) {
  static const ActionResult none{
      ActionResult::Kind::failure, "(not a result)", std::nullopt, {}, {}, std::nullopt};
  const ActionResult* r = o.result();
  EXPECT_TRUE(r != nullptr) << "expected a result";
  return r ? *r : none;
}

inline std::string headline(const Outcome& o) {
  if (const ActionResult* r = o.result()) return r->headline;
  if (const Confirmation* c = o.confirmation()) return "confirm: " + c->title;
  if (const ChoiceSet* s = o.choices()) return "choose: " + s->prompt;
  return "";
}

inline bool contains(const std::vector<std::string>& lines, std::string_view line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace tovrin::testing
