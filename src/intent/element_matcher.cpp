#include "intent/element_matcher.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_set>

#include "base/unicode.h"
#include "text/text_util.h"

namespace tovrin::ElementMatcher {
namespace {

constexpr double kMinimumScore = 30;

const std::vector<std::vector<std::string_view>>& aliasGroups() {
  static const std::vector<std::vector<std::string_view>> groups = {
      {"login", "log in", "sign in", "signin"},
      {"signup", "sign up", "register", "create account", "join"},
      {"logout", "log out", "sign out"},
      {"cart", "basket", "bag"},
      {"add to cart", "add to bag", "add to basket"},
  };
  return groups;
}

std::string withoutSpaces(std::string s) {
  std::erase(s, ' ');
  return s;
}

std::vector<std::string> stemWords(const std::string& normalised) {
  std::vector<std::string> words = unicode::splitOnSpace(normalised);
  for (std::string& w : words)
    w = TextUtil::stem(w);
  return words;
}

// The query side of a comparison, worked out once per query rather than once
// per label; the results are the same as computing it each time.
struct Query {
  std::string norm;
  std::string compact;
  std::size_t compactLength = 0;
  std::vector<std::string> tokens;  // content tokens, or all tokens when it has none
  std::vector<std::size_t> tokenLengths;

  explicit Query(std::string_view text) : norm(TextUtil::norm(text)), compact(withoutSpaces(norm)) {
    compactLength = unicode::length(compact);
    tokens = TextUtil::contentTokens(text);
    if (tokens.empty()) tokens = stemWords(norm);
    for (const std::string& t : tokens)
      tokenLengths.push_back(unicode::length(t));
  }
};

struct Label {
  std::string norm;
  std::string compact;
  std::vector<std::string> tokens;

