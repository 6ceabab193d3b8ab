#pragma once

// The JSON form of an Intent, as the command line prints it:
// {"intent":"click","target":{"query":"Sign In","ordinal":2,"role":"button","nextTo":null}}

#include <nlohmann/json.hpp>
#include <string>

#include "intent/intent.h"

namespace tovrin {

nlohmann::ordered_json toJson(const TargetSpec& target);
nlohmann::ordered_json toJson(const Intent& intent);

// Compact, one line; never throws (invalid UTF-8 is replaced).
std::string dumpJson(const nlohmann::ordered_json& value);

}  // namespace tovrin
