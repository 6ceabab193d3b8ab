#include "desktop/inspector_window.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSocketNotifier>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "accessibility/ax.h"
#include "desktop/placement.h"
#include "desktop/symbols.h"
#include "platform/linux/x11/x11_pointer_pick.h"

namespace tovrin::desktop {
namespace {

QString q(const std::string& text) {
  return QString::fromStdString(text);
}

QLabel* secondary(const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  QPalette p = l->palette();
  QColor c = p.color(QPalette::WindowText);
  c.setAlpha(150);
  p.setColor(QPalette::WindowText, c);
  l->setPalette(p);
  return l;
}

}  // namespace

InspectorWindow::InspectorWindow(std::shared_ptr<InspectorModel> model,
                                 std::shared_ptr<Highlighter> highlighter,
                                 std::shared_ptr<Executor> executor, bool pointerPick,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window),
      model_(std::move(model)),
      highlighter_(std::move(highlighter)),
      executor_(std::move(executor)),
      pointerPick_(pointerPick) {
  setObjectName("TovrinInspector");
  setWindowTitle("Tovrin Inspector");
  resize(900, 600);
  setMinimumSize(760, 480);
  auto* column = new QVBoxLayout(this);

  auto* toolbar = new QHBoxLayout();
  auto* reload = new QPushButton(symbol("arrow.clockwise"), "Reload", this);
  reload->setObjectName("reload");
  connect(reload, &QPushButton::clicked, this, [this] { model_->reload(); });
  toolbar->addWidget(reload);
  pickButton_ = new QPushButton(symbol("scope"), "Pick element", this);
  pickButton_->setObjectName("pick");
  connect(pickButton_, &QPushButton::clicked, this, &InspectorWindow::startPick);
  pickButton_->setToolTip(pointerPick_ ? "Pick the element under your next click (Ctrl+P)"
                                       : "Pick the element you click or tab to in the browser "
                                         "next: the one that gets the keyboard focus (Ctrl+P)");
  // From the keyboard too: the pointer is what picks.
  auto* pickKey = new QShortcut(QKeySequence("Ctrl+P"), this);
  connect(pickKey, &QShortcut::activated, this, &InspectorWindow::startPick);
  toolbar->addWidget(pickButton_);
  status_ = secondary({}, this);
  status_->setObjectName("status");
  toolbar->addWidget(status_, 1);
  column->addLayout(toolbar);

  auto* split = new QSplitter(this);
  tree_ = new QTreeWidget(split);
  tree_->setObjectName("tree");
  tree_->setHeaderHidden(true);
  tree_->setMinimumWidth(280);
  // A click on the row already current chooses it again (after a pick
  // showed another element, say).
  auto choose = [this](QTreeWidgetItem* item) {
    if (item == nullptr) return;
    model_->selection = item->data(0, Qt::UserRole).toString().toStdString();
    renderDetail();
  };
  connect(tree_, &QTreeWidget::currentItemChanged, this, choose);
  connect(tree_, &QTreeWidget::itemClicked, this, choose);
  auto* scroll = new QScrollArea(split);
  scroll->setWidgetResizable(true);
  detail_ = new QWidget();
  detail_->setObjectName("detail");
  new QVBoxLayout(detail_);
  scroll->setWidget(detail_);
  split->addWidget(tree_);
  split->addWidget(scroll);
  split->setSizes({340, 560});
  column->addWidget(split, 1);

  model_->onChange([this] { render(); });
  render();
}

InspectorWindow::~InspectorWindow() = default;

void InspectorWindow::present() {
  centreOnce(*this);
  show();
  raise();
  activateWindow();
  model_->reload();
}

void InspectorWindow::startPick() {
  if (!pointerPick_) {
    // No program may watch the pointer here: the user goes to the browser
    // and clicks or tabs to the element; whatever then has the keyboard
    // focus is taken, once this window has lost it.
    model_->startPicking();
    status_->setText("Click or tab to an element in the browser…");
    return;
  }
  std::string error;
  if (!pick_) pick_ = X11PointerPick::open(error);
  if (!pick_ || !pick_->start()) {
    status_->setText(pick_ ? "Another program holds the pointer; try again."
                           : "Picking needs the X display: " + q(error));
    return;
  }
  model_->startPicking();
  if (!pickNotifier_) {
    pickNotifier_ = new QSocketNotifier(pick_->fd(), QSocketNotifier::Read, this);
    connect(pickNotifier_, &QSocketNotifier::activated, this, [this] {
      auto click = pick_->clicked();
      if (click) {
        model_->pickAt(click->first, click->second);
      } else if (pick_->cancelled() && model_->picking) {
        model_->picking = false;
        model_->status = "Pick cancelled.";
        render();
      }
    });
  }
}

void InspectorWindow::addNodes(QTreeWidgetItem* parent, const std::vector<InspectorNode>& nodes) {
  for (const InspectorNode& node : nodes) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
    item->setText(0, q(node.heading()));
    item->setData(0, Qt::UserRole, q(node.id));
    if (node.children) addNodes(item, *node.children);
  }
}

