#include "platform/simulated_desktop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "accessibility/ax.h"
#include "base/format.h"
#include "base/overloaded.h"
#include "base/unicode.h"

namespace tovrin {
namespace {

// The system's own messaging timeout when Tovrin has set none.
constexpr double kDefaultTimeout = 6.0;

std::string quoted(const std::string& s) {
  return "“" + s + "”";
}

// Effects print one per line: line breaks inside them show as "⏎".
std::string oneLine(std::string s) {
  for (std::size_t at = s.find('\n'); at != std::string::npos; at = s.find('\n', at))
    s.replace(at, 1, "⏎");
  return s;
}

std::string valueText(const AXValue& value) {
  return std::visit(Overloaded{
                        [](const std::string& s) { return quoted(s); },
                        [](const bool& b) { return std::string(b ? "true" : "false"); },
                        [&](const auto&) { return AX::str(value); },
                    },
                    value);
}

}  // namespace

std::string Effect::describe() const {
  std::string code = " → " + std::to_string(result);
  switch (kind) {
    case Kind::action:
      return detail + " " + element + code;
    case Kind::attributeWrite:
      return "set " + element + " " + oneLine(unicode::truncate(detail, 80)) + code;
    case Kind::key:
      return "key " + detail + " → " + element;
    case Kind::mouse:
      return "mouse " + detail;
    case Kind::wheel:
      return "scroll wheel " + detail;
    case Kind::activate:
      return "activate " + element + (detail.empty() ? "" : " (" + detail + ")");
    case Kind::openURL:
      return "open " + detail + " in " + element;
    case Kind::clipboard:
      return "clipboard " + quoted(oneLine(unicode::truncate(detail, 80)));
    case Kind::outlineShown:
      return "outline " + detail;
    case Kind::outlineHidden:
      return "outline hidden";
    case Kind::defaultsWrite:
      return "defaults " + detail;
    case Kind::privacySettings:
      return "open accessibility settings";
  }
  return detail;
}

SimulatedDesktop::SimulatedDesktop(Scene scene) : scene_(std::move(scene)) {}

Platform SimulatedDesktop::platform() {
  auto self = std::static_pointer_cast<SimulatedDesktop>(shared_from_this());
  return Platform{.accessibility = self,
                  .workspace = self,
                  .clock = self,
                  .input = self,
                  .pasteboard = self,
                  .overlay = self,
                  .defaults = self,
                  .timers = self};
}

std::vector<Effect> SimulatedDesktop::effects() const {
  std::lock_guard lock(mutex_);
  return effects_;
}

void SimulatedDesktop::clearEffects() {
  std::lock_guard lock(mutex_);
  effects_.clear();
}

void SimulatedDesktop::record(Effect effect) {
  if (effect.kind != Effect::Kind::outlineShown && effect.kind != Effect::Kind::outlineHidden) {
    ++*pageChanges_;
  }
  effects_.push_back(std::move(effect));
}

std::shared_ptr<PageWatch> SimulatedDesktop::watchPages(int32_t) {
  class Watch final : public PageWatch {
   public:
    explicit Watch(std::shared_ptr<std::atomic<uint64_t>> count) : count_(std::move(count)) {}
    uint64_t changes() override { return *count_; }
    void settle() override {}  // every change is counted as it is made

   private:
    std::shared_ptr<std::atomic<uint64_t>> count_;
  };
  return std::make_shared<Watch>(pageChanges_);
}

AXElement SimulatedDesktop::handle(uint64_t key) {
  return AXElement(shared_from_this(), key);
}

SimulatedDesktop::App* SimulatedDesktop::appForPid(int32_t pid) {
  for (App& app : scene_.apps) {
    if (app.info.pid == pid) return &app;
  }
  return nullptr;
}

std::string SimulatedDesktop::describeNode(const Node& node) const {
  auto text = [&](const char* name) -> std::string {
    auto it = node.attributes.find(name);
    if (it == node.attributes.end()) return {};
    if (const std::string* s = std::get_if<std::string>(&it->second)) return *s;
    return {};
  };
  std::string out = text("AXRole");
  if (out.empty()) out = "element";
  std::string name = text("AXTitle");
  if (name.empty()) name = text("AXDescription");
  if (!name.empty()) out += " " + quoted(name);
  if (!node.id.empty()) out += " #" + node.id;
  return out;
}

AXValue SimulatedDesktop::toValue(const SceneValue& value) {
  return std::visit(Overloaded{
                        [&](const ElementRef& r) -> AXValue { return handle(r.key); },
                        [&](const ElementRefs& r) -> AXValue {
                          AXElementArray list;
                          for (uint64_t key : r.keys)
                            list.push_back(handle(key));
                          return list;
                        },
                        [](const auto& v) -> AXValue { return v; },
                    },
                    value);
}

std::variant<SimulatedDesktop::Node*, int32_t> SimulatedDesktop::reach(const AXElement& element,
                                                                       bool countsAsRead,
                                                                       bool actionNames) {
  if (!scene_.trusted) return AXErr::kAPIDisabled;
  if (element.api() != this) return AXErr::kIllegalArgument;
  auto it = scene_.nodes.find(element.key());
  if (it == scene_.nodes.end() || it->second.gone) return AXErr::kInvalidUIElement;
  Node& node = it->second;
  if (node.behavior.delay > 0) {
    auto timeout = timeouts_.find(node.pid);
    double limit = timeout == timeouts_.end() ? kDefaultTimeout : timeout->second;
    // A slow answer costs its delay, or the timeout when it is slower still.
    if (node.behavior.delay > limit) {
      now_ += limit;
      return AXErr::kCannotComplete;
    }
    now_ += node.behavior.delay;
  }
  if (node.behavior.readError) return *node.behavior.readError;
  // After its reads, only the action-name read of the same pass is answered.
  if (node.behavior.vanishAfterReads && !actionNames) {
    if (node.reads >= *node.behavior.vanishAfterReads) {
      node.gone = true;
      if (node.parent) {
        if (auto parent = scene_.nodes.find(*node.parent); parent != scene_.nodes.end()) {
          std::erase(parent->second.children, node.key);
        }
      }
      return AXErr::kInvalidUIElement;
    }
    if (countsAsRead) ++node.reads;
  }
  if (node.behavior.stallAfterReads && !actionNames) {
    if (node.reads >= *node.behavior.stallAfterReads) {
      auto timeout = timeouts_.find(node.pid);
      now_ += timeout == timeouts_.end() ? kDefaultTimeout : timeout->second;
      return AXErr::kCannotComplete;
    }
    if (countsAsRead && !node.behavior.vanishAfterReads) ++node.reads;
  }
  return &node;
}

std::optional<AXValue> SimulatedDesktop::read(const Node& node, std::string_view attribute) {
  std::string name(attribute);
  if (auto it = node.behavior.attributes.find(name); it != node.behavior.attributes.end()) {
    return toValue(it->second);
  }
  if (name == "AXChildren") {
    AXElementArray list;
    for (uint64_t key : node.children)
      list.push_back(handle(key));
    return list;
  }
  if (name == "AXParent") {
    if (!node.parent) return std::nullopt;
    return handle(*node.parent);
  }
  if (App* app = appForPid(node.pid); app && app->node == node.key) {
    auto windowAt = [&](std::optional<std::size_t> index) -> std::optional<AXValue> {
      if (!index || *index >= node.children.size()) return std::nullopt;
      return handle(node.children[*index]);
    };
    if (name == "AXFocusedWindow") return windowAt(app->focusedWindow);
    if (name == "AXMainWindow") return windowAt(app->mainWindow);
    if (name == "AXWindows") return read(node, "AXChildren");
    if (name == "AXFocusedUIElement") {
      // The deepest focused element of the application, in document order.
      std::vector<uint64_t> stack(node.children.rbegin(), node.children.rend());
      std::set<uint64_t> seen;
      std::optional<uint64_t> focused;
      while (!stack.empty()) {
        uint64_t key = stack.back();
        stack.pop_back();
        if (!seen.insert(key).second) continue;
        const Node& n = scene_.nodes[key];
        if (n.gone) continue;
        auto f = n.attributes.find("AXFocused");
        if (f != n.attributes.end() && std::holds_alternative<bool>(f->second) &&
            std::get<bool>(f->second)) {
          focused = key;
        }
        stack.insert(stack.end(), n.children.rbegin(), n.children.rend());
      }
      if (!focused) return std::nullopt;
      return handle(*focused);
    }
  }
  auto it = node.attributes.find(name);
  if (it == node.attributes.end()) return std::nullopt;
  return toValue(it->second);
}

AXResult<std::optional<AXValue>> SimulatedDesktop::copyAttributeValue(const AXElement& element,
                                                                      std::string_view attribute) {
  std::lock_guard lock(mutex_);
  auto reached = reach(element, true);
  if (const int32_t* code = std::get_if<int32_t>(&reached)) return {*code, std::nullopt};
  std::optional<AXValue> value = read(*std::get<Node*>(reached), attribute);
  if (!value) return {AXErr::kNoValue, std::nullopt};
  if (const AXErrorValue* error = std::get_if<AXErrorValue>(&*value)) {
    return {error->code, std::nullopt};
  }
  return {AXErr::kSuccess, std::move(value)};
}

AXResult<std::optional<std::vector<AXValue>>> SimulatedDesktop::copyMultipleAttributeValues(
    const AXElement& element, const std::vector<std::string>& attributes) {
  std::lock_guard lock(mutex_);
  auto reached = reach(element, true);
  if (const int32_t* code = std::get_if<int32_t>(&reached)) return {*code, std::nullopt};
  const Node& node = *std::get<Node*>(reached);
  std::vector<AXValue> values;
  values.reserve(attributes.size());
  for (const std::string& name : attributes) {
    std::optional<AXValue> v = read(node, name);
    values.push_back(v ? std::move(*v) : AXValue(AXErrorValue{AXErr::kNoValue}));
  }
  return {AXErr::kSuccess, std::move(values)};
}

AXResult<std::optional<std::vector<std::string>>> SimulatedDesktop::copyActionNames(
    const AXElement& element) {
  std::lock_guard lock(mutex_);
  auto reached = reach(element, false, true);
  if (const int32_t* code = std::get_if<int32_t>(&reached)) return {*code, std::nullopt};
  return {AXErr::kSuccess, std::get<Node*>(reached)->actions};
}

int32_t SimulatedDesktop::performAction(const AXElement& element, std::string_view action) {
  std::lock_guard lock(mutex_);
  auto reached = reach(element, false);
  if (const int32_t* code = std::get_if<int32_t>(&reached)) {
    auto it = scene_.nodes.find(element.key());
    std::string who = it == scene_.nodes.end() ? "element" : describeNode(it->second);
    record({Effect::Kind::action, who, std::string(action), *code});
    return *code;
  }
  Node& node = *std::get<Node*>(reached);
  int32_t result = AXErr::kSuccess;
  if (action == "AXScrollToVisible" && scrollToVisible(node)) {
    // Web content answers this action whether or not it lists it.
  } else if (std::find(node.actions.begin(), node.actions.end(), action) == node.actions.end()) {
    result = AXErr::kActionUnsupported;
  } else if (action == "AXPress" && node.behavior.pressResult) {
    result = *node.behavior.pressResult;
  } else if (action == "AXPress") {
    applyPress(node);
  }
  record({Effect::Kind::action, describeNode(node), std::string(action), result});
  return result;
}

int32_t SimulatedDesktop::setAttributeValue(const AXElement& element, std::string_view attribute,
                                            const AXValue& value) {
  std::lock_guard lock(mutex_);
  std::string name(attribute);
  auto reached = reach(element, false);
  if (const int32_t* code = std::get_if<int32_t>(&reached)) {
    auto it = scene_.nodes.find(element.key());
    std::string who = it == scene_.nodes.end() ? "element" : describeNode(it->second);
    record({Effect::Kind::attributeWrite, who, name + " = " + valueText(value), *code});
    return *code;
  }
  Node& node = *std::get<Node*>(reached);
  App* app = appForPid(node.pid);
  // Chromium-family applications accept the switches that turn their tree on.
  bool appSwitch = app && app->node == node.key &&
                   (name == "AXManualAccessibility" || name == "AXEnhancedUserInterface");
  int32_t result = AXErr::kSuccess;
  if (!appSwitch && !node.settable.contains(name)) {
    result = AXErr::kAttributeUnsupported;
  } else if (name == "AXFocused" && AX::boolean(value, false)) {
    for (auto& [key, other] : scene_.nodes) {
      if (other.pid == node.pid) other.attributes.erase("AXFocused");
    }
    node.attributes["AXFocused"] = true;
  } else {
    SceneValue stored =
        std::visit(Overloaded{
                       [](const AXElement& e) -> SceneValue { return ElementRef{e.key()}; },
                       [](const AXElementArray& list) -> SceneValue {
                         ElementRefs refs;
                         for (const AXElement& e : list)
                           refs.keys.push_back(e.key());
                         return refs;
                       },
                       [](const auto& v) -> SceneValue { return v; },
                   },
                   value);
    node.attributes[name] = std::move(stored);
  }
  record(
      {Effect::Kind::attributeWrite, describeNode(node), name + " = " + valueText(value), result});
  return result;
}

AXResult<bool> SimulatedDesktop::isAttributeSettable(const AXElement& element,
                                                     std::string_view attribute) {
  std::lock_guard lock(mutex_);
  auto reached = reach(element, false);
  if (const int32_t* code = std::get_if<int32_t>(&reached)) return {*code, false};
  return {AXErr::kSuccess, std::get<Node*>(reached)->settable.contains(std::string(attribute))};
}

AXResult<AXElement> SimulatedDesktop::elementAtPosition(const AXElement& systemWide, double x,
                                                        double y) {
  std::lock_guard lock(mutex_);
  if (!scene_.trusted) return {AXErr::kAPIDisabled, {}};
  if (systemWide.api() != this || systemWide.key() != kSystemWideKey) {
    return {AXErr::kIllegalArgument, {}};
  }
  auto contains = [&](const Node& n) {
    auto pos = n.attributes.find("AXPosition");
    auto size = n.attributes.find("AXSize");
    if (pos == n.attributes.end() || size == n.attributes.end()) return false;
    auto frame = AX::rect(toValue(pos->second), toValue(size->second));
    return frame && x >= frame->x && y >= frame->y && x < frame->x + frame->width &&
           y < frame->y + frame->height;
  };
  auto hidden = [&](const Node& n) {
    auto h = n.attributes.find("AXHidden");
    return h != n.attributes.end() && std::holds_alternative<bool>(h->second) &&
           std::get<bool>(h->second);
  };
  // Front application first; within it, descend into the last child that
  // holds the point, as later siblings are drawn on top.
  std::vector<const App*> order;
  for (const App& app : scene_.apps) {
    if (app.frontmost && !app.info.terminated) order.push_back(&app);
  }
  for (const App& app : scene_.apps) {
    if (!app.frontmost && !app.info.terminated) order.push_back(&app);
  }
  for (const App* app : order) {
    std::optional<uint64_t> found;
    std::set<uint64_t> seen;
    const Node* current = &scene_.nodes[app->node];
    for (int depth = 0; depth < 100000; ++depth) {
      const Node* next = nullptr;
      for (auto it = current->children.rbegin(); it != current->children.rend(); ++it) {
        const Node& child = scene_.nodes[*it];
        if (!child.gone && !hidden(child) && contains(child) && !seen.contains(child.key)) {
          next = &child;
          break;
        }
      }
      if (next == nullptr) break;
      seen.insert(next->key);
      found = next->key;
      current = next;
    }
    if (found) return {AXErr::kSuccess, handle(*found)};
  }
  return {AXErr::kNoValue, {}};
}

AXElement SimulatedDesktop::createApplication(int32_t pid) {
  std::lock_guard lock(mutex_);
  App* app = appForPid(pid);
  // Like the platform, an unknown process still gets a handle; reads through it fail.
  return handle(app ? app->node : 0);
}

AXElement SimulatedDesktop::createSystemWide() {
  return handle(kSystemWideKey);
}

int32_t SimulatedDesktop::setMessagingTimeout(const AXElement& application, double seconds) {
  std::lock_guard lock(mutex_);
  auto it = scene_.nodes.find(application.key());
  if (application.api() != this || it == scene_.nodes.end()) return AXErr::kIllegalArgument;
  if (!(seconds >= 0) || !std::isfinite(seconds)) return AXErr::kIllegalArgument;
  timeouts_[it->second.pid] = seconds == 0 ? kDefaultTimeout : seconds;
  ++timeoutSets_;
  return AXErr::kSuccess;
}

int32_t SimulatedDesktop::messagingTimeoutSets() const {
  std::lock_guard lock(mutex_);
  return timeoutSets_;
}

bool SimulatedDesktop::isProcessTrusted() {
  std::lock_guard lock(mutex_);
  return scene_.trusted;
}

void SimulatedDesktop::setTrusted(bool trusted) {
  std::lock_guard lock(mutex_);
  scene_.trusted = trusted;
}

bool SimulatedDesktop::isProcessTrustedWithPrompt() {
  return isProcessTrusted();
}

std::optional<RunningApplication> SimulatedDesktop::frontmostApplication() {
  std::lock_guard lock(mutex_);
  for (const App& app : scene_.apps) {
    if (app.frontmost && !app.info.terminated) return app.info;
  }
  return std::nullopt;
}

std::optional<RunningApplication> SimulatedDesktop::runningApplication(int32_t pid) {
  std::lock_guard lock(mutex_);
  if (App* app = appForPid(pid)) return app->info;
  return std::nullopt;
}

void SimulatedDesktop::observeActivations(std::function<void(const RunningApplication&)> handler) {
  std::lock_guard lock(mutex_);
  observers_.push_back(std::move(handler));
}

void SimulatedDesktop::openPrivacySettings() {
  std::lock_guard lock(mutex_);
  record({Effect::Kind::privacySettings, "", "", 0});
}

bool SimulatedDesktop::activate(int32_t pid) {
  std::vector<std::function<void(const RunningApplication&)>> observers;
  RunningApplication info;
  {
    std::lock_guard lock(mutex_);
    App* app = appForPid(pid);
    if (app == nullptr || app->info.terminated) return false;
    if (!app->activates) {
      record({Effect::Kind::activate, appName(pid), "refused", 0});
      return false;
    }
    for (App& other : scene_.apps)
      other.frontmost = false;
    app->frontmost = true;
    info = app->info;
    observers = observers_;
    record({Effect::Kind::activate, appName(pid), "", 0});
  }
  // Observers run outside the lock so they may call back into the desktop.
  for (const auto& observer : observers)
    observer(info);
  return true;
}

bool SimulatedDesktop::openURLs(const std::vector<std::string>& urls, const std::string& bundleID) {
  std::lock_guard lock(mutex_);
  for (const std::string& url : urls)
    record({Effect::Kind::openURL, bundleID, url, 0});
  return true;
}

void SimulatedDesktop::terminate(int32_t pid) {
  std::lock_guard lock(mutex_);
  ++*pageChanges_;
  if (App* app = appForPid(pid)) {
    app->info.terminated = true;
    app->frontmost = false;
  }
}

AXElement SimulatedDesktop::elementNamed(const std::string& id) {
  std::lock_guard lock(mutex_);
  for (const auto& [key, node] : scene_.nodes) {
    if (node.id == id) return handle(key);
  }
  return {};
}

std::optional<AXValue> SimulatedDesktop::attribute(const std::string& id, const std::string& name) {
  std::lock_guard lock(mutex_);
  for (const auto& [key, node] : scene_.nodes) {
    if (node.id == id) return read(node, name);
  }
  return std::nullopt;
}

double SimulatedDesktop::now() {
  std::lock_guard lock(mutex_);
  return now_;
}

void SimulatedDesktop::sleep(double seconds) {
  std::vector<std::function<void()>> due;
  {
    std::lock_guard lock(mutex_);
    if (seconds > 0 && std::isfinite(seconds)) now_ += seconds;
    std::stable_sort(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
      return a.due != b.due ? a.due < b.due : a.order < b.order;
    });
    auto split = std::find_if(timers_.begin(), timers_.end(),
                              [this](const Timer& t) { return t.due > now_; });
    for (auto it = timers_.begin(); it != split; ++it)
      due.push_back(std::move(it->task));
    timers_.erase(timers_.begin(), split);
  }
  for (auto& task : due)
    task();
}

