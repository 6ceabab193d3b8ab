// The hotkey through the desktop's GlobalShortcuts portal, against a portal
// of the test's own on a private session bus: what Tovrin asks for, that a
// press toggles the palette, that a new preset closes the old session before
// binding again, and that a missing or refusing portal is told to the user.

#include "desktop/portal_shortcut.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

#include "desktop/palette_window.h"
#include "desktop/settings_window.h"
#include "desktop/tovrin_app.h"
#include "support/scene_tree.h"

namespace tovrin::desktop {
namespace {

// A portal as desktops implement it: every call answers with a request
// path, and the result comes as that request's Response signal.
class FakePortal final : public QDBusVirtualObject {
 public:
  // bind: shortcuts are bound by BindShortcuts (KDE Plasma 6, GNOME 48);
  // bindWithSession: by CreateSession's option, as KDE Plasma 5.27 does,
  // whose BindShortcuts only opens System Settings.
  enum class Answer { bind, bindWithSession, declineBind, failSession };

  explicit FakePortal(Answer answer)
      : answer_(answer),
        bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "portal")) {
    registerPortalTypes();
    EXPECT_TRUE(bus_.registerService(kPortalService));
    EXPECT_TRUE(bus_.registerVirtualObject(kPortalPath, this, QDBusConnection::SubPath));
  }
  ~FakePortal() override {
    bus_.unregisterObject(kPortalPath, QDBusConnection::UnregisterTree);
    bus_.unregisterService(kPortalService);
    QDBusConnection::disconnectFromBus("portal");
  }

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString member = message.member();
    if (member == "Close") {
      calls << "Close " + message.path();
      connection.send(message.createReply());
      return true;
    }
    const QList<QVariant> args = message.arguments();
    if (member == "CreateSession") {
      const auto options = qdbus_cast<QVariantMap>(args.at(0));
      session =
          QString(kPortalPath) + "/session/x/" + options.value("session_handle_token").toString();
      calls << "CreateSession";
      if (answer_ == Answer::bindWithSession)
        bound = qdbus_cast<PortalShortcutList>(options.value("shortcuts"));
      respond(message, connection, options.value("handle_token").toString(),
              answer_ == Answer::failSession ? 2u : 0u,
              {{"session_handle", QVariant::fromValue(QDBusObjectPath(session))}});
      return true;
    }
    if (member == "ListShortcuts") {
      const auto options = qdbus_cast<QVariantMap>(args.at(1));
      calls << "ListShortcuts";
      respond(message, connection, options.value("handle_token").toString(), 0u,
              {{"shortcuts", QVariant::fromValue(bound)}});
      return true;
    }
    if (member == "BindShortcuts") {
      const auto shortcuts = qdbus_cast<PortalShortcutList>(args.at(1));
      const auto options = qdbus_cast<QVariantMap>(args.at(3));
      calls << "BindShortcuts " + qdbus_cast<QDBusObjectPath>(args.at(0)).path();
      for (const PortalShortcutEntry& s : shortcuts) {
        calls << s.id + " " + s.options.value("preferred_trigger").toString() + " " +
                     s.options.value("description").toString();
      }
      if (answer_ == Answer::bind) bound = {{"toggle", {{"trigger_description", "Alt+Space"}}}};
      respond(message, connection, options.value("handle_token").toString(),
              answer_ == Answer::declineBind ? 1u : 0u,
              {{"shortcuts", QVariant::fromValue(bound)}});
      return true;
    }
    return false;
  }

  void press(const QString& sessionPath, const QString& id) {
    QDBusMessage signal = QDBusMessage::createSignal(kPortalPath, kShortcutsInterface, "Activated");
    signal.setArguments({QVariant::fromValue(QDBusObjectPath(sessionPath)), id,
                         QVariant::fromValue(quint64(1)), QVariantMap()});
    bus_.send(signal);
  }

  QStringList calls;
  QString session;
  PortalShortcutList bound;  // what the desktop has bound for Tovrin

 private:
  void respond(const QDBusMessage& message, const QDBusConnection& connection, const QString& token,
               uint code, const QVariantMap& results) {
    const QString request = QString(kPortalPath) + "/request/" +
                            message.service().mid(1).replace('.', '_') + "/" + token;
    connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    QDBusMessage response =
        QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
    response.setArguments({code, results});
    connection.send(response);
  }

  Answer answer_;
  QDBusConnection bus_;
};

