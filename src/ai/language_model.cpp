#include "ai/language_model.h"

namespace tovrin {

bool Schema::accepts(const nlohmann::json& reply) const {
  if (!reply.is_object()) return false;
  for (const SchemaProperty& p : properties) {
    auto it = reply.find(p.name);
    if (it == reply.end()) return false;
    if (p.type == SchemaProperty::Type::string && !it->is_string()) return false;
    if (p.type == SchemaProperty::Type::integer && !it->is_number_integer()) return false;
  }
  return true;
}

const Schema& LLMIntent::schema() {
  using T = SchemaProperty::Type;
  static const Schema s{
      "LLMIntent",
      {{"action", T::string,
        "One of: click, open_link, read, summarize, ask, find, scroll_down, scroll_up, scroll_top, "
        "scroll_bottom, scroll_to, type, back, forward, reload, new_tab, close_tab, next_tab, "
        "previous_tab, copy, paste, select_all, enter, escape, list_buttons, list_links, unknown"},
       {"target", T::string,
        "What to click, find, open, scroll to or ask about, without filler words. Empty if none."},
       {"ordinal", T::integer,
        "Ordinal requested: 1 for first, 2 for second, -1 for last, 0 if none."},
       {"text", T::string,
        "Text to type exactly as the user wrote it. Empty if none. Never invent text."},
       {"field", T::string, "Name of the input field to type into. Empty if unspecified."}}};
  return s;
}

std::optional<LLMIntent> LLMIntent::from(const nlohmann::json& reply) {
  if (!schema().accepts(reply)) return std::nullopt;
  // Integers beyond 64 bits would not have passed as integers above.
  return LLMIntent{
      reply["action"].get<std::string>(), reply["target"].get<std::string>(),
      reply["ordinal"].is_number_unsigned() && reply["ordinal"].get<uint64_t>() > INT64_MAX
          ? INT64_MAX
          : reply["ordinal"].get<int64_t>(),
      reply["text"].get<std::string>(), reply["field"].get<std::string>()};
}

const Schema& LLMChoice::schema() {
  static const Schema s{"LLMChoice",
                        {{"index", SchemaProperty::Type::integer,
                          "Index of the best matching option, or -1 if none clearly matches."}}};
  return s;
}

std::optional<LLMChoice> LLMChoice::from(const nlohmann::json& reply) {
  if (!schema().accepts(reply)) return std::nullopt;
  if (reply["index"].is_number_unsigned() && reply["index"].get<uint64_t>() > INT64_MAX)
    return LLMChoice{-1};
  return LLMChoice{reply["index"].get<int64_t>()};
}

}  // namespace tovrin