void InspectorWindow::render() {
  status_->setText(q(model_->status));
  if (std::getenv("TOVRIN_TRACE") != nullptr) {
    const InspectorNode* node = model_->selectedNode();
    std::fprintf(stderr, "inspector: %s%s\n", model_->status.c_str(),
                 node ? (" · " + node->heading()).c_str() : "");
  }
  pickButton_->setEnabled(!model_->picking);
  pickButton_->setText(model_->picking ? "Click an element…" : "Pick element");
  std::string ids;
  for (const InspectorNode& root : model_->roots)
    ids += root.id + " ";
  if (ids != shownTree_) {
    shownTree_ = ids;
    const QSignalBlocker quiet(tree_);
    tree_->clear();
    addNodes(nullptr, model_->roots);
    tree_->expandToDepth(2);
  }
  showSelection();
  renderDetail();
}

void InspectorWindow::showSelection() {
  const QSignalBlocker quiet(tree_);
  QTreeWidgetItem* row = nullptr;
  if (model_->selection) {
    const QString id = q(*model_->selection);
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr && row == nullptr; ++it) {
      if ((*it)->data(0, Qt::UserRole).toString() == id) row = *it;
    }
  }
  // A picked element outside the tree read leaves no row highlighted, so
  // that the tree never claims another element is the one shown.
  tree_->setCurrentItem(row);
  if (row == nullptr) {
    tree_->clearSelection();
    return;
  }
  for (QTreeWidgetItem* up = row->parent(); up != nullptr; up = up->parent())
    up->setExpanded(true);
  tree_->scrollToItem(row);
}

bool InspectorWindow::event(QEvent* event) {
  // The focus-following pick: this window lost the keyboard to the
  // browser; the click or Tab there has moved the browser's focus a moment
  // later.
  if (!pointerPick_ && event->type() == QEvent::WindowDeactivate && model_->picking) {
    QTimer::singleShot(400, this, [this] {
      if (model_->picking) model_->pickFocused();
    });
  }
  return QWidget::event(event);
}

void InspectorWindow::renderDetail() {
  QLayout* layout = detail_->layout();
  while (QLayoutItem* item = layout->takeAt(0)) {
    if (QWidget* w = item->widget()) w->hide(), w->deleteLater();
    delete item;
  }
  auto* into = static_cast<QVBoxLayout*>(layout);
  const InspectorNode* node = model_->selectedNode();
  if (node == nullptr) {
    auto* none = secondary("Select an element", detail_);
    none->setAlignment(Qt::AlignCenter);
    into->addWidget(none, 1);
    none->show();
    return;
  }
  std::string role = node->role;
  for (std::size_t at = role.find("AX"); at != std::string::npos; at = role.find("AX", at))
    role.erase(at, 2);
  auto* title = new QLabel(q(role), detail_);
  title->setObjectName("detailRole");
  QFont semibold = title->font();
  semibold.setWeight(QFont::DemiBold);
  semibold.setPointSizeF(semibold.pointSizeF() * 1.3);
  title->setFont(semibold);
  into->addWidget(title);

  auto* rows = new QWidget(detail_);
  auto* form = new QFormLayout(rows);
  for (const auto& [label, value] : node->detailRows()) {
    auto* v = new QLabel(q(value), rows);
    v->setObjectName(q("row." + label));
    v->setTextInteractionFlags(Qt::TextSelectableByMouse);
    v->setWordWrap(true);
    auto* l = secondary(q(label), rows);
    l->setFixedWidth(90);
    form->addRow(l, v);
  }
  into->addWidget(rows);

  auto* actions = new QGroupBox("Actions", detail_);
  auto* actionRow = new QHBoxLayout(actions);
  if (node->actions.empty()) actionRow->addWidget(secondary("None", actions));
  for (const std::string& action : node->actions) {
    auto* b = new QPushButton(q(action), actions);
    b->setObjectName(q("action." + action));
    // The element may belong to a browser that takes its time: off the
    // interface thread, result ignored.
    connect(b, &QPushButton::clicked, this, [this, element = node->element, action] {
      executor_->inBackground([element, action] { (void)AX::perform(element, action); });
    });
    actionRow->addWidget(b);
  }
  actionRow->addStretch(1);
  into->addWidget(actions);

  auto* hierarchy = new QGroupBox("Hierarchy", detail_);
  auto* lines = new QVBoxLayout(hierarchy);
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  mono.setPixelSize(11);
  for (const std::string& line : node->hierarchyLines()) {
    auto* l = new QLabel(q(line), hierarchy);
    l->setFont(mono);
    lines->addWidget(l);
  }
  into->addWidget(hierarchy);

  if (node->frame) {
    auto* outline = new QPushButton(symbol("rectangle.dashed"), "Highlight in browser", detail_);
    outline->setObjectName("highlight");
    connect(outline, &QPushButton::clicked, this,
            [this, frame = *node->frame] { highlighter_->show(frame, 3.0); });
    into->addWidget(outline, 0, Qt::AlignLeft);
  }
  into->addStretch(1);
  for (int i = 0; i < into->count(); ++i) {
    if (QWidget* w = into->itemAt(i)->widget()) w->show();
  }
}

}  // namespace tovrin::desktop
