#include "desktop/tovrin_app.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <sstream>
#include <thread>
#include <utility>

#include "actions/highlighter.h"
#include "desktop/inspector_window.h"
#include "desktop/outline.h"
#include "desktop/palette_window.h"
#include "desktop/portal_shortcut.h"
#include "desktop/qt_executor.h"
#include "desktop/settings_window.h"
#include "desktop/step_aside_workspace.h"
#include "desktop/symbols.h"
#include "platform/linux/x11/x11_hotkey.h"
#include "ui/palette_controls.h"

namespace tovrin::desktop {

TovrinApplication::TovrinApplication(Services services) : services_(std::move(services)) {
  // Delayed work (an outline's end) runs on Qt's clock whichever desktop
  // the commands act on: a scene's clock only moves when a command waits,
  // so its timers would pile up in an application that runs for days.
  services_.platform.timers = std::make_shared<QtTimers>();
  // Where places on the screen are known, outlines are windows of ours.
  if (services_.outlines) services_.platform.overlay = std::make_shared<QtOverlay>();
  if (services_.stepAside && services_.platform.workspace) {
    services_.platform.workspace = std::make_shared<StepAsideWorkspace>(
        services_.platform.workspace, [this] { stepPaletteAside(); });
  }
  tracker_ = std::make_shared<BrowserTracker>(services_.platform);
  tracker_->start();
  executor_ = std::make_shared<QtExecutor>();
  highlighter_ = std::make_shared<Highlighter>(services_.platform);
  vm_ = PaletteViewModel::make({.platform = services_.platform,
                                .tracker = tracker_,
                                .model = services_.model,
                                .highlighter = highlighter_,
                                .executor = executor_});
  // The page is read while the command is typed; TOVRIN_READ_AHEAD=off
  // turns that off, so that a benchmark can time both ways side by side.
  if (const char* readAhead = std::getenv("TOVRIN_READ_AHEAD");
      readAhead == nullptr || std::string_view(readAhead) != "off") {
    auto prefetch = PagePrefetch::make(executor_);
    if (std::getenv("TOVRIN_TRACE") != nullptr) {
      prefetch->onRead(
          [](const std::string& line) { std::fprintf(stderr, "prefetch: %s\n", line.c_str()); });
    }
    vm_->readAheadWith(std::move(prefetch));
  }
  const std::string chord = hotkeyTitle(HotkeySettings::current(services_.platform.defaults.get()));
  palette_ = std::make_unique<PaletteWindow>(
      vm_, PaletteWindow::Texts{services_.modelStatus, chord, services_.outlines});
  palette_->setUserElsewhere([this] { return userElsewhere(); });
  connect(palette_.get(), &PaletteWindow::outcomeUnseen, this, &TovrinApplication::notify);
  connect(palette_.get(), &PaletteWindow::settingsRequested, this, &TovrinApplication::Settings);
  connect(palette_.get(), &PaletteWindow::inspectorRequested, this, &TovrinApplication::Inspector);
  connect(palette_.get(), &PaletteWindow::hidden, this, [this] {
    if (services_.platform.overlay) services_.platform.overlay->hideOutline();
  });
  connect(palette_.get(), &PaletteWindow::turnOnAccessibilityRequested, this, [this] {
    if (services_.fixAccessibility) services_.fixAccessibility();
    vm_->refreshContext();
  });
  connect(palette_.get(), &PaletteWindow::restartBrowserRequested, this,
          &TovrinApplication::restartBrowser);
  connect(palette_.get(), &PaletteWindow::shortcutOfferTaken, this,
          [this] { useDesktopShortcut(true); });
  // TOVRIN_TRACE=1 tells each phase on standard error, for finding out
  // what the palette did when nobody was looking.
  if (std::getenv("TOVRIN_TRACE") != nullptr) {
    vm_->onChange([vm = vm_.get()] {
      std::string text = "palette: ";
      const auto& phase = vm->phase();
      if (std::holds_alternative<PaletteViewModel::Idle>(phase))
        text += "idle, input “" + vm->input + "”";
      if (const auto* w = std::get_if<PaletteViewModel::Working>(&phase))
        text += "working: " + w->status;
      // Details on lines of their own, for a reader of the trace (the
      // demo's transcript is made of these).
      auto detail = [&text](const std::string& line) { text += "\npalette:   " + line; };
      if (const auto* r = std::get_if<ActionResult>(&phase)) {
        const char* mark = r->kind == ActionResult::Kind::success   ? "✓ "
                           : r->kind == ActionResult::Kind::failure ? "✗ "
                                                                    : "• ";
        text += "result: " + std::string(mark) + r->headline;
        if (r->body) {
          std::istringstream lines(*r->body);
          int shown = 0;
          for (std::string line; std::getline(lines, line) && shown < 8;) {
            if (!line.empty()) detail(line), ++shown;
          }
        }
        for (const FoundItem& item : r->items)
          detail("• " + item.text);
        // How the page was read: after Return, or while the command was typed.
        for (const std::string& line : r->debug) {
          if (line.rfind("Read ", 0) == 0) detail("why: " + line);
        }
      }
      if (const auto* c = std::get_if<Confirmation>(&phase))
        text += "confirm: " + c->title + "\npalette:   " + c->message;
      if (const auto* c = std::get_if<ChoiceSet>(&phase)) {
        text += "choose: " + c->prompt;
        for (std::size_t i = 0; i < c->options.size(); ++i)
          detail(std::to_string(i + 1) + ". " + c->options[i].title + " — " +
                 c->options[i].subtitle);
      }
      std::fprintf(stderr, "%s\n", text.c_str());
    });
    // Where the keyboard went: on Wayland the compositor decides.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [](QWindow* window) {
      std::fprintf(stderr, "focus: %s\n",
                   window ? window->title().toUtf8().constData() : "another program");
    });
    connect(palette_.get(), &PaletteWindow::hidden, this,
            [] { std::fprintf(stderr, "palette: hidden\n"); });
    connect(qApp, &QApplication::focusChanged, this, [](QWidget*, QWidget* now) {
      if (now != nullptr && !now->objectName().isEmpty())
        std::fprintf(stderr, "focus: on %s\n", now->objectName().toUtf8().constData());
    });
  }
}

