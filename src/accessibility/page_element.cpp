#include "accessibility/page_element.h"

#include <algorithm>
#include <array>

#include "text/text_util.h"

namespace tovrin {
namespace {

// Fields keep their value out of the label: what the user typed is not what
// the field is called.
std::array<const std::string*, 5> candidates(const PageElement& e) {
  if (Roles::textInput(e.role) || e.subrole == "AXSearchField") {
    return {&e.title, &e.desc, &e.placeholder, &e.help, nullptr};
  }
  return {&e.title, &e.desc, &e.value, &e.help, &e.placeholder};
}

bool contains(const std::vector<std::string_view>& set, std::string_view role) {
  return std::find(set.begin(), set.end(), role) != set.end();
}

}  // namespace

std::string PageElement::label() const {
  for (const std::string* c : candidates(*this)) {
    if (c == nullptr) break;
    std::string cleaned = TextUtil::clean(*c);
    if (!cleaned.empty()) return cleaned;
  }
  return {};
}

std::vector<std::string> PageElement::labels() const {
  std::vector<std::string> out;
  for (const std::string* c : candidates(*this)) {
    if (c == nullptr) break;
    std::string cleaned = TextUtil::clean(*c);
    if (!cleaned.empty()) out.push_back(std::move(cleaned));
  }
  return out;
}

namespace Roles {

const std::vector<std::string_view>& clickableRoles() {
  static const std::vector<std::string_view> roles = {
      "AXButton",   "AXLink",        "AXCheckBox",     "AXRadioButton",
      "AXMenuItem", "AXPopUpButton", "AXMenuButton",   "AXDisclosureTriangle",
      "AXTab",      "AXSwitch",      "AXToolbarButton"};
  return roles;
}

const std::vector<std::string_view>& textInputRoles() {
  static const std::vector<std::string_view> roles = {"AXTextField", "AXTextArea", "AXComboBox",
                                                      "AXSearchField"};
  return roles;
}

bool clickable(std::string_view role) {
  return contains(clickableRoles(), role);
}
bool textInput(std::string_view role) {
  return contains(textInputRoles(), role);
}

}  // namespace Roles
}  // namespace tovrin
