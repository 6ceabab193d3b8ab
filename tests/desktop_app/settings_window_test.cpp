// The settings window over a simulated desktop's store, offscreen.

#include "desktop/settings_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "ai/model_settings.h"
#include "desktop_app/placement_check.h"
#include "support/scene_tree.h"

namespace tovrin::desktop {
namespace {

struct Settings {
  std::shared_ptr<SimulatedDesktop> desktop = testing::browserDesktop("AXWindow \"W\"");
  QTemporaryDir config;
  std::vector<int> grabbed;  // presets the window asked for
  std::string problem;       // what the next grab answers
  bool trusted = true;
  int modelChanges = 0;
  std::unique_ptr<SettingsWindow> window;

  Settings() {
    desktop->platform().defaults->setString("profile.email", "ada@example.com");
    window = std::make_unique<SettingsWindow>(
        SettingsWindow::Services{
            .defaults = desktop->platform().defaults,
            .modelStatus = "Using built-in rules (no local model set up)",
            .modelChanged = [this] { ++modelChanges; },
            .useHotkey =
                [this](const HotkeyPreset& p) {
                  grabbed.push_back(p.id);
                  return problem;
                },
            .trusted = [this] { return trusted; },
            .fixAccessibility = [this] { trusted = true; },
            .desktopShortcut = {},
            .setDesktopShortcut = {},
            .configLines =
                [](const HotkeyPreset& p) {
                  return std::vector<std::string>{"bind " + std::to_string(p.id)};
                },
            .autostartFile = (config.path() + "/autostart/tovrin.desktop").toStdString(),
            .executable = "/opt/tovrin/bin/tovrin"},
        "");
    window->present();
  }
  template <typename W>
  W* find(const char* name) const {
    return window->findChild<W*>(name);
  }
  void picture() const {
    if (const char* dir = std::getenv("TOVRIN_SCREENSHOT_DIR")) {
      QDir().mkpath(dir);
      window->grab().save(QString(dir) + "/settings.png");
    }
  }
};

// Opens centred on the screen, then reopens wherever the user moved it.
TEST(SettingsWindowTest, OpensCentredAndReopensWhereItWasLeft) {
  Settings s;
  expectCentredThenWhereLeft(*s.window);
}

TEST(SettingsWindowTest, DetailsAreStoredAsTheyAreTyped) {
  Settings s;
  auto* email = s.find<QLineEdit>("profile.email");
  ASSERT_NE(email, nullptr);
  EXPECT_EQ(email->text(), "ada@example.com");
  s.picture();
  email->selectAll();
  QTest::keyClick(email, Qt::Key_Backspace);  // cleared: the empty text is what is kept
  EXPECT_EQ(s.desktop->platform().defaults->string("profile.email"), "");
  QTest::keyClicks(s.find<QLineEdit>("profile.name"), "Ada");
  EXPECT_EQ(s.desktop->platform().defaults->string("profile.name"), "Ada");
}

TEST(SettingsWindowTest, AnotherPresetIsStoredGrabbedAndItsStatusShown) {
  Settings s;
  auto* preset = s.find<QComboBox>("preset");
  ASSERT_NE(preset, nullptr);
  EXPECT_EQ(preset->currentText(), "Alt+Space");
  struct Case {
    int index;
    std::string problem;
    QString status;
  } cases[] = {{2, "Super+Shift+Space is used by another program",
                "Super+Shift+Space is used by another program"},
               {1, "", "Ctrl+Space opens Tovrin"}};
  for (const Case& c : cases) {
    s.problem = c.problem;
    preset->setCurrentIndex(c.index);
    emit preset->activated(c.index);
    EXPECT_EQ(s.desktop->platform().defaults->integer("hotkeyPreset"), c.index);
    EXPECT_EQ(s.grabbed.back(), c.index);
    EXPECT_EQ(s.find<QLabel>("presetStatus")->text(), c.status);
    // The compositor's config lines follow the chosen chord.
    EXPECT_TRUE(s.find<QLabel>("configLines")->text().endsWith(QString("bind %1").arg(c.index)));
  }
}

TEST(SettingsWindowTest, StartingAtLoginWritesAndRemovesTheAutostartEntry) {
  Settings s;
  const QString path = s.config.path() + "/autostart/tovrin.desktop";
  auto* box = s.find<QCheckBox>("autostart");
  EXPECT_FALSE(box->isChecked());
  box->setChecked(true);
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QString entry = QString::fromUtf8(file.readAll());
  EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
  EXPECT_TRUE(entry.contains("\nExec=/opt/tovrin/bin/tovrin\n"));
  box->setChecked(false);
  EXPECT_FALSE(QFile::exists(path));
}

TEST(SettingsWindowTest, TheModelServerIsKeptOnlyWhenItIsOnThisComputer) {
  Settings s;
  auto store = s.desktop->platform().defaults;
  auto* kind = s.find<QComboBox>("modelKind");
  auto* address = s.find<QLineEdit>("modelAddress");
  auto* name = s.find<QLineEdit>("modelName");
  ASSERT_TRUE(kind && address && name);
  EXPECT_EQ(kind->currentIndex(), 0);
  EXPECT_FALSE(address->isEnabled());
  struct Step {
    int kind;
    QString address, name;
    std::optional<std::string> stored;  // the dialect in the store afterwards
    QString problem;                    // part of what the window says
  };
  const Step steps[] = {
      {1, "", "llama3.2", "ollama", ""},  // the default address filled in
      {2, "http://192.168.1.20:8080", "qwen", "ollama", "is not this computer"},
      {2, "http://127.0.0.1:8080/v1", "", "ollama", "model's name"},
      {2, "http://127.0.0.1:8080/v1", "qwen", "openai", ""},
      {0, "", "", "off", ""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.address.toStdString());
    kind->setCurrentIndex(step.kind);
    if (!step.address.isEmpty()) address->setText(step.address);
    name->setText(step.name);
    emit kind->activated(step.kind);
    EXPECT_EQ(store->string(ModelSettings::kDialectKey), step.stored);
    const QString problem = s.find<QLabel>("modelProblem")->text();
    if (step.problem.isEmpty()) {
      EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
    } else {
      EXPECT_TRUE(problem.contains(step.problem)) << problem.toStdString();
    }
  }
  EXPECT_EQ(store->string(ModelSettings::kAddressKey), "http://127.0.0.1:8080/v1");
  EXPECT_EQ(s.modelChanges, 5);
  s.window->setModelStatus(
      "On-device model: qwen via an OpenAI-compatible server (127.0.0.1:8080)");
  EXPECT_EQ(s.find<QLabel>("modelStatus")->text().toStdString(),
            "On-device model: qwen via an OpenAI-compatible server (127.0.0.1:8080)");
}

TEST(SettingsWindowTest, TheAccessibilityRowFollowsTrustAndItsFix) {
  Settings s;
  s.trusted = false;
  s.window->present();
  EXPECT_EQ(s.find<QLabel>("trustText")->text(), "Accessibility access missing");
  s.find<QPushButton>("fixAccessibility")->click();
  EXPECT_EQ(s.find<QLabel>("trustText")->text(), "Accessibility access granted");
}

}  // namespace
}  // namespace tovrin::desktop