struct App {
  explicit App(const std::function<void(TovrinApplication::Services&)>& desk = {})
      : desktop(testing::browserDesktop(testing::kShopWindow)) {
    TovrinApplication::Services services{.platform = desktop->platform(),
                                         .model = nullptr,
                                         .modelStatus = "rules",
                                         .checkModel = {},
                                         .pollActivations = {},
                                         .outlines = false,
                                         .stepAside = false,
                                         .grabHotkey = false,
                                         .usePortal = true,
                                         .desktopShortcut = {},
                                         .setDesktopShortcut = {},
                                         .placePalette = {},
                                         .configLines = {},
                                         .fixAccessibility = {},
                                         .browserToRestart = {},
                                         .restartBrowser = {}};
    if (desk) desk(services);
    app = std::make_unique<TovrinApplication>(services);
    EXPECT_EQ(app->start(), TovrinApplication::Start::running);
  }
  std::shared_ptr<SimulatedDesktop> desktop;
  std::unique_ptr<TovrinApplication> app;
};

TEST(PortalShortcutTest, ThePortalsShortcutTogglesThePaletteAndANewPresetRebinds) {
  FakePortal portal(FakePortal::Answer::bind);
  App app;
  ASSERT_TRUE(QTest::qWaitFor([&] { return portal.calls.size() >= 4; }, 5000))
      << portal.calls.join("|").toStdString();
  const QString first = portal.session;
  EXPECT_EQ(portal.calls, (QStringList{"CreateSession", "ListShortcuts", "BindShortcuts " + first,
                                       "toggle ALT+space Open or close the Tovrin palette"}));
  EXPECT_TRUE(app.app->hotkeyProblem().empty());

  // Presses of another session or shortcut are not ours.
  portal.press(first + "_other", "toggle");
  portal.press(first, "something-else");
  portal.press(first, "toggle");
  ASSERT_TRUE(QTest::qWaitFor([&] { return app.app->palette()->isVisible(); }, 5000));
  QTest::qWait(100);
  EXPECT_TRUE(app.app->palette()->isVisible());
  portal.press(first, "toggle");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !app.app->palette()->isVisible(); }, 5000));

  // Ctrl+Space chosen in Settings: the old session is closed first.
  portal.calls.clear();
  app.app->Settings();
  auto* preset = app.app->settings()->findChild<QComboBox*>("preset");
  ASSERT_NE(preset, nullptr);
  preset->setCurrentIndex(preset->findData(1));
  emit preset->activated(preset->currentIndex());
  ASSERT_TRUE(QTest::qWaitFor([&] { return portal.calls.size() >= 4; }, 5000))
      << portal.calls.join("|").toStdString();
  EXPECT_EQ(portal.calls,
            (QStringList{"Close " + first, "CreateSession", "BindShortcuts " + portal.session,
                         "toggle CTRL+space Open or close the Tovrin palette"}));
  EXPECT_NE(portal.session, first);
  // The closed session's presses no longer count.
  portal.press(first, "toggle");
  QTest::qWait(200);
  EXPECT_FALSE(app.app->palette()->isVisible());
}

TEST(PortalShortcutTest, APortalThatBindsWithTheSessionIsNotAskedAgain) {
  FakePortal portal(FakePortal::Answer::bindWithSession);
  App app;
  ASSERT_TRUE(QTest::qWaitFor([&] { return portal.calls.size() >= 2; }, 5000));
  QTest::qWait(200);
  // BindShortcuts would only open System Settings on this desktop.
  EXPECT_EQ(portal.calls, (QStringList{"CreateSession", "ListShortcuts"}));
  EXPECT_TRUE(app.app->hotkeyProblem().empty());
  portal.press(portal.session, "toggle");
  EXPECT_TRUE(QTest::qWaitFor([&] { return app.app->palette()->isVisible(); }, 5000));
}