void SimulatedDesktop::after(double seconds, std::function<void()> task) {
  std::lock_guard lock(mutex_);
  double delay = seconds > 0 && std::isfinite(seconds) ? seconds : 0;
  timers_.push_back({now_ + delay, timerOrder_++, std::move(task)});
}

std::string SimulatedDesktop::appName(int32_t pid) {
  App* app = appForPid(pid);
  if (app == nullptr || app->info.localizedName.empty()) return "process " + std::to_string(pid);
  return app->info.localizedName;
}

namespace {

const std::string* roleOf(const SimulatedDesktop::Node& node) {
  auto role = node.attributes.find("AXRole");
  return role == node.attributes.end() ? nullptr : std::get_if<std::string>(&role->second);
}

bool isTextInput(const SimulatedDesktop::Node& node) {
  const std::string* r = roleOf(node);
  return r != nullptr &&
         (*r == "AXTextField" || *r == "AXTextArea" || *r == "AXComboBox" || *r == "AXSearchField");
}

}  // namespace

void SimulatedDesktop::applyPress(Node& node) {
  if (node.loads) {
    loadPage(node);
    return;
  }
  const std::string* r = roleOf(node);
  if (r == nullptr) return;
  // A toggle flips, a radio button turns on, as in a browser.
  if (*r == "AXCheckBox" || *r == "AXSwitch" || *r == "AXRadioButton") {
    auto value = node.attributes.find("AXValue");
    bool on = value != node.attributes.end() && AX::boolean(toValue(value->second), false);
    node.attributes["AXValue"] = AXNumber{(*r == "AXRadioButton" || !on) ? 1.0 : 0.0};
  }
}

