#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "accessibility/browser.h"
#include "commands.h"
#include "content/page_snapshot.h"
#include "intent/intent_json.h"
#include "scene_source.h"

namespace tovrin::cli {
namespace {

using Json = nlohmann::ordered_json;

struct SnapshotOptions {
  DesktopChoice desktop;
  bool lines = false;
  bool json = false;
};

Json elementJson(const PageElement& e) {
  Json j;
  j["id"] = e.id;
  j["parent"] = e.parent ? Json(*e.parent) : Json(nullptr);
  j["depth"] = e.depth;
  j["role"] = e.role;
  j["subrole"] = e.subrole;
  j["label"] = e.label();
  j["frame"] = e.frame ? Json::array({e.frame->x, e.frame->y, e.frame->width, e.frame->height})
                       : Json(nullptr);
  j["enabled"] = e.enabled;
  j["actions"] = e.actions;
  return j;
}

Json snapshotJson(const PageSnapshot& snap) {
  Json j;
  j["browserName"] = snap.browserName;
  j["windowTitle"] = snap.windowTitle;
  j["pageTitle"] = snap.pageTitle;
  j["url"] = snap.url;
  j["captureTime"] = snap.captureTime;
  j["elements"] = Json::array();
  for (const PageElement& e : snap.elements)
    j["elements"].push_back(elementJson(e));
  j["chrome"] = Json::array();
  for (const PageElement& e : snap.chrome)
    j["chrome"].push_back(elementJson(e));
  j["lines"] = Json::array();
  for (const PageLine& line : snap.lines) {
    j["lines"].push_back(Json{{"text", line.text},
                              {"elementID", line.elementID},
                              {"kind", std::string(kindName(line.kind))},
                              {"level", line.level}});
  }
  j["chunks"] = Json::array();
  for (const PageChunk& chunk : snap.chunks) {
    j["chunks"].push_back(
        Json{{"heading", chunk.heading}, {"text", chunk.text}, {"elementID", chunk.elementID}});
  }
  return j;
}

int run(const SnapshotOptions& options) {
  auto desktop = openDesktop(options.desktop);
  if (!desktop) return 2;
  std::optional<BrowserTarget> target = frontBrowser(*desktop);
  if (!target) return 1;
  std::optional<PageSnapshot> snap = readPage(*desktop, *target);
  if (!snap) return 1;
  if (options.json) {
    std::cout << dumpJson(snapshotJson(*snap)) << '\n';
    return 0;
  }
  std::cout << snap->readSummary() << '\n';
  if (auto page = snap->pageLine()) std::cout << *page << '\n';
  if (options.lines) {
    for (const PageLine& line : snap->lines) {
      std::cout << kindName(line.kind) << '\t' << line.level << '\t' << line.elementID << '\t'
                << line.text << '\n';
    }
  } else {
    std::cout << '\n' << snap->text() << '\n';
  }
  return 0;
}

}  // namespace

Command addSnapshotCommand(CLI::App& app) {
  auto options = std::make_shared<SnapshotOptions>();
  CLI::App* sub = app.add_subcommand(
      "snapshot", "Read the front browser as a command would, and print the page");
  addDesktopOptions(*sub, options->desktop);
  sub->add_flag("--lines", options->lines,
                "Print one line per page line: kind, level, element id, text");
  sub->add_flag("--json", options->json, "Print the whole snapshot as one JSON object");
  return Command{sub, [options] { return run(*options); }};
}

}  // namespace tovrin::cli
