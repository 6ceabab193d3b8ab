#pragma once

// What running a command yields, and how the palette acts on it: a finished
// result, a risky action waiting for approval, or a choice among candidates.
// The closures in a Confirmation or ChoiceOption keep their engine alive and
// act on the page read the command took; like every engine operation they
// block, so call them off the interface thread.

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "accessibility/page_element.h"

namespace tovrin {

struct FoundItem {
  std::string id;  // a fresh UUID
  std::string text;
  std::optional<PageElement> element;  // picking the row reveals it
};

struct ActionResult {
  enum class Kind { success, info, failure };
  Kind kind = Kind::success;
  std::string headline;  // Markdown: "**" marks bold; page text inside is escaped
  std::optional<std::string> body;
  std::vector<FoundItem> items;
  std::vector<std::string> debug;  // the "Why?" trail, plain text
  std::optional<std::string> copyText;
};

std::string_view kindName(ActionResult::Kind kind);

struct Confirmation {
  std::string title;
  std::string message;
  std::string confirmLabel;
  std::vector<std::string> debug;
  std::function<ActionResult()> perform;  // declining just drops the confirmation
};

struct Outcome;

struct ChoiceOption {
  std::string id;  // a fresh UUID
  std::string title;
  std::string subtitle;
  std::optional<PageElement> element;  // outlined while the option is selected
  std::function<Outcome()> run;        // what picking the option does
};

struct ChoiceSet {
  std::string prompt;
  std::vector<ChoiceOption> options;
};

struct Outcome {
  std::variant<ActionResult, Confirmation, ChoiceSet> value;

  [[nodiscard]] const ActionResult* result() const { return std::get_if<ActionResult>(&value); }
  [[nodiscard]] const Confirmation* confirmation() const {
    return std::get_if<Confirmation>(&value);
  }
  [[nodiscard]] const ChoiceSet* choices() const { return std::get_if<ChoiceSet>(&value); }
};

// A random version-4 UUID in its usual text form.
std::string newUUID();

}  // namespace tovrin