std::optional<uint64_t> SimulatedDesktop::webAreaOf(uint64_t key) {
  std::set<uint64_t> seen;
  for (std::optional<uint64_t> k = key; k && seen.insert(*k).second; k = scene_.nodes[*k].parent) {
    const std::string* r = roleOf(scene_.nodes[*k]);
    if (r != nullptr && *r == "AXWebArea") return k;
  }
  return std::nullopt;
}

void SimulatedDesktop::shiftContent(uint64_t area, double dy) {
  std::vector<uint64_t> stack = scene_.nodes[area].children;
  std::set<uint64_t> seen;
  while (!stack.empty()) {
    uint64_t k = stack.back();
    stack.pop_back();
    if (!seen.insert(k).second) continue;
    Node& node = scene_.nodes[k];
    auto pos = node.attributes.find("AXPosition");
    if (pos != node.attributes.end()) {
      if (AXPoint* p = std::get_if<AXPoint>(&pos->second)) p->y += dy;
    }
    stack.insert(stack.end(), node.children.begin(), node.children.end());
  }
}

// Scrolls the page so the element's middle is a third of the way down the
// page area, when it lies outside; false when the element is not web content.
bool SimulatedDesktop::scrollToVisible(Node& node) {
  auto area = webAreaOf(node.key);
  if (!area || *area == node.key) return area.has_value();
  auto frameOf = [&](const Node& n) -> std::optional<Frame> {
    auto pos = n.attributes.find("AXPosition");
    auto size = n.attributes.find("AXSize");
    if (pos == n.attributes.end() || size == n.attributes.end()) return std::nullopt;
    return AX::rect(toValue(pos->second), toValue(size->second));
  };
  auto page = frameOf(scene_.nodes[*area]);
  auto frame = frameOf(node);
  if (!page || !frame) return true;
  const double mid = frame->y + frame->height / 2;
  if (mid >= page->y && mid <= page->y + page->height) return true;
  shiftContent(*area, page->y + page->height / 3 - mid);
  return true;
}

