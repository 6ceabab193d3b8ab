#include "desktop/settings_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <cstdlib>

#include "ai/model_settings.h"
#include "desktop/placement.h"
#include "desktop/symbols.h"
#include "platform/linux/x11/x11_hotkey.h"

namespace tovrin::desktop {
namespace {

QString q(const std::string& text) {
  return QString::fromStdString(text);
}

QLabel* note(const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setWordWrap(true);
  QFont f = l->font();
  f.setPointSizeF(f.pointSizeF() * 0.9);
  l->setFont(f);
  return l;
}

}  // namespace

std::string autostartPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string base = config && *config ? config : std::string(home ? home : ".") + "/.config";
  return base + "/autostart/tovrin.desktop";
}

SettingsWindow::SettingsWindow(Services services, std::string hotkeyProblem, QWidget* parent)
    : QWidget(parent, Qt::Window),
      services_(std::move(services)),
      hotkeyProblem_(std::move(hotkeyProblem)) {
  setObjectName("TovrinSettings");
  setWindowTitle("Tovrin Settings");
  resize(460, 640);
  auto* column = new QVBoxLayout(this);
  Defaults* defaults = services_.defaults.get();

  auto* shortcut = new QGroupBox("Global shortcut", this);
  auto* shortcutForm = new QFormLayout(shortcut);
  preset_ = new QComboBox(shortcut);
  preset_->setObjectName("preset");
  for (const HotkeyPreset& p : hotkeyPresets())
    preset_->addItem(q(hotkeyTitle(p)), p.id);
  shortcutForm->addRow("Open Tovrin", preset_);
  presetStatus_ = note({}, shortcut);
  presetStatus_->setObjectName("presetStatus");
  shortcutForm->addRow(QString(), presetStatus_);
  connect(preset_, &QComboBox::activated, this, [this, defaults](int index) {
    const int id = preset_->itemData(index).toInt();
    if (defaults) defaults->setInteger(std::string(SettingsKeys::kHotkeyPreset), id);
    const HotkeyPreset& chosen = HotkeySettings::current(defaults);
    hotkeyProblem_ = services_.useHotkey ? services_.useHotkey(chosen) : std::string();
    refresh();
  });
  if (services_.desktopShortcut && services_.setDesktopShortcut) {
    desktopShortcut_ = new QCheckBox("Add it to GNOME's keyboard shortcuts", shortcut);
    desktopShortcut_->setObjectName("desktopShortcut");
    shortcutForm->addRow(QString(), desktopShortcut_);
    connect(desktopShortcut_, &QCheckBox::toggled, this, [this](bool on) {
      hotkeyProblem_ = services_.setDesktopShortcut(on);
      refresh();
    });
  }
  if (services_.configLines) {
    configLines_ = note({}, shortcut);
    configLines_->setObjectName("configLines");
    configLines_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    shortcutForm->addRow(QString(), configLines_);
  }
  column->addWidget(shortcut);

  auto* details = new QGroupBox("Fill-in details (optional)", this);
  auto* detailsForm = new QFormLayout(details);
  const std::pair<const char*, std::string_view> fields[] = {{"Name", SettingsKeys::kName},
                                                             {"Email", SettingsKeys::kEmail},
                                                             {"Phone", SettingsKeys::kPhone}};
  for (const auto& [title, key] : fields) {
    auto* edit = new QLineEdit(details);
    edit->setObjectName(QString("profile.") + QString(title).toLower());
    if (defaults) edit->setText(q(defaults->string(std::string(key)).value_or("")));
    // Every edit is kept at once; an emptied field stores the empty text.
    connect(edit, &QLineEdit::textEdited, this,
            [defaults, key = std::string(key)](const QString& t) {
              if (defaults) defaults->setString(key, t.toStdString());
            });
    detailsForm->addRow(title, edit);
  }
  detailsForm->addRow(
      note("Only used for commands like “Fill in my email”. Tovrin never invents "
           "personal information.",
           details));
  column->addWidget(details);

  // The local model server: kept only when its address is on this computer.
  auto* server = new QGroupBox("On-device model", this);
  auto* serverForm = new QFormLayout(server);
  modelKind_ = new QComboBox(server);
  modelKind_->setObjectName("modelKind");
  modelKind_->addItem("Built-in rules only");
  modelKind_->addItem("Ollama");
  modelKind_->addItem("OpenAI-compatible server");
  serverForm->addRow("Model server", modelKind_);
  modelAddress_ = new QLineEdit(server);
  modelAddress_->setObjectName("modelAddress");
  serverForm->addRow("Address", modelAddress_);
  modelName_ = new QLineEdit(server);
  modelName_->setObjectName("modelName");
  modelName_->setPlaceholderText("as “tovrin model” lists it");
  serverForm->addRow("Model", modelName_);
  modelProblem_ = note({}, server);
  modelProblem_->setObjectName("modelProblem");
  modelProblem_->setStyleSheet("color: rgb(207,34,46);");
  serverForm->addRow(QString(), modelProblem_);
  serverForm->addRow(
      note("Tovrin only talks to a model server on this computer (127.0.0.1, ::1 "
           "or localhost).",
           server));
  connect(modelKind_, &QComboBox::activated, this, [this](int) { applyModel(); });
  connect(modelAddress_, &QLineEdit::editingFinished, this, [this] { applyModel(); });
  connect(modelName_, &QLineEdit::editingFinished, this, [this] { applyModel(); });
  column->addWidget(server);

  auto* privacy = new QGroupBox("Privacy", this);
  auto* privacyColumn = new QVBoxLayout(privacy);
  privacyColumn->addWidget(
      note("Everything runs on this computer. No telemetry, no analytics, no "
           "network calls. Page text lives in memory only while a command "
           "runs and is never written to disk.",
           privacy));
  modelStatus_ = note(q(services_.modelStatus), privacy);
  modelStatus_->setObjectName("modelStatus");
  privacyColumn->addWidget(modelStatus_);
  auto* trustRow = new QHBoxLayout();
  trustIcon_ = new QLabel(privacy);
  trustText_ = new QLabel(privacy);
  trustText_->setObjectName("trustText");
  trustRow->addWidget(trustIcon_);
  trustRow->addWidget(trustText_, 1);
  auto* fix = new QPushButton("Turn On Accessibility…", privacy);
  fix->setObjectName("fixAccessibility");
  connect(fix, &QPushButton::clicked, this, [this] {
    if (services_.fixAccessibility) services_.fixAccessibility();
    refresh();
  });
  trustRow->addWidget(fix);
  privacyColumn->addLayout(trustRow);
  column->addWidget(privacy);

  autostart_ = new QCheckBox("Start Tovrin at login", this);
  autostart_->setObjectName("autostart");
  connect(autostart_, &QCheckBox::toggled, this, [this](bool on) { setAutostart(on); });
  column->addWidget(autostart_);
  column->addStretch(1);
  refresh();
}

