#pragma once

// Making a Chromium-family browser show its pages to Tovrin: it does so only
// when started with --force-renderer-accessibility. Both operations change
// the user's desktop, so callers run them only on the user's explicit word.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovrin::BrowserRepair {

inline constexpr const char* kAccessibilityFlag = "--force-renderer-accessibility";

// Whether the browser (by desktop id) builds its page trees only when
// started with kAccessibilityFlag: the Chromium family does.
bool needsAccessibilityFlag(const std::string& applicationID);

// The arguments to start the browser again with: its own command line
// without the pages it was given (the restored session brings them back),
// with the accessibility flag and session restore.
std::vector<std::string> restartArguments(const std::vector<std::string>& commandLine);

// Quits the browser (as its window's close would: the session is saved),
// waits for it, and starts it again with restartArguments. The new
// process id, or nothing with `error` set.
std::optional<int32_t> restartWithAccessibility(int32_t pid, std::string& error);

// A desktop entry's text with the flag added to every Exec line that
// lacks it; other lines are kept as they are.
std::string launcherWithFlag(const std::string& desktopEntry);

// Writes a user-level override of the browser's desktop entry (under
// $XDG_DATA_HOME/applications, never system files) that starts it with the
// flag. The written path, or nothing with `error` set.
std::optional<std::string> installLauncher(const std::string& applicationID, std::string& error);

}  // namespace tovrin::BrowserRepair
