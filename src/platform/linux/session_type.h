#pragma once

// Which kind of desktop session Tovrin runs in, and which compositor runs
// it: that picks the services for windows, keys and the clipboard. Reading
// a page is the same everywhere (AT-SPI).

#include <functional>
#include <optional>
#include <string>

namespace tovrin {

enum class SessionType { x11, wayland };
enum class Compositor { none, gnome, kde, sway, other };

struct SessionKind {
  SessionType type = SessionType::x11;
  Compositor compositor = Compositor::none;  // none on X11
  friend bool operator==(const SessionKind&, const SessionKind&) = default;
};

namespace Session {

// From the session's environment and, where the environment does not say,
// what answers on the session bus. `env` reads a variable (nothing when
// unset); `onBus` tells whether a well-known name has an owner.
SessionKind detect(const std::function<std::optional<std::string>(const char*)>& env,
                   const std::function<bool(const char*)>& onBus);

// This process's session: its environment and its session bus.
SessionKind current();

// "X11", "Wayland (GNOME)", "Wayland (KDE Plasma)", "Wayland (sway)",
// "Wayland (another compositor)".
std::string describe(const SessionKind& kind);

}  // namespace Session
}  // namespace tovrin
