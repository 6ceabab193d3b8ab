#pragma once

// KDE Plasma: bringing a browser's window to the front, and keeping the
// palette above the others, through KWin's
// scripting interface (org.kde.KWin, /Scripting). KWin lets no client raise
// another's window, but it runs a script it is handed over the session bus,
// and a script may make any window the active one.

typedef struct _GDBusConnection GDBusConnection;

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

// The palette as KWin lets a script keep it: above other windows, out of
// the task bar and switcher, centred at 22 % of the screen's height. For
// the window titled "Tovrin" of process `pid`.
std::string palettePlacement(int32_t pid);
bool placePalette(GDBusConnection* bus, int32_t pid);
// The same on the session bus.
bool placePalette(int32_t pid);

// Hands KWin `script` under the plugin name `name` and starts it.
bool run(GDBusConnection* bus, const std::string& name, const std::string& script);

}  // namespace tovrin::KWinScript