  explicit Label(std::string_view text)
      : norm(TextUtil::norm(text)), compact(withoutSpaces(norm)), tokens(stemWords(norm)) {}
};

double similarity(const Label& label, const Query& query) {
  if (label.norm.empty() || query.norm.empty()) return 0;
  if (label.norm == query.norm) return 100;
  if (label.compact == query.compact) return 96;
  const double extra = std::max(
      0.0, static_cast<double>(label.tokens.size()) - static_cast<double>(query.tokens.size()));
  const double lp = 1.0 / (1.0 + 0.07 * extra);

  double phrase = 0;
  if ((" " + label.norm + " ").find(" " + query.norm + " ") != std::string::npos) {
    phrase = 82 * lp + 8;
  } else if (query.compactLength >= 4 && label.compact.find(query.compact) != std::string::npos) {
    phrase = 66 * lp;
  }

  double token = 0;
  if (!query.tokens.empty()) {
    std::unordered_set<std::string_view> labelSet(label.tokens.begin(), label.tokens.end());
    std::size_t m = 0;
    for (std::size_t i = 0; i < query.tokens.size(); ++i) {
      const std::string& q = query.tokens[i];
      bool hit = labelSet.contains(q);
      if (!hit && query.tokenLengths[i] >= 3) {
        hit = std::any_of(label.tokens.begin(), label.tokens.end(),
                          [&q](const std::string& l) { return l.rfind(q, 0) == 0; });
      }
      if (hit) ++m;
    }
    if (m > 0) {
      double ratio = static_cast<double>(m) / static_cast<double>(query.tokens.size());
      token = 70 * ratio * ratio * lp;
    }
  }
  return std::max(phrase, token);
}

// The query and its alias variants with their weights.
std::vector<std::pair<Query, double>> variants(std::string_view query) {
  std::vector<std::pair<Query, double>> out;
  out.emplace_back(Query(query), 1.0);
  const std::string q = out.front().first.norm;  // a copy: out grows below
  // "the language menu", "the country dropdown": the control named
  // "language", whatever kind of element the page made it.
  static constexpr std::array<std::string_view, 5> kControlNouns = {
      " menu", " dropdown", " drop down", " picker", " selector"};
  for (std::string_view noun : kControlNouns) {
    if (q.size() > noun.size() && q.ends_with(noun)) {
      out.emplace_back(Query(std::string_view(q).substr(0, q.size() - noun.size())), 1.0);
      break;
    }
  }
  for (const auto& group : aliasGroups()) {
    if (std::find(group.begin(), group.end(), q) == group.end()) continue;
    for (std::string_view word : group) {
      if (word != q) out.emplace_back(Query(word), 0.95);
    }
  }
  return out;
}

double elementScore(const PageElement& element,
                    const std::vector<std::pair<Query, double>>& queries) {
  std::vector<std::string> labels = element.labels();
  if (labels.empty()) return 0;
  const std::string help = TextUtil::clean(element.help);
  double best = 0;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const double labelWeight = (i > 0 && labels[i] == help) ? 0.8 : 1.0;
    Label label(labels[i]);
    for (const auto& [query, weight] : queries) {
      best = std::max(best, weight * labelWeight * similarity(label, query));
    }
  }
  return best;
}

bool hasPress(const PageElement& e) {
  return std::find(e.actions.begin(), e.actions.end(), "AXPress") != e.actions.end();
}

bool onScreen(const PageElement& e) {
  return !e.frame || (e.frame->width > 0 && e.frame->height > 0);
}

const PageElement* parentOf(const PageElement& e, const std::vector<PageElement>& elements) {
  if (!e.parent || *e.parent < 0 || static_cast<std::size_t>(*e.parent) >= elements.size())
    return nullptr;
  return &elements[static_cast<std::size_t>(*e.parent)];
}

// The collection an element belongs to, for counting ordinals: its nearest
// list, table or tree, else the container of its own wrapper (cards under
// one heading share it). -1 when it has no ancestors.
int collectionOf(const PageElement& e, const std::vector<PageElement>& elements) {
  const PageElement* current = &e;
  for (int step = 0; step < 8; ++step) {
    current = parentOf(*current, elements);
    if (current == nullptr) break;
    const std::string& r = current->role;
    if (r == "AXList" || r == "AXTable" || r == "AXOutline" || r == "AXGrid") return current->id;
  }
  const PageElement* parent = parentOf(e, elements);
  const PageElement* grandparent = parent ? parentOf(*parent, elements) : nullptr;
  if (grandparent) return grandparent->id;
  return parent ? parent->id : -1;
}

// Whether `ancestor` is among the first 60 ancestors of `e`.
bool hasAncestor(const PageElement& e, int ancestor, const std::vector<PageElement>& elements) {
  const PageElement* current = &e;
  for (int step = 0; step < 60; ++step) {
    current = parentOf(*current, elements);
    if (current == nullptr) return false;
    if (current->id == ancestor) return true;
  }
  return false;
}

// How many elements lie inside `e` (the read is in document order: they
// follow it, deeper than it).
std::size_t descendants(const PageElement& e, const std::vector<PageElement>& elements) {
  std::size_t count = 0;
  for (auto i = static_cast<std::size_t>(e.id) + 1; i < elements.size(); ++i) {
    if (elements[i].depth <= e.depth) break;
    ++count;
  }
  return count;
}

// Something a press can be aimed at because words inside it match: a
// control, a picture, or a small pressable group (a card's wrapper). A
// container of many elements is not one: its words are other things' words.
bool pressableHolder(const PageElement& target, const std::vector<PageElement>& elements) {
  // A picture is a thing people click, whether or not the page says so:
  // the mouse goes where it is.
  if (Roles::clickable(target.role) || target.role == "AXImage") return true;
  if (!hasPress(target)) return false;
  return descendants(target, elements) <= 12;
}

// Weaker names of a text field that has no label of its own: the words
// just before it ("Search in Printers:" in bold), and its type.
std::vector<std::pair<std::string, double>> fieldHints(const PageElement& field,
                                                       const std::vector<PageElement>& elements) {
  std::vector<std::pair<std::string, double>> hints;
  if (field.subrole == "AXSearchField") hints.emplace_back("search", 0.9);
  const auto at = static_cast<std::size_t>(field.id);
  if (at >= elements.size() || &elements[at] != &field) return hints;
  for (std::size_t step = 1; step <= 8 && step <= at; ++step) {
    const PageElement& before = elements[at - step];
    if (Roles::textInput(before.role) || Roles::clickable(before.role)) break;
    if (before.role != "AXStaticText" && before.role != "AXHeading" && before.role != "AXCell")
      continue;
    std::string words = before.label();
    if (words.empty()) continue;
    hints.emplace_back(std::move(words), 0.85);
    break;
  }
  return hints;
}

// Whether an element lies in the site's frame rather than the page's
// content: a navigation, banner or footer landmark, or a list of links
// above the page's main heading (a menu bar without landmarks).
bool inChrome(const PageElement& e, const std::vector<PageElement>& elements, int mainHeading) {
  if (inChromeLandmark(e, elements)) return true;
  if (mainHeading < 0 || e.id >= mainHeading) return false;
  const PageElement* current = &e;
  for (int step = 0; step < 40; ++step) {
    current = parentOf(*current, elements);
    if (current == nullptr) return false;
    if (current->role == "AXList") return true;
  }
  return false;
}

bool inTableRow(const PageElement& e, const std::vector<PageElement>& elements) {
  const PageElement* current = &e;
  for (int step = 0; step < 4; ++step) {
    current = parentOf(*current, elements);
    if (current == nullptr) return false;
    if (current->role == "AXRow") return true;
  }
  return false;
}

bool isCandidate(const PageElement& e, const TargetSpec& spec, MatchPurpose purpose) {
  if (!onScreen(e)) return false;
  switch (purpose) {
    case MatchPurpose::click:
      return (Roles::clickable(e.role) || hasPress(e)) && fits(e, spec.role);
    case MatchPurpose::link:
      return e.role == "AXLink" && fits(e, spec.role == RoleHint::any ? RoleHint::link : spec.role);
    case MatchPurpose::field:
      return Roles::textInput(e.role) || e.subrole == "AXSearchField";
  }
  return false;
}

std::string quoted(std::string_view s) {
  return "“" + std::string(s) + "”";
}

std::string roleName(const std::string& role) {
  return role.rfind("AX", 0) == 0 ? role.substr(2) : role;
}

MatchResult proximity(const TargetSpec& spec, const std::vector<PageElement>& elements,
                      const std::vector<const PageElement*>& candidates) {
  const auto anchorQueries = variants(*spec.nextTo);
  const PageElement* anchor = nullptr;
  double anchorScore = -1;
  for (const PageElement& e : elements) {
    if (!onScreen(e) || e.label().empty()) continue;
    double s = elementScore(e, anchorQueries);
    if (s >= kMinimumScore && s > anchorScore) {  // strictly greater keeps the earliest on ties
      anchor = &e;
      anchorScore = s;
    }
  }
  if (anchor == nullptr || !anchor->frame) return {};
  const double ax = anchor->frame->x + anchor->frame->width / 2;
  const double ay = anchor->frame->y + anchor->frame->height / 2;
  const std::string anchorLabel = anchor->label();
  const bool filter = !TextUtil::norm(spec.query).empty();
  const auto queries = variants(spec.query);

  std::vector<Match> out;
  for (const PageElement* c : candidates) {
    if (c->id == anchor->id || hasAncestor(*c, anchor->id, elements) ||
        hasAncestor(*anchor, c->id, elements)) {
      continue;
    }
    if (filter && elementScore(*c, queries) < kMinimumScore) continue;
    if (!c->frame) continue;
    const double d =
        std::hypot(c->frame->x + c->frame->width / 2 - ax, c->frame->y + c->frame->height / 2 - ay);
    // Distances are on-screen sizes; the clamp only guards the integer print.
    const double shown = std::min(std::trunc(d), 1e15);
    out.push_back({*c, std::max(1.0, 100 - d / 8),
                   "nearest to " + quoted(anchorLabel) + " (" +
                       std::to_string(static_cast<long long>(shown)) + " pt)"});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Match& a, const Match& b) { return a.score > b.score; });
  if (out.size() > 6) out.resize(6);
  return {std::move(out), false};
}

}  // namespace

