#pragma once

// How Tovrin starts a browser of its own (the demo, the end-to-end tests):
// a fresh profile, no first-run pages, no background traffic, and its page
// tree built from the start.

#include <string>
#include <vector>

namespace tovrin {

enum class BrowserFamily { chromium, firefox, gnomeWeb };

struct BrowserLaunch {
  BrowserFamily family = BrowserFamily::chromium;
  std::string profileDir;  // created when missing
  std::string url;
  bool accessibilityFlag = true;  // Chromium's --force-renderer-accessibility
  // GNOME Web: a private instance on `profileDir`, which no later command
  // line reaches; false: the desktop session's one instance, which takes
  // the addresses of later command lines as tabs.
  bool privateInstance = true;
  int width = 1280;
  int height = 900;
};

// The command line that starts it; prepares the profile folder first (a
// Firefox profile gets the preferences that skip its welcome pages). Empty
// when the folder cannot be made.
std::vector<std::string> launchCommand(const BrowserLaunch& launch);

// "chromium", "firefox" or "gnome-web"; the family of such a word, if it is one.
const char* familyName(BrowserFamily family);
// How the browser Tovrin starts is called: "Chromium", "Firefox", "GNOME Web".
const char* displayName(BrowserFamily family);
bool parseFamily(const std::string& word, BrowserFamily& family);

}  // namespace tovrin