void SettingsWindow::present() {
  refresh();
  centreOnce(*this);
  show();
  raise();
  activateWindow();
}

void SettingsWindow::setHotkeyProblem(std::string problem) {
  hotkeyProblem_ = std::move(problem);
  refresh();
}

void SettingsWindow::refresh() {
  const HotkeyPreset& current = HotkeySettings::current(services_.defaults.get());
  preset_->setCurrentIndex(preset_->findData(current.id));
  presetStatus_->setText(hotkeyProblem_.empty() ? q(hotkeyTitle(current) + " opens Tovrin")
                                                : q(hotkeyProblem_));
  presetStatus_->setStyleSheet(hotkeyProblem_.empty() ? "" : "color: rgb(207,34,46);");
  if (desktopShortcut_ != nullptr) {
    const std::optional<std::string> chord = services_.desktopShortcut();
    const QSignalBlocker quiet(desktopShortcut_);
    desktopShortcut_->setChecked(chord.has_value());
    desktopShortcut_->setToolTip(chord ? q("In GNOME's keyboard shortcuts as " + *chord)
                                       : q("Not in GNOME's keyboard shortcuts"));
  }
  if (configLines_ != nullptr) {
    QString lines = "Add these lines to your config file, then reload it:";
    for (const std::string& line : services_.configLines(current))
      lines += "\n" + q(line);
    configLines_->setText(lines);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    configLines_->setFont(mono);
  }
  const bool trusted = services_.trusted && services_.trusted();
  trustIcon_->setPixmap(symbol(trusted ? "checkmark.seal.fill" : "xmark.seal.fill",
                               trusted ? QColor(46, 160, 67) : QColor(207, 34, 46))
                            .pixmap(18, 18));
  trustText_->setText(trusted ? "Accessibility access granted" : "Accessibility access missing");
  const QSignalBlocker quiet(autostart_);
  autostart_->setChecked(QFileInfo::exists(q(services_.autostartFile)));
  showStoredModel();
}

