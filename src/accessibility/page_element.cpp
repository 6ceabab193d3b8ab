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

bool inChromeLandmark(const PageElement& element, const std::vector<PageElement>& elements) {
  const PageElement* current = &element;
  for (int step = 0; step < 40; ++step) {
    if (!current->parent || *current->parent < 0 ||
        static_cast<std::size_t>(*current->parent) >= elements.size())
      return false;
    current = &elements[static_cast<std::size_t>(*current->parent)];
    const std::string& sub = current->subrole;
    if (sub == "AXLandmarkNavigation" || sub == "AXLandmarkBanner" ||
        sub == "AXLandmarkContentInfo")
      return true;
    if (sub == "AXLandmarkMain") return false;
  }
  return false;
}

std::vector<bool> labelsOfControls(const std::vector<PageElement>& elements) {
  std::vector<bool> folded(elements.size(), false);
  auto isControl = [](const PageElement& e) {
    return e.role == "AXCheckBox" || e.role == "AXRadioButton" || e.role == "AXPopUpButton" ||
           Roles::textInput(e.role) || e.subrole == "AXSearchField";
  };
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const PageElement& label = elements[i];
    if (label.subrole != "AXLabel") continue;
    std::size_t end = i + 1;  // one past the label's subtree
    bool wraps = false;
    while (end < elements.size() && elements[end].depth > label.depth) {
      if (isControl(elements[end])) wraps = true;
      ++end;
    }
    bool names = wraps;
    // Chromium leaves a label unnamed: its words are its text's.
    std::string said = label.label();
    for (std::size_t k = i + 1; said.empty() && k < end; ++k) {
      if (elements[k].role == "AXStaticText") said += elements[k].label();
    }
    const std::string words = TextUtil::norm(said);
    for (std::size_t k = i >= 6 ? i - 6 : 0; !names && k < std::min(elements.size(), end + 6);
         ++k) {
      if (k >= i && k < end) continue;
      names =
          isControl(elements[k]) && !words.empty() && TextUtil::norm(elements[k].label()) == words;
    }
    if (!names) continue;
    folded[i] = true;
    for (std::size_t k = i + 1; k < end; ++k) {
      if (!isControl(elements[k])) folded[k] = true;
    }
  }
  return folded;
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
