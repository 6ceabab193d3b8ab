#include "accessibility/ax.h"

#include <cmath>

#include "accessibility/platform.h"
#include "base/format.h"
#include "base/overloaded.h"

namespace tovrin::AX {

std::optional<AXValue> copy(const AXElement& element, std::string_view attribute) {
  if (!element) return std::nullopt;
  auto result = element.api()->copyAttributeValue(element, attribute);
  if (result.code != AXErr::kSuccess || !result.value) return std::nullopt;
  return std::move(result.value);
}

std::vector<std::optional<AXValue>> multi(const AXElement& element,
                                          const std::vector<std::string>& names) {
  std::vector<std::optional<AXValue>> out(names.size());
  if (!element) return out;
  auto result = element.api()->copyMultipleAttributeValues(element, names);
  if (result.code != AXErr::kSuccess || !result.value || result.value->size() != names.size()) {
    return out;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    AXValue& v = (*result.value)[i];
    if (std::holds_alternative<AXErrorValue>(v) || std::holds_alternative<AXNull>(v)) continue;
    out[i] = std::move(v);
  }
  return out;
}

std::string str(const std::optional<AXValue>& value) {
  if (!value) return {};
  return std::visit(Overloaded{
                        [](const std::string& s) { return s; },
                        [](const AXAttributedString& a) { return a.text; },
                        [](const AXNumber& n) { return formatNumber(n.value); },
                        [](const auto&) { return std::string(); },
                    },
                    *value);
}

bool boolean(const std::optional<AXValue>& value, bool fallback) {
  if (!value) return fallback;
  if (const bool* b = std::get_if<bool>(&*value)) return *b;
  if (const AXNumber* n = std::get_if<AXNumber>(&*value)) return n->value != 0;
  return fallback;
}

std::optional<Frame> rect(const std::optional<AXValue>& pos, const std::optional<AXValue>& size) {
  if (!pos || !size) return std::nullopt;
  const AXPoint* p = std::get_if<AXPoint>(&*pos);
  if (p == nullptr) return std::nullopt;
  const AXSize* s = std::get_if<AXSize>(&*size);
  if (s == nullptr) return std::nullopt;
  if (!std::isfinite(p->x) || !std::isfinite(p->y) || !std::isfinite(s->width) ||
      !std::isfinite(s->height)) {
    return std::nullopt;
  }
  return Frame{p->x, p->y, s->width, s->height};
}

std::optional<Frame> frame(const AXElement& element) {
  return rect(copy(element, "AXPosition"), copy(element, "AXSize"));
}

std::vector<std::string> actions(const AXElement& element) {
  if (!element) return {};
  auto result = element.api()->copyActionNames(element);
  if (result.code != AXErr::kSuccess || !result.value) return {};
  return std::move(*result.value);
}

std::optional<AXElement> element(const AXElement& from, std::string_view attribute) {
  auto value = copy(from, attribute);
  if (!value) return std::nullopt;
  if (const AXElement* e = std::get_if<AXElement>(&*value); e != nullptr && *e) return *e;
  return std::nullopt;
}

std::optional<AXElement> parent(const AXElement& element) {
  return AX::element(element, "AXParent");
}

std::vector<AXElement> elements(const std::optional<AXValue>& value) {
  if (!value) return {};
  if (const AXElementArray* list = std::get_if<AXElementArray>(&*value)) return *list;
  return {};
}

std::vector<AXElement> elements(const AXElement& element, std::string_view attribute) {
  return elements(copy(element, attribute));
}

void openPrivacySettings(Workspace& workspace) {
  workspace.openPrivacySettings();
}

int32_t perform(const AXElement& element, std::string_view action) {
  if (!element) return AXErr::kInvalidUIElement;
  return element.api()->performAction(element, action);
}

int32_t set(const AXElement& element, std::string_view attribute, const AXValue& value) {
  if (!element) return AXErr::kInvalidUIElement;
  return element.api()->setAttributeValue(element, attribute, value);
}

}  // namespace tovrin::AX