void SimulatedDesktop::markGone(uint64_t root) {
  std::vector<uint64_t> stack = {root};
  std::set<uint64_t> seen;
  while (!stack.empty()) {
    uint64_t key = stack.back();
    stack.pop_back();
    if (!seen.insert(key).second) continue;
    auto it = scene_.nodes.find(key);
    if (it == scene_.nodes.end()) continue;
    it->second.gone = true;
    stack.insert(stack.end(), it->second.children.begin(), it->second.children.end());
  }
}

// Navigation: the web area holding the link is replaced by the page it loads;
// handles into the old page stop working, as they do after a real navigation.
void SimulatedDesktop::loadPage(Node& link) {
  std::optional<uint64_t> area;
  std::set<uint64_t> seen;
  for (std::optional<uint64_t> k = link.key; k && seen.insert(*k).second;
       k = scene_.nodes[*k].parent) {
    const std::string* r = roleOf(scene_.nodes[*k]);
    if (r != nullptr && *r == "AXWebArea") {
      area = k;
      break;
    }
  }
  auto page = scene_.nodes.find(*link.loads);
  if (!area || page == scene_.nodes.end() || page->second.key == *area) return;
  Node& old = scene_.nodes[*area];
  if (!old.parent) return;
  Node& holder = scene_.nodes[*old.parent];
  std::replace(holder.children.begin(), holder.children.end(), *area, page->second.key);
  const int32_t pid = old.pid;
  markGone(*area);
  // The new page joins the application: its elements answer as the browser's.
  std::vector<uint64_t> stack = {page->second.key};
  seen.clear();
  while (!stack.empty()) {
    uint64_t k = stack.back();
    stack.pop_back();
    if (!seen.insert(k).second) continue;
    Node& n = scene_.nodes[k];
    n.pid = pid;
    n.gone = false;
    stack.insert(stack.end(), n.children.begin(), n.children.end());
  }
  page->second.parent = holder.key;
}

