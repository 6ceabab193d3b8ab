// Reads a scene file into a SimulatedDesktop. Every problem is reported with
// the file, the JSON path and what is wrong; a scene either loads whole or
// not at all.

#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/simulated_desktop.h"

namespace tovrin {
namespace {

using Json = nlohmann::json;
using Scene = SimulatedDesktop::Scene;
using Node = SimulatedDesktop::Node;
using SceneValue = SimulatedDesktop::SceneValue;

std::string typeName(const Json& j) {
  if (j.is_null()) return "null";
  if (j.is_boolean()) return "a boolean";
  if (j.is_number()) return "a number";
  if (j.is_string()) return "a string";
  if (j.is_array()) return "an array";
  return "an object";
}

// Collects the first error; every check after it is a no-op.
class Loader {
 public:
  std::optional<std::string> error;

  bool fail(const std::string& path, const std::string& what) {
    if (!error) error = (path.empty() ? std::string("(top level)") : path) + ": " + what;
    return false;
  }

  bool expectObject(const Json& j, const std::string& path,
                    std::initializer_list<const char*> keys) {
    if (!j.is_object()) return fail(path, "expected an object, found " + typeName(j));
    for (const auto& [key, value] : j.items()) {
      bool known = false;
      for (const char* k : keys)
        known = known || key == k;
      if (!known) return fail(join(path, key), "unknown key");
    }
    return true;
  }

  static std::string join(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
  }
  static std::string index(const std::string& path, std::size_t i) {
    return path + "[" + std::to_string(i) + "]";
  }

  std::optional<std::string> string(const Json& j, const std::string& path) {
    if (!j.is_string()) return fail(path, "expected a string, found " + typeName(j)), std::nullopt;
    return j.get<std::string>();
  }
  std::optional<bool> boolean(const Json& j, const std::string& path) {
    if (!j.is_boolean())
      return fail(path, "expected true or false, found " + typeName(j)), std::nullopt;
    return j.get<bool>();
  }
  std::optional<int64_t> integer(const Json& j, const std::string& path, int64_t lo, int64_t hi) {
    if (!j.is_number_integer())
      return fail(path, "expected a whole number, found " + typeName(j)), std::nullopt;
    if (j.is_number_unsigned() && j.get<uint64_t>() > static_cast<uint64_t>(hi)) {
      return fail(path, "number out of range"), std::nullopt;
    }
    int64_t v = j.get<int64_t>();
    if (v < lo || v > hi) return fail(path, "number out of range"), std::nullopt;
    return v;
  }
  // Numbers, or the strings "nan", "inf" and "-inf" that JSON cannot spell.
  std::optional<double> number(const Json& j, const std::string& path) {
    if (j.is_number()) return j.get<double>();
    if (j.is_string()) {
      const auto& s = j.get_ref<const std::string&>();
      if (s == "nan") return std::numeric_limits<double>::quiet_NaN();
      if (s == "inf") return std::numeric_limits<double>::infinity();
      if (s == "-inf") return -std::numeric_limits<double>::infinity();
    }
    return fail(path, "expected a number (or \"nan\", \"inf\", \"-inf\"), found " + typeName(j)),
           std::nullopt;
  }
  std::optional<std::vector<double>> numbers(const Json& j, const std::string& path,
                                             std::size_t count, const char* shape) {
    if (!j.is_array() || j.size() != count)
      return fail(path, std::string("expected ") + shape), std::nullopt;
    std::vector<double> out;
    for (std::size_t i = 0; i < count; ++i) {
      auto v = number(j[i], index(path, i));
      if (!v) return std::nullopt;
      out.push_back(*v);
    }
    return out;
  }
  std::optional<std::vector<std::string>> strings(const Json& j, const std::string& path) {
    if (!j.is_array())
      return fail(path, "expected an array of strings, found " + typeName(j)), std::nullopt;
    std::vector<std::string> out;
    for (std::size_t i = 0; i < j.size(); ++i) {
      auto s = string(j[i], index(path, i));
      if (!s) return std::nullopt;
      out.push_back(*s);
    }
    return out;
  }
};

struct PendingRef {
  std::string name;
  std::string path;
  std::variant<uint64_t*, std::vector<uint64_t>*> slot;  // where the key goes once known
  std::size_t index = 0;
};

class SceneBuilder {
 public:
  Loader in;
  Scene scene;
  std::map<std::string, uint64_t> named;
  std::vector<PendingRef> refs;
  struct PageLink {
    std::string page;
    std::string path;
    uint64_t node;
  };
  std::vector<PageLink> pageLinks;
  // Keys 0 and 1 mean "no element" and "the system-wide element".
  uint64_t nextKey = 2;

