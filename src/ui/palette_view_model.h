#pragma once

// The state behind the command palette: what the user typed, which phase it
// is in (idle, working, result, confirmation, choice), the selection while
// choosing, the access and browser context. Free of any toolkit: views
// subscribe to changes and call these operations on the interface thread;
// blocking work goes through the application's Executor.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "accessibility/browser.h"
#include "actions/action_engine.h"
#include "ai/language_model.h"
#include "ui/executor.h"
#include "ui/page_prefetch.h"

namespace tovrin {

struct Suggestion {
  std::string id;  // fresh each time the list is built
  std::string title;
  std::string icon;   // a symbol name
  std::string fill;   // put into the input
  bool runs = false;  // submit at once
};

class PaletteViewModel : public std::enable_shared_from_this<PaletteViewModel> {
 public:
  struct Idle {};
  struct Working {
    std::string status;
  };
  using Phase = std::variant<Idle, Working, ActionResult, Confirmation, ChoiceSet>;

  struct Services {
    Platform platform;
    std::shared_ptr<BrowserTracker> tracker;
    std::shared_ptr<LanguageModel> model;
    std::shared_ptr<Highlighter> highlighter;
    std::shared_ptr<Executor> executor;
  };

  static std::shared_ptr<PaletteViewModel> make(Services services);

  // Published state.
  std::string input;
  [[nodiscard]] const Phase& phase() const { return phase_; }
  int selected = 0;
  bool showWhy = false;
  [[nodiscard]] bool trusted() const { return trusted_; }
  [[nodiscard]] const std::optional<BrowserTarget>& target() const { return target_; }
  [[nodiscard]] const std::string& focusToken() const { return focusToken_; }
  // The engine of the latest command, kept for follow-up actions on its results.
  [[nodiscard]] std::shared_ptr<ActionEngine> engine() const { return engine_; }

  // Called after every change of the published state.
  void onChange(std::function<void()> observer) { observers_.push_back(std::move(observer)); }

  // Pages are read while commands are typed, by `prefetch`; without one
  // every command reads after Return.
  void readAheadWith(std::shared_ptr<PagePrefetch> prefetch) { prefetch_ = std::move(prefetch); }
  void reset();
  // The palette was shown (after reset): the page is read while the user
  // types.
  void opened();
  // The palette was closed by the user, not stepped aside for a command:
  // nothing read from the page is kept, and a command still running ends
  // without showing its outcome.
  void closed();
  void refreshContext();
  // Asks the desktop again whether Tovrin is trusted; the palette changes
  // (and its observers hear of it) only when the answer did. True when
  // trusted.
  bool recheckTrust();
  [[nodiscard]] std::optional<std::string> preview() const;
  [[nodiscard]] std::vector<Suggestion> suggestions() const;
  void use(const Suggestion& suggestion);
  void inputChanged();
  void submit();
  void move(int delta);
  void pick(int index);
  void confirm(const Confirmation& confirmation);
  void cancel();
  bool escape();
  void reveal(const FoundItem& item);
  void setSelected(int index);

 private:
  struct Task {
    std::atomic<bool> cancelled{false};
    std::shared_ptr<ActionEngine> engine;
  };

  explicit PaletteViewModel(Services services);
  void setPhase(Phase phase);
  void apply(const Outcome& outcome);
  void highlightSelected();
  void hideOutline();
  void changed();
  // Runs `work` in the background, then `done` on the interface thread unless
  // the task was cancelled meanwhile.
  void startTask(std::shared_ptr<Task> task, std::function<Outcome()> work);

  Services services_;
  Phase phase_ = Idle{};
  bool trusted_ = false;
  std::optional<BrowserTarget> target_;
  std::string focusToken_;
  std::shared_ptr<ActionEngine> engine_;
  std::shared_ptr<Task> task_;
  std::shared_ptr<PagePrefetch> prefetch_;
  std::vector<std::function<void()>> observers_;
};

}  // namespace tovrin
