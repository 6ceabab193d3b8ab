#pragma once

// One accessibility element of a page, as a crawl read it. A value: copies
// share the live handle. Its id is its position in the list the crawl
// returned, and means nothing outside that list.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accessibility/ax_types.h"

namespace tovrin {

struct PageElement {
  int id = 0;
  AXElement element{};
  std::optional<int> parent{};
  int depth = 0;
  std::string role{};
  std::string subrole{};
  std::string title{};
  std::string value{};  // cut to 20000 characters; always empty for a secure field
  std::string desc{};
  std::string help{};
  std::string placeholder{};
  std::optional<Frame> frame{};
  bool enabled = true;
  std::vector<std::string> actions{};  // read only for roles that can act

  // The first non-empty cleaned label candidate, or "".
  [[nodiscard]] std::string label() const;
  // Every non-empty cleaned candidate, in candidate order, duplicates kept.
  [[nodiscard]] std::vector<std::string> labels() const;
};

// For each element of a page pass (ids are positions, in document order):
// whether it is a label that names a control, or text inside one. Such a
// label is the control's name, not a thing of its own: a press goes to the
// control and its words are said once, on the control's line. A label names
// a control it wraps, or one beside it that carries its words as its name.
std::vector<bool> labelsOfControls(const std::vector<PageElement>& elements);

// Whether an element lies in the site's frame by the page's own markup: a
// navigation, banner or footer landmark, and not inside the main one.
bool inChromeLandmark(const PageElement& element, const std::vector<PageElement>& elements);

namespace Roles {
// Roles a user presses.
bool clickable(std::string_view role);
// Roles a user types into.
bool textInput(std::string_view role);
const std::vector<std::string_view>& clickableRoles();
const std::vector<std::string_view>& textInputRoles();
}  // namespace Roles

}  // namespace tovrin
