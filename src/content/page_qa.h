#pragma once

// Answers questions about a page and summarises it without a language model,
// and picks the excerpts handed to one when it is there: term weighting over
// the page's own chunks or lines (frequency, inverse document frequency,
// synonyms, heading and phrase bonuses, a mild length penalty), then
// sentence picking. Pure functions of one snapshot.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "content/page_snapshot.h"

namespace tovrin {

namespace PageQA {

struct Ranked {
  std::size_t index = 0;  // into the ranked list
  double score = 0;       // > 0
};

// Relevance of each text to the query, best first (ties keep text order);
// texts scoring 0 are left out. `headings`, when given, are indexed like `texts`.
std::vector<Ranked> rank(const std::vector<std::string>& texts,
                         const std::vector<std::string>* headings, std::string_view query);
std::vector<Ranked> rankChunks(const PageSnapshot& snap, std::string_view query);
// Lines, with heading lines boosted.
std::vector<Ranked> rankLines(const PageSnapshot& snap, std::string_view query);

// The best chunks that fit a character budget, in document order.
std::vector<PageChunk> excerpts(const PageSnapshot& snap, std::string_view query,
                                std::size_t budget);

// Page sentences that answer the question, as "• " lines, or a fixed message.
std::string extractiveAnswer(const PageSnapshot& snap, std::string_view question);
// The title in bold and up to six "• heading — sentence" bullets.
std::string extractiveSummary(const PageSnapshot& snap);

}  // namespace PageQA

// The excerpts for a question: the best chunks within 4500 characters, in
// document order, and their texts joined by "\n---\n".
struct PageQAExcerpts {
  std::vector<PageChunk> chunks;
  std::string text;

  PageQAExcerpts(const PageSnapshot& snap, std::string_view question);
};

}  // namespace tovrin