  // A typed value: plain JSON values, or {"point": [x, y]}, {"size": [w, h]},
  // {"error": code}, {"url": "…"}, {"attributed": "…"}, {"element": "id"},
  // {"elements": ["id", …]}.
  std::optional<SceneValue> value(const Json& j, const std::string& path,
                                  std::vector<std::pair<std::string, std::string>>& elementNames,
                                  std::vector<std::vector<std::string>>& elementLists) {
    if (j.is_null()) return AXNull{};
    if (j.is_string()) return j.get<std::string>();
    if (j.is_boolean()) return j.get<bool>();
    if (j.is_number()) return AXNumber{j.get<double>()};
    if (!j.is_object() || j.size() != 1) {
      return in.fail(path,
                     "expected a value: a string, number, boolean, null or one of "
                     "{\"point\"}, {\"size\"}, {\"error\"}, {\"url\"}, {\"attributed\"}, "
                     "{\"element\"}, {\"elements\"}"),
             std::nullopt;
    }
    auto first = j.begin();
    const std::string kind = first.key();
    const Json& body = first.value();
    std::string at = Loader::join(path, kind);
    if (kind == "point") {
      auto v = in.numbers(body, at, 2, "[x, y]");
      if (!v) return std::nullopt;
      return AXPoint{(*v)[0], (*v)[1]};
    }
    if (kind == "size") {
      auto v = in.numbers(body, at, 2, "[width, height]");
      if (!v) return std::nullopt;
      return AXSize{(*v)[0], (*v)[1]};
    }
    if (kind == "error") {
      auto code = in.integer(body, at, std::numeric_limits<int32_t>::min(),
                             std::numeric_limits<int32_t>::max());
      if (!code) return std::nullopt;
      return AXErrorValue{static_cast<int32_t>(*code)};
    }
    if (kind == "url") {
      auto s = in.string(body, at);
      if (!s) return std::nullopt;
      return AXURL{*s};
    }
    if (kind == "attributed") {
      auto s = in.string(body, at);
      if (!s) return std::nullopt;
      return AXAttributedString{*s};
    }
    if (kind == "element") {
      auto s = in.string(body, at);
      if (!s) return std::nullopt;
      elementNames.emplace_back(*s, at);
      return SimulatedDesktop::ElementRef{};
    }
    if (kind == "elements") {
      auto list = in.strings(body, at);
      if (!list) return std::nullopt;
      elementLists.push_back(*list);
      elementNames.emplace_back("", at);  // marks the list position
      return SimulatedDesktop::ElementRefs{};
    }
    return in.fail(at, "unknown value kind"), std::nullopt;
  }