double score(std::string_view label, std::string_view query) {
  return similarity(Label(label), Query(query));
}

double score(const PageElement& element, std::string_view query) {
  return elementScore(element, variants(query));
}

bool fits(const PageElement& e, RoleHint role) {
  const std::string& r = e.role;
  switch (role) {
    case RoleHint::any:
      return true;
    case RoleHint::button:
      return r == "AXButton" || r == "AXPopUpButton" || r == "AXMenuButton" || r == "AXMenuItem" ||
             ((Roles::clickable(r) || hasPress(e)) && r != "AXLink" && r != "AXCheckBox");
    case RoleHint::link:
    case RoleHint::result:
      return r == "AXLink";
    case RoleHint::field:
      return Roles::textInput(r) || e.subrole == "AXSearchField";
    case RoleHint::checkbox:
      return r == "AXCheckBox" || r == "AXRadioButton" || e.subrole == "AXSwitch";
    case RoleHint::tab:
      return r == "AXTab" || r == "AXRadioButton";
    case RoleHint::image:
      return r == "AXImage";
    case RoleHint::heading:
      return r == "AXHeading";
  }
  return false;
}

const PageElement& pressable(const PageElement& element, const std::vector<PageElement>& elements) {
  if (Roles::clickable(element.role) || hasPress(element)) return element;
  const PageElement* current = &element;
  for (int step = 0; step < 6; ++step) {
    current = parentOf(*current, elements);
    if (current == nullptr) break;
    if (Roles::clickable(current->role) || hasPress(*current)) return *current;
  }
  return element;
}