SimulatedDesktop::Node* SimulatedDesktop::focusedNode(int32_t pid) {
  App* app = appForPid(pid);
  if (app == nullptr) return nullptr;
  auto value = read(scene_.nodes[app->node], "AXFocusedUIElement");
  const AXElement* e = value ? std::get_if<AXElement>(&*value) : nullptr;
  if (e == nullptr) return nullptr;
  auto it = scene_.nodes.find(e->key());
  return it == scene_.nodes.end() || it->second.gone ? nullptr : &it->second;
}

bool SimulatedDesktop::postKey(int32_t pid, const KeyEvent& event) {
  std::lock_guard lock(mutex_);
  std::string detail = event.down ? "down " : "up ";
  detail += std::to_string(event.keyCode);
  if (event.flags & KeyFlags::kControl) detail += " ⌃";
  if (event.flags & KeyFlags::kOption) detail += " ⌥";
  if (event.flags & KeyFlags::kShift) detail += " ⇧";
  if (event.flags & KeyFlags::kCommand) detail += " ⌘";
  if (!event.text.empty()) detail += " " + quoted(event.text);
  record({Effect::Kind::key, appName(pid), detail, 0});
  if (!event.down) return true;

  Node* node = focusedNode(pid);
  if (node == nullptr || node->behavior.ignoresKeys || !isTextInput(*node)) return true;
  auto current = [&] {
    auto v = node->attributes.find("AXValue");
    return v == node->attributes.end() ? std::string() : AX::str(toValue(v->second));
  };
  auto insert = [&](const std::string& text) {
    node->attributes["AXValue"] = node->allSelected ? text : current() + text;
    node->allSelected = false;
  };
  const bool command = (event.flags & KeyFlags::kCommand) != 0;
  if (command && event.keyCode == 0) {
    node->allSelected = true;
  } else if (command && event.keyCode == 8) {
    if (node->allSelected) {
      scene_.clipboard = current();
      record({Effect::Kind::clipboard, "", *scene_.clipboard, 0});
    }
  } else if (command && event.keyCode == 9) {
    if (scene_.clipboard) insert(*scene_.clipboard);
  } else if (event.keyCode == 51) {
    std::string value = current();
    if (node->allSelected) {
      value.clear();
    } else if (!value.empty()) {
      value = unicode::prefix(value, unicode::length(value) - 1);
    }
    node->attributes["AXValue"] = value;
    node->allSelected = false;
  } else if (!command && (event.flags & KeyFlags::kControl) == 0 && !event.text.empty()) {
    insert(event.text);
  } else {
    node->allSelected = false;
  }
  return true;
}