  bool behavior(const Json& j, const std::string& path, Node& node) {
    if (!in.expectObject(j, path,
                         {"pressResult", "ignoresKeys", "vanishAfterReads", "stallAfterReads",
                          "delay", "readError", "attributes", "loads"})) {
      return false;
    }
    auto& b = node.behavior;
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (j.contains("pressResult")) {
      auto v = in.integer(j["pressResult"], Loader::join(path, "pressResult"), kMin, kMax);
      if (!v) return false;
      b.pressResult = static_cast<int32_t>(*v);
    }
    if (j.contains("ignoresKeys")) {
      auto v = in.boolean(j["ignoresKeys"], Loader::join(path, "ignoresKeys"));
      if (!v) return false;
      b.ignoresKeys = *v;
    }
    if (j.contains("vanishAfterReads")) {
      auto v = in.integer(j["vanishAfterReads"], Loader::join(path, "vanishAfterReads"), 0, kMax);
      if (!v) return false;
      b.vanishAfterReads = static_cast<int>(*v);
    }
    if (j.contains("stallAfterReads")) {
      auto v = in.integer(j["stallAfterReads"], Loader::join(path, "stallAfterReads"), 0, kMax);
      if (!v) return false;
      b.stallAfterReads = static_cast<int>(*v);
    }
    if (j.contains("delay")) {
      auto v = in.number(j["delay"], Loader::join(path, "delay"));
      if (!v) return false;
      if (!(*v >= 0) || !std::isfinite(*v))
        return in.fail(Loader::join(path, "delay"), "expected seconds, 0 or more");
      b.delay = *v;
    }
    if (j.contains("readError")) {
      auto v = in.integer(j["readError"], Loader::join(path, "readError"), kMin, kMax);
      if (!v) return false;
      if (*v == 0) return in.fail(Loader::join(path, "readError"), "0 is success, not an error");
      b.readError = static_cast<int32_t>(*v);
    }
    if (j.contains("loads")) {
      auto page = in.string(j["loads"], Loader::join(path, "loads"));
      if (!page) return false;
      pageLinks.push_back({*page, Loader::join(path, "loads"), node.key});
    }
    if (j.contains("attributes")) {
      std::string at = Loader::join(path, "attributes");
      if (!j["attributes"].is_object())
        return in.fail(at, "expected an object of attribute values");
      for (const auto& [name, raw] : j["attributes"].items()) {
        if (!attributeValue(raw, Loader::join(at, name), node, name, b.attributes)) return false;
      }
    }
    return true;
  }

  // Parses one typed value into `target[name]`, queueing element references.
  bool attributeValue(const Json& raw, const std::string& path, Node& node, const std::string& name,
                      std::map<std::string, SceneValue>& target) {
    std::vector<std::pair<std::string, std::string>> names;
    std::vector<std::vector<std::string>> lists;
    auto v = value(raw, path, names, lists);
    if (!v) return false;
    target[name] = *v;
    (void)node;
    SceneValue& stored = target[name];
    if (auto* ref = std::get_if<SimulatedDesktop::ElementRef>(&stored)) {
      refs.push_back({names[0].first, names[0].second, &ref->key, 0});
    } else if (auto* list = std::get_if<SimulatedDesktop::ElementRefs>(&stored)) {
      list->keys.assign(lists[0].size(), 0);
      for (std::size_t i = 0; i < lists[0].size(); ++i) {
        refs.push_back({lists[0][i], Loader::index(names[0].second, i), &list->keys, i});
      }
    }
    return true;
  }

