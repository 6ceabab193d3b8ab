// The main job, on a real browser: a private headless desktop of its own
// (or the user's, with --visible), a browser opened on the shop page, the
// palette session run against it as a user would type it, and a picture
// of the browser after each command. Everything it started is stopped when
// it ends, however it ends.

#include <gio/gio.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "ai/language_model.h"
#include "base/unicode.h"
#include "commands.h"
#include "content/page_snapshot.h"
#include "demo.h"
#include "demo_palette.h"
#include "intent/intent_parser.h"
#include "palette_terminal.h"
#include "platform/linux/ini_defaults.h"
#include "platform/linux/process/browser_launch.h"
#include "platform/linux/process/child_process.h"
#include "platform/linux/process/private_desktop.h"
#include "platform/linux/x11/x11_hotkey.h"
#include "platform/linux/x11/x11_workspace.h"
#include "scene_source.h"
#include "ui/palette_controls.h"

namespace tovrin::cli {
namespace {

using namespace std::chrono_literals;

struct DemoOptions {
  std::string browser = "chromium";
  bool visible = false;
  std::string screenshots;
  std::string script;
};

// What the demo started, stopped from the main thread at the end or from
// the signal thread on Ctrl-C, whichever comes first.
class Cleanup {
 public:
  void setDesktop(std::unique_ptr<PrivateDesktop> desktop) {
    std::lock_guard lock(mutex_);
    desktop_ = std::move(desktop);
  }
  [[nodiscard]] PrivateDesktop* desktop() {
    std::lock_guard lock(mutex_);
    return desktop_.get();
  }
  void setBrowser(pid_t pid) {
    std::lock_guard lock(mutex_);
    browser_ = pid;
  }
  void setApplication(pid_t pid) {
    std::lock_guard lock(mutex_);
    application_ = pid;
  }
  void setScratch(const std::string& path) {
    std::lock_guard lock(mutex_);
    scratch_ = path;
  }
  void stopAll() {
    std::lock_guard lock(mutex_);
    if (application_) ChildProcess::stopGroup(application_, 2s);
    application_ = 0;
    if (browser_) ChildProcess::stopGroup(browser_, 3s);
    browser_ = 0;
    if (desktop_) desktop_->stop();
    if (!scratch_.empty()) removeTree(scratch_);
    scratch_.clear();
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<PrivateDesktop> desktop_;
  pid_t browser_ = 0;
  pid_t application_ = 0;  // Tovrin's desktop application
  std::string scratch_;    // the demo's own folder on the user's display
};

// One for the process: it outlives the signal thread's use of it.
Cleanup& cleanup() {
  static Cleanup instance;
  return instance;
}

std::atomic<bool> stopping{false};

// Ctrl-C, a closed terminal or a kill: the signals are blocked in every
// thread (set before any starts) and taken here, where stopping the
// browser and the desktop is ordinary code.
void stopOnSignals(Cleanup& cleanup) {
  // Stopping the private desktop breaks this process's X connections; the
  // thread that notices must not end the process before this one says how.
  X11Workspace::holdWhenDisplayLost(stopping);
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals, &cleanup] {
    int received = 0;
    sigwait(&signals, &received);
    stopping = true;
    std::cerr << "\nStopping the demo: closing the browser and the desktop it started…\n";
    cleanup.stopAll();
    std::_Exit(128 + received);
  }).detach();
}

// "01-click-sign-in.png" for the first command.
std::string pictureName(int number, const std::string& line) {
  std::string slug;
  for (char c : unicode::lower(line)) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (keep) {
      slug += c;
    } else if (!slug.empty() && slug.back() != '-') {
      slug += '-';
    }
    if (slug.size() >= 40) break;
  }
  while (!slug.empty() && slug.back() == '-')
    slug.pop_back();
  std::ostringstream name;
  name << std::setw(2) << std::setfill('0') << number << '-' << (slug.empty() ? "answer" : slug)
       << ".png";
  return name.str();
}

std::vector<std::string> scriptLines(const DemoOptions& options, std::string& error) {
  std::string text = kDemoScript;
  if (!options.script.empty()) {
    std::ifstream in(options.script);
    if (!in) {
      error = options.script + ": cannot be read";
      return {};
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!unicode::trimWhitespace(line).empty()) lines.push_back(line);
  }
  if (lines.empty()) error = "the script has no commands";
  return lines;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Until the browser's page, read as Tovrin reads it, shows `text`: the
// document is in the tree and loaded.
bool waitUntilPageShows(const Desktop& desktop, pid_t pid, const std::string& text,
                        std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  Platform platform = desktop.platform;
  while (std::chrono::steady_clock::now() < deadline && ChildProcess::running(pid)) {
    auto app = platform.workspace->runningApplication(pid);
    const BrowserAdapter* adapter = app ? BrowserRegistry::adapter(app->bundleID) : nullptr;
    if (adapter) {
      BrowserTarget target{platform, *app, adapter};
      if (auto snap = PageSnapshot::capture(target); snap && snap->webArea) {
        for (const PageLine& line : snap->lines) {
          if (line.text.find(text) != std::string::npos) return true;
        }
      }
    }
    std::this_thread::sleep_for(250ms);
  }
  return false;
}

bool bringToFront(const Desktop& desktop, pid_t pid) {
  for (int attempt = 0; attempt < 25; ++attempt) {
    if (desktop.platform.workspace->activate(pid)) {
      auto front = desktop.platform.workspace->frontmostApplication();
      if (front && front->pid == pid) return true;
    }
    std::this_thread::sleep_for(200ms);
  }
  return false;
}

// Whether a Tovrin already holds this session's bus name.
bool tovrinRunning() {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) return false;
  bool owned = false;
  if (GVariant* reply = g_dbus_connection_call_sync(
          bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
          "NameHasOwner", g_variant_new("(s)", "org.tovrin.Tovrin"), G_VARIANT_TYPE("(b)"),
          G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr)) {
    gboolean has = FALSE;
    g_variant_get(reply, "(b)", &has);
    owned = has != FALSE;
    g_variant_unref(reply);
  }
  g_object_unref(bus);
  return owned;
}

