// The palette panel over the simulated desktop, on Qt's offscreen
// platform: what each phase shows, the keys the panel takes, its height,
// Copy and onboarding. Every phase is also written as a picture under the
// build folder, for a person to look at (never compared).

#include "desktop/palette_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "actions/highlighter.h"
#include "desktop/qt_executor.h"
#include "desktop/step_aside_workspace.h"
#include "support/scene_tree.h"
#include "ui/palette_controls.h"

namespace tovrin::desktop {
namespace {

struct Panel {
  std::shared_ptr<SimulatedDesktop> desktop;
  std::shared_ptr<PaletteViewModel> vm;
  std::unique_ptr<PaletteWindow> window;

  explicit Panel(std::shared_ptr<SimulatedDesktop> d,
                 std::shared_ptr<Executor> executor = std::make_shared<InlineExecutor>(),
                 const std::function<void(Platform&, Panel&)>& adjust = {})
      : desktop(std::move(d)) {
    Platform platform = desktop->platform();
    if (adjust) adjust(platform, *this);
    auto tracker = std::make_shared<BrowserTracker>(platform);
    tracker->start();
    vm = PaletteViewModel::make({.platform = platform,
                                 .tracker = tracker,
                                 .model = std::make_shared<UnavailableModel>(),
                                 .highlighter = std::make_shared<Highlighter>(platform),
                                 .executor = executor});
    window = std::make_unique<PaletteWindow>(
        vm, PaletteWindow::Texts{"Using built-in rules (no local model set up)", "Alt+Space"});
    window->present();
  }
  explicit Panel(std::string_view tree = testing::kShopWindow)
      : Panel(testing::browserDesktop(tree)) {}

