#include "ai/local_ai.h"

#include <unicode/unistr.h>

#include <algorithm>

#include "base/unicode.h"

namespace tovrin {
namespace {

// Case-insensitive containment, with full Unicode case folding.
bool containsFolded(std::string_view haystack, std::string_view needle) {
  icu::UnicodeString h = unicode::toUnicode(haystack);
  icu::UnicodeString n = unicode::toUnicode(needle);
  h.foldCase();
  n.foldCase();
  return h.indexOf(n) >= 0;
}

}  // namespace

namespace Impl {

std::optional<Intent> parseIntent(LanguageModel& model, std::string_view text) {
  auto reply =
      model.respond(kTranslateInstructions, "Command: " + std::string(text), LLMIntent::schema());
  if (!reply) return std::nullopt;
  auto parsed = LLMIntent::from(*reply);
  if (!parsed) return std::nullopt;
  const std::string target = unicode::trimWhitespace(parsed->target);
  const std::optional<int64_t> ordinal =
      parsed->ordinal == 0 ? std::nullopt : std::optional<int64_t>(parsed->ordinal);
  const std::string& action = parsed->action;
  auto spec = [&] { return TargetSpec{target, ordinal, RoleHint::any, std::nullopt}; };

  if (action == "click") {
    if (target.empty() && !ordinal) return std::nullopt;
    return Intent{Intent::Click{spec()}};
  }
  if (action == "open_link") return Intent{Intent::OpenLink{spec()}};
  if (action == "read") return Intent{Intent::Read{}};
  if (action == "summarize") return Intent{Intent::Summarize{}};
  if (action == "ask") return Intent{Intent::Ask{std::string(text)}};
  if (action == "find") {
    if (target.empty()) return std::nullopt;
    return Intent{Intent::Find{target}};
  }
  if (action == "scroll_down") return scrollIntent<ScrollSpec::Down>();
  if (action == "scroll_up") return scrollIntent<ScrollSpec::Up>();
  if (action == "scroll_top") return scrollIntent<ScrollSpec::Top>();
  if (action == "scroll_bottom") return scrollIntent<ScrollSpec::Bottom>();
  if (action == "scroll_to") {
    if (target.empty()) return std::nullopt;
    return Intent{Intent::Scroll{ScrollSpec{ScrollSpec::Section{target}}}};
  }
  if (action == "type") {
    // The model may only type what the user actually wrote.
    const std::string& t = parsed->text;
    if (t.empty() || !containsFolded(text, t)) return std::nullopt;
    std::optional<TargetSpec> field;
    if (!parsed->field.empty())
      field = TargetSpec{parsed->field, std::nullopt, RoleHint::field, std::nullopt};
    return Intent{Intent::Type{t, field, false}};
  }
  if (action == "back") return navigateIntent<NavAction::Back>();
  if (action == "forward") return navigateIntent<NavAction::Forward>();
  if (action == "reload") return navigateIntent<NavAction::Reload>();
  if (action == "new_tab") return navigateIntent<NavAction::NewTab>();
  if (action == "close_tab") return navigateIntent<NavAction::CloseTab>();
  if (action == "next_tab") return navigateIntent<NavAction::NextTab>();
  if (action == "previous_tab") return navigateIntent<NavAction::PreviousTab>();
  if (action == "copy") return Intent{Intent::Key{KeyAction::copy}};
  if (action == "paste") return Intent{Intent::Key{KeyAction::paste}};
  if (action == "select_all") return Intent{Intent::Key{KeyAction::selectAll}};
  if (action == "enter") return Intent{Intent::Key{KeyAction::enter}};
  if (action == "escape") return Intent{Intent::Key{KeyAction::escape}};
  if (action == "list_buttons") return Intent{Intent::List{RoleHint::button}};
  if (action == "list_links") return Intent{Intent::List{RoleHint::link}};
  return std::nullopt;
}

std::optional<std::size_t> choose(LanguageModel& model, std::string_view query,
                                  const std::vector<std::string>& options) {
  std::string lines;
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (i > 0) lines += '\n';
    lines += std::to_string(i) + ": " + options[i];
  }
  auto reply = model.respond(kChooseInstructions,
                             "User wants: " + std::string(query) + "\nOptions:\n" + lines,
                             LLMChoice::schema());
  if (!reply) return std::nullopt;
  auto choice = LLMChoice::from(*reply);
  if (!choice || choice->index < 0 || static_cast<uint64_t>(choice->index) >= options.size())
    return std::nullopt;
  return static_cast<std::size_t>(choice->index);
}

std::optional<std::string> answer(LanguageModel& model, std::string_view question,
                                  std::string_view title, std::string_view excerpts) {
  return model.respond(kAnswerInstructions, "Page title: " + std::string(title) +
                                                "\n\nExcerpts:\n" + std::string(excerpts) +
                                                "\n\nQuestion: " + std::string(question));
}

std::optional<std::string> summarize(LanguageModel& model, std::string_view title,
                                     std::string_view text) {
  constexpr std::size_t kPiece = 5000;
  constexpr std::size_t kMaxPartials = 4;
  auto one = [&](std::string_view part, int bullets) {
    return model.respond(kSummaryInstructions, "Title: " + std::string(title) + "\n\n" +
                                                   std::string(part) + "\n\nSummarize in at most " +
                                                   std::to_string(bullets) + " bullet points.");
  };
  if (unicode::length(text) <= kPiece) return one(text, 6);
  std::vector<std::string> partials;
  std::string_view rest = text;
  while (!rest.empty() && partials.size() < kMaxPartials) {
    std::string piece = unicode::prefix(rest, kPiece);
    // `prefix` repairs malformed bytes, so step over the original bytes it covered.
    std::size_t consumed = std::min(rest.size(), unicode::prefixBytes(rest, kPiece));
    rest.remove_prefix(consumed);
    if (auto partial = one(piece, 3)) partials.push_back(std::move(*partial));
  }
  if (partials.empty()) return std::nullopt;
  std::string joined;
  for (std::size_t i = 0; i < partials.size(); ++i) {
    if (i > 0) joined += '\n';
    joined += partials[i];
  }
  if (auto final = one(joined, 6)) return final;
  return joined;
}

}  // namespace Impl

namespace LocalAI {

std::optional<std::size_t> choose(LanguageModel& model, std::string_view query,
                                  const std::vector<std::string>& options) {
  if (options.empty() || !model.isAvailable()) return std::nullopt;
  return Impl::choose(model, query, options);
}

}  // namespace LocalAI
}  // namespace tovrin