std::string ownExecutable() {
  std::array<char, 4096> path{};
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  return n > 0 ? std::string(path.data(), static_cast<std::size_t>(n)) : std::string("tovrin");
}

// The session through the desktop application: the hotkey, each line typed
// into the palette, Return, and a picture of the screen with the palette
// over the browser after each outcome. Returns the exit code.
int showTheApplication(const Desktop& desktop, const std::vector<std::string>& lines,
                       const std::string& shots, int& pictures, bool privateDesktop) {
  IniDefaults defaults;
  // The private desktop's window manager holds Alt+Space for its window
  // menu; Ctrl+Space is free there. The user's own choice otherwise.
  if (privateDesktop) defaults.setInteger(std::string(SettingsKeys::kHotkeyPreset), 1);
  const HotkeyPreset& preset = HotkeySettings::current(&defaults);
  std::string why;
  auto palette = DemoPalette::start(ownExecutable(), shots, why);
  if (!palette) {
    std::cerr << "tovrin demo: " << why << '\n';
    return 1;
  }
  cleanup().setApplication(palette->pid());
  int code = 0;
  std::ofstream manifest(shots + "/pictures.txt", std::ios::trunc);
  bool opened = false;
  for (const std::string& line : lines) {
    std::cout << "› " << IntentParser::shownCommand(line) << '\n' << std::flush;
    if (!opened) {
      std::string note;
      if (!palette->open(preset, note)) {
        std::cerr << "tovrin demo: the palette did not open\n";
        return 1;
      }
      std::cout << "  (" << (note.empty() ? hotkeyTitle(preset) + " opened the palette" : note)
                << ")\n";
      opened = true;
    }
    const std::vector<std::string> outcome = palette->enter(line);
    if (outcome.empty()) {
      std::cout << "  (no outcome within 60 s)\n";
      code = 1;
    }
    for (const std::string& text : outcome)
      std::cout << "  " << text << '\n';
    std::cout << std::flush;
    // The page and the palette repaint after the event that changed them.
    std::this_thread::sleep_for(400ms);
    const std::string name = pictureName(++pictures, line);
    // The picture counts only with the palette on the screen as it is taken.
    const std::optional<Frame> shown = desktop.real->x11()->windowFrame(palette->pid());
    if (!desktop.real->x11()->screenshot(0, shots + "/" + name, why)) {
      std::cerr << "  (no screenshot: " << why << ")\n";
      code = 1;
    } else if (!shown) {
      std::cerr << "  (the palette was not on the screen for " << name << ")\n";
      code = 1;
    }
    manifest << name << '\t'
             << (shown ? "palette at " + std::to_string(static_cast<int>(shown->x)) + "," +
                             std::to_string(static_cast<int>(shown->y)) + " " +
                             std::to_string(static_cast<int>(shown->width)) + "x" +
                             std::to_string(static_cast<int>(shown->height))
                       : std::string("no palette"))
             << '\n';
  }
  palette->quit();
  cleanup().setApplication(0);
  return code;
}