  // Reads an element tree without recursion, so nesting depth is no limit.
  std::optional<uint64_t> tree(const Json& root, const std::string& rootPath, int32_t pid,
                               uint64_t parentKey) {
    struct Work {
      const Json* json;
      std::string path;
      uint64_t parent;
      std::size_t slot;  // position in the parent's children
    };
    uint64_t rootKey = 0;
    std::vector<Work> stack = {{&root, rootPath, parentKey, SIZE_MAX}};
    while (!stack.empty()) {
      Work work = std::move(stack.back());
      stack.pop_back();
      const Json& j = *work.json;
      const std::string& path = work.path;
      if (j.is_object() && j.contains("ref")) {
        if (!in.expectObject(j, path, {"ref"})) return std::nullopt;
        auto name = in.string(j["ref"], Loader::join(path, "ref"));
        if (!name) return std::nullopt;
        // A reference adds an existing element as one more child: the same
        // element under two parents, or a cycle.
        Node& parent = scene.nodes[work.parent];
        refs.push_back({*name, Loader::join(path, "ref"), &parent.children, work.slot});
        continue;
      }
      if (!in.expectObject(j, path,
                           {"id", "role", "subrole", "title", "value", "description", "help",
                            "placeholder", "identifier", "url", "enabled", "hidden", "focused",
                            "frame", "actions", "settable", "children", "behavior"})) {
        return std::nullopt;
      }
      uint64_t key = nextKey++;
      Node& node = scene.nodes[key];
      node.key = key;
      node.pid = pid;
      node.parent = work.parent;
      if (work.slot == SIZE_MAX) {
        rootKey = key;
      } else {
        scene.nodes[work.parent].children[work.slot] = key;
      }
      if (j.contains("id")) {
        auto id = in.string(j["id"], Loader::join(path, "id"));
        if (!id) return std::nullopt;
        if (id->empty())
          return in.fail(Loader::join(path, "id"), "must not be empty"), std::nullopt;
        if (!named.emplace(*id, key).second) {
          return in.fail(Loader::join(path, "id"), "duplicate id “" + *id + "”"), std::nullopt;
        }
        node.id = *id;
      }
      static const std::pair<const char*, const char*> kText[] = {
          {"role", "AXRole"},
          {"subrole", "AXSubrole"},
          {"title", "AXTitle"},
          {"description", "AXDescription"},
          {"help", "AXHelp"},
          {"placeholder", "AXPlaceholderValue"},
          {"identifier", "AXIdentifier"}};
      for (const auto& [key_, attr] : kText) {
        if (!j.contains(key_)) continue;
        auto s = in.string(j[key_], Loader::join(path, key_));
        if (!s) return std::nullopt;
        node.attributes[attr] = *s;
      }
      if (j.contains("value")) {
        const Json& v = j["value"];
        std::string at = Loader::join(path, "value");
        if (v.is_string()) {
          node.attributes["AXValue"] = v.get<std::string>();
        } else if (v.is_number()) {
          node.attributes["AXValue"] = AXNumber{v.get<double>()};
        } else if (v.is_boolean()) {
          // Browsers report toggles as the numbers 0 and 1.
          node.attributes["AXValue"] = AXNumber{v.get<bool>() ? 1.0 : 0.0};
        } else {
          return in.fail(at, "expected a string, number or boolean, found " + typeName(v)),
                 std::nullopt;
        }
      }
      if (j.contains("url")) {
        auto s = in.string(j["url"], Loader::join(path, "url"));
        if (!s) return std::nullopt;
        node.attributes["AXURL"] = AXURL{*s};
      }
      for (const char* flag : {"enabled", "hidden", "focused"}) {
        if (!j.contains(flag)) continue;
        auto b = in.boolean(j[flag], Loader::join(path, flag));
        if (!b) return std::nullopt;
        std::string attr = std::string("AX") + static_cast<char>(flag[0] - 'a' + 'A') + (flag + 1);
        node.attributes[attr] = *b;
      }
      if (j.contains("frame")) {
        auto f = in.numbers(j["frame"], Loader::join(path, "frame"), 4, "[x, y, width, height]");
        if (!f) return std::nullopt;
        node.attributes["AXPosition"] = AXPoint{(*f)[0], (*f)[1]};
        node.attributes["AXSize"] = AXSize{(*f)[2], (*f)[3]};
      }
      if (j.contains("actions")) {
        auto list = in.strings(j["actions"], Loader::join(path, "actions"));
        if (!list) return std::nullopt;
        node.actions = *list;
      }
      if (j.contains("settable")) {
        auto list = in.strings(j["settable"], Loader::join(path, "settable"));
        if (!list) return std::nullopt;
        node.settable.insert(list->begin(), list->end());
      }
      if (j.contains("behavior") &&
          !behavior(j["behavior"], Loader::join(path, "behavior"), node)) {
        return std::nullopt;
      }
      if (j.contains("children")) {
        const Json& children = j["children"];
        std::string at = Loader::join(path, "children");
        if (!children.is_array()) return in.fail(at, "expected an array of elements"), std::nullopt;
        node.children.assign(children.size(), 0);
        for (std::size_t i = children.size(); i-- > 0;) {
          stack.push_back({&children[i], Loader::index(at, i), key, i});
        }
      }
    }
    return rootKey;
  }