TovrinApplication::~TovrinApplication() {
  // Nothing may still read a page once the process starts to end.
  executor_->stop();
  // The name goes with the instance, so a new one can start at once.
  if (registered_) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kObjectPath);
    bus.unregisterService(kServiceName);
  }
}

TovrinApplication::Start TovrinApplication::start() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return Start::noBus;
  if (!bus.registerService(kServiceName)) return Start::alreadyRunning;
  bus.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots);
  registered_ = true;
  buildTray();
  if (services_.usePortal) {
    bindPortalHotkey();
  } else if (services_.grabHotkey) {
    grabHotkey();
  }
  noticeActivations();
  if (std::getenv("TOVRIN_TRACE") != nullptr) std::fprintf(stderr, "tovrin: running\n");
  // Without access the palette opens by itself on its onboarding view.
  if (!services_.platform.accessibility || !services_.platform.accessibility->isProcessTrusted())
    Show();
  return Start::running;
}

void TovrinApplication::grabHotkey() {
  const HotkeyPreset& preset = HotkeySettings::current(services_.platform.defaults.get());
  const std::string chord = hotkeyTitle(preset);
  std::string error;
  if (!hotkey_) hotkey_ = X11Hotkey::open(error);
  X11Hotkey::Grab grab = hotkey_ ? hotkey_->grab(preset) : X11Hotkey::Grab::failed;
  if (hotkey_ && !hotkeyNotifier_) {
    hotkeyNotifier_ = new QSocketNotifier(hotkey_->fd(), QSocketNotifier::Read, this);
    connect(hotkeyNotifier_, &QSocketNotifier::activated, this, [this] {
      for (int n = hotkey_->presses(); n > 0; --n)
        Toggle();
    });
  }
  if (grab == X11Hotkey::Grab::taken) {
    hotkeyIs(chord + " is used by another program");
  } else if (grab == X11Hotkey::Grab::failed) {
    hotkeyIs(chord + " could not be set up" + (error.empty() ? "" : ": " + error));
  } else {
    hotkeyIs({});
  }
}