int run(const DemoOptions& options) {
  BrowserFamily family = BrowserFamily::chromium;
  if (!parseFamily(unicode::lower(options.browser), family)) {
    std::cerr << "tovrin demo: --browser " << options.browser
              << ": Tovrin's demo runs chromium, firefox or gnome-web\n";
    return 2;
  }
  std::string error;
  const std::vector<std::string> lines = scriptLines(options, error);
  if (lines.empty()) {
    std::cerr << "tovrin demo: " << error << '\n';
    return 2;
  }
  const char* browserName = displayName(family);

  Cleanup& cleanup = cli::cleanup();
  stopOnSignals(cleanup);

  std::string scratch;
  if (options.visible) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
      std::cerr << "tovrin demo: --visible needs your desktop, and DISPLAY is not set.\n"
                   "Run it from a terminal of your X11 session, or without --visible for a "
                   "private desktop.\n";
      return 2;
    }
    scratch = makeScratchFolder("tovrin-demo");
    cleanup.setScratch(scratch);
    std::cout << "Using your display " << display << ".\n";
  } else {
    auto started = PrivateDesktop::start({});
    if (auto* why = std::get_if<std::string>(&started)) {
      std::cerr << "tovrin demo: couldn't start a private desktop: " << *why << '\n';
      return 2;
    }
    cleanup.setDesktop(std::move(std::get<std::unique_ptr<PrivateDesktop>>(started)));
    scratch = cleanup.desktop()->scratch();
    std::cout << "Started a private desktop on " << cleanup.desktop()->display()
              << " (Xvfb, openbox, a session bus, the accessibility bus).\n";
  }
  if (scratch.empty()) {
    std::cerr << "tovrin demo: couldn't make a scratch folder under /tmp\n";
    return 2;
  }

  std::string shots = options.screenshots;
  if (shots.empty()) {
    shots = makeScratchFolder(std::string("tovrin-demo-") + familyName(family));
  } else if (::mkdir(shots.c_str(), 0755) != 0 && errno != EEXIST) {
    shots.clear();
  }
  if (shots.empty()) {
    std::cerr << "tovrin demo: couldn't make the screenshots folder "
              << (options.screenshots.empty() ? "under /tmp" : options.screenshots) << '\n';
    cleanup.stopAll();
    return 2;
  }

  const std::string page = scratch + "/shop.html";
  std::ofstream(page) << kDemoPage;
  const auto starting = std::chrono::steady_clock::now();
  std::cout << "Opening the shop page in " << browserName << "…\n" << std::flush;
  const auto command = launchCommand(
      {.family = family, .profileDir = scratch + "/profile", .url = "file://" + page});
  const pid_t browser =
      command.empty() ? 0 : ChildProcess::spawn(command, scratch + "/browser.log");
  cleanup.setBrowser(browser);
  if (!browser) {
    std::cerr << "tovrin demo: couldn't start " << browserName << '\n';
    cleanup.stopAll();
    return 2;
  }

  int code = 0;
  {
    auto desktop = openDesktop(DesktopChoice{});
    if (!desktop) {
      cleanup.stopAll();
      return 2;
    }
    if (!waitUntilPageShows(*desktop, browser, "Acme Outdoor Supplies", 90s)) {
      std::cerr << "tovrin demo: " << browserName
                << (ChildProcess::running(browser) ? " did not show the shop page within 90 s"
                                                   : " exited (is it installed? "
                                                     "bash scripts/setup.sh installs it)")
                << '\n';
      cleanup.stopAll();
      return 2;
    }
    if (!bringToFront(*desktop, browser)) {
      std::cerr << "tovrin demo: " << browserName
                << "'s window could not be brought to the front\n";
      cleanup.stopAll();
      return 2;
    }
    std::cout << browserName << " shows the page (" << std::fixed << std::setprecision(1)
              << secondsSince(starting) << " s). The palette session:\n\n";

    // The desktop application itself, unless the user's own Tovrin holds
    // the session (--visible): then the terminal palette stands in.
    const bool drive = !options.visible || !tovrinRunning();
    int pictures = 0;
    if (drive) {
      code = showTheApplication(*desktop, lines, shots, pictures, !options.visible);
      std::cout << "\nScreenshots of the palette over " << browserName
                << " after each command: " << shots << " (" << pictures << " pictures)\n";
    } else {
      std::cout << "(Your Tovrin is running, so the demo types into a terminal palette.)\n";
      Session session{*desktop, std::make_shared<UnavailableModel>()};
      PaletteTerminal palette(session, std::cout);
      for (const std::string& line : lines) {
        std::cout << "› " << IntentParser::shownCommand(line) << '\n';
        if (!palette.handle(line)) continue;
        std::cout << std::flush;
        // The page repaints after the event that changed it.
        std::this_thread::sleep_for(300ms);
        const std::string name = pictureName(++pictures, line);
        std::string why;
        if (!desktop->real->x11()->screenshot(browser, shots + "/" + name, why)) {
          std::cerr << "  (no screenshot: " << why << ")\n";
          code = 1;
        }
      }
      std::cout << "\nScreenshots of " << browserName << " after each command: " << shots << " ("
                << pictures << " pictures)\n";
    }
  }
  std::cout << "Stopping " << browserName << (options.visible ? "" : " and the private desktop")
            << "…\n"
            << std::flush;
  cleanup.stopAll();
  return code;
}

}  // namespace

Command addDemoCommand(CLI::App& app) {
  auto options = std::make_shared<DemoOptions>();
  CLI::App* sub = app.add_subcommand(
      "demo",
      "Tovrin driving a real browser: a private headless desktop, the shop page, a scripted "
      "palette session, a screenshot after each command");
  sub->add_option("--browser", options->browser, "chromium (default), firefox or gnome-web");
  sub->add_flag("--visible", options->visible,
                "Use your own display instead of a private headless desktop");
  sub->add_option("--screenshots", options->screenshots,
                  "The folder for the screenshots (default: a new one under /tmp, named at the "
                  "end)");
  sub->add_option("--script", options->script,
                  "Palette lines to run instead of the built-in session, one per line");
  return Command{sub, [options] { return run(*options); }};
}

}  // namespace tovrin::cli
