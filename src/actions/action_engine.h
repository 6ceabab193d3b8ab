#pragma once

// Where a parsed command meets the browser. One engine per submitted command:
// it reads the page at most once, runs the flow the Intent asks for and
// returns an Outcome. A Confirmation's perform or a ChoiceOption's run acts
// later on the same page read, through this same engine, which they keep
// alive.
//
// Concurrency: every operation here is ordinary blocking code. The caller
// runs it on a command thread, never the interface thread, so the interface
// never waits on a page read, the model or the short pauses between
// synthetic events; those pauses go through the desktop's clock (instant on
// the simulated desktop). cancel() cuts the remaining pauses and typing short;
// the caller drops the outcome of a cancelled command. One command thread at
// a time per engine.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "accessibility/ax.h"
#include "accessibility/browser.h"
#include "actions/highlighter.h"
#include "actions/input.h"
#include "actions/outcome.h"
#include "ai/language_model.h"
#include "content/page_snapshot.h"
#include "intent/element_matcher.h"
#include "intent/intent.h"

namespace tovrin {

using Trail = std::vector<std::string>;

class ActionEngine : public std::enable_shared_from_this<ActionEngine> {
 public:
  struct Services {
    std::shared_ptr<LanguageModel> model;      // absent: no on-device model
    std::shared_ptr<Highlighter> highlighter;  // the desktop's one highlighter
  };
  using ReadAhead = std::function<std::shared_ptr<const PageSnapshot>(const BrowserTarget&)>;

  static std::shared_ptr<ActionEngine> make(BrowserTarget target, Services services);

  // Where the page read while the command was typed comes from, before the
  // first read; when it gives nothing, the engine reads the page itself.
  void readAheadFrom(ReadAhead readAhead) { readAheadSource_ = std::move(readAhead); }

  Outcome run(const Intent& intent);
  // The page read, taken on first use and cached; nothing when the browser has
  // no readable window (a later call tries again).
  std::shared_ptr<const PageSnapshot> snapshot();
  static std::string elementDebug(const PageElement& element);
  // Brings an element into view, focuses it when it is interactive, outlines it.
  void reveal(const PageElement& element);

  void cancel() { cancelled_ = true; }
  [[nodiscard]] bool cancelled() const { return cancelled_; }
  [[nodiscard]] const BrowserTarget& target() const { return target_; }

  // The flows, reached through run(), a Confirmation or a ChoiceOption.
  Outcome clickFlow(const TargetSpec& spec, MatchPurpose purpose,
                    std::shared_ptr<const PageSnapshot> snap, Trail dbg);
  Outcome press(const Match& match, std::shared_ptr<const PageSnapshot> snap, Trail dbg);
  ActionResult doPress(const PageElement& element, const std::string& label, Trail dbg);
  ChoiceOption describe(const Match& match, std::shared_ptr<const PageSnapshot> snap);

  Outcome typeFlow(const std::string& text, const std::optional<TargetSpec>& field, bool replace,
                   Trail dbg);
  Outcome chooseField(const std::string& text, const std::optional<TargetSpec>& field, bool replace,
                      std::shared_ptr<const PageSnapshot> snap, Trail dbg);
  ActionResult write(const std::string& text, const AXElement& element, bool replace, bool secure,
                     const std::string& name, Trail dbg);

  ActionResult pressKey(KeyAction key, Trail dbg);
  Outcome navigate(const NavAction& action, Trail dbg);
  // The trail's line for a shortcut sent: the chord the desktop really sent.
  [[nodiscard]] std::string sentLine(KeyStroke key, const std::string& macChord) const;
  static std::optional<PageElement> chromeButton(const std::vector<std::string>& names,
                                                 const PageSnapshot* snap);

  Outcome scroll(const ScrollSpec& spec, const PageSnapshot& snap, Trail dbg);
  bool scrollIntoView(const AXElement& element);

  Outcome find(const std::string& query, const PageSnapshot& snap, Trail dbg);
  Outcome findAll(const std::string& query, const PageSnapshot& snap, Trail dbg);
  Outcome list(RoleHint role, const PageSnapshot& snap, Trail dbg);

  ActionResult read(const PageSnapshot& snap, Trail dbg);
  ActionResult copyArticle(const PageSnapshot& snap, Trail dbg);
  Outcome summarize(const PageSnapshot& snap, Trail dbg);
  Outcome ask(const std::string& question, const PageSnapshot& snap, Trail dbg);

  Outcome goTo(const std::string& place, std::shared_ptr<const PageSnapshot> snap, Trail dbg);
  Outcome search(const std::string& text, std::shared_ptr<const PageSnapshot> snap, Trail dbg);

  Outcome openLinks(const std::string& query, const PageSnapshot& snap, Trail dbg);
  Outcome openArticle(std::shared_ptr<const PageSnapshot> snap, Trail dbg);

 private:
  Outcome runIntent(const Intent& intent);
  ActionEngine(BrowserTarget target, Services services);

  void wait(double seconds);
  void highlight(const Frame& frame, double seconds);
  bool modelAvailable();
  std::string browserName() const { return target_.browserName(); }
  // Makes the browser the active application before keys are posted; when it
  // cannot be, the failure to return instead (nothing is posted).
  std::optional<ActionResult> requireActive(Trail& dbg);
  std::optional<Frame> pageArea();
  std::optional<bool> inside(const AXElement& element);
  std::optional<Frame> chromeWindowArea(const PageSnapshot& snap) const;
  void postWheel(const Frame& area, int32_t pixels);

  BrowserTarget target_;
  Services services_;
  std::mutex snapMutex_;
  std::shared_ptr<const PageSnapshot> snap_;
  ReadAhead readAheadSource_;
  bool readAhead_ = false;  // snap_ was read while the command was typed
  // What this command asks beyond its flow's own words, kept for the
  // choices and confirmations that finish it later.
  std::optional<bool> wantChecked_;       // a check box's wanted state
  std::optional<KeyAction> afterTyping_;  // a key pressed once the text is in
  std::atomic<bool> cancelled_{false};
};

// Shared display helpers of the flows.
namespace Display {
// "AXButton" shows as "Button".
std::string role(const std::string& role);
ActionResult result(ActionResult::Kind kind, std::string headline, Trail dbg,
                    std::optional<std::string> body = std::nullopt);
}  // namespace Display

}  // namespace tovrin
