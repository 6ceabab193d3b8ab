#include "intent/intent_parser.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>

#include <array>
#include <functional>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "base/regex.h"
#include "base/unicode.h"

namespace tovrin::IntentParser {
namespace {

using Groups = std::vector<icu::UnicodeString>;
using icu::UnicodeString;

constexpr Regex::Options kCaseless{.caseInsensitive = true};

std::string wrapWhole(std::string_view pattern) {
  return "^\\s*(?:" + std::string(pattern) + ")\\s*[.!?]*\\s*$";
}

std::string utf8(const UnicodeString& s) {
  return unicode::toUtf8(s);
}

// Trims the edge punctuation a capture tends to drag along, then quotes.
std::string cleanCapture(std::string_view text) {
  return strip(unicode::trimCodePoints(text, U" .!?,"));
}
std::string cleanCapture(const UnicodeString& text) {
  return cleanCapture(utf8(text));
}

// The first non-empty of two alternative groups.
const UnicodeString& either(const Groups& g) {
  return g[0].isEmpty() ? g[1] : g[0];
}

// A decimal number of any Unicode digits; nothing when it does not fit.
std::optional<int64_t> decimal(const UnicodeString& digits) {
  if (digits.isEmpty()) return std::nullopt;
  int64_t value = 0;
  for (int32_t i = 0; i < digits.length();) {
    UChar32 c = digits.char32At(i);
    i += U16_LENGTH(c);
    int32_t d = u_charDigitValue(c);
    if (d < 0) return std::nullopt;
    if (value > (std::numeric_limits<int64_t>::max() - d) / 10) return std::nullopt;
    value = value * 10 + d;
  }
  return value;
}

Intent key(KeyAction k) {
  return Intent{Intent::Key{k}};
}

// A rule's result: an intent, or nothing to let the next rule try.
using Build = std::function<std::optional<Intent>(const Groups&, const UnicodeString& command)>;

struct Rule {
  std::unique_ptr<Regex>
      pattern;  // wrapped for the whole command; null for a rule that tests itself
  Build build;
};

Rule rule(std::string_view pattern, Build build) {
  return Rule{std::make_unique<Regex>(wrapWhole(pattern), kCaseless), std::move(build)};
}

Build always(Intent intent) {
  return [intent](const Groups&, const UnicodeString&) { return std::optional<Intent>(intent); };
}

// Rule 33: "what buttons are there", "list the links", but not "which links
// mention pricing", which asks about content.
std::optional<Intent> listRequest(const UnicodeString& command) {
  static const Regex opener("^(what|which|show|list|get)\\b");
  static const Regex aboutContent("mention|about|containing|saying");
  static const Regex kind(
      "\\b(buttons?|links?|fields?|inputs?|headings?|images?|checkboxes?|controls?|elements?)\\b");
  UnicodeString lowered(command);
  lowered.toLower(icu::Locale::getRoot());
  if (!opener.contains(lowered) || aboutContent.contains(lowered)) return std::nullopt;
  auto found = kind.find(lowered);
  if (!found) return std::nullopt;
  std::string word = utf8(found->groups[0]);
  auto startsWith = [&word](std::string_view p) { return word.rfind(p, 0) == 0; };
  RoleHint role = RoleHint::any;
  if (startsWith("button")) {
    role = RoleHint::button;
  } else if (startsWith("link")) {
    role = RoleHint::link;
  } else if (startsWith("field") || startsWith("input")) {
    role = RoleHint::field;
  } else if (startsWith("heading")) {
    role = RoleHint::heading;
  } else if (startsWith("image")) {
    role = RoleHint::image;
  } else if (startsWith("checkbox")) {
    role = RoleHint::checkbox;
  }
  return Intent{Intent::List{role}};
}

std::vector<Rule> makeRules() {
  std::vector<Rule> r;
  r.push_back(rule(R"((?:go\s+)?back(?:\s+a\s+page)?|navigate\s+back|previous\s+page)",
                   always(navigateIntent<NavAction::Back>())));
  r.push_back(rule(R"((?:go\s+)?forward|navigate\s+forward|next\s+page)",
                   always(navigateIntent<NavAction::Forward>())));
  r.push_back(rule(R"((?:reload|refresh)(?:\s+(?:the|this)\s+page)?)",
                   always(navigateIntent<NavAction::Reload>())));
  r.push_back(rule(R"((?:open\s+)?(?:a\s+)?new\s+tab|open\s+a\s+tab)",
                   always(navigateIntent<NavAction::NewTab>())));
  r.push_back(rule(R"(close(?:\s+(?:this|the|current))?\s+tab)",
                   always(navigateIntent<NavAction::CloseTab>())));
  r.push_back(rule(R"((?:switch\s+to\s+)?(?:the\s+)?(?:next|right)\s+tab|switch\s+tab)",
                   always(navigateIntent<NavAction::NextTab>())));
  r.push_back(rule(R"((?:switch\s+to\s+)?(?:the\s+)?(?:previous|prev|left)\s+tab)",
                   always(navigateIntent<NavAction::PreviousTab>())));
  r.push_back(rule(R"((?:switch|go)\s+to\s+tab\s+(\d+)|tab\s+(\d+))",
                   [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
                     auto n = decimal(either(g));
                     if (!n) return std::nullopt;
                     return Intent{Intent::Navigate{NavAction{NavAction::TabIndex{*n}}}};
                   }));
  r.push_back(rule(R"((?:switch|go)\s+to\s+(?:the\s+)?(.+?)\s+tab)",
                   [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
                     std::string name = cleanCapture(g[0]);
                     // Words of position are never a tab's name.
                     const std::string word = unicode::lower(name);
                     if (word == "next" || word == "right")
                       return navigateIntent<NavAction::NextTab>();
                     if (word == "previous" || word == "prev" || word == "left")
                       return navigateIntent<NavAction::PreviousTab>();
                     if (word == "first")
                       return Intent{Intent::Navigate{NavAction{NavAction::TabIndex{1}}}};
                     if (word == "last")
                       return Intent{Intent::Navigate{NavAction{NavAction::TabIndex{9}}}};
                     return Intent{
                         Intent::Navigate{NavAction{NavAction::TabNamed{std::move(name)}}}};
                   }));
  r.push_back(rule(
      R"(copy\s+(?:all\s+)?(?:of\s+)?(?:the\s+|this\s+)?(?:article|page|post|story)(?:\s+(?:text|content))?|copy\s+(?:the\s+)?(?:text|content)\s+of\s+(?:the|this)\s+(?:article|page))",
      always(Intent{Intent::CopyArticle{}})));
  r.push_back(rule(R"(copy(?:\s+(?:that|it|selection|this))?)", always(key(KeyAction::copy))));
  r.push_back(rule(R"(paste(?:\s+it)?)", always(key(KeyAction::paste))));
  r.push_back(rule(
      R"(select\s+all(?:\s+(?:the\s+)?text)?(?:\s+in\s+(?:this|the)\s+(?:field|box|input|page|textbox))?)",
      always(key(KeyAction::selectAll))));
  r.push_back(rule(R"((?:press\s+)?(?:the\s+)?(?:enter|return)(?:\s+key)?)",
                   always(key(KeyAction::enter))));
  r.push_back(
      rule(R"((?:press\s+)?(?:the\s+)?(?:escape|esc)(?:\s+key)?)", always(key(KeyAction::escape))));
  r.push_back(rule(R"((?:press\s+)?(?:the\s+)?tab(?:\s+key)?)", always(key(KeyAction::tab))));
  r.push_back(rule(R"((?:press\s+)?(?:the\s+)?(?:delete|backspace)(?:\s+key)?)",
                   always(key(KeyAction::deleteKey))));
  r.push_back(rule(
      R"((?:press\s+)?(?:the\s+)?(up|down|left|right)\s+arrow(?:\s+key)?|(?:press\s+)?arrow\s+(up|down|left|right)(?:\s+key)?)",
      [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
        auto k = keyActionFromRaw(unicode::lower(utf8(either(g))));
        if (!k) return std::nullopt;
        return key(*k);
      }));
  r.push_back(rule(R"(scroll\s+(?:down|dn)(?:\s+a\s+(?:bit|little|page))?|page\s+down)",
                   always(scrollIntent<ScrollSpec::Down>())));
  r.push_back(rule(R"(scroll\s+up(?:\s+a\s+(?:bit|little|page))?|page\s+up)",
                   always(scrollIntent<ScrollSpec::Up>())));
  r.push_back(rule(
      R"(scroll\s+(?:all\s+the\s+way\s+)?(?:down\s+)?(?:to\s+)?(?:the\s+)?(?:bottom|end)(?:\s+of\s+(?:the|this)\s+page)?|go\s+to\s+(?:the\s+)?bottom)",
      always(scrollIntent<ScrollSpec::Bottom>())));
  r.push_back(rule(
      R"(scroll\s+(?:all\s+the\s+way\s+)?(?:up\s+)?(?:to\s+)?(?:the\s+)?(?:top|start)(?:\s+of\s+(?:the|this)\s+page)?|go\s+to\s+(?:the\s+)?top)",
      always(scrollIntent<ScrollSpec::Top>())));
  r.push_back(rule(R"(scroll\s+(?:down\s+|up\s+)?(?:to|until\s+(?:i\s+see)?)\s+(?:the\s+)?(.+))",
                   [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
                     return Intent{
                         Intent::Scroll{ScrollSpec{ScrollSpec::Section{cleanCapture(g[0])}}}};
                   }));
  r.push_back(rule(
      R"(read(?:\s+(?:this|the|current))?(?:\s+(?:page|site|website|article|tab))?(?:\s+(?:to\s+me|aloud))?|what(?:'s|\s+is)\s+on\s+(?:this|the)\s+page|show\s+(?:me\s+)?(?:the\s+)?page\s+text)",
      always(Intent{Intent::Read{}})));
  r.push_back(rule(
      R"((?:summarize|summarise|sum\s+up|tl;?dr|summary)(?:\s+(?:of\s+)?(?:this|the|current))?(?:\s+(?:page|site|website|article|tab))?|(?:give\s+me|get|show\s+me)\s+a\s+summary(?:\s+of\s+(?:this|the)\s+(?:page|article|site))?)",
      always(Intent{Intent::Summarize{}})));
  r.push_back(rule(R"((?:summarize|summarise)\s+(.+))",
                   [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
                     return Intent{Intent::Ask{"Summarize " + cleanCapture(g[0])}};
                   }));
  r.push_back(rule(R"(read\s+(?:out\s+)?(?:me\s+)?(.+))",
                   [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
                     return Intent{
                         Intent::Ask{"What does the page say about " + cleanCapture(g[0]) + "?"}};
                   }));
  auto findAll = [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
    return Intent{Intent::FindAll{cleanCapture(g[0])}};
  };
  auto find = [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
    return Intent{Intent::Find{cleanCapture(g[0])}};
  };
  r.push_back(rule(
      R"((?:find|highlight|locate)\s+(?:every|all|each)\s+(?:the\s+)?(?:occurrences?|instances?|mentions?|matches|appearances?)\s+of\s+(.+))",
      findAll));
  r.push_back(rule(R"((?:find|highlight)\s+(?:every|all|each)\s+(.+))", findAll));
  r.push_back(rule(
      R"(where\s+(?:does|do|is|are)\s+(?:it|this|the\s+page|this\s+page|the\s+site)\s+(?:mention|mentions|say|says|talk\s+about|talks\s+about|discuss|discusses)\s+(.+))",
      find));
  r.push_back(rule(R"(where(?:'s|\s+is|\s+are|\s+can\s+i\s+find)\s+(?:the\s+)?(.+))", find));
  r.push_back(rule(R"((?:find|locate|look\s+for|highlight)\s+(.+))", find));
  r.push_back(Rule{
      nullptr, [](const Groups&, const UnicodeString& command) { return listRequest(command); }});
  r.push_back(rule(
      R"(open\s+(?:every|all|each)\s+(?:the\s+)?links?\s+(?:mentioning|about|containing|with|that\s+mention|that\s+mentions|to|for)\s+(.+))",
      [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
        return Intent{Intent::OpenLinks{cleanCapture(g[0])}};
      }));
  r.push_back(rule(R"(open\s+(?:this|the)\s+article)", always(Intent{Intent::OpenArticle{}})));
  r.push_back(rule(R"(open\s+(?:up\s+)?(.+))",
                   [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
                     std::string phrase = utf8(g[0]);
                     TargetSpec t = parseTarget(phrase, RoleHint::any);
                     if (t.role == RoleHint::any &&
                         unicode::lower(phrase).find("link") != std::string::npos) {
                       t.role = RoleHint::link;
                     }
                     return Intent{Intent::OpenLink{std::move(t)}};
                   }));
  r.push_back(rule(
      R"((?:type|enter|input|write|put)\s+my\s+(name|e-?mail(?:\s+address)?|phone(?:\s+number)?)\s+(?:in|into|in\s+to|inside)\s+(?:the\s+|this\s+)?(.+))",
      [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
        auto f = profileField(utf8(g[0]));
        if (!f) return std::nullopt;
        return Intent{Intent::FillProfile{*f, parseTarget(utf8(g[1]), RoleHint::field)}};
      }));
  r.push_back(rule(
      R"((?:fill|type|enter|input|write)(?:\s+in)?\s+(?:my\s+)(name|e-?mail(?:\s+address)?|phone(?:\s+number)?))",
      [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
        auto f = profileField(utf8(g[0]));
        if (!f) return std::nullopt;
        return Intent{Intent::FillProfile{*f, std::nullopt}};
      }));
  r.push_back(rule(R"((?:fill|set)(?:\s+in)?\s+(?:the\s+|this\s+)?(.+?)\s+(?:with|to|as)\s+(.+))",
                   [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
                     return Intent{Intent::Type{strip(utf8(g[1])),
                                                parseTarget(utf8(g[0]), RoleHint::field), true}};
                   }));
  r.push_back(rule(
      R"(replace\s+(?:this|the|that|the\s+selected|my)?\s*(?:text|selection|field|content|it)?\s*with\s+(.+))",
      [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
        return Intent{Intent::Type{strip(utf8(g[0])), std::nullopt, true}};
      }));
  r.push_back(rule(
      R"((?:type|enter|input|write|put)\s+(.+?)\s+(?:into|in\s+to|inside|in\s+the|in)\s+(?:the\s+|this\s+)?(.+))",
      [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
        std::string text = strip(utf8(g[0]));
        TargetSpec field = parseTarget(utf8(g[1]), RoleHint::field);
        if (unicode::lower(text).rfind("my ", 0) == 0) {
          if (auto f = profileField(text.substr(3))) {
            return Intent{Intent::FillProfile{*f, std::move(field)}};
          }
        }
        return Intent{Intent::Type{std::move(text), std::move(field), false}};
      }));
  r.push_back(rule(R"((?:type|enter|input|write)\s+(.+))",
                   [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
                     return Intent{Intent::Type{strip(utf8(g[0])), std::nullopt, false}};
                   }));
  // "hit enter", "tap tab": keys, not buttons named after them.
  r.push_back(rule(
      R"((?:hit|tap|push)\s+(?:the\s+)?(enter|return|tab|escape|esc|delete|backspace)(?:\s+key)?)",
      [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
        const std::string k = unicode::lower(utf8(g[0]));
        if (k == "enter" || k == "return") return key(KeyAction::enter);
        if (k == "tab") return key(KeyAction::tab);
        if (k == "escape" || k == "esc") return key(KeyAction::escape);
        return key(KeyAction::deleteKey);
      }));
  r.push_back(rule(R"((?:click|tap|press|hit|select|choose|push)(?:\s+on)?\s+(.+))",
                   [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
                     return Intent{Intent::Click{parseTarget(utf8(g[0]), RoleHint::any)}};
                   }));
  return r;
}

const std::vector<Rule>& rules() {
  static const std::vector<Rule> table = makeRules();
  return table;
}

// How people say what the rules above say otherwise. Tried only when no rule
// took the command, so every command the rules parse keeps its meaning.
std::vector<Rule> makeEverydayRules() {
  std::vector<Rule> r;
  auto goTo = [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
    std::string place = cleanCapture(g[0]);
    const std::string lowered = unicode::lower(place);
    if (lowered == "top" || lowered == "start" || lowered == "beginning" ||
        lowered == "top of the page" || lowered == "start of the page")
      return scrollIntent<ScrollSpec::Top>();
    if (lowered == "bottom" || lowered == "end" || lowered == "bottom of the page" ||
        lowered == "end of the page")
      return scrollIntent<ScrollSpec::Bottom>();
    if (lowered == "previous page" || lowered == "last page")
      return navigateIntent<NavAction::Back>();
    return Intent{Intent::GoTo{std::move(place)}};
  };
  // "back to the top" moves the page; "back to the results" goes back a page.
  r.push_back(rule(
      R"((?:go\s+|scroll\s+|jump\s+)?back\s+(?:up\s+)?to\s+(?:the\s+)?(top|start|beginning)(?:\s+of\s+(?:the|this)\s+page)?)",
      always(scrollIntent<ScrollSpec::Top>())));
  r.push_back(rule(R"((?:go|take\s+me|bring\s+me|head)\s+back\s+to\s+(?:the\s+)?(.+))",
                   [goTo](const Groups& g, const UnicodeString& command) -> std::optional<Intent> {
                     static const Regex inPage(R"(\b(?:section|part|heading|chapter)$)", kCaseless);
                     if (inPage.contains(g[0])) return goTo(g, command);
                     return navigateIntent<NavAction::Back>();
                   }));
  r.push_back(rule(
      R"((?:follow|click\s+through)\s+(?:the\s+)?(?:link\s+)?(?:to\s+|for\s+|called\s+|named\s+)?(?:the\s+)?(.+))",
      [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
        TargetSpec t = parseTarget(utf8(g[0]), RoleHint::link);
        if (t.role == RoleHint::any) t.role = RoleHint::link;
        return Intent{Intent::OpenLink{std::move(t)}};
      }));
  r.push_back(rule(
      R"((?:take|bring|get)\s+me\s+(?:to|down\s+to|up\s+to)\s+(?:the\s+)?(.+)|(?:jump|skip|move|head|navigate|go)\s+(?:down\s+|up\s+|over\s+|straight\s+)?(?:to|into)\s+(?:the\s+)?(.+)|show\s+me\s+the\s+(.+?\s+(?:section|part|page)))",
      [goTo](const Groups& g, const UnicodeString& command) -> std::optional<Intent> {
        for (const UnicodeString& part : g) {
          if (!part.isEmpty()) return goTo({part}, command);
        }
        return std::nullopt;
      }));
  // Check boxes and switches, by the state they should end in.
  auto checkTo = [](bool on) {
    return [on](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
      TargetSpec t = parseTarget(utf8(either(g)), RoleHint::checkbox);
      if (t.role != RoleHint::checkbox) t.role = RoleHint::checkbox;
      if (t.query.empty() && !t.ordinal) return std::nullopt;
      return Intent{Intent::Click{std::move(t), on}};
    };
  };
  r.push_back(rule(R"(turn\s+(.+?)\s+on|switch\s+(.+?)\s+on)", checkTo(true)));
  r.push_back(rule(R"(turn\s+(.+?)\s+off|switch\s+(.+?)\s+off)", checkTo(false)));
  r.push_back(
      rule(R"((?:un-?tick|un-?check|un-?select|turn\s+off|switch\s+off|disable|deselect)\s+(.+))",
           checkTo(false)));
  r.push_back(rule(
      R"((?:tick|check|turn\s+on|switch\s+on|enable)\s+(?:the\s+box\s+(?:for|next\s+to)\s+)?(.+))",
      checkTo(true)));
  // "define generator": a question, answered by the line that defines it.
  r.push_back(rule(R"((?:define|(?:the\s+)?(?:meaning|definition)\s+of)\s+(.+))",
                   [](const Groups&, const UnicodeString& command) -> std::optional<Intent> {
                     return Intent{Intent::Ask{utf8(command)}};
                   }));
  // "search this page for X" is a find; "search for X" uses the page's search box.
  r.push_back(rule(R"(search\s+(?:in\s+)?(?:this|the)\s+page\s+for\s+(.+))",
                   [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
                     return Intent{Intent::Find{cleanCapture(g[0])}};
                   }));
  r.push_back(rule(
      R"((?:search|look\s+up)\s+(?:for\s+)?(.+?)(?:\s+(?:here|on\s+(?:this|the)\s+(?:site|website)))?)",
      [](const Groups& g, const UnicodeString&) -> std::optional<Intent> {
        std::string text = strip(utf8(g[0]));
        if (text.empty()) return std::nullopt;
        return Intent{Intent::Search{std::move(text)}};
      }));
  return r;
}

const std::vector<Rule>& everydayRules() {
  static const std::vector<Rule> table = makeEverydayRules();
  return table;
}

std::optional<Intent> firstMatch(const std::vector<Rule>& table, const UnicodeString& s) {
  for (const Rule& r : table) {
    std::optional<Intent> result;
    if (r.pattern) {
      auto match = r.pattern->find(s);
      if (!match) continue;
      result = r.build(match->groups, s);
    } else {
      result = r.build({}, s);
    }
    if (result) return result;
  }
  return std::nullopt;
}

const std::unordered_map<std::string, int64_t>& ordinals() {
  static const std::unordered_map<std::string, int64_t> table = {
      {"first", 1},   {"1st", 1},   {"second", 2}, {"2nd", 2}, {"third", 3}, {"3rd", 3},
      {"fourth", 4},  {"4th", 4},   {"fifth", 5},  {"5th", 5}, {"sixth", 6}, {"6th", 6},
      {"seventh", 7}, {"7th", 7},   {"eighth", 8}, {"8th", 8}, {"ninth", 9}, {"9th", 9},
      {"tenth", 10},  {"10th", 10}, {"last", -1}};
  return table;
}

const std::unordered_map<std::string, RoleHint>& roleWords() {
  static const std::unordered_map<std::string, RoleHint> table = {
      {"button", RoleHint::button},
      {"buttons", RoleHint::button},
      {"link", RoleHint::link},
      {"links", RoleHint::link},
      {"field", RoleHint::field},
      {"textbox", RoleHint::field},
      {"input", RoleHint::field},
      {"box", RoleHint::field},
      {"checkbox", RoleHint::checkbox},
      {"tab", RoleHint::tab},
      {"image", RoleHint::image},
      {"icon", RoleHint::image},
      {"result", RoleHint::result},
      {"results", RoleHint::result},
      {"heading", RoleHint::heading},
      // Nouns for the things a list repeats: an ordinal before them counts
      // in that list ("the second article", "the third row").
      {"article", RoleHint::result},
      {"articles", RoleHint::result},
      {"row", RoleHint::result},
      {"rows", RoleHint::result},
      {"entry", RoleHint::result},
      {"entries", RoleHint::result},
      {"post", RoleHint::result},
      {"posts", RoleHint::result},
      {"story", RoleHint::result},
      {"stories", RoleHint::result},
      {"card", RoleHint::result},
      {"cards", RoleHint::result}};
  return table;
}

const std::unordered_set<std::string>& connectors() {
  static const std::unordered_set<std::string> words = {
      "about",  "mentioning", "mentions", "mention",  "containing", "contains", "that", "says",
      "saying", "named",      "labeled",  "labelled", "called",     "with",     "for",  "the",
      "of",     "on",         "a",        "an",       "this",       "to",       "says:"};
  return words;
}

bool isLeadingArticle(const std::string& lowered) {
  static constexpr std::array<std::string_view, 6> kArticles = {"the", "a",    "an",
                                                                "on",  "this", "that"};
  for (std::string_view a : kArticles) {
    if (lowered == a) return true;
  }
  return false;
}

}  // namespace

std::optional<std::vector<std::string>> m(std::string_view pattern, std::string_view text) {
  Regex regex(wrapWhole(pattern), kCaseless);
  auto match = regex.find(unicode::toUnicode(text));
  if (!match) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& g : match->groups)
    out.push_back(utf8(g));
  return out;
}

