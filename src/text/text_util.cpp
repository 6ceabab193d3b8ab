#include "text/text_util.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

#include "base/unicode.h"

namespace tovrin::TextUtil {
namespace {

struct SynonymEntry {
  std::string_view key;
  std::vector<std::string_view> related;
};

// Kept in this order on purpose: "price" and "pricing" share the stem "pric",
// and the first key in table order wins, so "pric" always resolves to the
// "price" list.
const std::vector<SynonymEntry>& synonymSource() {
  static const std::vector<SynonymEntry> table = {
      {"cost", {"price", "pricing", "fee", "plan", "pay", "subscription"}},
      {"price", {"cost", "pricing", "fee", "plan", "subscription"}},
      {"pricing", {"price", "cost", "plan", "fee"}},
      {"refund", {"return", "guarantee", "reimbursement"}},
      {"contact", {"email", "phone", "support", "address", "reach"}},
      {"wrote", {"author", "written", "by", "writer"}},
      {"author", {"written", "by", "writer", "wrote"}},
      {"writer", {"author", "by", "written"}},
      {"require", {"need", "must", "minimum", "system", "prerequisite"}},
      {"requirement", {"need", "must", "minimum", "system", "prerequisite"}},
      {"review", {"rating", "star", "feedback", "testimonial", "customer"}},
      {"shipping", {"delivery", "deliver"}},
      {"login", {"sign", "account"}},
      {"free", {"trial", "no cost"}},
      {"date", {"published", "posted", "updated"}},
      {"published", {"date", "posted"}},
  };
  return table;
}

// Stemmed form of each key with its stemmed related words, built once.
const std::vector<std::pair<std::string, std::vector<std::string>>>& synonymStems() {
  static const auto stems = [] {
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    for (const SynonymEntry& entry : synonymSource()) {
      std::vector<std::string> related;
      for (std::string_view word : entry.related) {
        for (std::string& t : tokens(word))
          related.push_back(std::move(t));
      }
      out.emplace_back(stem(entry.key), std::move(related));
    }
    return out;
  }();
  return stems;
}

bool isLetterOrNumber(UChar32 c) {
  return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_N_MASK)) != 0;
}

// Code points that extend the character before them (combining and spacing
// marks, joiners), so a letter keeps its marks in scripts where folding
// leaves them, such as Devanagari vowel signs.
bool extendsCharacter(UChar32 c) {
  auto gcb = u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK);
  return gcb == U_GCB_EXTEND || gcb == U_GCB_SPACING_MARK || gcb == U_GCB_ZWJ;
}

std::string normAscii(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  bool gap = false;
  for (char ch : s) {
    bool alnum = (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z');
    if (!alnum) {
      gap = true;
      continue;
    }
    if (gap && !out.empty()) out += ' ';
    gap = false;
    out += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
  }
  return out;
}

icu::UnicodeString foldUnicode(std::string_view s) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  icu::UnicodeString text = unicode::toUnicode(s);
  if (U_FAILURE(status)) return text.foldCase();
  icu::UnicodeString decomposed = nfd->normalize(text, status);
  icu::UnicodeString bare;
  for (int32_t i = 0; i < decomposed.length();) {
    UChar32 c = decomposed.char32At(i);
    if (u_charType(c) != U_NON_SPACING_MARK) bare.append(c);
    i += U16_LENGTH(c);
  }
  bare.foldCase();
  icu::UnicodeString composed = nfc->normalize(bare, status);
  return U_SUCCESS(status) ? composed : bare;
}

// Calls `visit` with each space-separated word of a normalised text.
template <typename Visit>
void forEachWord(const std::string& text, Visit visit) {
  std::string_view view = text;
  std::size_t start = 0;
  while (start < view.size()) {
    std::size_t end = view.find(' ', start);
    if (end == std::string_view::npos) end = view.size();
    if (end > start) visit(view.substr(start, end - start));
    start = end + 1;
  }
}

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

const std::unordered_set<std::string>& stop() {
  static const std::unordered_set<std::string> words = {
      "the",     "a",       "an",    "of",          "to",       "in",        "on",         "at",
      "for",     "is",      "are",   "was",         "were",     "be",        "it",         "its",
      "this",    "that",    "these", "those",       "what",     "whats",     "where",      "when",
      "who",     "whom",    "how",   "which",       "why",      "does",      "do",         "did",
      "me",      "my",      "i",     "you",         "your",     "about",     "page",       "site",
      "website", "webpage", "find",  "mention",     "mentions", "mentioned", "mentioning", "please",
      "and",     "or",      "with",  "say",         "says",     "any",       "there",      "here",
      "tell",    "show",    "get",   "information", "info",     "can",       "could",      "would",
      "should",  "have",    "has",   "had",         "from",     "by",        "as",         "all",
      "every",   "each",    "some",  "link",        "button",   "section",   "part"};
  return words;
}

