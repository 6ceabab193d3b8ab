#include "base/unicode.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <memory>

namespace tovrin::unicode {
namespace {

// Byte offsets of the character boundaries of `text`, visited in order until
// `visit` returns false. Falls back to code points when ICU has no break data.
template <typename Visit>
void forEachBoundary(std::string_view text, Visit visit) {
  if (isAscii(text)) {
    // In ASCII only CR LF forms a cluster of more than one byte.
    for (std::size_t i = 0; i < text.size();) {
      i += (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      if (!visit(i)) return;
    }
    return;
  }
  icu::BreakIterator* it = breakIterator(BreakKind::character);
  UErrorCode status = U_ZERO_ERROR;
  UText* ut = it ? utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status)
                 : nullptr;
  if (ut == nullptr || U_FAILURE(status)) {
    if (ut) utext_close(ut);
    for (std::size_t i = 0; i < text.size();) {
      nextCodePoint(text, i);
      if (!visit(i)) return;
    }
    return;
  }
  it->setText(ut, status);
  if (U_SUCCESS(status)) {
    it->first();
    for (int32_t b = it->next(); b != icu::BreakIterator::DONE; b = it->next()) {
      if (!visit(static_cast<std::size_t>(b))) break;
    }
  }
  // Detach the iterator from the UText before closing it.
  static const auto* const empty = new icu::UnicodeString();
  it->setText(*empty);
  utext_close(ut);
}

}  // namespace

icu::BreakIterator* breakIterator(BreakKind kind) {
  auto make = [](BreakKind k) -> const icu::BreakIterator* {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(
        k == BreakKind::character
            ? icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status)
            : icu::BreakIterator::createSentenceInstance(icu::Locale::getRoot(), status));
    return U_SUCCESS(status) ? it.release() : nullptr;
  };
  // Made once and never destroyed: threads may still clone them during exit.
  static const icu::BreakIterator* const characters = make(BreakKind::character);
  static const icu::BreakIterator* const sentences = make(BreakKind::sentence);
  thread_local std::unique_ptr<icu::BreakIterator> localCharacters(characters ? characters->clone()
                                                                              : nullptr);
  thread_local std::unique_ptr<icu::BreakIterator> localSentences(sentences ? sentences->clone()
                                                                            : nullptr);
  return kind == BreakKind::character ? localCharacters.get() : localSentences.get();
}

icu::UnicodeString toUnicode(std::string_view utf8) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

bool isAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string repair(std::string_view utf8) {
  if (isAscii(utf8)) return std::string(utf8);
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();)
    appendCodePoint(out, nextCodePoint(utf8, i));
  return out;
}

bool isWhitespace(char32_t c) {
  return u_isUWhiteSpace(static_cast<UChar32>(c));
}

char32_t nextCodePoint(std::string_view text, std::size_t& i) {
  auto length = static_cast<int32_t>(text.size());
  auto offset = static_cast<int32_t>(i);
  UChar32 c = 0;
  U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), offset, length, c);
  i = static_cast<std::size_t>(offset);
  return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

void appendCodePoint(std::string& out, char32_t c) {
  uint8_t buffer[U8_MAX_LENGTH];
  int32_t n = 0;
  UBool error = false;
  U8_APPEND(buffer, n, U8_MAX_LENGTH, static_cast<UChar32>(c), error);
  if (error) {
    out += "\xEF\xBF\xBD";
    return;
  }
  out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
}

namespace {

template <typename Pred>
std::string trimIf(std::string_view text, Pred drop) {
  // One forward pass: the kept range runs from the first kept code point to
  // the end of the last one, so malformed bytes never split a sequence.
  std::size_t begin = std::string_view::npos;
  std::size_t end = 0;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t start = i;
    if (!drop(nextCodePoint(text, i))) {
      if (begin == std::string_view::npos) begin = start;
      end = i;
    }
  }
  if (begin == std::string_view::npos) return {};
  return repair(text.substr(begin, end - begin));
}

}  // namespace

std::string trimWhitespace(std::string_view text) {
  return trimIf(text, isWhitespace);
}

std::string trimCodePoints(std::string_view text, std::u32string_view set) {
  return trimIf(text, [set](char32_t c) { return set.find(c) != std::u32string_view::npos; });
}

std::string lower(std::string_view text) {
  if (isAscii(text)) {
    std::string out(text);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
  }
  icu::UnicodeString u = toUnicode(text);
  u.toLower(icu::Locale::getRoot());
  return toUtf8(u);
}

std::size_t length(std::string_view text) {
  // ASCII in one pass: every byte is a character, except that CR LF is one.
  std::size_t ascii = 0;
  bool allAscii = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      allAscii = false;
      break;
    }
    if (!(c == '\n' && i > 0 && text[i - 1] == '\r')) ++ascii;
  }
  if (allAscii) return ascii;
  std::size_t count = 0;
  forEachBoundary(text, [&count](std::size_t) {
    ++count;
    return true;
  });
  return count;
}

std::size_t prefixBytes(std::string_view text, std::size_t count) {
  if (count == 0) return 0;
  std::size_t end = 0;
  std::size_t seen = 0;
  forEachBoundary(text, [&](std::size_t b) {
    end = b;
    return ++seen < count;
  });
  return end;
}

std::string prefix(std::string_view text, std::size_t count) {
  return repair(text.substr(0, prefixBytes(text, count)));
}

std::string_view firstCharacter(std::string_view text) {
  std::size_t end = 0;
  forEachBoundary(text, [&end](std::size_t b) {
    end = b;
    return false;
  });
  return text.substr(0, end);
}

std::string_view lastCharacter(std::string_view text) {
  std::size_t previous = 0;
  std::size_t last = 0;
  forEachBoundary(text, [&](std::size_t b) {
    previous = last;
    last = b;
    return true;
  });
  return text.substr(previous, last - previous);
}

std::vector<std::string> splitOnSpace(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) out.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string truncate(std::string_view text, std::size_t limit) {
  if (length(text) <= limit) return repair(text);
  return prefix(text, limit == 0 ? 0 : limit - 1) + "…";
}

}  // namespace tovrin::unicode
