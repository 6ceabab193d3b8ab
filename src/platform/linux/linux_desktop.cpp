#include "platform/linux/linux_desktop.h"

#include <dirent.h>
#include <gio/gio.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>

#include "accessibility/browser.h"
#include "platform/linux/atspi/atspi_transport.h"
#include "platform/linux/ini_defaults.h"
#include "platform/linux/process/browser_repair.h"
#include "platform/linux/process/process_info.h"
#include "platform/linux/wayland/gnome/mutter_clipboard.h"
#include "platform/linux/wayland/gnome/mutter_remote_desktop.h"
#include "platform/linux/wayland/kde/kwin_script.h"
#include "platform/linux/wayland/kde/portal_remote_desktop.h"
#include "platform/linux/wayland/keyboard_input.h"
#include "platform/linux/wayland/sway/sway_route.h"
#include "platform/linux/x11/x11_clipboard.h"
#include "platform/linux/x11/x11_input.h"

namespace tovrin {
namespace {

// The workspace of a recording: the application that was in front then.
class RecordedWorkspace final : public Workspace {
 public:
  explicit RecordedWorkspace(std::optional<RunningApplication> front) : front_(std::move(front)) {}
  std::optional<RunningApplication> frontmostApplication() override { return front_; }
  std::optional<RunningApplication> runningApplication(int32_t pid) override {
    if (front_ && front_->pid == pid) return front_;
    return std::nullopt;
  }
  void observeActivations(std::function<void(const RunningApplication&)>) override {}
  void openPrivacySettings() override {}
  bool activate(int32_t) override { return false; }
  bool openURLs(const std::vector<std::string>&, const std::string&) override { return false; }

