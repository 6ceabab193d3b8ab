// The inspector in a terminal: the front browser window's tree as the
// inspector reads it, and the element under a point with its details.

#include <charconv>
#include <iostream>
#include <memory>

#include "commands.h"
#include "scene_source.h"
#include "ui/inspector_model.h"

namespace tovrin::cli {
namespace {

struct InspectOptions {
  DesktopChoice desktop;
  std::string pick;  // "X,Y" in accessibility coordinates
};

void printTree(const InspectorNode& node, int depth) {
  std::cout << std::string(static_cast<std::size_t>(depth) * 2, ' ') << node.heading() << '\n';
  if (!node.children) return;
  for (const InspectorNode& child : *node.children)
    printTree(child, depth + 1);
}

std::optional<std::pair<double, double>> point(const std::string& text) {
  auto comma = text.find(',');
  if (comma == std::string::npos) return std::nullopt;
  double x = 0, y = 0;
  auto [xe, xr] = std::from_chars(text.data(), text.data() + comma, x);
  auto [ye, yr] = std::from_chars(text.data() + comma + 1, text.data() + text.size(), y);
  if (xr != std::errc() || yr != std::errc() || xe != text.data() + comma ||
      ye != text.data() + text.size()) {
    return std::nullopt;
  }
  return std::make_pair(x, y);
}

int run(const InspectOptions& options) {
  std::optional<std::pair<double, double>> at;
  if (!options.pick.empty()) {
    at = point(options.pick);
    if (!at) {
      std::cerr << "tovrin: --pick takes X,Y (for example 1240,110), not “" << options.pick
                << "”\n";
      return 2;
    }
  }
  auto desktop = openDesktop(options.desktop);
  if (!desktop) return 2;
  Platform platform = desktop->platform;
  auto tracker = std::make_shared<BrowserTracker>(platform);
  tracker->start();
  auto model = InspectorModel::make(
      {.platform = platform, .tracker = tracker, .executor = std::make_shared<InlineExecutor>()});

  if (!at) {
    model->reload();
    std::cout << model->status << '\n';
    for (const InspectorNode& root : model->roots)
      printTree(root, 0);
    return model->roots.empty() ? 1 : 0;
  }
  model->startPicking();
  model->pickAt(at->first, at->second);
  std::cout << model->status << '\n';
  const InspectorNode* node = model->selectedNode();
  if (node == nullptr) return 1;
  std::cout << '\n' << node->heading() << '\n';
  for (const auto& [label, value] : node->detailRows()) {
    std::cout << "  " << label << std::string(label.size() < 12 ? 12 - label.size() : 1, ' ')
              << value << '\n';
  }
  std::cout << "Actions\n";
  if (node->actions.empty()) std::cout << "  None\n";
  for (const std::string& action : node->actions)
    std::cout << "  " << action << '\n';
  std::cout << "Hierarchy\n";
  for (const std::string& line : node->hierarchyLines())
    std::cout << "  " << line << '\n';
  return 0;
}

}  // namespace

Command addInspectCommand(CLI::App& app) {
  auto options = std::make_shared<InspectOptions>();
  CLI::App* sub = app.add_subcommand(
      "inspect", "Show the front browser window's accessibility tree, or pick an element");
  addDesktopOptions(*sub, options->desktop);
  sub->add_option("--pick", options->pick,
                  "Show the element at X,Y (screen points, top-left origin) in detail");
  return Command{sub, [options] { return run(*options); }};
}

}  // namespace tovrin::cli
