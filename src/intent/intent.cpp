#include "intent/intent.h"

#include <array>
#include <utility>

#include "base/overloaded.h"
#include "base/unicode.h"

namespace tovrin {
namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kRoles = {{
    {"any", "element"},
    {"button", "button"},
    {"link", "link"},
    {"field", "field"},
    {"checkbox", "checkbox"},
    {"tab", "tab"},
    {"image", "image"},
    {"heading", "heading"},
    {"result", "result"},
}};

constexpr std::array<std::string_view, 3> kProfileFields = {"name", "email", "phone"};

constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kKeys = {{
    {"copy", "Copy"},
    {"paste", "Paste"},
    {"selectAll", "Select all"},
    {"enter", "Return"},
    {"escape", "Escape"},
    {"tab", "Tab"},
    {"delete", "Delete"},
    {"up", "Up arrow"},
    {"down", "Down arrow"},
    {"left", "Left arrow"},
    {"right", "Right arrow"},
}};

constexpr std::array<std::string_view, 10> kOrdinalWords = {
    "first", "second", "third", "fourth", "fifth", "sixth", "seventh", "eighth", "ninth", "tenth"};

// -1 is "last"; 1 to 10 have words; any other number (only the model can
// produce those) is shown as "#" and the number, negative or not.
std::string ordinalWord(int64_t n) {
  if (n == -1) return "last";
  if (n >= 1 && n <= 10) return std::string(kOrdinalWords[static_cast<std::size_t>(n - 1)]);
  return "#" + std::to_string(n);
}

std::string quoted(std::string_view s) {
  return "“" + std::string(s) + "”";
}

}  // namespace

std::string_view rawValue(RoleHint role) {
  return kRoles[static_cast<std::size_t>(role)].first;
}
std::string_view noun(RoleHint role) {
  return kRoles[static_cast<std::size_t>(role)].second;
}

std::optional<RoleHint> roleHintFromRaw(std::string_view raw) {
  for (std::size_t i = 0; i < kRoles.size(); ++i) {
    if (kRoles[i].first == raw) return static_cast<RoleHint>(i);
  }
  return std::nullopt;
}

std::string_view rawValue(ProfileField field) {
  return kProfileFields[static_cast<std::size_t>(field)];
}

std::optional<ProfileField> profileFieldFromRaw(std::string_view raw) {
  for (std::size_t i = 0; i < kProfileFields.size(); ++i) {
    if (kProfileFields[i] == raw) return static_cast<ProfileField>(i);
  }
  return std::nullopt;
}

std::string_view rawValue(KeyAction key) {
  return kKeys[static_cast<std::size_t>(key)].first;
}
std::string_view title(KeyAction key) {
  return kKeys[static_cast<std::size_t>(key)].second;
}

std::optional<KeyAction> keyActionFromRaw(std::string_view raw) {
  for (std::size_t i = 0; i < kKeys.size(); ++i) {
    if (kKeys[i].first == raw) return static_cast<KeyAction>(i);
  }
  return std::nullopt;
}

bool TargetSpec::namesSecret() const {
  static const std::array<std::string_view, 6> kWords = {"password",   "passwort", "passcode",
                                                         "passphrase", "pin",      "pwd"};
  const std::string words = unicode::lower(query);
  std::size_t start = 0;
  while (start < words.size()) {
    std::size_t end = words.find_first_of(" -_/", start);
    if (end == std::string::npos) end = words.size();
    const std::string_view word(words.data() + start, end - start);
    for (std::string_view secret : kWords) {
      // "passwords", "PIN code", "new-password"
      if (word == secret ||
          (word.size() == secret.size() + 1 && word.starts_with(secret) && word.back() == 's')) {
        return true;
      }
    }
    start = end + 1;
  }
  return false;
}

