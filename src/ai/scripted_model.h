#pragma once

// A language model that answers from a table, for tests and demos. It
// records every call: the instructions, the prompt and the schema asked for.

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "ai/language_model.h"

namespace tovrin {

class ScriptedModel final : public LanguageModel {
 public:
  struct Call {
    std::string instructions;
    std::string prompt;
    std::string schema;  // empty for a plain-text call
  };
  // A JSON object for structured calls or text for plain ones; nothing fails the call.
  using Reply = std::optional<std::variant<nlohmann::json, std::string>>;

  explicit ScriptedModel(bool available = true) : available_(available) {}

  // Calls whose prompt contains `promptContains` (an empty string matches
  // every prompt) get `reply`; the first matching row wins. Unmatched calls fail.
  void when(std::string promptContains, Reply reply);
  void setAvailable(bool available) { available_ = available; }
  [[nodiscard]] const std::vector<Call>& calls() const { return calls_; }

  bool isAvailable() override { return available_; }
  std::optional<nlohmann::json> respond(const std::string& instructions, const std::string& prompt,
                                        const Schema& schema) override;
  std::optional<std::string> respond(const std::string& instructions,
                                     const std::string& prompt) override;

 private:
  const Reply* lookup(const std::string& prompt) const;

  bool available_;
  std::vector<std::pair<std::string, Reply>> rows_;
  std::vector<Call> calls_;
};

}  // namespace tovrin