TEST(PortalShortcutTest, WithoutAPortalGnomesOwnShortcutIsOfferedAndAdded) {
  std::optional<std::string> gnomeChord;
  std::vector<bool> asked;
  App app([&](TovrinApplication::Services& services) {
    services.desktopShortcut = [&] { return gnomeChord; };
    services.setDesktopShortcut = [&](const HotkeyPreset&, bool on) {
      asked.push_back(on);
      gnomeChord = on ? std::optional<std::string>("<Alt>space") : std::nullopt;
      return std::string();
    };
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !app.app->hotkeyProblem().empty(); }, 5000));
  EXPECT_EQ(app.app->hotkeyProblem(),
            "Alt+Space isn't set up: this version of GNOME lets programs add no shortcuts of "
            "their own");
  auto* add = app.app->palette()->findChild<QPushButton*>("addShortcutButton");
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add->text(), "Add Alt+Space to GNOME's Shortcuts");
  add->click();
  EXPECT_EQ(asked, std::vector<bool>{true});
  EXPECT_TRUE(app.app->hotkeyProblem().empty());
  EXPECT_TRUE(app.app->palette()->shownTexts().join("\n").contains("Alt+Space now opens Tovrin"));

  // Settings shows it in place, and taking it out brings the problem back.
  app.app->Settings();
  auto* box = app.app->settings()->findChild<QCheckBox*>("desktopShortcut");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isChecked());
  box->setChecked(false);
  EXPECT_EQ(asked, (std::vector<bool>{true, false}));
  EXPECT_FALSE(app.app->hotkeyProblem().empty());

  // Already in place when Tovrin starts: no problem at all.
  gnomeChord = "<Alt>space";
  App again([&](TovrinApplication::Services& services) {
    services.desktopShortcut = [&] { return gnomeChord; };
    services.setDesktopShortcut = [&](const HotkeyPreset&, bool) { return std::string(); };
  });
  QTest::qWait(300);
  EXPECT_TRUE(again.app->hotkeyProblem().empty());
}

TEST(PortalShortcutTest, WithoutAWillingPortalTheUserIsToldOnce) {
  struct Case {
    std::optional<FakePortal::Answer> answer;
    const char* problem;
  };
  const Case cases[] = {
      {std::nullopt,
       "Alt+Space could not be set up: this desktop offers no global shortcuts to programs"},
      {FakePortal::Answer::declineBind,
       "Alt+Space could not be set up: the shortcut was declined in the desktop's dialog"},
      {FakePortal::Answer::failSession,
       "Alt+Space could not be set up: the desktop's shortcut service could not bind it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    std::optional<FakePortal> portal;
    if (c.answer) portal.emplace(*c.answer);
    ::testing::internal::CaptureStderr();
    App app;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !app.app->hotkeyProblem().empty(); }, 5000));
    EXPECT_EQ(app.app->hotkeyProblem(), c.problem);
    // No tray on this platform: the palette comes up with the advice.
    EXPECT_TRUE(app.app->palette()->isVisible());
    EXPECT_TRUE(app.app->palette()->shownTexts().join("\n").contains("Choose another shortcut"));
    // Failing again (another chord tried) tells nobody twice.
    app.app->Settings();
    auto* preset = app.app->settings()->findChild<QComboBox*>("preset");
    emit preset->activated(1);
    QTest::qWait(300);
    const std::string told = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(told.find("tovrin: " + std::string(c.problem)), 0U) << told;
    EXPECT_EQ(told.find("tovrin:", 1), std::string::npos) << told;
  }
}

}  // namespace
}  // namespace tovrin::desktop

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  if (!QDBusConnection::sessionBus().isConnected()) {
    std::fprintf(stderr, "portal tests need a session bus (run under dbus-run-session)\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
