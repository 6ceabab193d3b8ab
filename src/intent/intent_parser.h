#pragma once

// Turns one typed command into an Intent with an ordered table of regular
// expression rules (ICU syntax). Pure and stateless: the patterns are compiled
// once and shared, so it may be called from any thread, on every keystroke.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "intent/intent.h"

namespace tovrin::IntentParser {

// The intent of a command, or nothing when no rule recognises it and it is
// not a question. Malformed UTF-8 is read as U+FFFD.
[[nodiscard]] std::optional<Intent> parse(std::string_view text);

// Splits a target phrase ("the second Sign In button next to search") into
// ordinal, element kind, anchor and the remaining descriptive words.
[[nodiscard]] TargetSpec parseTarget(std::string_view phrase, RoleHint defaultRole);

// "e-mail address" -> email, "Phone number" -> phone, "username" -> name.
[[nodiscard]] std::optional<ProfileField> profileField(std::string_view text);

// The whole-command matcher: `pattern` must cover all of `text` apart from
// surrounding white space and a trailing run of ".", "!" and "?". Gives one
// string per capture group (empty for a group that took no part), an empty
// list for a pattern without groups, and nothing for no match or a pattern
// that does not compile. Compiles `pattern` on each call; the parser's own
// rules are compiled once.
[[nodiscard]] std::optional<std::vector<std::string>> m(std::string_view pattern,
                                                        std::string_view text);

// The command as it may be shown back (a transcript, a log): the text of a
// typing command whose field names a secret is replaced by bullets.
[[nodiscard]] std::string shownCommand(std::string_view text);

// Trims white space and newlines and removes one pair of enclosing quotes
// ("…", “…”, '…', ‘…’, `…`).
[[nodiscard]] std::string strip(std::string_view text);

}  // namespace tovrin::IntentParser
