// One screen that tells a new user what works and what to fix on this
// desktop, and with --fix mends what it can, each step on the user's word.

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>

#include "accessibility/browser.h"
#include "commands.h"
#include "platform/linux/browser_repair.h"
#include "platform/linux/linux_desktop.h"

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

int run(const DoctorOptions& options) {
  bool healthy = true;
  std::cout << "Tovrin doctor\n\n";
  const char* display = std::getenv("DISPLAY");
  if (display && *display) {
    std::cout << "Display: " << display << '\n';
  } else {
    std::cout << "Display: none — DISPLAY is not set.\n"
                 "  Fix: run Tovrin inside your desktop session (X11).\n";
    return 1;
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
  std::vector<BrowserCheck> browsers = desktop->browsers();
  std::cout << "\nBrowsers\n";
  if (browsers.empty()) {
    std::cout << "  None of Chrome, Chromium, Brave, Edge or Firefox is running.\n";
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
  std::cout << (healthy ? "\nEverything Tovrin needs is in place.\n"
                        : "\nSomething above needs fixing.\n");
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