void TovrinApplication::bindPortalHotkey() {
  const HotkeyPreset& preset = HotkeySettings::current(services_.platform.defaults.get());
  if (!portal_) {
    portal_ = new PortalShortcut(QDBusConnection::sessionBus(), this);
    connect(portal_, &PortalShortcut::activated, this, &TovrinApplication::Toggle);
    connect(portal_, &PortalShortcut::bound, this, [this](const QString&) { hotkeyIs({}); });
    connect(portal_, &PortalShortcut::failed, this,
            [this](const QString& reason) { hotkeyWithoutPortal(reason.toStdString()); });
  }
  hotkeyProblem_.clear();  // until the portal answers
  portal_->bind(preset);
}

void TovrinApplication::hotkeyWithoutPortal(const std::string& reason) {
  const HotkeyPreset& preset = HotkeySettings::current(services_.platform.defaults.get());
  if (services_.desktopShortcut) {
    if (auto chord = services_.desktopShortcut()) {
      // The desktop runs `tovrin toggle` itself: that is the hotkey.
      hotkeyIs({});
      return;
    }
    hotkeyIs(hotkeyTitle(preset) +
             " isn't set up: this version of GNOME lets programs add no "
             "shortcuts of their own");
    return;
  }
  hotkeyIs(hotkeyTitle(preset) + " could not be set up: " + reason);
}

std::string TovrinApplication::hotkeyAdvice() const {
  const HotkeyPreset& preset = HotkeySettings::current(services_.platform.defaults.get());
  if (services_.setDesktopShortcut)
    return hotkeyProblem_ + ". Add " + hotkeyTitle(preset) +
           " to GNOME's keyboard shortcuts (the button below, or in Tovrin's Settings).";
  if (services_.configLines) {
    std::string lines;
    for (const std::string& line : services_.configLines(preset))
      lines += "\n    " + line;
    return hotkeyProblem_ + ". Add these lines to your config file, then reload it:" + lines;
  }
  return hotkeyProblem_ +
         ", so it doesn't open Tovrin. Choose another shortcut in Tovrin's Settings, or bind "
         "“tovrin toggle” to a key in your desktop's keyboard settings.";
}

void TovrinApplication::hotkeyIs(std::string problem) {
  hotkeyProblem_ = std::move(problem);
  if (settings_) settings_->setHotkeyProblem(hotkeyProblem_);
  const HotkeyPreset& preset = HotkeySettings::current(services_.platform.defaults.get());
  palette_->setShortcutOffer(!hotkeyProblem_.empty() && services_.setDesktopShortcut
                                 ? "Add " + hotkeyTitle(preset) + " to GNOME's Shortcuts"
                                 : std::string());
  if (hotkeyProblem_.empty() || toldAboutHotkey_) return;
  // Having no hotkey without knowing it is the one thing not to leave the
  // user with: say so once, with the ways that still work, where they look
  // (the application) and where a terminal or a log keeps it.
  toldAboutHotkey_ = true;
  const std::string advice = hotkeyAdvice();
  std::fprintf(stderr, "tovrin: %s\n", advice.c_str());
  if (tray_ && QSystemTrayIcon::supportsMessages()) {
    tray_->showMessage("Tovrin", QString::fromStdString(advice));
  } else {
    Show();
    palette_->setNote(advice);
  }
}

void TovrinApplication::useDesktopShortcut(bool on) {
  if (!services_.setDesktopShortcut) return;
  const HotkeyPreset& preset = HotkeySettings::current(services_.platform.defaults.get());
  const std::string problem = services_.setDesktopShortcut(preset, on);
  if (!problem.empty()) {
    palette_->setNote("Couldn't change GNOME's shortcuts: " + problem);
    return;
  }
  if (on) {
    hotkeyIs({});
    palette_->setNote(hotkeyTitle(preset) + " now opens Tovrin (in GNOME's keyboard shortcuts).");
  } else {
    hotkeyWithoutPortal({});
  }
}