  QLineEdit* input() const { return window->findChild<QLineEdit*>("command"); }
  void type(const QString& text) {
    QTest::keyClicks(input(), text);
    QTest::keyClick(input(), Qt::Key_Return);
  }
  [[nodiscard]] bool shows(const QString& text) const {
    for (const QString& shown : window->shownTexts()) {
      if (shown.contains(text)) return true;
    }
    return false;
  }
  // The shown button of that name (a view just replaced may linger hidden).
  QPushButton* button(const char* name) const {
    for (QPushButton* b : window->findChildren<QPushButton*>(name)) {
      if (b->isVisibleTo(window.get())) return b;
    }
    return nullptr;
  }
  void picture(const std::string& name) const {
    const char* dir = std::getenv("TOVRIN_SCREENSHOT_DIR");
    if (dir == nullptr) return;
    QDir().mkpath(dir);
    window->grab().save(QString("%1/palette-%2.png").arg(dir, QString::fromStdString(name)));
  }
};

TEST(PaletteWindowTest, EveryPhaseShowsItsTextsAndButtons) {
  Panel panel;
  struct Step {
    const char* typed;  // nothing: the idle phase as opened
    const char* picture;
    std::vector<QString> shown;
    std::vector<const char*> buttons;
  };
  const Step steps[] = {
      {nullptr, "idle", {"Google Chrome", "Using built-in rules"}, {"chip"}},
      {"click sign in", "success", {"Clicked **Sign in**"}, {"whyButton"}},
      {"click the unicorn", "failure", {"Couldn't find"}, {"whyButton"}},
      {"click buy now", "confirmation", {"Click “Buy now”?"}, {"cancelButton", "confirmButton"}},
      {"click add to cart",
       "choice",
       {"Which one do you mean?", "1   Add to cart", "↑↓ to preview"},
       {"selectedOption", "option"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.picture);
    panel.vm->reset();
    if (step.typed != nullptr) panel.type(step.typed);
    for (const QString& text : step.shown)
      EXPECT_TRUE(panel.shows(text))
          << text.toStdString() << " in " << panel.window->shownTexts().join(" | ").toStdString();
    for (const char* name : step.buttons)
      EXPECT_NE(panel.button(name), nullptr) << name;
    panel.picture(step.picture);
  }
  // The trail opens under "Why?".
  panel.vm->reset();
  panel.type("click sign in");
  panel.button("whyButton")->click();
  EXPECT_TRUE(panel.shows("AXPress succeeded"));
  panel.picture("success-with-trail");
}

// The content is rebuilt for every phase; what it replaces must go, or a
// palette used all day grows without end.
TEST(PaletteWindowTest, CommandsLeaveNoWidgetsBehind) {
  Panel panel;
  auto objects = [&] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return panel.window->findChildren<QObject*>().size();
  };
  const char* commands[] = {"click sign in", "find add to cart", "read this page",
                            "click add to cart", "click buy now"};
  auto round = [&] {
    for (const char* command : commands) {
      panel.vm->reset();
      panel.type(command);
      if (panel.button("whyButton")) panel.button("whyButton")->click();
    }
    panel.vm->reset();
  };
  round();
  const auto after = objects();
  for (int i = 0; i < 5; ++i)
    round();
  EXPECT_EQ(objects(), after);
}

TEST(PaletteWindowTest, WhileACommandWorksThePanelSaysWhat) {
  auto executor = std::make_shared<ManualExecutor>();
  Panel panel(testing::browserDesktop(testing::kShopWindow), executor);
  panel.type("click sign in");
  EXPECT_TRUE(panel.shows("… Reading Google Chrome…"));
  panel.picture("working");
  executor->runAll();
  EXPECT_TRUE(panel.shows("Clicked **Sign in**"));
}

TEST(PaletteWindowTest, ChoiceMovesWithArrowsAndRunsOnADigit) {
  Panel panel;
  panel.type("click add to cart");
  ASSERT_TRUE(std::holds_alternative<ChoiceSet>(panel.vm->phase()));
  QTest::keyClick(panel.input(), Qt::Key_Down);
  EXPECT_EQ(panel.vm->selected, 1);
  EXPECT_TRUE(panel.button("selectedOption")->text().startsWith("2"));
  QTest::keyClick(panel.input(), Qt::Key_Up);
  QTest::keyClick(panel.input(), Qt::Key_Up);  // round to the last
  EXPECT_EQ(panel.vm->selected, 2);
  EXPECT_TRUE(panel.button("selectedOption")->text().startsWith("3"));
  QTest::keyClick(panel.input(), '3');
  const auto* result = std::get_if<ActionResult>(&panel.vm->phase());
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->headline, "Clicked **Add to cart**");
  bool pressedThird = false;
  for (const auto& effect : panel.desktop->effects())
    pressedThird |= effect.describe().find("#add3") != std::string::npos;
  EXPECT_TRUE(pressedThird);
}

TEST(PaletteWindowTest, HeightFollowsTheContentWithinItsCaps) {
  std::string tree = "AXWindow \"Long\" id=w\n  AXWebArea \"Long\" frame=0,100,1000,800\n";
  for (int i = 0; i < 200; ++i)
    tree += "    AXStaticText value=\"Line " + std::to_string(i) + " of a long page.\"\n";
  Panel panel(tree);
  const int idle = panel.window->height();
  panel.type("read this page");
  const int reading = panel.window->height();
  EXPECT_GT(reading, idle);
  auto* body = panel.window->findChild<QScrollArea*>();
  ASSERT_NE(body, nullptr);
  EXPECT_LE(body->height(), 260);
  EXPECT_LT(reading, idle + 400);  // the body scrolls instead of growing
  panel.vm->reset();
  EXPECT_EQ(panel.window->height(), idle);
}

TEST(PaletteWindowTest, CopyPutsTheResultsTextOnTheClipboard) {
  Panel panel;
  panel.type("read this page");
  ASSERT_NE(panel.button("copyButton"), nullptr);
  panel.button("copyButton")->click();
  EXPECT_TRUE(QGuiApplication::clipboard()->text().contains("Acme Plus costs $5 per month."));
  panel.vm->reset();
  panel.type("click sign in");
  EXPECT_EQ(panel.button("copyButton"), nullptr);  // nothing to copy there
}

TEST(PaletteWindowTest, OnboardingTurnsIntoThePaletteOnceAccessIsOn) {
  auto desktop = testing::browserDesktop(testing::kShopWindow);
  desktop->setTrusted(false);
  Panel panel(desktop);
  EXPECT_TRUE(panel.shows("Tovrin needs Accessibility access"));
  EXPECT_NE(panel.button("grantButton"), nullptr);
  panel.picture("onboarding");
  desktop->setTrusted(true);
  panel.button("enabledButton")->click();
  EXPECT_FALSE(panel.shows("Tovrin needs Accessibility access"));
  EXPECT_NE(panel.button("chip"), nullptr);
}

// Access granted behind the palette's back (the desktop's settings): the
// onboarding turns into the palette by itself, without a click.
TEST(PaletteWindowTest, OnboardingNoticesAccessGrantedElsewhere) {
  auto desktop = testing::browserDesktop(testing::kShopWindow);
  desktop->setTrusted(false);
  Panel panel(desktop);
  panel.window->show();
  ASSERT_TRUE(panel.shows("Tovrin needs Accessibility access"));
  desktop->setTrusted(true);
  QTRY_VERIFY_WITH_TIMEOUT(!panel.shows("Tovrin needs Accessibility access"), 5000);
  EXPECT_NE(panel.button("chip"), nullptr);
}

TEST(PaletteWindowTest, OnboardingAsksBeforeRestartingTheBrowser) {
  auto desktop = testing::browserDesktop(testing::kShopWindow);
  desktop->setTrusted(false);
  Panel panel(desktop);
  EXPECT_EQ(panel.button("restartBrowserButton"), nullptr);  // nothing to restart yet
  int restarts = 0;
  QObject::connect(panel.window.get(), &PaletteWindow::restartBrowserRequested,
                   [&] { ++restarts; });
  panel.window->setBrowserToRestart("Chromium");
  panel.button("restartBrowserButton")->click();
  QApplication::processEvents();
  EXPECT_TRUE(panel.shows("Restart Chromium with accessibility on? Its open tabs are restored."));
  panel.picture("onboarding-restart");
  panel.button("restartCancel")->click();
  QApplication::processEvents();
  EXPECT_EQ(restarts, 0);
  EXPECT_FALSE(panel.shows("Restart Chromium with accessibility on? Its open tabs are restored."));
  panel.button("restartBrowserButton")->click();
  QApplication::processEvents();
  panel.button("restartConfirm")->click();
  QApplication::processEvents();
  EXPECT_EQ(restarts, 1);
}

TEST(PaletteWindowTest, WithoutABrowserTheBadgeAndHintSaySo) {
  auto desktop = testing::sceneDesktop({{"apps", nlohmann::json::array()}});
  Panel panel(desktop);
  EXPECT_TRUE(panel.shows("No browser"));
  EXPECT_TRUE(panel.shows("Bring Chrome, Chromium, Firefox, GNOME Web, Brave or Edge to the front"));
}

TEST(PaletteWindowTest, EscapeInTheIdlePhaseHidesThePanel) {
  Panel panel;
  ASSERT_TRUE(panel.window->isVisible());
  panel.type("click buy now");
  QTest::keyClick(panel.input(), Qt::Key_Escape);  // declines the confirmation first
  EXPECT_TRUE(panel.window->isVisible());
  EXPECT_TRUE(std::holds_alternative<PaletteViewModel::Idle>(panel.vm->phase()));
  QTest::keyClick(panel.input(), Qt::Key_Escape);
  EXPECT_FALSE(panel.window->isVisible());
}

// Swallows activation changes, so the panel can be made inactive without
// hearing of it (as when the window manager's word comes late).
struct Deaf : QObject {
  bool eventFilter(QObject*, QEvent* event) override {
    return event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate;
  }
};

TEST(PaletteWindowTest, LosingTheFocusHidesThePanelShortlyAfter) {
  struct Case {
    const char* name;
    bool focusBack;  // the focus returns at once (a click on the panel's own button)
    bool reopened;   // closed and opened again before the delay ran out
    bool shownAfter;
  };
  const Case cases[] = {
      {"focus lost", false, false, false},
      {"focus straight back", true, false, true},
      {"reopened at once", false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Panel panel;
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    QApplication::processEvents();
    ASSERT_FALSE(panel.window->isActiveWindow());
    QEvent lost(QEvent::WindowDeactivate);
    QApplication::sendEvent(panel.window.get(), &lost);
    if (c.focusBack) QApplication::setActiveWindow(panel.window.get());
    if (c.reopened) {
      panel.window->hide();
      panel.window->present();
      QApplication::processEvents();  // the activation it asked for
      Deaf deaf;
      panel.window->installEventFilter(&deaf);
      QApplication::setActiveWindow(&other);
      ASSERT_FALSE(panel.window->isActiveWindow());
      QTest::qWait(400);
      panel.window->removeEventFilter(&deaf);
    } else {
      QTest::qWait(400);
    }
    EXPECT_EQ(panel.window->isVisible(), c.shownAfter);
  }
}

// Where elements' places on the screen are unknown, the choice works the
// same and the hint says there is no outline.
TEST(PaletteWindowTest, TheChoiceHintSaysWhetherElementsAreOutlined) {
  for (const bool outlines : {true, false}) {
    Panel panel;
    panel.window = std::make_unique<PaletteWindow>(
        panel.vm, PaletteWindow::Texts{"rules", "Alt+Space", outlines});
    panel.window->present();
    panel.type("click add to cart");
    EXPECT_EQ(panel.shows("outlined in the browser"), outlines);
    EXPECT_EQ(panel.shows("outlines are not available on this desktop"), !outlines);
    QTest::keyClick(panel.input(), Qt::Key_2);
    EXPECT_TRUE(panel.shows("Clicked")) << panel.window->shownTexts().join("|").toStdString();
  }
}

// A desktop like GNOME on Wayland: the palette is the active window, no
// program may raise another's, and the browser becomes active only when the
// palette's window goes away.
struct Compositor final : Workspace {
  explicit Compositor(std::shared_ptr<Workspace> desktop) : inner(std::move(desktop)) {}
  std::optional<RunningApplication> frontmostApplication() override {
    return front == 0 ? std::nullopt : inner->runningApplication(front);
  }
  std::optional<RunningApplication> runningApplication(int32_t pid) override {
    return inner->runningApplication(pid);
  }
  void observeActivations(std::function<void(const RunningApplication&)> h) override {
    inner->observeActivations(std::move(h));
  }
  void openPrivacySettings() override {}
  bool activate(int32_t) override { return false; }
  bool openURLs(const std::vector<std::string>&, const std::string&) override { return false; }
  std::shared_ptr<Workspace> inner;
  int32_t front = 0;  // 0: the palette, which says nothing about itself
};

TEST(PaletteWindowTest, CommandsThatSendKeysStepAsideAndTheOutcomeComesBack) {
  struct Case {
    const char* name;
    bool userLeaves;  // goes to another window while the command works
    bool shownAfter;
    bool noticed;  // the outcome went to a notice instead
  };
  const Case cases[] = {{"the user waits", false, true, false},
                        {"the user went elsewhere", true, false, true},
                        {"the palette closed meanwhile", false, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::shared_ptr<Compositor> compositor;
    bool leaves = false;
    Panel panel(testing::browserDesktop(testing::kShopWindow), std::make_shared<InlineExecutor>(),
                [&](Platform& platform, Panel& self) {
                  compositor = std::make_shared<Compositor>(platform.workspace);
                  compositor->front = 412;  // the browser, until the palette opens
                  platform.workspace = std::make_shared<StepAsideWorkspace>(
                      compositor,
                      [&self, &compositor, &leaves, &c] {
                        self.window->stepAside();
                        // The compositor hands the keyboard back to the browser.
                        compositor->front = 412;
                        leaves = c.userLeaves;
                        // Closed (the toggle, Settings) while the keys go.
                        if (std::string_view(c.name) == "the palette closed meanwhile")
                          self.window->dismiss();
                      },
                      std::chrono::milliseconds(500));
                });
    compositor->front = 0;
    panel.window->setUserElsewhere([&] { return leaves; });
    QStringList notices;
    QObject::connect(panel.window.get(), &PaletteWindow::outcomeUnseen,
                     [&](const QString& headline) { notices << headline; });
    panel.desktop->clearEffects();
    panel.type("press tab");
    // The keys went only once the browser was active, which the palette's
    // stepping aside allowed.
    bool keysSent = false;
    for (const Effect& effect : panel.desktop->effects())
      keysSent = keysSent || effect.kind == Effect::Kind::key;
    EXPECT_TRUE(keysSent);
    EXPECT_EQ(panel.window->isVisible(), c.shownAfter);
    EXPECT_EQ(!notices.isEmpty(), c.noticed);
    if (c.noticed) {
      EXPECT_TRUE(notices.front().contains("Tab")) << notices.front().toStdString();
    }
    if (c.shownAfter) {
      EXPECT_TRUE(panel.window->isActiveWindow());
    }
  }
}

TEST(PaletteWindowTest, TheFocusIsTakenBackOnlyIfTheUserStayed) {
  for (const bool elsewhere : {false, true}) {
    SCOPED_TRACE(elsewhere ? "went elsewhere" : "stayed");
    Panel panel;
    panel.window->setUserElsewhere([&] { return elsewhere; });
    QWidget other;
    other.show();
    QTest::keyClicks(panel.input(), "click sign in");
    // The command brings the browser forward; the user may click on.
    QApplication::setActiveWindow(&other);
    QTest::keyClick(panel.input(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow() == panel.window.get(), !elsewhere);
    EXPECT_TRUE(panel.shows("Clicked"));
  }
}

// Text and its background measured as the panel draws them, under a light
// and a dark theme: the WCAG contrast of the main text at least 4.5, of
// the secondary (toned) text at least 3.
TEST(PaletteWindowTest, TheTextStaysLegibleUnderLightAndDarkThemes) {
  auto luminance = [](QColor c) {
    auto channel = [](double v) {
      v /= 255.0;
      return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
  };
  auto contrast = [&](QColor a, QColor b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
  };
  auto over = [](QColor text, QColor back) {  // text's alpha blended onto the background
    const double a = text.alphaF();
    return QColor::fromRgbF(text.redF() * a + back.redF() * (1 - a),
                            text.greenF() * a + back.greenF() * (1 - a),
                            text.blueF() * a + back.blueF() * (1 - a));
  };
  const QPalette original = QApplication::palette();
  QPalette dark = original;
  dark.setColor(QPalette::Window, QColor(36, 36, 36));
  dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
  dark.setColor(QPalette::Base, QColor(30, 30, 30));
  dark.setColor(QPalette::Text, QColor(235, 235, 235));
  for (const QPalette& theme : {original, dark}) {
    QApplication::setPalette(theme);
    Panel panel;
    panel.type("what does the warranty cover?");
    QApplication::processEvents();
    const QImage shot = panel.window->grab().toImage();
    const QColor background = shot.pixelColor(shot.width() - 6, shot.height() / 2);
    auto* status = panel.window->findChild<QLabel*>("modelStatus");
    auto* headline = panel.window->findChild<QLabel*>("headline");
    ASSERT_NE(headline, nullptr);
    EXPECT_GE(contrast(headline->palette().color(QPalette::WindowText), background), 4.5)
        << background.name().toStdString();
    EXPECT_GE(contrast(over(status->palette().color(QPalette::WindowText), background), background),
              3.0)
        << background.name().toStdString();
  }
  QApplication::setPalette(original);
}

// Quitting while a page is being read: the read finishes before stop()
// returns, later work never starts, so nothing runs while the process ends.
TEST(QtExecutorTest, StopWaitsForTheWorkUnderWayAndDropsTheRest) {
  QtExecutor executor;
  std::atomic<int> done{0};
  std::atomic<bool> started{false};
  executor.inBackground([&] {
    started = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    done += 1;
  });
  executor.inBackground([&] { done += 10; });
  while (!started)
    std::this_thread::yield();
  executor.stop();
  EXPECT_EQ(done, 1);
  executor.inBackground([&] { done += 100; });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(done, 1);
}

}  // namespace
}  // namespace tovrin::desktop

int main(int argc, char** argv) {
  // Widgets without a display: Qt's offscreen platform.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Pictures of every view go under the build folder for a person to look at.
  setenv("TOVRIN_SCREENSHOT_DIR", TOVRIN_TEST_SCREENSHOT_DIR, 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
