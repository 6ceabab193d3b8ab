#pragma once

// A compiled ICU regular expression, safe to share between threads. Patterns
// are compiled once, when the Regex is made; each thread reuses its own
// matcher. Every search runs under a step limit and a backtracking-stack
// limit, so no input can make a pattern run away: a search that hits either
// limit counts as no match.

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace tovrin {

struct RegexMatch {
  int32_t start = 0;  // UTF-16 offsets of the whole match
  int32_t end = 0;
  // Capture groups from group 1; a group that took no part is empty.
  std::vector<icu::UnicodeString> groups;
};

struct RegexOptions {
  bool caseInsensitive = false;
};

class Regex {
 public:
  using Options = RegexOptions;

  // Never fails: an invalid pattern makes a Regex that matches nothing.
  explicit Regex(std::string_view pattern, Options options = {});
  ~Regex();
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;

  [[nodiscard]] bool valid() const { return pattern_ != nullptr; }

  // The first match anywhere in `text`.
  [[nodiscard]] std::optional<RegexMatch> find(const icu::UnicodeString& text) const;
  [[nodiscard]] bool contains(const icu::UnicodeString& text) const {
    return find(text).has_value();
  }

  // Limits for one search, in ICU match-engine time units (about ten thousand
  // steps each) and bytes of backtracking stack.
  static constexpr int32_t kTimeLimit = 200;
  static constexpr int32_t kStackLimit = 8 * 1024 * 1024;

 private:
  icu::RegexMatcher* matcher(const icu::UnicodeString& text) const;

  std::shared_ptr<const icu::RegexPattern> pattern_;
  std::size_t slot_ = 0;
};

}  // namespace tovrin