std::string clean(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  bool gap = false;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t start = i;
    char32_t c = unicode::nextCodePoint(s, i);
    if (unicode::isWhitespace(c)) {
      gap = true;
      continue;
    }
    if (gap && !out.empty()) out += ' ';
    gap = false;
    if (c == U'\uFFFD') {
      unicode::appendCodePoint(out, c);  // malformed input becomes U+FFFD
    } else {
      out.append(s, start, i - start);
    }
  }
  return out;
}

std::string norm(std::string_view s) {
  if (unicode::isAscii(s)) return normAscii(s);
  icu::UnicodeString folded = foldUnicode(s);
  icu::UnicodeString out;
  bool gap = false;
  bool keptPrevious = false;
  for (int32_t i = 0; i < folded.length();) {
    UChar32 c = folded.char32At(i);
    i += U16_LENGTH(c);
    bool keep = isLetterOrNumber(c) || (keptPrevious && extendsCharacter(c));
    keptPrevious = keep;
    if (!keep) {
      gap = true;
      continue;
    }
    if (gap && !out.isEmpty()) out.append(static_cast<UChar>(' '));
    gap = false;
    out.append(c);
  }
  return unicode::toUtf8(out);
}

std::string fold(std::string_view s) {
  if (unicode::isAscii(s)) return unicode::lower(s);
  return unicode::toUtf8(foldUnicode(s));
}

std::string stem(std::string_view w) {
  std::size_t n = unicode::length(w);
  if (n > 4 && endsWith(w, "ies")) return std::string(w.substr(0, w.size() - 3)) + "y";
  static constexpr std::array<std::string_view, 6> kSuffixes = {"ings", "ing", "es",
                                                                "ed",   "s",   "e"};
  for (std::string_view suffix : kSuffixes) {
    if (endsWith(w, suffix) && n >= suffix.size() + 3) {
      return std::string(w.substr(0, w.size() - suffix.size()));
    }
  }
  return std::string(w);
}

std::vector<std::string> tokens(std::string_view s) {
  const std::string normalised = norm(s);
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(std::count(normalised.begin(), normalised.end(), ' ')) + 1);
  forEachWord(normalised, [&out](std::string_view word) { out.push_back(stem(word)); });
  return out;
}

std::vector<std::string> contentTokens(std::string_view s) {
  const auto& stopWords = stop();
  std::vector<std::string> out;
  forEachWord(norm(s), [&](std::string_view word) {
    if (!stopWords.contains(std::string(word))) out.push_back(stem(word));
  });
  return out;
}

std::vector<std::string> sentences(std::string_view s) {
  std::vector<std::string> out;
  icu::UnicodeString text = unicode::toUnicode(s);
  icu::BreakIterator* it = unicode::breakIterator(unicode::BreakKind::sentence);
  if (it == nullptr) {
    std::string whole = clean(unicode::toUtf8(text));
    if (!whole.empty()) out.push_back(std::move(whole));
    return out;
  }
  it->setText(text);
  int32_t start = it->first();
  for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
    std::string sentence = clean(unicode::toUtf8(text.tempSubStringBetween(start, end)));
    if (!sentence.empty()) out.push_back(std::move(sentence));
  }
  static const auto* const empty = new icu::UnicodeString();
  it->setText(*empty);  // the iterator must not keep pointing at `text`
  return out;
}

std::vector<std::string> synonyms(std::string_view stemmed) {
  for (const auto& [key, related] : synonymStems()) {
    if (key == stemmed) return related;
  }
  return {};
}

std::size_t words(std::string_view s) {
  std::size_t count = 0;
  bool inWord = false;
  for (std::size_t i = 0; i < s.size();) {
    bool space = unicode::isWhitespace(unicode::nextCodePoint(s, i));
    if (!space && !inWord) ++count;
    inWord = !space;
  }
  return count;
}

std::string md(std::string_view s) {
  static constexpr std::string_view kSpecials = "\\`*_{}[]()#+!<>|~";
  std::string out;
  out.reserve(s.size() + s.size() / 8);
  for (char ch : s) {
    if (kSpecials.find(ch) != std::string_view::npos) out += '\\';
    out += ch;
  }
  return unicode::repair(out);
}

}  // namespace tovrin::TextUtil