std::optional<uint64_t> SimulatedDesktop::hitTest(double x, double y) {
  auto result = elementAtPosition(createSystemWide(), x, y);
  if (result.code != AXErr::kSuccess || !result.value) return std::nullopt;
  return result.value.key();
}

bool SimulatedDesktop::postMouse(double x, double y, bool down) {
  std::lock_guard lock(mutex_);
  record({Effect::Kind::mouse, "",
          std::string(down ? "down" : "up") + " at " + formatNumber(x) + "," + formatNumber(y), 0});
  if (down) {
    mouseDown_ = AXPoint{x, y};
    return true;
  }
  bool click = mouseDown_ && std::fabs(mouseDown_->x - x) <= 4 && std::fabs(mouseDown_->y - y) <= 4;
  mouseDown_.reset();
  if (!click) return true;
  // A click reaches the element under it, or the nearest ancestor that acts
  // on clicks: a field takes focus, anything pressable is pressed.
  std::set<uint64_t> seen;
  for (std::optional<uint64_t> k = hitTest(x, y); k && seen.insert(*k).second;
       k = scene_.nodes[*k].parent) {
    Node& node = scene_.nodes[*k];
    if (isTextInput(node)) {
      for (auto& [other, n] : scene_.nodes) {
        if (n.pid == node.pid) n.attributes.erase("AXFocused");
      }
      node.attributes["AXFocused"] = true;
      break;
    }
    if (std::find(node.actions.begin(), node.actions.end(), "AXPress") != node.actions.end()) {
      applyPress(node);
      break;
    }
  }
  return true;
}

