#pragma once

// The on-device language model as the logic sees it: availability, a
// structured reply for a declared schema, and a plain-text reply. Every call
// is a fresh session with its own instructions and no history. Calls block
// until the model answers; callers run them off the main thread. Any failure
// (refusal, context too long, the model going away) is an absent reply.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tovrin {

struct SchemaProperty {
  enum class Type { string, integer };
  std::string name;
  Type type = Type::string;
  std::string description;  // given to the model word for word
};

struct Schema {
  std::string name;
  std::vector<SchemaProperty> properties;

  // Whether `reply` is an object holding every property with its type.
  [[nodiscard]] bool accepts(const nlohmann::json& reply) const;
};

// The reply asked for when translating a command.
struct LLMIntent {
  std::string action;
  std::string target;
  int64_t ordinal = 0;
  std::string text;
  std::string field;

  static const Schema& schema();
  static std::optional<LLMIntent> from(const nlohmann::json& reply);
};

// The reply asked for when picking one of several candidates.
struct LLMChoice {
  int64_t index = -1;

  static const Schema& schema();
  static std::optional<LLMChoice> from(const nlohmann::json& reply);
};

class LanguageModel {
 public:
  virtual ~LanguageModel() = default;
  [[nodiscard]] virtual bool isAvailable() = 0;
  // A reply shaped by `schema` (which the model is shown in its prompt).
  virtual std::optional<nlohmann::json> respond(const std::string& instructions,
                                                const std::string& prompt,
                                                const Schema& schema) = 0;
  virtual std::optional<std::string> respond(const std::string& instructions,
                                             const std::string& prompt) = 0;
  // Gives up the calls under way (the user pressed Escape): they return
  // nothing at once. Later calls are not affected.
  virtual void cancel() {}
  // One line per call since the last time, for the "Why?" trail: which
  // model was asked and how long it took.
  virtual std::vector<std::string> takeCallNotes() { return {}; }
};

// The model of a desktop that has none: never available, never answers.
class UnavailableModel final : public LanguageModel {
 public:
  bool isAvailable() override { return false; }
  std::optional<nlohmann::json> respond(const std::string&, const std::string&,
                                        const Schema&) override {
    return std::nullopt;
  }
  std::optional<std::string> respond(const std::string&, const std::string&) override {
    return std::nullopt;
  }
};

}  // namespace tovrin
