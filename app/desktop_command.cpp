// `tovrin` with no subcommand: the desktop application (palette, hotkey,
// tray). `tovrin toggle|show|hide|quit` reach the running one over the
// session bus, for desktops that bind their own shortcuts.

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <iostream>

#include "ai/model_settings.h"
#include "commands.h"
#include "crash_report.h"
#include "desktop/palette_window.h"
#include "desktop/tovrin_app.h"
#include "platform/linux/linux_desktop.h"
#include "platform/linux/process/browser_repair.h"
#include "platform/linux/wayland/gnome/custom_shortcut.h"
#include "platform/linux/wayland/kde/kwin_script.h"
#include "platform/linux/wayland/sway/sway_route.h"
#include "platform/linux/x11/x11_hotkey.h"
#include "scene_source.h"
#include "ui/palette_controls.h"

namespace tovrin::cli {

int runDesktopApplication(int argc, char** argv, const std::string& scene) {
  reportCrashes();
  QApplication qt(argc, argv);
  QApplication::setApplicationName("Tovrin");
  QApplication::setDesktopFileName("tovrin");
  QApplication::setQuitOnLastWindowClosed(false);  // it lives in the tray
  auto session = openSession(DesktopChoice{.scene = scene, .record = {}, .replay = {}}, {}, {});
  if (!session) return 2;
  desktop::TovrinApplication::Services services{
      .platform = session->desktop.platform,
      .model = session->model,
      .modelStatus = kBuiltInRulesStatus,
      .checkModel = {},
      .pollActivations = {},
      // Only X tells where every window is, so only there are elements outlined.
      .outlines = session->desktop.real && session->desktop.real->x11() != nullptr,
      .stepAside = session->desktop.real && session->desktop.real->wayland() != nullptr,
      // The hotkey belongs to the X session, whichever desktop the commands act on.
      .grabHotkey = QApplication::platformName() == "xcb",
      // Wayland keeps keys from programs; its desktops offer the portal instead.
      .usePortal = QApplication::platformName().startsWith("wayland"),
      .desktopShortcut = {},
      .setDesktopShortcut = {},
      .placePalette = {},
      .configLines = {},
      .fixAccessibility = session->desktop.real
                              ? std::function<void()>([] { LinuxDesktop::enableAccessibility(); })
                              : std::function<void()>(),
      .browserToRestart = {},
      .restartBrowser = {}};
  if (auto configured = std::dynamic_pointer_cast<ConfiguredModel>(session->model))
    services.checkModel = [configured] { return configured->status(); };
  if (session->desktop.real) {
    services.pollActivations = [real = session->desktop.real] { real->pollActivations(); };
    const Compositor compositor = session->desktop.real->session().compositor;
    if (compositor == Compositor::gnome && gnome::CustomShortcuts::available()) {
      services.desktopShortcut = []() -> std::optional<std::string> {
        auto entry = gnome::CustomShortcuts().tovrinShortcut();
        if (!entry) return std::nullopt;
        return entry->binding;
      };
      // What GNOME runs: this executable, so that an installed and a
      // built Tovrin each bind themselves.
      services.setDesktopShortcut = [](const HotkeyPreset& preset, bool on) {
        const gnome::CustomShortcuts shortcuts;
        if (!on) return shortcuts.remove();
        return shortcuts.install(preset.modifiers,
                                 QCoreApplication::applicationFilePath().toStdString() + " toggle");
      };
    }
    if (compositor == Compositor::kde) {
      services.placePalette = [] {
        KWinScript::placePalette(static_cast<int32_t>(QCoreApplication::applicationPid()));
      };
    }
    if (compositor == Compositor::sway || compositor == Compositor::other) {
      services.configLines = [](const HotkeyPreset& preset) {
        return SwayIpc::configLines(preset.modifiers);
      };
    }
    services.browserToRestart = []() -> std::optional<std::pair<int32_t, std::string>> {
      std::vector<RunningApplication> browsers = LinuxDesktop::browsersToRestart();
      if (browsers.empty()) return std::nullopt;
      return std::pair{browsers.front().pid, browsers.front().localizedName};
    };
    services.restartBrowser = [](int32_t pid) {
      std::string error;
      return BrowserRepair::restartWithAccessibility(pid, error) ? std::string() : error;
    };
  }
  desktop::TovrinApplication app(services);
  switch (app.start()) {
    case desktop::TovrinApplication::Start::running:
      break;
    case desktop::TovrinApplication::Start::alreadyRunning: {
      // Started again from a launcher: the user wants the palette.
      QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
          desktop::kServiceName, desktop::kObjectPath, desktop::kInterface, "Show"));
      std::cout << "Tovrin is already running; its palette is open.\n";
      return 0;
    }
    case desktop::TovrinApplication::Start::noBus:
      std::cerr << "tovrin: no session bus: Tovrin runs inside a desktop session "
                   "(DBUS_SESSION_BUS_ADDRESS is not set or the bus does not answer).\n";
      return 2;
  }
  return QApplication::exec();
}

namespace {

// The token a launcher or the desktop's shortcut gave this process, with
// which the compositor lets the palette take the keyboard; used once.
QString activationToken() {
  for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
    QString token = qEnvironmentVariable(name);
    if (!token.isEmpty()) {
      qunsetenv(name);
      return token;
    }
  }
  return {};
}

int remote(const std::string& method) {
  // A plain client: no windows, so no display is needed.
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    std::cerr << "tovrin: no session bus, so no running Tovrin can be reached.\n";
    return 2;
  }
  QDBusMessage call =
      QDBusMessage::createMethodCall(desktop::kServiceName, desktop::kObjectPath,
                                     desktop::kInterface, QString::fromStdString(method));
  if (method == "Toggle" || method == "Show") {
    if (QString token = activationToken(); !token.isEmpty()) {
      call = QDBusMessage::createMethodCall(desktop::kServiceName, desktop::kObjectPath,
                                            desktop::kInterface,
                                            QString::fromStdString(method + "WithToken"));
      call << token;
    }
  }
  QDBusMessage reply = bus.call(call);
  if (reply.type() == QDBusMessage::ErrorMessage) {
    std::cerr << "Tovrin isn't running. Start it with “tovrin”.\n";
    return 1;
  }
  return 0;
}

}  // namespace

std::vector<Command> addRemoteCommands(CLI::App& app) {
  std::vector<Command> out;
  const std::pair<const char*, const char*> commands[] = {
      {"toggle", "Open the running Tovrin's palette, or close it when it is open"},
      {"show", "Open the running Tovrin's palette"},
      {"hide", "Close the running Tovrin's palette"},
      {"settings", "Open the running Tovrin's settings"},
      {"inspector", "Open the running Tovrin's Element Inspector"},
      {"quit", "Quit the running Tovrin"}};
  for (const auto& [name, help] : commands) {
    CLI::App* sub = app.add_subcommand(name, help);
    std::string method = name;
    method[0] = static_cast<char>(std::toupper(method[0]));
    out.push_back(Command{sub, [method] { return remote(method); }});
  }
  return out;
}

}  // namespace tovrin::cli
