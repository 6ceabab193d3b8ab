// The Element Inspector window over the simulated desktop, offscreen.

#include "desktop/inspector_window.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "desktop_app/placement_check.h"
#include "support/scene_tree.h"

namespace tovrin::desktop {
namespace {

constexpr const char* kPage = R"(
AXWindow "Shop" id=w frame=0,0,1000,900
  AXWebArea "Acme Shop" frame=0,100,1000,800
    AXButton "Sign in" actions=AXPress frame=10,110,80,30 id=signin
    AXStaticText value="No frame and nothing to press"
    AXTextField "Search" focused frame=10,160,200,30
)";

struct Inspector {
  std::shared_ptr<SimulatedDesktop> desktop = testing::browserDesktop(kPage);
  std::shared_ptr<InspectorModel> model;
  std::unique_ptr<InspectorWindow> window;

  explicit Inspector(bool pointerPick = true) {
    Platform platform = desktop->platform();
    auto tracker = std::make_shared<BrowserTracker>(platform);
    tracker->start();
    auto executor = std::make_shared<InlineExecutor>();
    model = InspectorModel::make({.platform = platform, .tracker = tracker, .executor = executor});
    window = std::make_unique<InspectorWindow>(model, std::make_shared<Highlighter>(platform),
                                               executor, pointerPick);
    window->present();
  }
  // Selects the tree row whose heading starts so.
  bool select(const QString& heading) {
    auto* tree = window->findChild<QTreeWidget*>("tree");
    for (QTreeWidgetItem* item :
         tree->findItems(heading, Qt::MatchStartsWith | Qt::MatchRecursive)) {
      tree->setCurrentItem(item);
      return true;
    }
    return false;
  }
  QString row(const char* label) const {
    for (QLabel* l : window->findChildren<QLabel*>(QString("row.") + label)) {
      if (l->isVisibleTo(window.get())) return l->text();
    }
    return "(no row)";
  }
  template <typename W>
  W* shown(const QString& name) const {
    for (W* w : window->findChildren<W*>(name)) {
      if (w->isVisibleTo(window.get())) return w;
    }
    return nullptr;
  }
};

TEST(InspectorWindowTest, OpensCentredAndReopensWhereItWasLeft) {
  Inspector inspector;
  expectCentredThenWhereLeft(*inspector.window);
}

TEST(InspectorWindowTest, TheTreeAndTheSelectedElementsDetails) {
  Inspector inspector;
  ASSERT_TRUE(inspector.select("Button  “Sign in”"));
  EXPECT_EQ(inspector.row("Role"), "AXButton");
  EXPECT_EQ(inspector.row("Position"), "x 10, y 110");
  EXPECT_EQ(inspector.row("Size"), "80 × 30");
  ASSERT_NE(inspector.shown<QPushButton>("highlight"), nullptr);
  if (const char* dir = std::getenv("TOVRIN_SCREENSHOT_DIR")) {
    QDir().mkpath(dir);
    inspector.window->grab().save(QString(dir) + "/inspector.png");
  }
  // Its action runs on the element.
  inspector.shown<QPushButton>("action.AXPress")->click();
  bool pressed = false;
  for (const auto& effect : inspector.desktop->effects())
    pressed |= effect.describe().find("AXPress AXButton “Sign in”") != std::string::npos;
  EXPECT_TRUE(pressed);
  inspector.shown<QPushButton>("highlight")->click();
  bool outlined = false;
  for (const auto& effect : inspector.desktop->effects())
    outlined |= effect.describe().find("outline 10,110,80,30 for 3s") != std::string::npos;
  EXPECT_TRUE(outlined);

  // Without a frame: dashes, no highlight button; without actions: "None".
  ASSERT_TRUE(inspector.select("StaticText"));
  EXPECT_EQ(inspector.row("Position"), "—");
  EXPECT_EQ(inspector.shown<QPushButton>("highlight"), nullptr);
  bool none = false;
  for (QLabel* l : inspector.window->findChildren<QLabel*>())
    none |= l->isVisibleTo(inspector.window.get()) && l->text() == "None";
  EXPECT_TRUE(none);
}

TEST(InspectorWindowTest, AnArmedPickCannotBeArmedAgain) {
  Inspector inspector;
  inspector.model->startPicking();
  auto* pick = inspector.window->findChild<QPushButton*>("pick");
  EXPECT_EQ(pick->text(), "Click an element…");
  EXPECT_FALSE(pick->isEnabled());
  inspector.model->pickAt(20, 120);
  EXPECT_EQ(pick->text(), "Pick element");
  EXPECT_EQ(inspector.row("Title"), "Sign in");
}

// The tree's highlighted row and the detail pane show the same element,
// whichever side chose it, and a row can be chosen again after a pick.
TEST(InspectorWindowTest, TheTreeAndTheModelAgreeOnTheSelection) {
  Inspector inspector;
  auto* tree = inspector.window->findChild<QTreeWidget*>("tree");
  ASSERT_TRUE(inspector.select("StaticText"));
  inspector.model->pickAt(20, 120);
  ASSERT_NE(tree->currentItem(), nullptr);
  EXPECT_TRUE(tree->currentItem()->text(0).startsWith("Button  “Sign in”"))
      << tree->currentItem()->text(0).toStdString();
  EXPECT_EQ(inspector.row("Title"), "Sign in");
  ASSERT_TRUE(inspector.select("StaticText"));
  EXPECT_EQ(inspector.row("Role"), "AXStaticText");
  // The current row clicked again after the model moved elsewhere.
  inspector.model->pickAt(20, 120);
  inspector.model->selection.reset();
  QTreeWidgetItem* sign = tree->findItems("Button", Qt::MatchStartsWith | Qt::MatchRecursive).at(0);
  emit tree->itemClicked(sign, 0);
  EXPECT_EQ(inspector.row("Title"), "Sign in");
}

// Where no program may watch the pointer, Pick takes the element that has
// the browser's keyboard focus once the user has gone to the browser.
TEST(InspectorWindowTest, WithoutThePointerThePickTakesTheFocusedElement) {
  Inspector inspector(/*pointerPick=*/false);
  inspector.window->findChild<QPushButton*>("pick")->click();
  EXPECT_TRUE(inspector.model->picking);
  QWidget browser;
  browser.show();
  QApplication::setActiveWindow(&browser);
  QEvent left(QEvent::WindowDeactivate);
  QApplication::sendEvent(inspector.window.get(), &left);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !inspector.model->picking; }, 3000));
  EXPECT_EQ(inspector.row("Role"), "AXTextField");
  EXPECT_NE(inspector.model->status.find("keyboard focus"), std::string::npos)
      << inspector.model->status;
}

}  // namespace
}  // namespace tovrin::desktop