bool SimulatedDesktop::postScrollWheel(double x, double y, int32_t pixels) {
  std::lock_guard lock(mutex_);
  record({Effect::Kind::wheel, "",
          std::to_string(pixels) + " at " + formatNumber(x) + "," + formatNumber(y), 0});
  // The content of the innermost web area or scroll area under the point moves.
  std::optional<uint64_t> area;
  std::set<uint64_t> seen;
  for (std::optional<uint64_t> k = hitTest(x, y); k && seen.insert(*k).second;
       k = scene_.nodes[*k].parent) {
    const std::string* r = roleOf(scene_.nodes[*k]);
    if (r != nullptr && (*r == "AXWebArea" || *r == "AXScrollArea")) {
      area = k;
      break;
    }
  }
  if (!area) return true;
  shiftContent(*area, pixels);
  return true;
}

void SimulatedDesktop::setString(const std::string& text) {
  std::lock_guard lock(mutex_);
  scene_.clipboard = text;
  record({Effect::Kind::clipboard, "", text, 0});
}

std::optional<std::string> SimulatedDesktop::string() {
  std::lock_guard lock(mutex_);
  return scene_.clipboard;
}

std::vector<Frame> SimulatedDesktop::screens() {
  std::lock_guard lock(mutex_);
  return scene_.screens;
}

