// One screen that tells a new user what works and what to fix on this
// desktop, and with --fix mends what it can, each step on the user's word.

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "accessibility/browser.h"
#include "commands.h"
#include "platform/linux/linux_desktop.h"
#include "platform/linux/process/browser_repair.h"
#include "platform/linux/session_type.h"
#include "platform/linux/wayland/gnome/custom_shortcut.h"
#include "platform/linux/wayland/gnome/mutter_clipboard.h"
#include "platform/linux/wayland/sway/sway_route.h"
#include "platform/linux/x11/x11_hotkey.h"
#include "ui/palette_controls.h"

// After GLib's headers: Qt's keyword macros would break them.
#include <QFileInfo>
#include <QLibraryInfo>

namespace tovrin::cli {
namespace {

struct DoctorOptions {
  bool fix = false;
  bool yes = false;
  std::string record;
};

// Asks on the terminal; without one (or with --yes) the answer is given.
bool agree(const std::string& question, const DoctorOptions& options) {
  if (options.yes) {
    std::cout << question << " yes (--yes)\n";
    return true;
  }
  if (!isatty(STDIN_FILENO)) {
    std::cout << question << " no (not asked: no terminal; --yes answers yes)\n";
    return false;
  }
  std::cout << question << " [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  return answer == "y" || answer == "Y" || answer == "yes";
}

std::string browserLine(const BrowserCheck& check) {
  const std::string head =
      check.app.localizedName + " (pid " + std::to_string(check.app.pid) + "): ";
  switch (check.access) {
    case TreeAccess::readable:
      return head + (check.wokenByTovrin
                         ? "readable (its page tree was off; Tovrin turns it on when it reads)"
                         : "readable");
    case TreeAccess::bareSkeleton:
      return head + "only empty windows — it was started without " +
             BrowserRepair::kAccessibilityFlag +
             ".\n      Fix: “tovrin doctor --fix” restarts it with the flag (your tabs are "
             "restored) and can make the flag permanent.";
    case TreeAccess::notOnBus:
      return head +
             "not on the accessibility bus — it started before assistive technology "
             "support was on.\n      Fix: quit it and open it again.";
    case TreeAccess::noWindow:
      return head + "no window yet.\n      Fix: open a window in it.";
    case TreeAccess::unresponsive:
      return head + "not responding.\n      Fix: wait for it, or quit it and open it again.";
  }
  return head;
}

struct JobCheck {
  std::string name;
  std::string how;  // how it is done here, or why it is not
  std::string fix;  // what the user can do, when something is missing
  bool works = true;
  bool limited = false;  // done another way, or not at all by design on this desktop
};

// Each job a command needs, as this session does it.
std::vector<JobCheck> jobChecks(LinuxDesktop& desktop) {
  std::vector<JobCheck> out;
  const SessionKind& session = desktop.session();
  const bool x11 = session.type == SessionType::x11;
  out.push_back({"Reading pages", "the accessibility bus (AT-SPI)", "", true, false});
  out.push_back({"Pressing elements", "accessibility actions (AT-SPI)", "", true, false});
  const std::string keyProblem = desktop.keyProblem();
  std::string keys;
  if (x11) {
    keys = "XTest";
  } else if (session.compositor == Compositor::gnome) {
    keys = "GNOME's remote desktop service (characters outside the keyboard layout are pasted)";
  } else if (session.compositor == Compositor::kde) {
    keys =
        "the desktop portal's remote desktop (Plasma 6 asks once; characters outside the "
        "keyboard layout are pasted)";
  } else {
    keys = "the virtual keyboard (wtype)";
  }
  if (keyProblem.empty()) {
    out.push_back({"Keys and typing", keys, "", true, false});
  } else {
    std::string fix;
    if (session.compositor == Compositor::sway || session.compositor == Compositor::other)
      fix = "sudo apt install wtype";
    if (session.compositor == Compositor::kde)
      fix = "sudo apt install xdg-desktop-portal-kde, or allow Tovrin when Plasma asks";
    out.push_back({"Keys and typing", "not available — " + keyProblem, fix, false, false});
  }
  if (x11) {
    out.push_back(
        {"Bringing the browser to the front", "the window manager (EWMH)", "", true, false});
  } else if (desktop.wayland() && desktop.wayland()->canRaise()) {
    out.push_back(
        {"Bringing the browser to the front",
         session.compositor == Compositor::kde ? "KWin's scripting" : "sway's IPC (swaymsg)", "",
         true, false});
  } else {
    out.push_back({"Bringing the browser to the front",
                   "not possible — this desktop lets no program raise another's window; keys "
                   "are sent only while the browser is the active window (switch to it, or use "
                   "the palette, which hands the focus back to it)",
                   "", true, true});
  }
  if (x11) {
    out.push_back({"Clipboard", "the X11 CLIPBOARD, served by a small process after a copy", "",
                   true, false});
  } else if (session.compositor == Compositor::gnome) {
    const bool keeper = !ClipboardKeeper::program().empty();
    out.push_back({"Clipboard",
                   keeper ? "GNOME's remote desktop clipboard, served by tovrin-clipboard-keeper "
                            "until another program copies (GNOME shows its sharing indicator "
                            "meanwhile)"
                          : "not available — tovrin-clipboard-keeper is not installed",
                   keeper ? "" : "reinstall Tovrin", keeper, false});
  } else {
    const bool wlCopy = captureOutput({"sh", "-c", "command -v wl-copy"}, 2.0).has_value();
    out.push_back({"Clipboard",
                   wlCopy ? "the data-control protocol (wl-clipboard)"
                          : "not available — wl-clipboard is not installed",
                   wlCopy ? "" : "sudo apt install wl-clipboard", wlCopy, false});
  }
  if (!x11) {
    // Without Qt's Wayland plugin the palette falls back to Xwayland, where
    // no hotkey reaches it and the focus does not go back to the browser.
    const QString plugin =
        QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/libqwayland-generic.so";
    const bool qtWayland = QFileInfo::exists(plugin);
    out.push_back({"The palette as a Wayland window",
                   qtWayland ? "Qt's Wayland platform plugin"
                             : "not available — Qt's Wayland plugin is missing, so the palette "
                               "would open through Xwayland",
                   qtWayland ? "" : "sudo apt install qt6-wayland", qtWayland, false});
  }
  if (session.compositor == Compositor::gnome) {
    // GNOME before its GlobalShortcuts portal runs commands for the
    // shortcuts kept in its own settings; Tovrin adds one on request.
    const HotkeyPreset& preset = HotkeySettings::current(desktop.platform().defaults.get());
    const auto entry = gnome::CustomShortcuts::available()
                           ? gnome::CustomShortcuts().tovrinShortcut()
                           : std::nullopt;
    out.push_back(
        {"Opening the palette",
         entry ? "GNOME's keyboard shortcut " + entry->binding + " runs “" + entry->command + "”"
               : "no GNOME keyboard shortcut runs “tovrin toggle” yet (GNOME 48 and "
                 "later offer Tovrin's own through the portal)",
         entry ? ""
               : "in Tovrin's Settings, tick “Add it to GNOME's keyboard shortcuts” "
                 "for " +
                     hotkeyTitle(preset),
         entry.has_value(), true});
  }
  if (session.compositor == Compositor::sway || session.compositor == Compositor::other) {
    std::string how =
        "a key binding of sway's: add these lines to ~/.config/sway/config, then "
        "reload sway (Mod+Shift+C)";
    for (const std::string& line :
         SwayIpc::configLines(HotkeySettings::current(desktop.platform().defaults.get()).modifiers))
      how += "\n      " + line;
    out.push_back({"Opening the palette", how, "", true, true});
  }
  if (x11) {
    out.push_back(
        {"Clicking at a position (for elements that cannot be pressed)", "XTest", "", true, false});
  } else {
    out.push_back({"Clicking at a position (for elements that cannot be pressed)",
                   "not attempted — window positions are not known on this desktop, so such "
                   "elements are reported, never clicked blindly",
                   "", true, true});
  }
  return out;
}

int run(const DoctorOptions& options) {
  bool healthy = true;
  std::cout << "Tovrin doctor\n\n";
  const SessionKind session = Session::current();
  const char* display =
      std::getenv(session.type == SessionType::x11 ? "DISPLAY" : "WAYLAND_DISPLAY");
  if (display && *display) {
    std::cout << "Session: " << Session::describe(session) << ", display " << display << '\n';
  } else if (session.type == SessionType::x11) {
    std::cout << "Session: none — neither DISPLAY nor WAYLAND_DISPLAY is set.\n"
                 "  Fix: run Tovrin inside your desktop session.\n";
    return 1;
  } else {
    std::cout << "Session: " << Session::describe(session) << '\n';
  }
  AccessibilityStatus status = LinuxDesktop::status();
  if (!status.sessionBus || !status.accessibilityBus) {
    std::cout << "Accessibility bus: not running — " << status.problem
              << "\n  Fix: install at-spi2-core and log in again, or start it with "
                 "/usr/libexec/at-spi-bus-launcher --launch-immediately.\n";
    return 1;
  }
  std::cout << "Accessibility bus: running\n";
  if (status.enabled) {
    std::cout << "Assistive technology support: on\n";
  } else {
    healthy = false;
    std::cout << "Assistive technology support: off — browsers do not show their pages.\n"
                 "  Fix: “tovrin doctor --fix” turns it on (or switch on assistive technologies in "
                 "your desktop's accessibility settings); then restart your browsers.\n";
    if (options.fix && agree("Turn assistive technology support on?", options)) {
      for (const std::string& line : LinuxDesktop::enableAccessibility()) {
        std::cout << "  " << line << '\n';
      }
      std::cout << "  Browsers that are already running must be restarted to show their pages.\n";
    }
  }

  auto opened = LinuxDesktop::open({.recordFile = options.record, .replayFile = {}});
  if (auto* error = std::get_if<std::string>(&opened)) {
    std::cout << *error << '\n';
    return 1;
  }
  auto desktop = std::get<std::shared_ptr<LinuxDesktop>>(opened);
  std::cout << "\nWhat Tovrin can do here\n";
  bool limited = false;
  for (const JobCheck& job : jobChecks(*desktop)) {
    std::cout << "  " << job.name << ": " << job.how << '\n';
    if (!job.fix.empty()) std::cout << "      Fix: " << job.fix << '\n';
    if (!job.works) healthy = false;
    limited = limited || job.limited;
  }
  std::vector<BrowserCheck> browsers = desktop->browsers();
  std::cout << "\nBrowsers\n";
  if (browsers.empty()) {
    std::cout << "  None of " << BrowserRegistry::supportedNames() << " is running.\n";
  }
  for (const BrowserCheck& check : browsers) {
    std::cout << "  " << browserLine(check) << '\n';
    if (check.access == TreeAccess::readable) continue;
    healthy = false;
    if (!options.fix || check.access != TreeAccess::bareSkeleton ||
        !BrowserRepair::needsAccessibilityFlag(check.app.bundleID)) {
      continue;
    }
    const std::string& name = check.app.localizedName;
    if (agree("Restart " + name + " with accessibility on? Its open tabs are restored.", options)) {
      std::string error;
      if (auto pid = BrowserRepair::restartWithAccessibility(check.app.pid, error)) {
        std::cout << "  Restarted " << name << " (pid " << *pid << ").\n";
      } else {
        std::cout << "  Couldn't restart " << name << ": " << error << '\n';
      }
    }
    if (agree("Always start " + name + " with accessibility on (a launcher of your own)?",
              options)) {
      std::string error;
      if (auto path = BrowserRepair::installLauncher(check.app.bundleID, error)) {
        std::cout << "  Wrote " << *path << ".\n";
      } else {
        std::cout << "  Couldn't write the launcher: " << error << '\n';
      }
    }
  }
  std::cout << (!healthy  ? "\nSomething above needs fixing.\n"
                : limited ? "\nEverything Tovrin needs is in place, within the limits above.\n"
                          : "\nEverything Tovrin needs is in place.\n");
  return healthy ? 0 : 1;
}

}  // namespace

Command addDoctorCommand(CLI::App& app) {
  auto options = std::make_shared<DoctorOptions>();
  CLI::App* sub = app.add_subcommand(
      "doctor",
      "Tell what works on this desktop and what to fix (display, accessibility, browsers)");
  sub->add_flag("--fix", options->fix,
                "Offer each fix in turn: turn accessibility support on, restart a browser with "
                "its accessibility flag, make the flag permanent");
  sub->add_flag("--yes", options->yes, "With --fix: answer yes to every question");
  sub->add_option("--record", options->record,
                  "Append every accessibility call and reply to this file");
  return Command{sub, [options] { return run(*options); }};
}

}  // namespace tovrin::cli
