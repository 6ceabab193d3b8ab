#pragma once

// UTF-8 helpers on top of ICU. Every string that crosses a Tovrin interface is
// UTF-8 in a std::string; these functions never fail: malformed UTF-8 is read
// as U+FFFD, and lengths count user-perceived characters (extended grapheme
// clusters), never bytes.

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tovrin::unicode {

enum class BreakKind { character, sentence };

// This thread's break iterator of the given kind (ICU's iterators are not safe
// to share, and expensive to create: each thread clones a prototype made
// once). Null when ICU has no break data.
icu::BreakIterator* breakIterator(BreakKind kind);

icu::UnicodeString toUnicode(std::string_view utf8);
std::string toUtf8(const icu::UnicodeString& text);

// The text as valid UTF-8: each malformed sequence becomes U+FFFD.
std::string repair(std::string_view utf8);

bool isAscii(std::string_view text);

// Unicode White_Space: space, tab, line breaks, U+0085, U+2028, U+2029, NBSP…
bool isWhitespace(char32_t c);

// Decodes the code point starting at byte `i` and advances `i` past it.
// Malformed input yields U+FFFD and advances by at least one byte.
char32_t nextCodePoint(std::string_view text, std::size_t& i);
void appendCodePoint(std::string& out, char32_t c);

// Trims Unicode white space and line breaks from both ends.
std::string trimWhitespace(std::string_view text);

// Trims any of the given code points from both ends.
std::string trimCodePoints(std::string_view text, std::u32string_view set);

// Root-locale full lower-casing.
std::string lower(std::string_view text);

// Number of user-perceived characters.
std::size_t length(std::string_view text);

// The first `count` user-perceived characters.
std::string prefix(std::string_view text, std::size_t count);

// How many bytes of `text` its first `count` user-perceived characters take.
std::size_t prefixBytes(std::string_view text, std::size_t count);

// The first and last user-perceived character; empty for an empty text.
std::string_view firstCharacter(std::string_view text);
std::string_view lastCharacter(std::string_view text);

// Pieces of `text` between U+0020 spaces, empty pieces dropped. Only the space
// character splits: a tab or a no-break space stays inside a piece.
std::vector<std::string> splitOnSpace(std::string_view text);

// The display rule for texts too long for their place: a text of at most
// `limit` characters is returned whole, a longer one is cut to limit - 1
// characters followed by "…".
std::string truncate(std::string_view text, std::size_t limit);

}  // namespace tovrin::unicode
