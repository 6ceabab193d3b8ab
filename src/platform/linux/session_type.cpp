#include "platform/linux/session_type.h"

#include <gio/gio.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace tovrin::Session {
namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool nonEmpty(const std::optional<std::string>& s) {
  return s && !s->empty();
}

}  // namespace

SessionKind detect(const std::function<std::optional<std::string>(const char*)>& env,
                   const std::function<bool(const char*)>& onBus) {
  const std::string type = lower(env("XDG_SESSION_TYPE").value_or(""));
  // A Wayland session says so, or at least shows its socket; an X11 session
  // that happens to export WAYLAND_DISPLAY (a nested compositor) says x11.
  const bool wayland = type == "wayland" || (type != "x11" && nonEmpty(env("WAYLAND_DISPLAY")));
  if (!wayland) return {SessionType::x11, Compositor::none};
  // XDG_CURRENT_DESKTOP is a colon-separated list ("ubuntu:GNOME").
  std::istringstream desktops(lower(env("XDG_CURRENT_DESKTOP").value_or("")));
  for (std::string name; std::getline(desktops, name, ':');) {
    if (name == "gnome" || name == "gnome-classic" || name == "gnome-flashback")
      return {SessionType::wayland, Compositor::gnome};
    if (name == "kde") return {SessionType::wayland, Compositor::kde};
    if (name == "sway") return {SessionType::wayland, Compositor::sway};
  }
  if (nonEmpty(env("SWAYSOCK"))) return {SessionType::wayland, Compositor::sway};
  if (onBus("org.gnome.Mutter.RemoteDesktop")) return {SessionType::wayland, Compositor::gnome};
  if (onBus("org.kde.KWin")) return {SessionType::wayland, Compositor::kde};
  return {SessionType::wayland, Compositor::other};
}

SessionKind current() {
  GDBusConnection* bus = nullptr;
  auto onBus = [&bus](const char* name) {
    if (!bus) {
      GError* error = nullptr;
      bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
      if (error) g_error_free(error);
      if (!bus) return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
        2000, nullptr, nullptr);
    gboolean has = FALSE;
    if (reply) {
      g_variant_get(reply, "(b)", &has);
      g_variant_unref(reply);
    }
    return has == TRUE;
  };
  SessionKind kind = detect(
      [](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
      },
      onBus);
  if (bus) g_object_unref(bus);
  return kind;
}

std::string describe(const SessionKind& kind) {
  if (kind.type == SessionType::x11) return "X11";
  switch (kind.compositor) {
    case Compositor::gnome:
      return "Wayland (GNOME)";
    case Compositor::kde:
      return "Wayland (KDE Plasma)";
    case Compositor::sway:
      return "Wayland (sway)";
    case Compositor::none:
    case Compositor::other:
      break;
  }
  return "Wayland (another compositor)";
}

}  // namespace tovrin::Session
