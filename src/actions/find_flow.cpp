// Read-only searches: the lines that best match a query, every literal
// occurrence of a phrase, and the elements of one kind.

#include <set>

#include "actions/action_engine.h"
#include "base/unicode.h"
#include "content/page_qa.h"
#include "text/text_util.h"

namespace tovrin {
namespace {

using Kind = ActionResult::Kind;

std::optional<PageElement> elementOf(const PageSnapshot& snap, int id) {
  if (id < 0 || static_cast<std::size_t>(id) >= snap.elements.size()) return std::nullopt;
  return snap.elements[static_cast<std::size_t>(id)];
}

bool hasPress(const PageElement& e) {
  return std::find(e.actions.begin(), e.actions.end(), "AXPress") != e.actions.end();
}

std::string plural(std::size_t n, const std::string& word, const std::string& ending) {
  return word + (n == 1 ? "" : ending);
}

}  // namespace

Outcome ActionEngine::find(const std::string& query, const PageSnapshot& snap, Trail dbg) {
  std::vector<std::size_t> hits;
  for (const auto& r : PageQA::rankLines(snap, query))
    hits.push_back(r.index);
  if (hits.empty()) {
    const std::string q = TextUtil::norm(query);
    // A query with no letters or digits would be "found" in every line.
    for (std::size_t i = 0; i < snap.lines.size() && !q.empty(); ++i) {
      if (TextUtil::norm(snap.lines[i].text).find(q) != std::string::npos) hits.push_back(i);
    }
  }
  if (hits.empty()) {
    return Outcome{
        Display::result(Kind::failure, "Nothing on the page matches “" + query + "”", dbg)};
  }
  std::vector<FoundItem> items;
  for (std::size_t i = 0; i < std::min<std::size_t>(8, hits.size()); ++i) {
    const PageLine& line = snap.lines[hits[i]];
    items.push_back(
        {newUUID(), unicode::truncate(line.text, 140), elementOf(snap, line.elementID)});
  }
  if (items.front().element) {
    reveal(*items.front().element);
    dbg.push_back("Best match: " + elementDebug(*items.front().element));
  }
  ActionResult r =
      Display::result(Kind::info,
                      "Found **" + std::to_string(hits.size()) + "** " +
                          plural(hits.size(), "match", "es") + " for “" + TextUtil::md(query) + "”",
                      dbg);
  r.items = std::move(items);
  return Outcome{std::move(r)};
}

Outcome ActionEngine::findAll(const std::string& query, const PageSnapshot& snap, Trail dbg) {
  const std::string q = TextUtil::fold(query);
  if (q.empty()) return Outcome{Display::result(Kind::failure, "Nothing to search for", dbg)};
  std::size_t total = 0;
  std::vector<FoundItem> items;
  for (const PageLine& line : snap.lines) {
    const std::string f = TextUtil::fold(line.text);
    std::size_t count = 0;
    std::size_t first = std::string::npos;
    for (std::size_t at = f.find(q); at != std::string::npos; at = f.find(q, at + q.size())) {
      if (count++ == 0) first = at;
    }
    if (count == 0) continue;
    total += count;
    if (items.size() >= 30) continue;
    // Positions count characters: of the folded line, applied to the line as written.
    const std::size_t p = unicode::length(std::string_view(f).substr(0, first));
    const std::size_t start = p > 50 ? p - 50 : 0;
    std::string_view rest = std::string_view(line.text).substr(
        std::min(line.text.size(), unicode::prefixBytes(line.text, start)));
    std::string snippet = (start > 0 ? "…" : "") + unicode::prefix(rest, 140);
    items.push_back({newUUID(), std::move(snippet), elementOf(snap, line.elementID)});
  }
  if (total == 0)
    return Outcome{Display::result(Kind::failure, "No occurrences of “" + query + "”", dbg)};
  if (items.front().element) reveal(*items.front().element);
  const std::string places = items.size() >= 30 ? "30+" : std::to_string(items.size());
  ActionResult r = Display::result(
      Kind::info,
      "**" + std::to_string(total) + "** " + plural(total, "occurrence", "s") + " of “" +
          TextUtil::md(query) + "” in " + places + " " + plural(items.size(), "place", "s"),
      dbg);
  r.items = std::move(items);
  return Outcome{std::move(r)};
}

Outcome ActionEngine::list(RoleHint role, const PageSnapshot& snap, Trail dbg) {
  std::vector<const PageElement*> kept;
  std::set<std::string> keys;
  for (const PageElement& e : snap.elements) {
    if (e.frame && !(e.frame->width > 0 && e.frame->height > 0)) continue;
    const std::string label = e.label();
    if (label.empty() && role != RoleHint::field) continue;
    if (role == RoleHint::any) {
      if (!(Roles::clickable(e.role) || hasPress(e) || Roles::textInput(e.role) ||
            e.subrole == "AXSearchField"))
        continue;
    } else {
      if (!ElementMatcher::fits(e, role)) continue;
      const bool needsPress = role != RoleHint::heading && role != RoleHint::image &&
                              role != RoleHint::field && role != RoleHint::button &&
                              role != RoleHint::link;
      if (needsPress && !(Roles::clickable(e.role) || hasPress(e))) continue;
    }
    if (keys.insert(e.role + "|" + TextUtil::norm(label)).second) kept.push_back(&e);
  }
  const std::string noun =
      role == RoleHint::any ? "interactive element" : std::string(tovrin::noun(role));
  if (kept.empty()) return Outcome{Display::result(Kind::failure, "No " + noun + "s found", dbg)};
  std::vector<FoundItem> items;
  for (std::size_t i = 0; i < std::min<std::size_t>(80, kept.size()); ++i) {
    const PageElement& e = *kept[i];
    std::string text = e.label().empty() ? "(unlabeled)" : e.label();
    if (role == RoleHint::any) text += "  · " + Display::role(e.role);
    items.push_back({newUUID(), std::move(text), e});
  }
  ActionResult r = Display::result(
      Kind::info,
      "**" + std::to_string(kept.size()) + "** " + plural(kept.size(), noun, "s") + " on this page",
      dbg);
  r.items = std::move(items);
  return Outcome{std::move(r)};
}

}  // namespace tovrin