 private:
  std::optional<RunningApplication> front_;
};

std::optional<RunningApplication> readHeader(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  // On Wayland the front window is found through the bus, so its calls come
  // before the line naming it.
  while (std::getline(in, line)) {
    if (line.empty() || line[0] != '#') continue;
    std::istringstream words(line.substr(1));
    std::string tag;
    RunningApplication app;
    if (words >> tag >> app.pid >> app.bundleID && tag == "frontmost") {
      std::getline(words >> std::ws, app.localizedName);
      return app;
    }
  }
  return std::nullopt;
}

struct TrustCache {
  std::mutex mutex;
  std::optional<std::chrono::steady_clock::time_point> asked;
  bool enabled = false;
};

GDBusConnection* sessionBus() {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (error) g_error_free(error);
  return bus;
}

bool isMainBrowserProcess(int32_t pid, const std::string& id) {
  if (!BrowserRegistry::adapter(id)) return false;
  // Renderers, GPU and utility processes carry these arguments; Chromium
  // rewrites its helpers' command lines into one string, so look inside.
  for (const std::string& arg : ProcessInfo::commandLine(pid)) {
    if (arg.find("--type=") != std::string::npos || arg.find("-contentproc") != std::string::npos ||
        arg == "-isForBrowser") {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string recordingHeader(const RunningApplication& app) {
  return "# frontmost " + std::to_string(app.pid) + " " + app.bundleID + " " + app.localizedName;
}

std::variant<std::shared_ptr<LinuxDesktop>, std::string> LinuxDesktop::open(
    const Options& options) {
  std::shared_ptr<LinuxDesktop> desktop(new LinuxDesktop());
  LinuxAccessibility::Options ax;
  std::string error;
  if (!options.replayFile.empty()) {
    ax.replayFile = options.replayFile;
    ax.trusted = [] { return true; };
    desktop->workspace_ = std::make_shared<RecordedWorkspace>(readHeader(options.replayFile));
  } else {
    desktop->session_ = Session::current();
    desktop->defaults_ = std::make_shared<IniDefaults>();
    // Asking costs a few bus round trips; the palette asks every time it
    // opens and once a second while access is missing, so an answer
    // serves for half a second.
    ax.trusted = [cache = std::make_shared<TrustCache>()] {
      std::lock_guard lock(cache->mutex);
      const auto now = std::chrono::steady_clock::now();
      if (!cache->asked || now - *cache->asked > std::chrono::milliseconds(500)) {
        cache->enabled = status().enabled;
        cache->asked = now;
      }
      return cache->enabled;
    };
    ax.grant = [] { (void)enableAccessibility(); };
    ax.recordFile = options.recordFile;
    if (desktop->session_.type == SessionType::x11) {
      desktop->x11_ = X11Workspace::open(error);
      if (!desktop->x11_) {
        return "No display: " + error +
               ".\nRun Tovrin inside your desktop session (or use --scene FILE for the "
               "simulated desktop).";
      }
      desktop->workspace_ = desktop->x11_;
      desktop->pasteboard_ = std::make_shared<X11Clipboard>();
      std::weak_ptr<X11Workspace> weak = desktop->x11_;
      desktop->input_ = X11Input::open([weak]() -> std::optional<int32_t> {
        auto ws = weak.lock();
        if (!ws) return std::nullopt;
        auto front = ws->frontmostApplication();
        return front ? std::optional<int32_t>(front->pid) : std::nullopt;
      });
      ax.pidAtPoint = [weak](double x, double y) -> std::optional<int32_t> {
        auto ws = weak.lock();
        return ws ? ws->pidAtPoint(x, y) : std::nullopt;
      };
    }
  }
  desktop->accessibility_ = LinuxAccessibility::open(std::move(ax), error);
  if (!desktop->accessibility_) {
    if (!options.replayFile.empty()) return error;
    return "No accessibility bus: " + error +
           ".\nInstall at-spi2-core and log in to a desktop session, or start the bus with "
           "/usr/libexec/at-spi-bus-launcher --launch-immediately.";
  }
  if (options.replayFile.empty() && desktop->session_.type == SessionType::wayland)
    desktop->openWayland();
  if (!options.recordFile.empty() && desktop->workspace_) {
    if (auto front = desktop->workspace_->frontmostApplication()) {
      std::ofstream(options.recordFile, std::ios::app) << recordingHeader(*front) << '\n';
    }
  }
  return desktop;
}

void LinuxDesktop::openWayland() {
  const Compositor compositor = session_.compositor;
  std::function<bool(int32_t)> raise;
  if (compositor == Compositor::sway) raise = [](int32_t pid) { return SwayIpc::focus(pid); };
  if (compositor == Compositor::kde) {
    raise = [](int32_t pid) {
      GDBusConnection* bus = sessionBus();
      const bool ok = KWinScript::activate(bus, pid);
      if (bus) g_object_unref(bus);
      return ok;
    };
  }
  wayland_ = std::make_shared<WaylandWorkspace>(WaylandWorkspace::Options{
      .session = session_,
      .accessibility = accessibility_,
      .raise = raise,
      .browsers = [] { return browserProcesses(); },
  });
  workspace_ = wayland_;
  std::weak_ptr<WaylandWorkspace> weak = wayland_;
  auto activePid = [weak]() -> std::optional<int32_t> {
    auto ws = weak.lock();
    if (!ws) return std::nullopt;
    auto front = ws->frontmostApplication();
    return front ? std::optional<int32_t>(front->pid) : std::nullopt;
  };
  if (compositor == Compositor::gnome) {
    GDBusConnection* bus = sessionBus();
    input_ = std::make_shared<WaylandKeyboard>(
        std::make_unique<MutterKeyRoute>(
            bus, [](const std::string& text) { (void)ClipboardKeeper::start(text); }),
        activePid);
    pasteboard_ = std::make_shared<MutterClipboard>(bus);
    if (bus) g_object_unref(bus);
  } else if (compositor == Compositor::kde) {
    // KDE Plasma: keys through the RemoteDesktop portal, the clipboard
    // through data control.
    GDBusConnection* bus = sessionBus();
    input_ = std::make_shared<WaylandKeyboard>(std::make_unique<PortalKeyRoute>(bus, defaults_),
                                               activePid);
    pasteboard_ = std::make_shared<DataControlClipboard>();
    if (bus) g_object_unref(bus);
  } else {
    // wlroots compositors offer the virtual keyboard and data control.
    input_ = std::make_shared<WaylandKeyboard>(std::make_unique<VirtualKeyboardRoute>(), activePid);
    pasteboard_ = std::make_shared<DataControlClipboard>();
  }
}

void LinuxDesktop::pollActivations() {
  if (x11_) x11_->pollActivations();
  if (wayland_) wayland_->pollActivations();
}

std::string LinuxDesktop::keyProblem() const {
  if (auto* keyboard = dynamic_cast<WaylandKeyboard*>(input_.get()))
    return keyboard->route().problem();
  if (!input_) return "no way to send keys was found on this display (XTest)";
  return {};
}

Platform LinuxDesktop::platform() const {
  Platform p;
  p.accessibility = accessibility_;
  p.workspace = workspace_;
  p.clock = clock_;
  p.input = input_;
  p.defaults = defaults_;
  p.pasteboard = pasteboard_;
  return p;
}

AccessibilityStatus LinuxDesktop::status() {
  AccessibilityStatus out;
  GDBusConnection* bus = sessionBus();
  if (!bus) {
    out.problem = "the session bus is not running (DBUS_SESSION_BUS_ADDRESS)";
    return out;
  }
  out.sessionBus = true;
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"),
      G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, &error);
  if (reply) {
    GVariant* inner = nullptr;
    g_variant_get(reply, "(v)", &inner);
    out.enabled =
        g_variant_is_of_type(inner, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(inner);
    g_variant_unref(inner);
    g_variant_unref(reply);
  } else if (error) {
    out.problem = error->message ? error->message : "org.a11y.Bus did not answer";
    g_error_free(error);
    error = nullptr;
  }
  g_object_unref(bus);
  std::string busError;
  if (atspi::accessibilityBusAddress(busError)) {
    out.accessibilityBus = true;
  } else if (out.problem.empty()) {
    out.problem = busError;
  }
  if (!out.accessibilityBus) out.enabled = false;
  return out;
}

std::vector<std::string> LinuxDesktop::enableAccessibility() {
  std::vector<std::string> done;
  if (GDBusConnection* bus = sessionBus()) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
        g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)),
        nullptr, G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, &error);
    if (reply) {
      done.emplace_back("Assistive technology support is on for this session.");
      g_variant_unref(reply);
    } else {
      done.emplace_back(std::string("Couldn't turn assistive technology support on: ") +
                        (error && error->message ? error->message : "no answer"));
    }
    if (error) g_error_free(error);
    g_object_unref(bus);
  } else {
    done.emplace_back("Couldn't turn assistive technology support on: no session bus.");
  }
  // Desktops read this key at login; keep the choice there where it exists.
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  GSettingsSchema* schema =
      source ? g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE)
             : nullptr;
  if (schema && g_settings_schema_has_key(schema, "toolkit-accessibility")) {
    GSettings* settings = g_settings_new("org.gnome.desktop.interface");
    if (g_settings_set_boolean(settings, "toolkit-accessibility", TRUE)) {
      g_settings_sync();
      done.emplace_back("It stays on after you log in again (toolkit-accessibility).");
    }
    g_object_unref(settings);
  }
  if (schema) g_settings_schema_unref(schema);
  return done;
}

