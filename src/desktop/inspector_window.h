#pragma once

// The Element Inspector: a toolbar (Reload, Pick element, the status), the
// front browser window's tree on the left, and the selected element's
// attributes, actions (each can be performed), ancestry and an outline
// button on the right.

#include <QWidget>
#include <functional>
#include <memory>

#include "actions/highlighter.h"
#include "ui/inspector_model.h"

class QTreeWidget;
class QTreeWidgetItem;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QSocketNotifier;

namespace tovrin {
class X11PointerPick;
}

namespace tovrin::desktop {

class InspectorWindow final : public QWidget {
  Q_OBJECT

 public:
  // `pointerPick`: the next click can be watched (X11); otherwise Pick
  // takes the element with the browser's keyboard focus.
  InspectorWindow(std::shared_ptr<InspectorModel> model, std::shared_ptr<Highlighter> highlighter,
                  std::shared_ptr<Executor> executor, bool pointerPick = true,
                  QWidget* parent = nullptr);
  ~InspectorWindow() override;

  // Shows the window and reads the tree again.
  void present();
  [[nodiscard]] InspectorModel& model() const { return *model_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void render();
  void renderDetail();
  void startPick();
  void addNodes(QTreeWidgetItem* parent, const std::vector<InspectorNode>& nodes);
  // The tree's highlighted row follows the model's selection.
  void showSelection();

  std::shared_ptr<InspectorModel> model_;
  std::shared_ptr<Highlighter> highlighter_;
  std::shared_ptr<Executor> executor_;
  bool pointerPick_ = true;
  std::unique_ptr<X11PointerPick> pick_;
  QSocketNotifier* pickNotifier_ = nullptr;
  QPushButton* pickButton_ = nullptr;
  QLabel* status_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QWidget* detail_ = nullptr;
  std::string shownTree_;  // the root ids last put in the tree
};

}  // namespace tovrin::desktop