std::string TargetSpec::summary() const {
  std::string out;
  auto add = [&out](std::string_view part) {
    if (!out.empty()) out += ' ';
    out += part;
  };
  if (ordinal) add(ordinalWord(*ordinal));
  if (!query.empty()) add(quoted(query));
  if (role != RoleHint::any) add(noun(role));
  if (nextTo) add("next to " + quoted(*nextTo));
  return out.empty() ? "element" : out;
}

std::string Intent::title() const {
  return std::visit(
      Overloaded{
          [](const Click& c) {
            if (!c.checked) return "Click " + c.target.summary();
            return std::string(*c.checked ? "Check " : "Uncheck ") + c.target.summary();
          },
          [](const OpenLink& o) { return "Open " + o.target.summary(); },
          [](const OpenLinks& o) { return "Open every link mentioning " + quoted(o.matching); },
          [](const Ask& a) { return "Ask: " + a.question; },
          [](const Find& f) { return "Find " + quoted(f.text); },
          [](const FindAll& f) { return "Find every " + quoted(f.text); },
          [](const Scroll& s) {
            return std::visit(
                Overloaded{
                    [](const ScrollSpec::Section& x) { return "Scroll to " + quoted(x.text); },
                    [](const ScrollSpec::Down&) { return std::string("Scroll down"); },
                    [](const ScrollSpec::Up&) { return std::string("Scroll up"); },
                    [](const ScrollSpec::Top&) { return std::string("Scroll to top"); },
                    [](const ScrollSpec::Bottom&) { return std::string("Scroll to bottom"); },
                },
                s.spec.value);
          },
          [](const Type& t) {
            std::string out = t.replace ? "Replace with " : "Type ";
            const bool secret = t.field && t.field->namesSecret();
            out += quoted(secret ? std::string(kSecretShown) : unicode::truncate(t.text, 24));
            if (t.field) out += " in " + t.field->summary();
            if (t.then) out += ", then press " + std::string(tovrin::title(*t.then));
            return out;
          },
          [](const FillProfile& f) {
            std::string out = "Fill my " + std::string(rawValue(f.profile));
            if (f.field) out += " in " + f.field->summary();
            return out;
          },
          [](const Key& k) { return "Press " + std::string(tovrin::title(k.key)); },
          [](const Navigate& n) {
            return std::visit(
                Overloaded{
                    [](const NavAction::TabIndex& x) {
                      return "Switch to tab " + std::to_string(x.index);
                    },
                    [](const NavAction::TabNamed& x) { return "Switch to tab " + quoted(x.name); },
                    [](const NavAction::Back&) { return std::string("Go back"); },
                    [](const NavAction::Forward&) { return std::string("Go forward"); },
                    [](const NavAction::Reload&) { return std::string("Reload"); },
                    [](const NavAction::NewTab&) { return std::string("New tab"); },
                    [](const NavAction::CloseTab&) { return std::string("Close tab"); },
                    [](const NavAction::NextTab&) { return std::string("Next tab"); },
                    [](const NavAction::PreviousTab&) { return std::string("Previous tab"); },
                },
                n.nav.value);
          },
          [](const List& l) {
            if (l.role == RoleHint::any) return std::string("List elements");
            return "List " + std::string(noun(l.role)) + "s";
          },
          [](const OpenArticle&) { return std::string("Open this article"); },
          [](const Read&) { return std::string("Read page"); },
          [](const Summarize&) { return std::string("Summarize page"); },
          [](const CopyArticle&) { return std::string("Copy page text"); },
          [](const GoTo& g) { return "Go to " + quoted(g.place); },
          [](const Search& s) { return "Search for " + quoted(s.text); },
      },
      value);
}

std::string_view Intent::caseName() const {
  static constexpr std::array<std::string_view, 18> kNames = {
      "click",       "openLink", "openLinks",   "ask",         "find",     "findAll",
      "scroll",      "type",     "fillProfile", "key",         "navigate", "list",
      "openArticle", "read",     "summarize",   "copyArticle", "goTo",     "search"};
  return kNames[value.index()];
}

}  // namespace tovrin
