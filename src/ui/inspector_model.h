#pragma once

// The developer inspector's model: the front browser window's accessibility
// tree as Tovrin sees it (its own bounded read, separate from the page
// crawler), the element picked by clicking in the browser, and the status
// line. Used on the interface thread; reads go through the Executor.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "accessibility/browser.h"
#include "ui/executor.h"

namespace tovrin {

struct InspectorNode {
  std::string id;  // fresh for every read
  AXElement element;
  std::string role;  // "AXUnknown" when empty
  std::string subrole;
  std::string title;
  std::string value;  // "(hidden)" for a secure field; cut at 500 characters
  std::string desc;
  std::string help;
  std::string identifier;
  std::optional<Frame> frame;
  bool enabled = true;
  std::vector<std::string> actions;
  std::vector<std::string> path;                       // ancestors' headings, outermost first
  std::optional<std::vector<InspectorNode>> children;  // absent when not read

  // "Button  “Sign in”": the role without "AX" and the first text it has.
  [[nodiscard]] std::string heading() const;

  // The detail pane's rows, label and value ("—" for an empty value):
  // Role, Title, Value, Description, Help, Identifier, Position, Size,
  // Enabled, Children.
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> detailRows() const;
  // The hierarchy box: one line per ancestor, indented, "└ " below the first.
  [[nodiscard]] std::vector<std::string> hierarchyLines() const;

  // Reads an element and, while `depth` and the shared `budget` last, its
  // descendants. A node whose children were all skipped for lack of budget
  // has an empty, not absent, list.
  static InspectorNode make(const AXElement& element, const std::vector<std::string>& path,
                            int depth, int& budget);
};

class InspectorModel : public std::enable_shared_from_this<InspectorModel> {
 public:
  struct Services {
    Platform platform;
    std::shared_ptr<BrowserTracker> tracker;
    std::shared_ptr<Executor> executor;
  };
  static std::shared_ptr<InspectorModel> make(Services services);

  std::vector<InspectorNode> roots;
  std::optional<std::string> selection;
  std::optional<InspectorNode> picked;
  std::string status = "Press Reload to read the front browser window.";
  bool picking = false;

  void onChange(std::function<void()> observer) { observers_.push_back(std::move(observer)); }

  void reload();
  // Arms a pick: the platform's mouse monitor then reports the next left click
  // with pickAt.
  void startPicking();
  // The click, in accessibility coordinates (top-left origin).
  void pickAt(double x, double y);
  // Where no program may watch the pointer (Wayland): the element that has
  // the browser's keyboard focus stands for the one clicked.
  void pickFocused();
  [[nodiscard]] const InspectorNode* selectedNode() const;

  // A bottom-left-origin pointer position in accessibility coordinates.
  static double accessibilityY(double y, std::optional<double> primaryScreenHeight);

 private:
  explicit InspectorModel(Services services) : services_(std::move(services)) {}
  void changed();
  // Shows `element` with its ancestry as the picked one.
  void pick(const AXElement& element, std::string status);

  Services services_;
  std::vector<std::function<void()>> observers_;
};

}  // namespace tovrin