std::vector<RunningApplication> LinuxDesktop::browserProcesses() {
  std::vector<RunningApplication> out;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return out;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    const auto p = static_cast<int32_t>(pid);
    if (!ProcessInfo::inThisSession(p)) continue;
    ProcessIdentity identity = ProcessInfo::identify(ProcessInfo::executableName(p), "");
    if (isMainBrowserProcess(p, identity.applicationID)) {
      out.push_back({p, identity.applicationID, identity.name, false});
    }
  }
  closedir(proc);
  return out;
}

std::vector<RunningApplication> LinuxDesktop::browsersToRestart() {
  std::vector<RunningApplication> out;
  for (const RunningApplication& app : browserProcesses()) {
    if (!BrowserRepair::needsAccessibilityFlag(app.bundleID)) continue;
    const std::vector<std::string> args = ProcessInfo::commandLine(app.pid);
    if (std::find(args.begin(), args.end(), BrowserRepair::kAccessibilityFlag) == args.end())
      out.push_back(app);
  }
  return out;
}

std::vector<BrowserCheck> LinuxDesktop::browsers() {
  std::vector<BrowserCheck> out;
  std::vector<RunningApplication> apps;
  if (x11_) {
    for (const RunningApplication& app : x11_->windowApplications()) {
      if (isMainBrowserProcess(app.pid, app.bundleID)) apps.push_back(app);
    }
  }
  if (wayland_) {
    for (const AccessibleFrame& frame : accessibility_->frames()) {
      auto app = wayland_->runningApplication(frame.pid);
      if (!app || !isMainBrowserProcess(app->pid, app->bundleID)) continue;
      if (std::none_of(apps.begin(), apps.end(), [&](const auto& a) { return a.pid == app->pid; }))
        apps.push_back(*app);
    }
  }
  // Browsers without a window on this display count too: they may have
  // started before accessibility support was on.
  for (const RunningApplication& app : browserProcesses()) {
    if (std::none_of(apps.begin(), apps.end(), [&](const auto& a) { return a.pid == app.pid; }))
      apps.push_back(app);
  }
  for (const RunningApplication& app : apps) {
    BrowserCheck check{app, accessibility_->treeAccess(app.pid), false};
    const BrowserAdapter* adapter = BrowserRegistry::adapter(app.bundleID);
    if (check.access == TreeAccess::bareSkeleton && adapter) {
      // What a command does first: prepare the browser. If that shows its
      // pages, it works for Tovrin as it is.
      adapter->prepare(accessibility_->createApplication(app.pid));
      check.access = accessibility_->treeAccess(app.pid);
      check.wokenByTovrin = check.access == TreeAccess::readable;
    }
    out.push_back(check);
  }
  return out;
}

}  // namespace tovrin
