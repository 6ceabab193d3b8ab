#pragma once

// The one place where Tovrin decides what counts as a word and when two texts
// mean the same thing. Pure functions over UTF-8; "characters" are
// user-perceived characters. Safe to call from any thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tovrin::TextUtil {

// The stop words that contentTokens removes, tested before stemming.
const std::unordered_set<std::string>& stop();

// White-space runs (every Unicode white space and line break) collapsed to one
// space, none at either end.
std::string clean(std::string_view s);

// Case- and diacritic-folded letters and digits, every other run of characters
// turned into one space, trimmed: "Sign-In!" -> "sign in", "$49.99/mo" -> "49 99 mo".
std::string norm(std::string_view s);

// Case and diacritics folded, everything else kept: "Café-Bar" -> "cafe-bar".
std::string fold(std::string_view s);

// Crude English stem of one normalised word; removes at most one suffix and
// never leaves fewer than three characters.
std::string stem(std::string_view w);

// Stemmed words of norm(s), order and duplicates kept.
std::vector<std::string> tokens(std::string_view s);

// Like tokens, without stop words.
std::vector<std::string> contentTokens(std::string_view s);

// Sentences by ICU sentence breaks, each cleaned, empty ones dropped.
std::vector<std::string> sentences(std::string_view s);

// Stemmed related words for a stemmed word; empty when it has none.
std::vector<std::string> synonyms(std::string_view stemmed);

// Number of white-space separated words.
std::size_t words(std::string_view s);

// Backslash before each Markdown special character.
std::string md(std::string_view s);

}  // namespace tovrin::TextUtil
