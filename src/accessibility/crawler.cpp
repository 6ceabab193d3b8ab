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

}  // namespace

bool readsActions(std::string_view role) {
  static constexpr std::array<std::string_view, 5> kExtra = {"AXGroup", "AXCell", "AXUnknown",
                                                             "AXRow", "AXImage"};
  return Roles::clickable(role) || std::find(kExtra.begin(), kExtra.end(), role) != kExtra.end();
}

namespace {
const TreeRequest& request(const Limits& limits) {
  // The request is the same for every crawl but its limits; build the shared
  // parts once.
  static const TreeRequest base = [] {
    TreeRequest r;
    r.attributes = attributeNames();
    r.roleIndex = kRole;
    r.hiddenIndex = kHidden;
    r.childrenIndex = kChildren;
    r.readsActions = readsActions;
    return r;
  }();
  thread_local TreeRequest out;
  out = base;
  out.stopAtWebArea = limits.stopAtWebArea;
  out.maxNodes = limits.maxNodes;
  out.maxDepth = limits.maxDepth;
  out.timeLimit = limits.timeLimit;
  return out;
}
}  // namespace

std::vector<PageElement> crawl(const AXElement& root, const Limits& limits, Clock& clock) {
  std::vector<PageElement> result;
  if (!root) return result;
  std::vector<TreeNode> nodes = root.api()->readTree(root, request(limits), clock);
  result.reserve(nodes.size());
  for (TreeNode& node : nodes) {
    auto& values = node.values;
    if (values.size() != attributeNames().size()) values.resize(attributeNames().size());
    PageElement e;
    e.id = static_cast<int>(result.size());
    e.element = std::move(node.element);
    e.parent = node.parent;
    e.depth = node.depth;
    e.role = AX::str(values[kRole]);
    e.subrole = AX::str(values[kSubrole]);
    const bool secure = e.subrole == "AXSecureTextField";
    e.actions = std::move(node.actions);
    e.title = AX::str(values[kTitle]);
    if (!secure) e.value = cutValue(AX::str(values[kValue]));
    e.desc = AX::str(values[kDesc]);
    e.help = AX::str(values[kHelp]);
    e.placeholder = AX::str(values[kPlaceholder]);
    e.frame = AX::rect(values[kPosition], values[kSize]);
    e.enabled = AX::boolean(values[kEnabled], true);
    result.push_back(std::move(e));
  }
  return result;
}

}  // namespace tovrin::Crawler

namespace tovrin {

// The walk every backend gets unless it has a faster one: one element at a
// time, waiting for each answer.
std::vector<TreeNode> Accessibility::readTree(const AXElement& root, const TreeRequest& request,
                                              Clock& clock) {
  std::vector<TreeNode> result;
  if (!root) return result;
  struct Entry {
    AXElement element;
    std::optional<int> parent;
    int depth = 0;
  };
  const double deadline = clock.now() + request.timeLimit;
  std::vector<Entry> stack = {{root, std::nullopt, 0}};
  std::unordered_set<AXElement, AXElementHash> visited;

  while (!stack.empty()) {
    Entry entry = std::move(stack.back());
    stack.pop_back();
    if (static_cast<int>(result.size()) >= request.maxNodes) break;
    if (clock.now() > deadline) break;
    if (!visited.insert(entry.element).second) continue;

    auto values = AX::multi(entry.element, request.attributes);
    if (AX::boolean(values[request.hiddenIndex], false)) continue;

    TreeNode node;
    node.element = entry.element;
    node.parent = entry.parent;
    node.depth = entry.depth;
    const std::string role = AX::str(values[request.roleIndex]);
    if (request.readsActions && request.readsActions(role)) {
      node.actions = AX::actions(entry.element);
    }
    const int id = static_cast<int>(result.size());
    bool descend = entry.depth < request.maxDepth &&
                   !(request.stopAtWebArea && role == "AXWebArea" && entry.depth >= 1);
    if (descend) {
      std::vector<AXElement> children = AX::elements(values[request.childrenIndex]);
      for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (*it) stack.push_back({*it, id, entry.depth + 1});
      }
    }
    node.values = std::move(values);
    result.push_back(std::move(node));
  }
  return result;
}

}  // namespace tovrin