  bool app(const Json& j, const std::string& path) {
    if (!in.expectObject(j, path,
                         {"pid", "bundleID", "name", "frontmost", "terminated", "activates",
                          "focusedWindow", "mainWindow", "windows", "behavior"})) {
      return false;
    }
    SimulatedDesktop::App app;
    if (!j.contains("pid")) return in.fail(path, "missing key “pid”");
    auto pid =
        in.integer(j["pid"], Loader::join(path, "pid"), 1, std::numeric_limits<int32_t>::max());
    if (!pid) return false;
    app.info.pid = static_cast<int32_t>(*pid);
    for (const SimulatedDesktop::App& other : scene.apps) {
      if (other.info.pid == app.info.pid)
        return in.fail(Loader::join(path, "pid"), "duplicate pid");
    }
    if (j.contains("bundleID")) {
      auto s = in.string(j["bundleID"], Loader::join(path, "bundleID"));
      if (!s) return false;
      app.info.bundleID = *s;
    }
    if (j.contains("name")) {
      auto s = in.string(j["name"], Loader::join(path, "name"));
      if (!s) return false;
      app.info.localizedName = *s;
    }
    for (auto [flag, target] :
         {std::pair{"frontmost", &app.frontmost}, std::pair{"terminated", &app.info.terminated},
          std::pair{"activates", &app.activates}}) {
      if (!j.contains(flag)) continue;
      auto b = in.boolean(j[flag], Loader::join(path, flag));
      if (!b) return false;
      *target = *b;
    }
    uint64_t appKey = nextKey++;
    app.node = appKey;
    Node& node = scene.nodes[appKey];
    node.key = appKey;
    node.pid = app.info.pid;
    node.attributes["AXRole"] = std::string("AXApplication");
    node.attributes["AXTitle"] = app.info.localizedName;
    if (j.contains("behavior") && !behavior(j["behavior"], Loader::join(path, "behavior"), node))
      return false;
    std::size_t windowCount = 0;
    if (j.contains("windows")) {
      const Json& windows = j["windows"];
      std::string at = Loader::join(path, "windows");
      if (!windows.is_array()) return in.fail(at, "expected an array of windows");
      windowCount = windows.size();
      scene.nodes[appKey].children.assign(windowCount, 0);
      for (std::size_t i = 0; i < windowCount; ++i) {
        std::string wpath = Loader::index(at, i);
        if (windows[i].is_object() && windows[i].contains("ref"))
          return in.fail(wpath, "a window cannot be a reference");
        auto key = tree(windows[i], wpath, app.info.pid, appKey);
        if (!key) return false;
        scene.nodes[appKey].children[i] = *key;
      }
    }
    for (auto [name, target] : {std::pair{"focusedWindow", &app.focusedWindow},
                                std::pair{"mainWindow", &app.mainWindow}}) {
      if (!j.contains(name) || j[name].is_null()) continue;
      auto index =
          in.integer(j[name], Loader::join(path, name), 0, std::numeric_limits<int32_t>::max());
      if (!index) return false;
      if (static_cast<std::size_t>(*index) >= windowCount) {
        return in.fail(Loader::join(path, name), "no window " + std::to_string(*index) +
                                                     " (the app has " +
                                                     std::to_string(windowCount) + ")");
      }
      *target = static_cast<std::size_t>(*index);
    }
    scene.apps.push_back(std::move(app));
    return true;
  }

