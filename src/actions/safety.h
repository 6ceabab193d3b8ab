#pragma once

// Whether pressing an element looks consequential (buying, sending,
// deleting, changing the account, agreeing), judged from its label alone.
// A pure lookup over a fixed table.

#include <optional>
#include <string>
#include <string_view>

namespace tovrin::Safety {

// The warning for a risky label, or nothing. Phrases match as whole words of
// the normalised label; the first rule in table order wins.
std::optional<std::string> assess(std::string_view label);

}  // namespace tovrin::Safety
