// Typing commands and profile fills: pick the field (focused, named, or
// chosen by the user), bring the browser to the front, focus the field, type
// with synthetic keys, check the text arrived, and set the value directly
// when keystrokes do not register.

#include "actions/action_engine.h"
#include "ai/local_ai.h"
#include "base/unicode.h"
#include "text/text_util.h"

namespace tovrin {
namespace {

using Kind = ActionResult::Kind;

const char* const kNoFocusBody = "Click a field first, or say “Type … into the email field”.";

// A secret typed into a password field leaves no copy of itself in the
// trail, even where the command named the field some other way.
void hideSecret(Trail& dbg, const std::string& text) {
  if (text.empty()) return;
  const std::string forms[] = {text, unicode::truncate(text, 24)};
  for (std::string& line : dbg) {
    for (const std::string& form : forms) {
      for (std::size_t at = line.find(form); at != std::string::npos;
           at = line.find(form, at + kSecretShown.size())) {
        line.replace(at, form.size(), kSecretShown);
      }
    }
  }
}

// How the outcome names a field: its label, else what kind of field it is.
std::string fieldName(const PageElement& e) {
  std::string label = e.label();
  if (!label.empty()) return label;
  return e.subrole == "AXSearchField" ? "search box" : "field";
}

}  // namespace

Outcome ActionEngine::typeFlow(const std::string& text, const std::optional<TargetSpec>& field,
                               bool replace, Trail dbg) {
  if (text.empty()) return Outcome{Display::result(Kind::failure, "Nothing to type", dbg)};
  if (field && (!field->query.empty() || field->ordinal)) {
    auto snap = snapshot();
    if (!snap)
      return Outcome{Display::result(Kind::failure, "Couldn't read " + browserName(), dbg)};
    return chooseField(text, field, replace, snap, dbg);
  }
  if (auto focused = target_.focusedElement()) {
    const std::string role = AX::str(AX::copy(*focused, "AXRole"));
    bool qualifies = Roles::textInput(role);
    if (!qualifies && focused->api() != nullptr) {
      auto settable = focused->api()->isAttributeSettable(*focused, "AXValue");
      qualifies = settable.code == AXErr::kSuccess && settable.value;
    }
    if (qualifies) {
      const bool secure = AX::str(AX::copy(*focused, "AXSubrole")) == "AXSecureTextField";
      dbg.push_back("Typing into the focused " + role);
      return Outcome{write(text, *focused, replace, secure, "focused field", dbg)};
    }
  }
  if (!field)
    return Outcome{Display::result(Kind::failure, "No text field is focused", dbg, kNoFocusBody)};
  auto snap = snapshot();
  if (!snap)
    return Outcome{Display::result(Kind::failure, "No text field is focused", dbg, kNoFocusBody)};
  // A vague description ("the field next to …" without words) is not used for matching.
  return chooseField(text, std::nullopt, replace, snap, dbg);
}

Outcome ActionEngine::chooseField(const std::string& text, const std::optional<TargetSpec>& field,
                                  bool replace, std::shared_ptr<const PageSnapshot> snap,
                                  Trail dbg) {
  const TargetSpec anyField{"", std::nullopt, RoleHint::field, std::nullopt};
  std::vector<Match> found;
  if (field) {
    TargetSpec spec = *field;
    spec.role = RoleHint::field;
    found = ElementMatcher::matches(spec, snap->elements, MatchPurpose::field).matches;
    if (found.empty() && field->query.empty())
      found = ElementMatcher::matches(anyField, snap->elements, MatchPurpose::field).matches;
  } else {
    found = ElementMatcher::matches(anyField, snap->elements, MatchPurpose::field).matches;
  }
  std::erase_if(found, [](const Match& m) { return !m.element.enabled; });
  if (found.empty()) {
    return Outcome{Display::result(Kind::failure, "Couldn't find that field", dbg,
                                   "Ask “What fields are on this page?” to see what's available.")};
  }
  auto fill = [&](const Match& m) {
    dbg.push_back("Field: " + elementDebug(m.element));
    const bool secure = m.element.subrole == "AXSecureTextField";
    const std::string name = fieldName(m.element);
    return Outcome{write(text, m.element.element, replace, secure, name, dbg)};
  };
  if (found.size() == 1) return fill(found.front());
  if (field && !field->query.empty()) {
    if (found[0].score - found[1].score >= 6) return fill(found[0]);
    std::vector<std::string> options;
    for (std::size_t i = 0; i < std::min<std::size_t>(8, found.size()); ++i) {
      options.push_back(found[i].element.label().empty() ? "unlabeled field"
                                                         : found[i].element.label());
    }
    auto index = services_.model ? LocalAI::choose(*services_.model, field->summary(), options)
                                 : std::nullopt;
    if (index) return fill(found[*index]);
  }
  ChoiceSet set{"Which field?", {}};
  auto self = shared_from_this();
  for (std::size_t i = 0; i < std::min<std::size_t>(6, found.size()); ++i) {
    const PageElement& e = found[i].element;
    std::string subtitle = Display::role(e.role);
    if (auto section = snap->sectionTitle(e.id))
      subtitle += " · under “" + unicode::truncate(*section, 40) + "”";
    const bool secure = e.subrole == "AXSecureTextField";
    const std::string name = fieldName(e);
    Trail picked = dbg;
    picked.push_back("Picked by you");
    set.options.push_back(
        ChoiceOption{newUUID(), e.label().empty() ? "(unlabeled field)" : e.label(), subtitle, e,
                     [self, text, element = e.element, replace, secure, name, picked] {
                       return Outcome{self->write(text, element, replace, secure, name, picked)};
                     }});
  }
  return Outcome{std::move(set)};
}

ActionResult ActionEngine::write(const std::string& text, const AXElement& element, bool replace,
                                 bool secure, const std::string& name, Trail dbg) {
  if (secure) hideSecret(dbg, text);
  if (auto refused = requireActive(dbg)) return *refused;
  if (auto frame = AX::frame(element)) highlight(*frame, 1.5);
  AX::set(element, "AXFocused", true);
  wait(0.100);
  const std::string before = AX::str(AX::copy(element, "AXValue"));
  auto isCancelled = [this] { return cancelled(); };
  if (replace) {
    Input::postKey(target_, {KeyCode::kA, KeyFlags::kCommand});
    wait(0.040);
  }
  Input::type(target_, text, isCancelled);
  wait(0.150);
  if (cancelled()) {
    // The caller drops this outcome; what matters is that nothing more is done.
    dbg.push_back("Cancelled while typing");
    return Display::result(Kind::failure, "Cancelled", dbg);
  }
  const std::string after = AX::str(AX::copy(element, "AXValue"));

  bool ok = false;
  if (after.find(text) != std::string::npos || (after != before && !after.empty())) {
    ok = true;
    dbg.push_back("Typed via keyboard events");
  } else {
    auto settable =
        element.api() ? element.api()->isAttributeSettable(element, "AXValue") : AXResult<bool>{};
    if (settable.code == AXErr::kSuccess && settable.value) {
      ok = AX::set(element, "AXValue", replace ? text : before + text) == AXErr::kSuccess;
      dbg.push_back("Keystrokes didn't register; set AXValue directly");
    } else {
      dbg.push_back("Typed via keyboard events");
    }
  }
  const std::string shown = secure ? std::string(kSecretShown) : unicode::truncate(text, 40);
  if (!ok) {
    return Display::result(Kind::failure, "Couldn't type into **" + TextUtil::md(name) + "**", dbg,
                           "The field didn't accept input.");
  }
  std::string headline = std::string(replace ? "Filled" : "Typed in") + " **" + TextUtil::md(name) +
                         "** with “" + TextUtil::md(shown) + "”";
  if (afterTyping_ && !cancelled()) {
    // The key goes to the field that was just typed into, not to whatever
    // took the focus meanwhile.
    if (!AX::boolean(AX::copy(element, "AXFocused"), true)) AX::set(element, "AXFocused", true);
    ActionResult key = pressKey(*afterTyping_, dbg);
    if (key.kind != Kind::success) return key;
    dbg = key.debug;
    headline += ", then pressed **" + std::string(title(*afterTyping_)) + "**";
  }
  return Display::result(Kind::success, std::move(headline), dbg);
}

}  // namespace tovrin

namespace tovrin {

Outcome ActionEngine::search(const std::string& text, std::shared_ptr<const PageSnapshot> snap,
                             Trail dbg) {
  const TargetSpec box{"search", std::nullopt, RoleHint::field, std::nullopt};
  std::vector<Match> found =
      ElementMatcher::matches(box, snap->elements, MatchPurpose::field).matches;
  std::erase_if(found, [](const Match& m) {
    return !m.element.enabled || m.element.subrole == "AXSecureTextField";
  });
  // Only a box the page calls a search box: "the only field" of a sign-in
  // form is no place for a search.
  if (found.empty() || found.front().reason == "the only field on the page") {
    dbg.push_back("No search box on the page: finding the words instead");
    return find(text, *snap, dbg);
  }
  const PageElement& field = found.front().element;
  dbg.push_back("Search box: " + elementDebug(field));
  afterTyping_ = KeyAction::enter;
  return Outcome{write(text, field.element, true, false, fieldName(field), dbg)};
}

}  // namespace tovrin
