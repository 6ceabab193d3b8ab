#include "ui/inspector_model.h"

#include <algorithm>
#include <cmath>

#include "accessibility/ax.h"
#include "actions/outcome.h"
#include "base/unicode.h"
#include "text/text_util.h"

namespace tovrin {
namespace {

std::string withoutAX(std::string role) {
  for (std::size_t at = role.find("AX"); at != std::string::npos; at = role.find("AX", at))
    role.erase(at, 2);
  return role;
}

}  // namespace

std::string InspectorNode::heading() const {
  std::string out = withoutAX(role);
  for (const std::string* text : {&title, &desc, &value}) {
    if (text->empty()) continue;
    out += "  “" + unicode::truncate(TextUtil::clean(*text), 50) + "”";
    break;
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> InspectorNode::detailRows() const {
  auto whole = [](double v) {
    return std::to_string(static_cast<long long>(std::trunc(std::clamp(v, -1e15, 1e15))));
  };
  auto shown = [](const std::string& v) { return v.empty() ? std::string("—") : v; };
  std::size_t childCount = children ? children->size() : AX::elements(element, "AXChildren").size();
  return {
      {"Role", role + (subrole.empty() ? "" : " / " + subrole)},
      {"Title", shown(title)},
      {"Value", shown(value)},
      {"Description", shown(desc)},
      {"Help", shown(help)},
      {"Identifier", shown(identifier)},
      {"Position", frame ? "x " + whole(frame->x) + ", y " + whole(frame->y) : "—"},
      {"Size", frame ? whole(frame->width) + " × " + whole(frame->height) : "—"},
      {"Enabled", enabled ? "yes" : "no"},
      {"Children", std::to_string(childCount)},
  };
}

std::vector<std::string> InspectorNode::hierarchyLines() const {
  std::vector<std::string> out;
  for (std::size_t k = 0; k < path.size(); ++k) {
    std::string indent;
    for (std::size_t i = 0; i < k; ++i)
      indent += "  ";
    out.push_back(indent + (k > 0 ? "└ " : "") + path[k]);
  }
  return out;
}

InspectorNode InspectorNode::make(const AXElement& element, const std::vector<std::string>& path,
                                  int depth, int& budget) {
  --budget;
  static const std::vector<std::string> kNames = {
      "AXRole",       "AXSubrole",  "AXTitle", "AXValue",   "AXDescription", "AXHelp",
      "AXIdentifier", "AXPosition", "AXSize",  "AXEnabled", "AXChildren"};
  auto v = AX::multi(element, kNames);
  InspectorNode node;
  node.id = newUUID();
  node.element = element;
  node.role = AX::str(v[0]);
  if (node.role.empty()) node.role = "AXUnknown";
  node.subrole = AX::str(v[1]);
  node.title = AX::str(v[2]);
  node.value =
      node.subrole == "AXSecureTextField" ? "(hidden)" : unicode::truncate(AX::str(v[3]), 500);
  node.desc = AX::str(v[4]);
  node.help = AX::str(v[5]);
  node.identifier = AX::str(v[6]);
  node.frame = AX::rect(v[7], v[8]);
  node.enabled = AX::boolean(v[9], true);
  node.actions = AX::actions(element);
  node.path = path;

  std::vector<AXElement> children = AX::elements(v[10]);
  if (depth < 1 || children.empty()) return node;
  std::vector<std::string> childPath = path;
  childPath.push_back(node.heading());
  node.children.emplace();
  for (const AXElement& child : children) {
    if (budget < 1) break;
    node.children->push_back(make(child, childPath, depth - 1, budget));
  }
  return node;
}

std::shared_ptr<InspectorModel> InspectorModel::make(Services services) {
  return std::shared_ptr<InspectorModel>(new InspectorModel(std::move(services)));
}

void InspectorModel::changed() {
  for (const auto& observer : observers_)
    observer();
}

void InspectorModel::reload() {
  if (!services_.platform.accessibility || !services_.platform.accessibility->isProcessTrusted()) {
    status = "Accessibility access is required.";
    changed();
    return;
  }
  auto target = services_.tracker ? services_.tracker->current() : std::nullopt;
  if (!target) {
    status = "No supported browser found.";
    changed();
    return;
  }
  const std::string name = target->browserName();
  status = "Reading " + name + "…";
  changed();
  std::weak_ptr<InspectorModel> weak = weak_from_this();
  auto executor = services_.executor;
  executor->inBackground([weak, executor, target = *target, name] {
    std::optional<InspectorNode> root;
    if (auto window = target.window()) {
      int budget = 2500;
      root = InspectorNode::make(*window, {}, 14, budget);
    }
    executor->onMain([weak, root = std::move(root), name] {
      auto self = weak.lock();
      if (!self) return;
      if (root) {
        self->roots = {*root};
        self->selection = root->id;
        self->picked.reset();
        self->status = name + " — window tree (depth ≤ 14, ≤ 2500 nodes)";
      } else {
        self->status = "Couldn't read a " + name + " window.";
      }
      self->changed();
    });
  });
}

void InspectorModel::startPicking() {
  if (picking) return;
  picking = true;
  status = "Click any element in the browser…";
  changed();
}

void InspectorModel::pickAt(double x, double y) {
  picking = false;
  Accessibility* ax = services_.platform.accessibility.get();
  auto hit = ax ? ax->elementAtPosition(ax->createSystemWide(), x, y) : AXResult<AXElement>{};
  if (hit.code != AXErr::kSuccess || !hit.value) {
    status = "Nothing accessible under the pointer.";
    changed();
    return;
  }
  pick(hit.value, "Picked element from the browser");
}

void InspectorModel::pickFocused() {
  picking = false;
  auto target = services_.tracker ? services_.tracker->current() : std::nullopt;
  std::optional<AXElement> focused = target ? target->focusedElement() : std::nullopt;
  if (!focused) {
    status = target ? "Nothing in " + target->browserName() + " has the keyboard focus."
                    : "No supported browser found.";
    changed();
    return;
  }
  pick(*focused, "Picked the element with the keyboard focus in " + target->browserName() +
                     " (this desktop lets no program see where you click)");
}

void InspectorModel::pick(const AXElement& element, std::string pickedStatus) {
  std::vector<std::string> path;
  std::optional<AXElement> ancestor = AX::parent(element);
  for (int i = 0; i < 40 && ancestor; ++i, ancestor = AX::parent(*ancestor)) {
    std::string entry = withoutAX(AX::str(AX::copy(*ancestor, "AXRole")));
    const std::string title = AX::str(AX::copy(*ancestor, "AXTitle"));
    if (!title.empty()) entry += "  “" + unicode::truncate(title, 40) + "”";
    path.insert(path.begin(), std::move(entry));
  }
  int budget = 60;
  picked = InspectorNode::make(element, path, 2, budget);
  selection = picked->id;
  // The same element in the tree read before: its row is the one shown.
  std::vector<const InspectorNode*> stack;
  for (const InspectorNode& root : roots)
    stack.push_back(&root);
  while (!stack.empty()) {
    const InspectorNode* node = stack.back();
    stack.pop_back();
    if (node->element == element) {
      picked.reset();
      selection = node->id;
      break;
    }
    if (node->children) {
      for (const InspectorNode& child : *node->children)
        stack.push_back(&child);
    }
  }
  status = std::move(pickedStatus);
  changed();
}

const InspectorNode* InspectorModel::selectedNode() const {
  if (picked && (!selection || *selection == picked->id)) return &*picked;
  if (!selection) return nullptr;
  std::vector<const InspectorNode*> stack;
  for (auto it = roots.rbegin(); it != roots.rend(); ++it)
    stack.push_back(&*it);
  while (!stack.empty()) {
    const InspectorNode* node = stack.back();
    stack.pop_back();
    if (node->id == *selection) return node;
    if (node->children) {
      for (auto it = node->children->rbegin(); it != node->children->rend(); ++it)
        stack.push_back(&*it);
    }
  }
  return nullptr;
}

double InspectorModel::accessibilityY(double y, std::optional<double> primaryScreenHeight) {
  return primaryScreenHeight.value_or(0) - y;
}

}  // namespace tovrin
