#include "base/regex.h"

#include <atomic>

#include "base/unicode.h"

namespace tovrin {
namespace {

// Slots beyond this are served by a fresh matcher per search instead of the
// per-thread cache, so regexes made and dropped at run time cannot grow it.
constexpr std::size_t kCachedSlots = 1024;

std::atomic<std::size_t> nextSlot{0};

struct CachedMatcher {
  // The pattern is kept alive for as long as its matcher.
  std::shared_ptr<const icu::RegexPattern> pattern;
  std::unique_ptr<icu::RegexMatcher> matcher;
};

// What an idle cached matcher points at, so it never holds a caller's text.
// Never destroyed: cached matchers on other threads may outlive static teardown.
const icu::UnicodeString& idleText() {
  static const auto* const empty = new icu::UnicodeString();
  return *empty;
}

icu::RegexMatcher* configure(icu::RegexMatcher* m) {
  UErrorCode status = U_ZERO_ERROR;
  m->setTimeLimit(Regex::kTimeLimit, status);
  m->setStackLimit(Regex::kStackLimit, status);
  return m;
}

}  // namespace

Regex::Regex(std::string_view pattern, Options options) : slot_(nextSlot.fetch_add(1)) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError{};
  uint32_t flags = options.caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0;
  std::unique_ptr<icu::RegexPattern> compiled(
      icu::RegexPattern::compile(unicode::toUnicode(pattern), flags, parseError, status));
  if (U_SUCCESS(status) && compiled) pattern_ = std::move(compiled);
}

Regex::~Regex() = default;

icu::RegexMatcher* Regex::matcher(const icu::UnicodeString& text) const {
  thread_local std::vector<CachedMatcher> cache;
  if (slot_ >= kCachedSlots) return nullptr;
  if (cache.size() <= slot_) cache.resize(slot_ + 1);
  CachedMatcher& entry = cache[slot_];
  UErrorCode status = U_ZERO_ERROR;
  if (entry.pattern != pattern_ || !entry.matcher) {
    entry.matcher.reset();
    entry.pattern = pattern_;
    entry.matcher.reset(pattern_->matcher(status));
    if (U_FAILURE(status) || !entry.matcher) {
      entry.matcher.reset();
      return nullptr;
    }
    configure(entry.matcher.get());
  }
  entry.matcher->reset(text);
  return entry.matcher.get();
}

std::optional<RegexMatch> Regex::find(const icu::UnicodeString& text) const {
  if (!pattern_) return std::nullopt;
  std::unique_ptr<icu::RegexMatcher> owned;
  icu::RegexMatcher* m = matcher(text);
  if (m == nullptr) {
    UErrorCode status = U_ZERO_ERROR;
    owned.reset(pattern_->matcher(text, status));
    if (U_FAILURE(status) || !owned) return std::nullopt;
    m = configure(owned.get());
  }
  UErrorCode status = U_ZERO_ERROR;
  bool found = m->find(0, status);
  if (U_FAILURE(status) || !found) {  // includes U_REGEX_TIME_OUT and stack overflow
    if (!owned) m->reset(idleText());
    return std::nullopt;
  }
  RegexMatch match;
  match.start = m->start(status);
  match.end = m->end(status);
  int32_t count = m->groupCount();
  match.groups.reserve(static_cast<std::size_t>(count));
  for (int32_t g = 1; g <= count; ++g) {
    UErrorCode groupStatus = U_ZERO_ERROR;
    int32_t s = m->start(g, groupStatus);
    if (U_FAILURE(groupStatus) || s < 0) {
      match.groups.emplace_back();
    } else {
      match.groups.push_back(m->group(g, groupStatus));
    }
  }
  // Drop the matcher's reference to the caller's text.
  if (!owned) m->reset(idleText());
  if (U_FAILURE(status)) return std::nullopt;
  return match;
}

}  // namespace tovrin