void SimulatedDesktop::showOutline(const Frame& frame, double seconds) {
  std::lock_guard lock(mutex_);
  record({Effect::Kind::outlineShown, "",
          formatNumber(frame.x) + "," + formatNumber(frame.y) + "," + formatNumber(frame.width) +
              "," + formatNumber(frame.height) + " for " + formatNumber(seconds) + "s",
          0});
}

void SimulatedDesktop::hideOutline() {
  std::lock_guard lock(mutex_);
  record({Effect::Kind::outlineHidden, "", "", 0});
}

std::optional<std::string> SimulatedDesktop::string(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto it = scene_.defaults.find(key);
  if (it == scene_.defaults.end()) return std::nullopt;
  if (const std::string* s = std::get_if<std::string>(&it->second)) return *s;
  return std::nullopt;
}

std::optional<int64_t> SimulatedDesktop::integer(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto it = scene_.defaults.find(key);
  if (it == scene_.defaults.end()) return std::nullopt;
  if (const int64_t* i = std::get_if<int64_t>(&it->second)) return *i;
  return std::nullopt;
}

void SimulatedDesktop::setString(const std::string& key, const std::string& value) {
  std::lock_guard lock(mutex_);
  scene_.defaults[key] = value;
  record({Effect::Kind::defaultsWrite, "", key + " = " + quoted(value), 0});
}

void SimulatedDesktop::setInteger(const std::string& key, int64_t value) {
  std::lock_guard lock(mutex_);
  scene_.defaults[key] = value;
  record({Effect::Kind::defaultsWrite, "", key + " = " + std::to_string(value), 0});
}

}  // namespace tovrin
