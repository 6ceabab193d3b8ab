#pragma once

#include <string>
#include <string_view>

#include "intent/intent_json.h"
#include "intent/intent_parser.h"

namespace tovrin::testing {

// Expected JSON written with single quotes, so tables stay readable:
// J("{'intent':'key','key':'copy'}").
inline std::string J(std::string_view singleQuoted) {
  std::string out(singleQuoted);
  for (char& c : out) {
    if (c == '\'') c = '"';
  }
  return out;
}

// The parse of a command as compact JSON, or "null".
inline std::string parsed(std::string_view command) {
  auto intent = IntentParser::parse(command);
  return intent ? dumpJson(toJson(*intent)) : "null";
}

// A target object as the JSON encoder writes it.
inline std::string T(std::string_view query, std::string_view ordinal, std::string_view role,
                     std::string_view nextTo = "null") {
  return "{'query':'" + std::string(query) + "','ordinal':" + std::string(ordinal) + ",'role':'" +
         std::string(role) + "','nextTo':" + std::string(nextTo) + "}";
}

}  // namespace tovrin::testing
