#include "accessibility/crawler.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "accessibility/ax.h"
#include "base/unicode.h"

namespace tovrin::Crawler {
namespace {

constexpr std::size_t kMaxValueCharacters = 20000;

// Read in one request per element, in this order.
const std::vector<std::string>& attributeNames() {
  static const std::vector<std::string> names = {
      "AXRole",    "AXSubrole",  "AXTitle", "AXValue",  "AXDescription",      "AXHelp",
      "AXEnabled", "AXPosition", "AXSize",  "AXHidden", "AXPlaceholderValue", "AXChildren"};
  return names;
}
enum Attr {
  kRole,
  kSubrole,
  kTitle,
  kValue,
  kDesc,
  kHelp,
  kEnabled,
  kPosition,
  kSize,
  kHidden,
  kPlaceholder,
  kChildren
};

std::string cutValue(std::string text) {
  // Byte length bounds the character count from above, so short values skip counting.
  if (text.size() <= kMaxValueCharacters) return text;
  if (unicode::length(text) <= kMaxValueCharacters) return text;
  return unicode::prefix(text, kMaxValueCharacters);
}

struct Entry {
  AXElement element;
  std::optional<int> parent;
  int depth = 0;
};

}  // namespace

bool readsActions(std::string_view role) {
  static constexpr std::array<std::string_view, 5> kExtra = {"AXGroup", "AXCell", "AXUnknown",
                                                             "AXRow", "AXImage"};
  return Roles::clickable(role) || std::find(kExtra.begin(), kExtra.end(), role) != kExtra.end();
}

std::vector<PageElement> crawl(const AXElement& root, const Limits& limits, Clock& clock) {
  std::vector<PageElement> result;
  if (!root) return result;
  const double deadline = clock.now() + limits.timeLimit;
  std::vector<Entry> stack = {{root, std::nullopt, 0}};
  std::unordered_set<AXElement, AXElementHash> visited;

  while (!stack.empty()) {
    Entry entry = std::move(stack.back());
    stack.pop_back();
    if (static_cast<int>(result.size()) >= limits.maxNodes) break;
    if (clock.now() > deadline) break;
    if (!visited.insert(entry.element).second) continue;

    auto values = AX::multi(entry.element, attributeNames());
    if (AX::boolean(values[kHidden], false)) continue;

    PageElement e;
    e.id = static_cast<int>(result.size());
    e.element = entry.element;
    e.parent = entry.parent;
    e.depth = entry.depth;
    e.role = AX::str(values[kRole]);
    e.subrole = AX::str(values[kSubrole]);
    const bool secure = e.subrole == "AXSecureTextField";
    if (readsActions(e.role)) e.actions = AX::actions(entry.element);
    e.title = AX::str(values[kTitle]);
    if (!secure) e.value = cutValue(AX::str(values[kValue]));
    e.desc = AX::str(values[kDesc]);
    e.help = AX::str(values[kHelp]);
    e.placeholder = AX::str(values[kPlaceholder]);
    e.frame = AX::rect(values[kPosition], values[kSize]);
    e.enabled = AX::boolean(values[kEnabled], true);

    bool descend = e.depth < limits.maxDepth &&
                   !(limits.stopAtWebArea && e.role == "AXWebArea" && e.depth >= 1);
    if (descend) {
      std::vector<AXElement> children = AX::elements(values[kChildren]);
      for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (*it) stack.push_back({*it, e.id, e.depth + 1});
      }
    }
    result.push_back(std::move(e));
  }
  return result;
}

}  // namespace tovrin::Crawler