void TovrinApplication::buildTray() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  menu_ = std::make_unique<QMenu>();
  QAction* open = menu_->addAction(QString());
  connect(open, &QAction::triggered, this, &TovrinApplication::Show);
  menu_->addSeparator();
  connect(menu_->addAction("Element Inspector"), &QAction::triggered, this,
          &TovrinApplication::Inspector);
  connect(menu_->addAction("Settings…"), &QAction::triggered, this, &TovrinApplication::Settings);
  menu_->addSeparator();
  connect(menu_->addAction("Quit Tovrin"), &QAction::triggered, this, &TovrinApplication::Quit);
  // The first item names the current chord each time the menu opens.
  connect(menu_.get(), &QMenu::aboutToShow, this, [this, open] {
    const HotkeyPreset& preset = HotkeySettings::current(services_.platform.defaults.get());
    open->setText(QString::fromStdString("Open Tovrin (" + hotkeyTitle(preset) + ")"));
  });
  emit menu_->aboutToShow();
  tray_ = new QSystemTrayIcon(symbol("text.viewfinder"), this);
  tray_->setToolTip("Tovrin");
  tray_->setContextMenu(menu_.get());
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
    if (why == QSystemTrayIcon::Trigger) Toggle();
  });
  tray_->show();
}

void TovrinApplication::noticeActivations() {
  if (!services_.pollActivations) return;
  // The workspace tells its observers from the owner's loop: the browser
  // the user is in is known when the hotkey comes.
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, [this] { services_.pollActivations(); });
  timer->start(250);
}

void TovrinApplication::stepPaletteAside() {
  // Called from the command's thread: the palette is hidden on the
  // interface thread, waited for a moment only, so that an application
  // ending (which waits for the command) never waits on itself.
  if (QThread::currentThread() == thread()) {
    palette_->stepAside();
    return;
  }
  auto done = std::make_shared<std::promise<void>>();
  auto abandoned = std::make_shared<std::atomic<bool>>(false);
  std::future<void> hidden = done->get_future();
  QMetaObject::invokeMethod(
      this,
      [this, done, abandoned, self = QPointer(this)] {
        // Too late, the command went on without it: a palette hidden now
        // would have no outcome to come back with.
        if (self && !*abandoned) palette_->stepAside();
        done->set_value();
      },
      Qt::QueuedConnection);
  if (hidden.wait_for(std::chrono::seconds(1)) != std::future_status::ready) *abandoned = true;
}

bool TovrinApplication::userElsewhere() const {
  if (!services_.platform.workspace) return false;
  auto front = services_.platform.workspace->frontmostApplication();
  if (!front) return true;  // a window that says nothing about itself
  if (front->pid == QCoreApplication::applicationPid()) return false;
  const auto& target = vm_->target();
  return !target || front->pid != target->app.pid;
}

void TovrinApplication::notify(const QString& text) {
  if (tray_ && QSystemTrayIcon::supportsMessages()) {
    tray_->showMessage("Tovrin", text);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                     "/org/freedesktop/Notifications",
                                                     "org.freedesktop.Notifications", "Notify");
  call << QString("Tovrin") << 0U << QString("tovrin") << QString("Tovrin") << text << QStringList()
       << QVariantMap() << -1;
  QDBusConnection::sessionBus().asyncCall(call);
  if (std::getenv("TOVRIN_TRACE") != nullptr)
    std::fprintf(stderr, "notice: %s\n", text.toUtf8().constData());
}

void TovrinApplication::Toggle() {
  ToggleWithToken({});
}

void TovrinApplication::ToggleWithToken(const QString& token) {
  if (toggle(palette_->isVisible()) == tovrin::Toggle::hide) {
    Hide();
  } else {
    ShowWithToken(token);
  }
}

void TovrinApplication::ShowWithToken(const QString& token) {
  // Qt hands the token to the compositor when the window next asks for the
  // keyboard, and forgets it. Only a sane token travels: it comes from
  // whatever process called us.
  const bool usable = !token.isEmpty() && token.size() <= 256 &&
                      std::all_of(token.begin(), token.end(),
                                  [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7F; });
  if (usable && QGuiApplication::platformName().startsWith("wayland")) {
    qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    if (std::getenv("TOVRIN_TRACE") != nullptr)
      std::fprintf(stderr, "palette: shown with an activation token\n");
  }
  Show();
}

