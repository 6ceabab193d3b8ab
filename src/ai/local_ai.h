#pragma once

// The four narrow jobs of the on-device model: translating a command the
// rules did not understand, picking one of a few on-screen candidates,
// answering from page excerpts, and summarising. Each returns nothing when
// the model is missing or fails; every caller has a rule-based fallback.
// Calls block while the model works: run them off the main thread.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ai/language_model.h"
#include "intent/intent.h"

namespace tovrin {

namespace Impl {

inline constexpr const char* kTranslateInstructions =
    "You translate a short command for controlling a web browser into a structured action. Never "
    "invent text to type. If unsure, use unknown.";
inline constexpr const char* kChooseInstructions =
    "You pick which on-screen element best matches the user's description. Answer only with the "
    "index.";
inline constexpr const char* kSummaryInstructions =
    "Summarize the given web page text faithfully using only that text. Use short bullet points. "
    "No "
    "outside knowledge.";
inline constexpr const char* kAnswerInstructions =
    "You answer questions about a web page using ONLY the excerpts provided. If the excerpts do "
    "not "
    "contain the answer, reply exactly: \"The page doesn't say.\" Be concise (at most 4 "
    "sentences). "
    "Never use outside knowledge.";

// The model's reading of a command, mapped onto an Intent; nothing for an
// unknown action, or for typing text the user did not write.
std::optional<Intent> parseIntent(LanguageModel& model, std::string_view text);
// An index into `options`, or nothing (no clear match, or out of range).
std::optional<std::size_t> choose(LanguageModel& model, std::string_view query,
                                  const std::vector<std::string>& options);
std::optional<std::string> answer(LanguageModel& model, std::string_view question,
                                  std::string_view title, std::string_view excerpts);
// Bullet points; long texts are summarised in pieces of 5000 characters, at
// most four partial summaries, then once more over the partials.
std::optional<std::string> summarize(LanguageModel& model, std::string_view title,
                                     std::string_view text);

}  // namespace Impl

namespace LocalAI {
// Asks the model only when it is available and there is something to choose.
std::optional<std::size_t> choose(LanguageModel& model, std::string_view query,
                                  const std::vector<std::string>& options);
}  // namespace LocalAI

}  // namespace tovrin
