#include "platform/linux/process/browser_launch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

namespace tovrin {

std::vector<std::string> launchCommand(const BrowserLaunch& launch) {
  if (::mkdir(launch.profileDir.c_str(), 0700) != 0 && errno != EEXIST) return {};
  const std::string size = std::to_string(launch.width) + "," + std::to_string(launch.height);
  std::vector<std::string> argv;
  if (launch.family == BrowserFamily::chromium) {
    // Background networking is refused on closed machines, many
    // connections at a time; none of it is needed for a local page.
    argv = {"chromium",
            "--disable-gpu",
            "--no-first-run",
            "--no-default-browser-check",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--disable-features=Translate,MediaRouter",
            "--password-store=basic",
            "--window-position=0,0",
            "--window-size=" + size,
            "--user-data-dir=" + launch.profileDir};
    if (launch.accessibilityFlag) argv.emplace_back("--force-renderer-accessibility");
    // Chromium refuses to start its sandbox as root (containers, CI); its
    // warning bar about that would cover the page in every screenshot.
    if (geteuid() == 0) {
      argv.emplace_back("--no-sandbox");
      argv.emplace_back("--test-type");
    }
  } else if (launch.family == BrowserFamily::gnomeWeb) {
    // GNOME Web asks on its first start whether it should be the default
    // browser. Its settings are read from a key file in the profile, so the
    // answer is given there without touching the user's own settings.
    const std::string config = launch.profileDir + "/config";
    const std::string settings = config + "/glib-2.0/settings";
    for (const std::string& dir : {config, config + "/glib-2.0", settings}) {
      if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    }
    std::ofstream keyfile(settings + "/keyfile");
    keyfile << "[org/gnome/epiphany]\nask-for-default=false\n";
    if (!keyfile) return {};
    argv = {"env", "GSETTINGS_BACKEND=keyfile", "XDG_CONFIG_HOME=" + config, "epiphany"};
    if (launch.privateInstance) argv.push_back("--profile=" + launch.profileDir);
  } else {
    // A first start shows welcome and privacy tabs, and checks for updates.
    std::ofstream prefs(launch.profileDir + "/user.js");
    prefs << "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
             "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
             "user_pref(\"startup.homepage_welcome_url\", \"\");\n"
             "user_pref(\"startup.homepage_welcome_url.additional\", \"\");\n"
             "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
             "user_pref(\"datareporting.policy.firstRunURL\", \"\");\n"
             "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n"
             "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
             "user_pref(\"app.update.enabled\", false);\n"
             "user_pref(\"browser.sessionstore.resume_from_crash\", false);\n"
             "user_pref(\"browser.tabs.warnOnClose\", false);\n";
    if (!prefs) return {};
    // Remoting stays on: addresses opened later reach this instance by its profile.
    argv = {"firefox-esr",
            "--profile",
            launch.profileDir,
            "-width",
            std::to_string(launch.width),
            "-height",
            std::to_string(launch.height)};
  }
  argv.push_back(launch.url);
  return argv;
}

const char* familyName(BrowserFamily family) {
  switch (family) {
    case BrowserFamily::chromium:
      return "chromium";
    case BrowserFamily::firefox:
      return "firefox";
    case BrowserFamily::gnomeWeb:
      return "gnome-web";
  }
  return "chromium";
}

const char* displayName(BrowserFamily family) {
  switch (family) {
    case BrowserFamily::chromium:
      return "Chromium";
    case BrowserFamily::firefox:
      return "Firefox";
    case BrowserFamily::gnomeWeb:
      return "GNOME Web";
  }
  return "Chromium";
}

bool parseFamily(const std::string& word, BrowserFamily& family) {
  if (word == "chromium" || word == "chrome") {
    family = BrowserFamily::chromium;
    return true;
  }
  if (word == "firefox" || word == "firefox-esr") {
    family = BrowserFamily::firefox;
    return true;
  }
  if (word == "gnome-web" || word == "epiphany" || word == "web") {
    family = BrowserFamily::gnomeWeb;
    return true;
  }
  return false;
}

}  // namespace tovrin