void SettingsWindow::setModelStatus(const std::string& text) {
  modelStatus_->setText(q(text));
}

void SettingsWindow::showStoredModel() {
  if (!services_.defaults) return;
  const ModelSettings::Stored stored = ModelSettings::load(*services_.defaults);
  const QSignalBlocker quietKind(modelKind_);
  if (stored.config) {
    modelKind_->setCurrentIndex(stored.config->dialect == ServerDialect::ollama ? 1 : 2);
    modelAddress_->setText(q(stored.config->address));
    modelName_->setText(q(stored.config->model));
  } else {
    modelKind_->setCurrentIndex(0);
  }
  const bool on = modelKind_->currentIndex() != 0;
  modelAddress_->setEnabled(on);
  modelName_->setEnabled(on);
  modelProblem_->setText(q(stored.problem));
}

void SettingsWindow::applyModel() {
  Defaults* defaults = services_.defaults.get();
  if (!defaults) return;
  const int kind = modelKind_->currentIndex();
  modelAddress_->setEnabled(kind != 0);
  modelName_->setEnabled(kind != 0);
  std::string problem;
  if (kind == 0) {
    ModelSettings::save(*defaults, std::nullopt);
  } else {
    const ServerDialect dialect = kind == 1 ? ServerDialect::ollama : ServerDialect::openai;
    if (modelAddress_->text().trimmed().isEmpty()) {
      modelAddress_->setText(
          q("http://127.0.0.1:" + std::to_string(LocalServer::defaultPort(dialect))));
    }
    const std::string address = modelAddress_->text().trimmed().toStdString();
    const std::string name = modelName_->text().trimmed().toStdString();
    auto checked = LocalServer::loopbackEndpoint(address, dialect);
    if (auto* refusal = std::get_if<std::string>(&checked)) {
      problem = *refusal + "; not saved.";
    } else if (name.empty()) {
      problem = "Give the model's name as the server lists it.";
    } else {
      ModelSettings::save(*defaults, ServerConfig{dialect, address, name});
    }
  }
  modelProblem_->setText(q(problem));
  if (services_.modelChanged) services_.modelChanged();
}

void SettingsWindow::setAutostart(bool on) {
  const QString path = q(services_.autostartFile);
  if (!on) {
    QFile::remove(path);
    return;
  }
  QDir().mkpath(QFileInfo(path).path());
  QSaveFile file(path);  // written whole or not at all
  if (!file.open(QIODevice::WriteOnly)) return;
  file.write(QString("[Desktop Entry]\nType=Application\nName=Tovrin\nComment=Command palette for "
                     "web browsers\nExec=%1\nIcon=tovrin\nTerminal=false\n"
                     "X-GNOME-Autostart-enabled=true\n")
                 .arg(services_.executable.find(' ') == std::string::npos
                          ? q(services_.executable)
                          : "\"" + q(services_.executable) + "\"")
                 .toUtf8());
  file.commit();
}

}  // namespace tovrin::desktop
