#include "support/scene_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace tovrin::testing {
namespace {

using Json = nlohmann::json;

// Splits a line into tokens, keeping quoted strings (with \" escapes) whole.
std::vector<std::string> tokenize(std::string_view line) {
  std::vector<std::string> out;
  std::string current;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '\\' && i + 1 < line.size()) {
        char next = line[++i];
        current += next == 'n' ? '\n' : next == 't' ? '\t' : next;
      } else if (c == '"') {
        quoted = false;
      } else {
        current += c;
      }
    } else if (c == '"') {
      quoted = true;
      current += '\x01';  // marks "was quoted"
    } else if (c == ' ') {
      if (!current.empty()) out.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

bool wasQuoted(const std::string& token) {
  return token.find('\x01') != std::string::npos;
}
std::string unquote(std::string token) {
  std::erase(token, '\x01');
  return token;
}

std::vector<std::string> list(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');)
    out.push_back(item);
  return out;
}

Json number(const std::string& text) {
  if (text == "nan" || text == "inf" || text == "-inf") return text;
  return std::strtod(text.c_str(), nullptr);
}

Json element(const std::vector<std::string>& tokens) {
  Json e = Json::object();
  std::size_t i = 0;
  if (tokens[0].rfind("ref=", 0) == 0) return Json{{"ref", tokens[0].substr(4)}};
  e["role"] = tokens[i++];
  // A bare quoted token right after the role is the title.
  if (i < tokens.size() && tokens[i].front() == '\x01') e["title"] = unquote(tokens[i++]);
  for (; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    auto eq = token.find('=');
    std::string key = token.substr(0, eq);
    if (eq == std::string::npos) {
      if (key == "hidden")
        e["hidden"] = true;
      else if (key == "disabled")
        e["enabled"] = false;
      else if (key == "focused")
        e["focused"] = true;
      else
        ADD_FAILURE() << "unknown flag in tree: " << key;
      continue;
    }
    std::string raw = token.substr(eq + 1);
    std::string text = unquote(raw);
    if (key == "value") {
      if (wasQuoted(raw))
        e["value"] = text;
      else if (text == "true" || text == "false")
        e["value"] = text == "true";
      else
        e["value"] = number(text);
    } else if (key == "desc") {
      e["description"] = text;
    } else if (key == "frame") {
      Json f = Json::array();
      for (const std::string& n : list(text))
        f.push_back(number(n));
      e["frame"] = f;
    } else if (key == "actions" || key == "settable") {
      e[key] = list(text);
    } else if (key == "press") {
      e["behavior"]["pressResult"] = std::stoi(text);
    } else if (key == "vanish") {
      e["behavior"]["vanishAfterReads"] = std::stoi(text);
    } else if (key == "stall") {
      e["behavior"]["stallAfterReads"] = std::stoi(text);
    } else if (key == "delay") {
      e["behavior"]["delay"] = std::stod(text);
    } else if (key == "readError") {
      e["behavior"]["readError"] = std::stoi(text);
    } else if (key.rfind("attr.", 0) == 0) {
      // JSON with single quotes, so it needs no escaping inside the tree.
      std::replace(text.begin(), text.end(), '\'', '"');
      e["behavior"]["attributes"][key.substr(5)] = Json::parse(text);
    } else {
      e[key] = text;  // help, placeholder, subrole, identifier, url, id
    }
  }
  return e;
}

}  // namespace

Json treeJson(std::string_view tree) {
  struct Open {
    std::size_t indent;
    Json* json;
  };
  Json root;
  std::vector<Open> open;
  std::stringstream in{std::string(tree)};
  for (std::string line; std::getline(in, line);) {
    std::size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos) continue;
    auto tokens = tokenize(std::string_view(line).substr(indent));
    Json e = element(tokens);
    while (!open.empty() && open.back().indent >= indent)
      open.pop_back();
    if (open.empty()) {
      root = e;
      open.push_back({indent, &root});
      continue;
    }
    Json& children = (*open.back().json)["children"];
    if (children.is_null()) children = Json::array();
    children.push_back(e);
    open.push_back({indent, &children.back()});
  }
  return root;
}

std::shared_ptr<SimulatedDesktop> sceneDesktop(const Json& scene) {
  auto loaded = SimulatedDesktop::fromJson(scene.dump(), "test scene");
  if (auto* error = std::get_if<SceneError>(&loaded)) {
    ADD_FAILURE() << error->message;
    return nullptr;
  }
  return std::get<std::shared_ptr<SimulatedDesktop>>(loaded);
}

std::shared_ptr<SimulatedDesktop> browserDesktop(std::string_view windowTree, BrowserApp app) {
  Json scene = {{"apps",
                 {{{"pid", app.pid},
                   {"bundleID", app.bundleID},
                   {"name", app.name},
                   {"frontmost", app.frontmost},
                   {"focusedWindow", 0},
                   {"windows", Json::array({treeJson(windowTree)})}}}}};
  return sceneDesktop(scene);
}

std::string sourcePath(const std::string& relative) {
  const char* root = std::getenv("TOVRIN_SOURCE_DIR");
  return std::string(root ? root : TOVRIN_SOURCE_DIR_DEFAULT) + "/" + relative;
}

}  // namespace tovrin::testing
