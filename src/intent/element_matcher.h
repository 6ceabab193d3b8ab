#pragma once

// Decides which page element a command means: filters a page's elements by
// what the command wants to do with them, scores their labels against the
// query words, applies a "next to" anchor or an ordinal, and explains each
// candidate in one line for the "Why?" trail. Pure functions over values.

#include <string>
#include <string_view>
#include <vector>

#include "accessibility/page_element.h"
#include "intent/intent.h"

namespace tovrin {

enum class MatchPurpose { click, link, field };

struct Match {
  PageElement element;
  double score = 0;  // 0–100
  std::string reason;
};

struct MatchResult {
  std::vector<Match> matches;
  bool ordinalApplied = false;  // the target named an ordinal and the ordinal stage ran
};

namespace ElementMatcher {

// `elements` is a snapshot's page pass: ids are positions, parents index it.
[[nodiscard]] MatchResult matches(const TargetSpec& spec, const std::vector<PageElement>& elements,
                                  MatchPurpose purpose);

// Best score of any of the element's labels against the query and its aliases.
[[nodiscard]] double score(const PageElement& element, std::string_view query);

// The core similarity of one label and one query, 0–100.
[[nodiscard]] double score(std::string_view label, std::string_view query);

[[nodiscard]] bool fits(const PageElement& element, RoleHint role);

// The element if it can be pressed, else its nearest pressable ancestor within
// six levels, else the element itself.
[[nodiscard]] const PageElement& pressable(const PageElement& element,
                                           const std::vector<PageElement>& elements);

}  // namespace ElementMatcher
}  // namespace tovrin