  bool build(const Json& j) {
    if (!in.expectObject(
            j, "",
            {"trusted", "screens", "apps", "description", "defaults", "clipboard", "pages"})) {
      return false;
    }
    if (j.contains("clipboard")) {
      auto text = in.string(j["clipboard"], "clipboard");
      if (!text) return false;
      scene.clipboard = *text;
    }
    if (j.contains("defaults")) {
      if (!j["defaults"].is_object()) return in.fail("defaults", "expected an object of settings");
      for (const auto& [key, value] : j["defaults"].items()) {
        std::string at = Loader::join("defaults", key);
        if (value.is_string()) {
          scene.defaults[key] = value.get<std::string>();
        } else if (value.is_number_integer()) {
          auto v = in.integer(value, at, std::numeric_limits<int64_t>::min(),
                              std::numeric_limits<int64_t>::max());
          if (!v) return false;
          scene.defaults[key] = *v;
        } else {
          return in.fail(at, "expected a string or a whole number, found " + typeName(value));
        }
      }
    }
    if (j.contains("description") && !in.string(j["description"], "description")) return false;
    if (j.contains("trusted")) {
      auto b = in.boolean(j["trusted"], "trusted");
      if (!b) return false;
      scene.trusted = *b;
    }
    if (j.contains("screens")) {
      if (!j["screens"].is_array()) return in.fail("screens", "expected an array of screens");
      for (std::size_t i = 0; i < j["screens"].size(); ++i) {
        const Json& s = j["screens"][i];
        std::string path = Loader::index("screens", i);
        if (!in.expectObject(s, path, {"x", "y", "width", "height"})) return false;
        Frame f;
        for (auto [name, target] : {std::pair{"x", &f.x}, std::pair{"y", &f.y},
                                    std::pair{"width", &f.width}, std::pair{"height", &f.height}}) {
          if (!s.contains(name)) return in.fail(path, std::string("missing key “") + name + "”");
          auto v = in.number(s[name], Loader::join(path, name));
          if (!v) return false;
          if (!std::isfinite(*v)) return in.fail(Loader::join(path, name), "must be finite");
          *target = *v;
        }
        scene.screens.push_back(f);
      }
    }
    if (j.contains("apps")) {
      if (!j["apps"].is_array()) return in.fail("apps", "expected an array of applications");
      for (std::size_t i = 0; i < j["apps"].size(); ++i) {
        if (!app(j["apps"][i], Loader::index("apps", i))) return false;
      }
    }
    // Pages that links load: whole web areas, kept aside until a press shows one.
    if (j.contains("pages")) {
      if (!j["pages"].is_array()) return in.fail("pages", "expected an array of pages");
      for (std::size_t i = 0; i < j["pages"].size(); ++i) {
        std::string path = Loader::index("pages", i);
        const Json& page = j["pages"][i];
        if (!page.is_object() || !page.contains("id")) return in.fail(path, "a page needs an “id”");
        auto key = tree(page, path, 0, 0);
        if (!key) return false;
        scene.nodes[*key].parent.reset();
        scene.pages[scene.nodes[*key].id] = *key;
      }
    }
    for (const PageLink& link : pageLinks) {
      auto it = scene.pages.find(link.page);
      if (it == scene.pages.end())
        return in.fail(link.path, "no page has the id “" + link.page + "”");
      scene.nodes[link.node].loads = it->second;
    }
    int frontmost = 0;
    for (const auto& a : scene.apps)
      frontmost += a.frontmost && !a.info.terminated ? 1 : 0;
    if (frontmost > 1) return in.fail("apps", "more than one application is frontmost");
    // Resolve references now that every id is known.
    for (PendingRef& ref : refs) {
      auto it = named.find(ref.name);
      if (it == named.end()) return in.fail(ref.path, "no element has the id “" + ref.name + "”");
      if (auto** key = std::get_if<uint64_t*>(&ref.slot)) {
        **key = it->second;
      } else {
        (*std::get<std::vector<uint64_t>*>(ref.slot))[ref.index] = it->second;
      }
    }
    return true;
  }
};

}  // namespace

std::variant<std::shared_ptr<SimulatedDesktop>, SceneError> SimulatedDesktop::fromJson(
    std::string_view text, const std::string& sourceName) {
  Json j;
  // The JSON library reports syntax errors only by exception; it is caught
  // here so that the scene's reader hands back an error like any other.
  try {
    j = Json::parse(text);
  } catch (const Json::exception& e) {
    // Syntax errors, and numbers too large for a double (out_of_range.406).
    std::string what = e.what();
    // "[json.exception.parse_error.101] parse error at line 3, column 5: …"
    if (auto at = what.find("] "); at != std::string::npos) what = what.substr(at + 2);
    return SceneError{sourceName + ": not valid JSON: " + what};
  }
  SceneBuilder builder;
  if (!builder.build(j)) return SceneError{sourceName + ": " + *builder.in.error};
  return std::make_shared<SimulatedDesktop>(std::move(builder.scene));
}

std::variant<std::shared_ptr<SimulatedDesktop>, SceneError> SimulatedDesktop::load(
    const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return SceneError{path + ": cannot open the file"};
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return SceneError{path + ": cannot read the file"};
  return fromJson(text.str(), path);
}

}  // namespace tovrin
