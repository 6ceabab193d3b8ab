#include "intent/intent_json.h"

#include <variant>

#include "base/overloaded.h"

namespace tovrin {
namespace {

using Json = nlohmann::ordered_json;

Json optionalTarget(const std::optional<TargetSpec>& t) {
  return t ? toJson(*t) : Json(nullptr);
}

}  // namespace

Json toJson(const TargetSpec& target) {
  Json j;
  j["query"] = target.query;
  j["ordinal"] = target.ordinal ? Json(*target.ordinal) : Json(nullptr);
  j["role"] = std::string(rawValue(target.role));
  j["nextTo"] = target.nextTo ? Json(*target.nextTo) : Json(nullptr);
  return j;
}

Json toJson(const Intent& intent) {
  Json j;
  j["intent"] = std::string(intent.caseName());
  std::visit(Overloaded{
                 [&](const Intent::Click& c) {
                   j["target"] = toJson(c.target);
                   if (c.checked) j["checked"] = *c.checked;
                 },
                 [&](const Intent::OpenLink& o) { j["target"] = toJson(o.target); },
                 [&](const Intent::OpenLinks& o) { j["matching"] = o.matching; },
                 [&](const Intent::Ask& a) { j["text"] = a.question; },
                 [&](const Intent::Find& f) { j["text"] = f.text; },
                 [&](const Intent::FindAll& f) { j["text"] = f.text; },
                 [&](const Intent::Scroll& s) {
                   std::visit(Overloaded{
                                  [&](const ScrollSpec::Section& x) {
                                    j["scroll"] = "section";
                                    j["section"] = x.text;
                                  },
                                  [&](const ScrollSpec::Down&) { j["scroll"] = "down"; },
                                  [&](const ScrollSpec::Up&) { j["scroll"] = "up"; },
                                  [&](const ScrollSpec::Top&) { j["scroll"] = "top"; },
                                  [&](const ScrollSpec::Bottom&) { j["scroll"] = "bottom"; },
                              },
                              s.spec.value);
                 },
                 [&](const Intent::Type& t) {
                   j["text"] = t.text;
                   j["field"] = optionalTarget(t.field);
                   j["replace"] = t.replace;
                   if (t.then) j["then"] = std::string(rawValue(*t.then));
                 },
                 [&](const Intent::FillProfile& f) {
                   j["profile"] = std::string(rawValue(f.profile));
                   j["field"] = optionalTarget(f.field);
                 },
                 [&](const Intent::Key& k) { j["key"] = std::string(rawValue(k.key)); },
                 [&](const Intent::Navigate& n) {
                   std::visit(Overloaded{
                                  [&](const NavAction::TabIndex& x) {
                                    j["nav"] = "tabIndex";
                                    j["index"] = x.index;
                                  },
                                  [&](const NavAction::TabNamed& x) {
                                    j["nav"] = "tabNamed";
                                    j["name"] = x.name;
                                  },
                                  [&](const NavAction::Back&) { j["nav"] = "back"; },
                                  [&](const NavAction::Forward&) { j["nav"] = "forward"; },
                                  [&](const NavAction::Reload&) { j["nav"] = "reload"; },
                                  [&](const NavAction::NewTab&) { j["nav"] = "newTab"; },
                                  [&](const NavAction::CloseTab&) { j["nav"] = "closeTab"; },
                                  [&](const NavAction::NextTab&) { j["nav"] = "nextTab"; },
                                  [&](const NavAction::PreviousTab&) { j["nav"] = "previousTab"; },
                              },
                              n.nav.value);
                 },
                 [&](const Intent::List& l) { j["role"] = std::string(rawValue(l.role)); },
                 [](const Intent::OpenArticle&) {},
                 [](const Intent::Read&) {},
                 [](const Intent::Summarize&) {},
                 [](const Intent::CopyArticle&) {},
                 [&](const Intent::GoTo& g) { j["place"] = g.place; },
                 [&](const Intent::Search& s) { j["text"] = s.text; },
             },
             intent.value);
  return j;
}

std::string dumpJson(const Json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tovrin