std::string strip(std::string_view text) {
  std::string s = unicode::trimWhitespace(text);
  if (unicode::length(s) < 2) return s;
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kPairs = {{
      {"\"", "\""},
      {"“", "”"},
      {"'", "'"},
      {"‘", "’"},
      {"`", "`"},
  }};
  std::string_view first = unicode::firstCharacter(s);
  std::string_view last = unicode::lastCharacter(s);
  for (const auto& [open, close] : kPairs) {
    if (first == open && last == close) {
      return unicode::trimWhitespace(
          std::string_view(s).substr(open.size(), s.size() - open.size() - close.size()));
    }
  }
  return s;
}

std::optional<ProfileField> profileField(std::string_view text) {
  std::string lowered = unicode::lower(text);
  if (lowered.find("mail") != std::string::npos) return ProfileField::email;
  if (lowered.find("phone") != std::string::npos) return ProfileField::phone;
  if (lowered.find("name") != std::string::npos) return ProfileField::name;
  return std::nullopt;
}

TargetSpec parseTarget(std::string_view phrase, RoleHint defaultRole) {
  static const Regex anchor(
      R"(\s+(?:next\s+to|beside|near|adjacent\s+to|right\s+of|left\s+of)\s+(?:the\s+)?)",
      kCaseless);
  TargetSpec spec;
  spec.role = defaultRole;

  std::string s = cleanCapture(phrase);
  UnicodeString u = unicode::toUnicode(s);
  if (auto found = anchor.find(u)) {
    spec.nextTo = cleanCapture(UnicodeString(u, found->end));
    s = utf8(UnicodeString(u, 0, found->start));
  }

  std::vector<std::string> words = unicode::splitOnSpace(s);
  std::size_t first = 0;  // words before `first` are removed
  auto remaining = [&] { return words.size() - first; };
  auto lowerAt = [&](std::size_t i) { return unicode::lower(words[i]); };

  while (remaining() >= 2 && isLeadingArticle(lowerAt(first)))
    ++first;

  if (remaining() > 0) {
    auto it = ordinals().find(lowerAt(first));
    if (it != ordinals().end()) {
      spec.ordinal = it->second;
      ++first;
    }
  }

  const auto& roles = roleWords();
  auto roleOf = [&](std::size_t i) -> std::optional<RoleHint> {
    auto it = roles.find(lowerAt(i));
    if (it == roles.end()) return std::nullopt;
    return it->second;
  };
  if (remaining() == 1 && roleOf(first)) {
    spec.role = *roleOf(first);
    ++first;
  } else if (remaining() >= 1 && roleOf(first) &&
             (spec.ordinal || (remaining() >= 2 && connectors().contains(lowerAt(first + 1))))) {
    spec.role = *roleOf(first);
    ++first;
  } else if (remaining() >= 2 && roleOf(words.size() - 1)) {
    spec.role = *roleOf(words.size() - 1);
    words.pop_back();
  }

  while (remaining() > 0 && connectors().contains(lowerAt(first))) {
    if (remaining() == 1 && spec.role == RoleHint::any) break;
    ++first;
  }

  std::string query;
  for (std::size_t i = first; i < words.size(); ++i) {
    if (!query.empty()) query += ' ';
    query += words[i];
  }
  spec.query = cleanCapture(query);
  return spec;
}