MatchResult matches(const TargetSpec& spec, const std::vector<PageElement>& elements,
                    MatchPurpose purpose) {
  std::vector<const PageElement*> candidates;
  const std::vector<bool> folded = labelsOfControls(elements);
  for (const PageElement& e : elements) {
    if (folded[static_cast<std::size_t>(&e - elements.data())]) continue;
    if (isCandidate(e, spec, purpose)) candidates.push_back(&e);
  }
  if (spec.nextTo) return proximity(spec, elements, candidates);

  std::vector<Match> found;
  if (TextUtil::norm(spec.query).empty()) {
    const std::string reason = std::string(noun(spec.role)) + " in document order";
    int mainHeading = -1;
    if (spec.role == RoleHint::result) {
      for (const PageElement& e : elements) {
        if (e.role == "AXHeading" && (e.value == "1" || e.value.empty())) {
          mainHeading = e.id;
          break;
        }
      }
    }
    for (const PageElement* c : candidates) {
      std::string label = c->label();
      if (purpose != MatchPurpose::field && label.empty()) continue;
      if (spec.role == RoleHint::result) {
        // Results are the page's own: never its menus. A short link text
        // is a result only in a table's row (a list of printers, of files).
        if (inChrome(*c, elements, mainHeading)) continue;
        if (unicode::length(label) <= 14 && !inTableRow(*c, elements)) continue;
      }
      found.push_back({*c, 50, reason});
    }
  } else {
    const auto queries = variants(spec.query);
    const std::string reason = "label matches " + quoted(spec.query);
    for (const PageElement* c : candidates) {
      double s = elementScore(*c, queries);
      std::string why = reason;
      if (purpose == MatchPurpose::field) {
        for (const auto& [hint, weight] : fieldHints(*c, elements)) {
          double h = 0;
          for (const auto& [query, queryWeight] : queries)
            h = std::max(h, weight * queryWeight * similarity(Label(hint), query));
          if (h > s) {
            s = h;
            why = "the words before it, " + quoted(unicode::truncate(hint, 40)) + ", match";
            if (hint == "search" && c->subrole == "AXSearchField") why = "a search field";
          }
        }
      }
      if (s >= kMinimumScore) found.push_back({*c, s, why});
    }
    // A page with one field: "the search box" can only mean it. Never a
    // password field, where the words would be typed into a secret.
    if (found.empty() && purpose == MatchPurpose::field) {
      std::vector<const PageElement*> open;
      for (const PageElement* c : candidates) {
        if (c->enabled && c->subrole != "AXSecureTextField") open.push_back(c);
      }
      const bool secret = std::any_of(candidates.begin(), candidates.end(), [](const auto* c) {
        return c->subrole == "AXSecureTextField";
      });
      if (open.size() == 1 && !secret)
        found.push_back({*open.front(), kMinimumScore, "the only field on the page"});
    }
    // Text fallback: the words may sit in a static text inside the thing to press.
    if (found.empty() && purpose == MatchPurpose::click && spec.role == RoleHint::any) {
      for (const PageElement& e : elements) {
        if (!onScreen(e) || e.role == "AXWebArea") continue;
        if (folded[static_cast<std::size_t>(&e - elements.data())]) continue;
        std::string label = e.label();
        if (label.empty()) continue;
        double s = elementScore(e, queries) - 12;
        if (s < kMinimumScore) continue;
        const PageElement& target = pressable(e, elements);
        if (!pressableHolder(target, elements)) continue;
        found.push_back(
            {target, s,
             "text " + quoted(unicode::truncate(label, 40)) + " inside " + roleName(target.role)});
      }
    }
  }

  // "The third printer", "the second video": words that name no element,
  // with an ordinal, name the things a list repeats; they are counted as
  // results are (and offered as a choice where the list is unclear).
  if (spec.ordinal && found.empty() && spec.role == RoleHint::any && !spec.nextTo &&
      purpose != MatchPurpose::field && !TextUtil::norm(spec.query).empty()) {
    TargetSpec items = spec;
    items.query.clear();
    items.role = RoleHint::result;
    return matches(items, elements, purpose);
  }

  if (!spec.ordinal) {
    std::stable_sort(found.begin(), found.end(), [](const Match& a, const Match& b) {
      return a.score != b.score ? a.score > b.score : a.element.id < b.element.id;
    });
    return {std::move(found), false};
  }

  const int64_t n = *spec.ordinal;
  double best = -std::numeric_limits<double>::infinity();
  for (const Match& m : found)
    best = std::max(best, m.score);
  std::vector<Match> kept;
  for (Match& m : found) {
    if (m.score >= best - 25) kept.push_back(std::move(m));
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Match& a, const Match& b) { return a.element.id < b.element.id; });
  std::vector<Match> unique;
  std::unordered_set<int> seen;
  for (Match& m : kept) {
    if (seen.insert(m.element.id).second) unique.push_back(std::move(m));
  }
  // An ordinal counts within one collection. Words found only as text
  // inside something, or "results" spread over several places (a navigation
  // bar and the results list), leave the count unclear: the candidates are
  // offered instead of a guess.
  const bool weak = std::any_of(unique.begin(), unique.end(),
                                [](const Match& m) { return m.reason.rfind("text ", 0) == 0; });
  std::string within = "matching";
  if (spec.role == RoleHint::result || weak) {
    std::vector<std::pair<int, std::vector<Match>>> groups;  // in document order
    for (Match& m : unique) {
      const int key = collectionOf(m.element, elements);
      auto at = std::find_if(groups.begin(), groups.end(),
                             [key](const auto& g) { return g.first == key; });
      if (at == groups.end()) {
        groups.push_back({key, {}});
        at = groups.end() - 1;
      }
      at->second.push_back(std::move(m));
    }
    std::size_t largest = 0, runnerUp = 0, dominant = 0;
    for (std::size_t i = 0; i < groups.size(); ++i) {
      const std::size_t size = groups[i].second.size();
      if (size > largest) {
        runnerUp = largest;
        largest = size;
        dominant = i;
      } else if (size > runnerUp) {
        runnerUp = size;
      }
    }
    if (!weak && (groups.size() == 1 || (largest >= 2 && largest > runnerUp))) {
      unique = std::move(groups[dominant].second);
      if (groups.size() > 1) within = "in the largest list";
    } else {
      // The n-th of each collection that has one, for the user to choose;
      // where fewer than two have one, every candidate.
      std::vector<Match> offered;
      std::vector<Match> all;
      for (const auto& [key, members] : groups)
        all.insert(all.end(), members.begin(), members.end());
      for (auto& [key, members] : groups) {
        const auto size = static_cast<int64_t>(members.size());
        const int64_t at = n == -1 ? size - 1 : n - 1;
        if (at < 0 || at >= size) continue;
        Match m = std::move(members[static_cast<std::size_t>(at)]);
        m.reason = (n == -1 ? std::string("last") : "#" + std::to_string(n)) + " of " +
                   std::to_string(size) + " in one place of several";
        offered.push_back(std::move(m));
        if (offered.size() == 6) break;
      }
      // Offered on equal terms, so that none is taken as the clear winner.
      auto even = [](std::vector<Match> list) {
        double top = 0;
        for (const Match& m : list)
          top = std::max(top, m.score);
        for (Match& m : list)
          m.score = top;
        return list;
      };
      if (offered.size() > 1) return {even(std::move(offered)), false};
      if (all.size() > 1) {
        std::sort(all.begin(), all.end(),
                  [](const Match& a, const Match& b) { return a.element.id < b.element.id; });
        if (all.size() > 6) all.resize(6);
        return {even(std::move(all)), false};
      }
      return {{}, true};
    }
  }
  const auto count = static_cast<int64_t>(unique.size());
  int64_t position = n == -1 ? count - 1 : n - 1;
  if (unique.empty() || position < 0 || position >= count) return {{}, true};
  Match picked = std::move(unique[static_cast<std::size_t>(position)]);
  picked.reason = (n == -1 ? std::string("last") : "#" + std::to_string(n)) + " of " +
                  std::to_string(count) + " " + within;
  return {{std::move(picked)}, true};
}

}  // namespace tovrin::ElementMatcher