void TovrinApplication::Show() {
  if (services_.pollActivations) services_.pollActivations();
  // The onboarding offers to restart a browser that cannot show its pages.
  std::optional<std::pair<int32_t, std::string>> restart;
  if (services_.browserToRestart && services_.platform.accessibility &&
      !services_.platform.accessibility->isProcessTrusted())
    restart = services_.browserToRestart();
  browserToRestart_ = restart ? *restart : std::pair<int32_t, std::string>{};
  palette_->setBrowserToRestart(restart ? restart->second : std::string());
  palette_->present();
  if (services_.placePalette) {
    // Once the compositor has the window: its first frame is on screen.
    QTimer::singleShot(50, this, [place = services_.placePalette] { place(); });
  }
  refreshModelStatus();
}

void TovrinApplication::refreshModelStatus() {
  if (!services_.checkModel) return;
  executor_->inBackground(
      [check = services_.checkModel, executor = executor_, self = QPointer(this)] {
        std::string line = check();
        executor->onMain([self, line = std::move(line)] {
          if (!self) return;
          self->services_.modelStatus = line;
          self->palette_->setModelStatus(line);
          if (self->settings_) self->settings_->setModelStatus(line);
        });
      });
}

void TovrinApplication::restartBrowser() {
  if (browserToRestart_.first == 0 || !services_.restartBrowser) return;
  const auto [pid, name] = std::exchange(browserToRestart_, {});
  palette_->setBrowserToRestart({});
  palette_->setNote("Restarting " + name + " with accessibility on…");
  // Waiting for the browser to quit takes seconds; the panel stays live.
  std::thread([this, pid, name, restart = services_.restartBrowser, self = QPointer(this)] {
    std::string error = restart(pid);
    QMetaObject::invokeMethod(
        qApp,
        [this, self, name, error] {
          if (!self) return;
          palette_->setNote(error.empty() ? name + " was restarted with accessibility on."
                                          : "Couldn't restart " + name + ": " + error);
          vm_->refreshContext();
        },
        Qt::QueuedConnection);
  }).detach();
}

void TovrinApplication::Hide() {
  palette_->dismiss();
}

void TovrinApplication::Settings() {
  palette_->dismiss();
  if (!settings_) {
    SettingsWindow::Services services{
        .defaults = services_.platform.defaults,
        .modelStatus = services_.modelStatus,
        .modelChanged = [this] { refreshModelStatus(); },
        .useHotkey =
            [this](const HotkeyPreset&) {
              // The desktop's own entry follows the chosen chord.
              if (services_.desktopShortcut && services_.desktopShortcut())
                useDesktopShortcut(true);
              if (services_.usePortal) {
                bindPortalHotkey();
              } else if (services_.grabHotkey) {
                grabHotkey();
              }
              return hotkeyProblem_;
            },
        .trusted =
            [this] {
              return services_.platform.accessibility &&
                     services_.platform.accessibility->isProcessTrusted();
            },
        .fixAccessibility = services_.fixAccessibility,
        .desktopShortcut = services_.desktopShortcut,
        .setDesktopShortcut =
            [this](bool on) {
              useDesktopShortcut(on);
              return hotkeyProblem_;
            },
        .configLines = services_.configLines,
        .autostartFile = autostartPath(),
        .executable = QCoreApplication::applicationFilePath().toStdString()};
    settings_ = std::make_unique<SettingsWindow>(services, hotkeyProblem_);
  }
  settings_->present();
  refreshModelStatus();
}

void TovrinApplication::Inspector() {
  palette_->dismiss();
  if (!inspector_) {
    auto model = InspectorModel::make(
        {.platform = services_.platform, .tracker = tracker_, .executor = executor_});
    inspector_ = std::make_unique<InspectorWindow>(model, highlighter_, executor_,
                                                   /*pointerPick=*/!services_.stepAside);
  }
  inspector_->present();
}

void TovrinApplication::Quit() {
  palette_->dismiss();
  QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

}  // namespace tovrin::desktop