namespace {

std::optional<Intent> parseCommand(std::string_view text, bool splitKey);

}  // namespace

std::optional<Intent> parse(std::string_view text) {
  return parseCommand(text, true);
}

namespace {

std::optional<Intent> parseCommand(std::string_view text, bool splitKey) {
  static const Regex filler(R"(^(please|pls|can you|could you|would you|hey|just)\s+)", kCaseless);
  static const Regex trailingPlease(R"(\s+please[.!?]*$)", kCaseless);
  static const Regex question(
      R"(^(what|who|how|why|when|where|which|is|are|does|do|did|can|tell me|explain|describe)\b)");

  std::string trimmed = unicode::trimWhitespace(text);
  if (trimmed.empty()) return std::nullopt;
  UnicodeString s = unicode::toUnicode(trimmed);
  while (auto lead = filler.find(s)) {
    if (lead->end <= lead->start) break;
    s.removeBetween(lead->start, lead->end);
  }
  if (auto tail = trailingPlease.find(s)) s.removeBetween(tail->start, tail->end);

  // "type printers into the search box and press enter": the key is pressed
  // once the text is in, and is no part of the field's name.
  // Only the last such ending is the key: the match that reaches the end.
  static const Regex thenKey(
      R"(\s*,?\s+(?:and\s+(?:then\s+)?|then\s+)(?:press|hit|tap|push)\s+(?:the\s+)?(enter|return|tab)(?:\s+key)?[.!]*$)",
      kCaseless);
  // One key at most: the rest is parsed as it stands.
  auto split = splitKey ? thenKey.find(s) : std::nullopt;
  if (split && split->start > 0) {
    if (auto head = parseCommand(utf8(UnicodeString(s, 0, split->start)), false)) {
      if (auto* type = std::get_if<Intent::Type>(&head->value)) {
        const bool tab = unicode::lower(utf8(split->groups[0])) == "tab";
        type->then = tab ? KeyAction::tab : KeyAction::enter;
        return head;
      }
    }
  }

  if (auto result = firstMatch(rules(), s)) return result;
  if (auto result = firstMatch(everydayRules(), s)) return result;

  if (s.endsWith(UnicodeString(u'?'))) return Intent{Intent::Ask{utf8(s)}};
  UnicodeString lowered(s);
  lowered.toLower(icu::Locale::getRoot());
  if (question.contains(lowered)) return Intent{Intent::Ask{utf8(s)}};
  return std::nullopt;
}

}  // namespace

std::string shownCommand(std::string_view text) {
  std::string shown(text);
  auto intent = parse(text);
  const auto* type = intent ? std::get_if<Intent::Type>(&intent->value) : nullptr;
  if (!type || !type->field || !type->field->namesSecret() || type->text.empty()) return shown;
  for (std::size_t at = shown.find(type->text); at != std::string::npos;
       at = shown.find(type->text, at + kSecretShown.size())) {
    shown.replace(at, type->text.size(), kSecretShown);
  }
  return shown;
}

}  // namespace tovrin::IntentParser
