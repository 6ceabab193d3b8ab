#pragma once

// The shared way to read and decode accessibility attributes. Stateless; any
// thread. Every failure becomes an absent value, an empty string or list, or
// the caller's default.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accessibility/ax_types.h"

namespace tovrin {
class Workspace;
}

namespace tovrin::AX {

// A single attribute; absent on any failure.
std::optional<AXValue> copy(const AXElement& element, std::string_view attribute);

// Several attributes in one request: always exactly one entry per name, in
// order. Error boxes and null entries are absent; a failed request gives all
// absent.
std::vector<std::optional<AXValue>> multi(const AXElement& element,
                                          const std::vector<std::string>& names);

// Text of a value: strings as they are, attributed strings' characters,
// numbers in decimal; anything else (and absent) is empty.
std::string str(const std::optional<AXValue>& value);

// A boolean: booleans as they are, numbers non-zero; otherwise `fallback`.
bool boolean(const std::optional<AXValue>& value, bool fallback);

// A frame from a point box and a size box, all four numbers finite.
std::optional<Frame> rect(const std::optional<AXValue>& pos, const std::optional<AXValue>& size);

std::optional<Frame> frame(const AXElement& element);
std::vector<std::string> actions(const AXElement& element);
std::optional<AXElement> parent(const AXElement& element);

// An element-valued attribute ("AXFocusedWindow", "AXParent", …).
std::optional<AXElement> element(const AXElement& element, std::string_view attribute);
// An element-array attribute ("AXChildren", "AXWindows"); anything else is empty.
std::vector<AXElement> elements(const AXElement& element, std::string_view attribute);
std::vector<AXElement> elements(const std::optional<AXValue>& value);

// Opens the desktop's page where accessibility is granted to Tovrin (on
// Linux: the assistive-technologies setting).
void openPrivacySettings(Workspace& workspace);

// Writes and actions, with the platform's result code.
int32_t perform(const AXElement& element, std::string_view action);
int32_t set(const AXElement& element, std::string_view attribute, const AXValue& value);

}  // namespace tovrin::AX
