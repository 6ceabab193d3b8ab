#pragma once

// KDE Plasma: bringing a browser's window to the front through KWin's
// scripting interface (org.kde.KWin, /Scripting). KWin lets no client raise
// another's window, but it runs a script it is handed over the session bus,
// and a script may make any window the active one.

#include <gio/gio.h>

#include <cstdint>
#include <string>

namespace tovrin::KWinScript {

// The script that activates the normal window of process `pid`, for KWin 5
// (clientList, activeClient) and 6 (windowList, activeWindow) alike.
std::string activation(int32_t pid);

// Hands KWin the activation script for `pid` and starts it; false when KWin
// does not answer or refuses the script. KWin runs it on its own time:
// whether the window became active is for the caller to check.
bool activate(GDBusConnection* bus, int32_t pid);

}  // namespace tovrin::KWinScript
