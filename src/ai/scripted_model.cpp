#include "ai/scripted_model.h"

namespace tovrin {

void ScriptedModel::when(std::string promptContains, Reply reply) {
  rows_.emplace_back(std::move(promptContains), std::move(reply));
}

const ScriptedModel::Reply* ScriptedModel::lookup(const std::string& prompt) const {
  for (const auto& [needle, reply] : rows_) {
    if (prompt.find(needle) != std::string::npos) return &reply;
  }
  return nullptr;
}

std::optional<nlohmann::json> ScriptedModel::respond(const std::string& instructions,
                                                     const std::string& prompt,
                                                     const Schema& schema) {
  calls_.push_back({instructions, prompt, schema.name});
  const Reply* reply = lookup(prompt);
  if (reply == nullptr || !*reply) return std::nullopt;
  if (const auto* json = std::get_if<nlohmann::json>(&**reply)) return *json;
  auto parsed = nlohmann::json::parse(std::get<std::string>(**reply), nullptr, false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

std::optional<std::string> ScriptedModel::respond(const std::string& instructions,
                                                  const std::string& prompt) {
  calls_.push_back({instructions, prompt, ""});
  const Reply* reply = lookup(prompt);
  if (reply == nullptr || !*reply) return std::nullopt;
  if (const auto* text = std::get_if<std::string>(&**reply)) return *text;
  return std::get<nlohmann::json>(**reply).dump();
}

}  // namespace tovrin
