#pragma once

// What a running process is (its executable, command line, which browser),
// read from /proc: the same on every session type.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "accessibility/platform.h"

namespace tovrin {

// What a process is, as far as the browser registry cares: its desktop
// application id ("chromium", "firefox-esr", …) and a display name.
struct ProcessIdentity {
  std::string applicationID;
  std::string name;
};

namespace ProcessInfo {
// From the executable's file name and the window's WM_CLASS class (either
// may be empty). Known browsers get their desktop ids; anything else the
// lower-cased class or executable name.
ProcessIdentity identify(const std::string& executable, const std::string& windowClass);
// The executable's file name of a running process, or empty.
std::string executableName(int32_t pid);
// The process's command line, one entry per argument (split at spaces
// where the process rewrote it into one string, as Chromium does).
std::vector<std::string> commandLine(int32_t pid);
bool alive(int32_t pid);
// Whether `pid` is `ancestor` or was started by it, directly or through
// other processes (a browser's helpers: Firefox's content processes,
// WebKit's web process in its sandbox).
bool descendsFrom(int32_t pid, int32_t ancestor);
// A variable of the process's environment, when it can be read and is set.
std::optional<std::string> environment(int32_t pid, const std::string& name);
// Whether the process belongs to this desktop session: it uses the same
// session bus. Another user's process, or one of another session of this
// user, does not.
bool inThisSession(int32_t pid);
// Opens addresses in the browser with this application id: in its running
// instance (the first of `running` with that id, its profile kept) when
// there is one, else by starting the browser's own command.
bool openURLs(const std::vector<std::string>& urls, const std::string& bundleID,
              const std::vector<RunningApplication>& running);
}  // namespace ProcessInfo

}  // namespace tovrin
