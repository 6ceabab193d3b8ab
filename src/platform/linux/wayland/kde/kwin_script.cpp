#include "platform/linux/wayland/kde/kwin_script.h"

#include <gio/gio.h>

#include <cstdlib>
#include <fstream>

namespace tovrin::KWinScript {
namespace {

constexpr const char* kKWin = "org.kde.KWin";
constexpr const char* kScripting = "org.kde.kwin.Scripting";

GVariant* call(GDBusConnection* bus, const char* path, const char* interfaceName,
               const char* method, GVariant* arguments, const GVariantType* reply) {
  return g_dbus_connection_call_sync(bus, kKWin, path, interfaceName, method, arguments, reply,
                                     G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr);
}

// A script that runs `body` (JavaScript, `w` the window) on each window of
// process `pid` that meets `condition`, on KWin 5 (clientList) and 6
// (windowList) alike.
std::string forWindowsOf(int32_t pid, const std::string& condition, const std::string& body) {
  return "const windows = typeof workspace.windowList === 'function'\n"
         "    ? workspace.windowList() : workspace.clientList();\n"
         "for (const w of windows) {\n"
         "  if (w.pid === " +
         std::to_string(pid) + " && " + condition + ") {\n" + body + "  }\n}\n";
}

}  // namespace

std::string activation(int32_t pid) {
  return forWindowsOf(pid, "w.normalWindow",
                      "    if ('activeWindow' in workspace) workspace.activeWindow = w;\n"
                      "    else workspace.activeClient = w;\n"
                      "    break;\n");
}

std::string palettePlacement(int32_t pid) {
  return forWindowsOf(
      pid, "w.caption === 'Tovrin'",
      "    w.keepAbove = true;\n"
      "    w.skipTaskbar = true;\n"
      "    w.skipSwitcher = true;\n"
      "    const area = workspace.clientArea(KWin.PlacementArea, w);\n"
      "    const g = w.frameGeometry;\n"
      "    w.frameGeometry = {x: area.x + (area.width - g.width) / 2,\n"
      "        y: area.y + area.height * 0.22, width: g.width, height: g.height};\n");
}

bool run(GDBusConnection* bus, const std::string& name, const std::string& script) {
  if (!bus) return false;
  // KWin reads the script from a file; the runtime folder is the user's own.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string path = std::string(runtime && *runtime ? runtime : "/tmp") + "/" + name + ".js";
  {
    std::ofstream out(path, std::ios::trunc);
    out << script;
    if (!out) return false;
  }
  // KWin reads and runs the script after start() returns, so it stays
  // loaded until the next run unloads it: a script left loaded would keep
  // the name taken.
  if (GVariant* r = call(bus, "/Scripting", kScripting, "unloadScript",
                         g_variant_new("(s)", name.c_str()), nullptr)) {
    g_variant_unref(r);
  }
  bool ok = false;
  if (GVariant* loaded =
          call(bus, "/Scripting", kScripting, "loadScript",
               g_variant_new("(ss)", path.c_str(), name.c_str()), G_VARIANT_TYPE("(i)"))) {
    gint32 id = -1;
    g_variant_get(loaded, "(i)", &id);
    g_variant_unref(loaded);
    if (id >= 0) {
      if (GVariant* started = call(bus, "/Scripting", kScripting, "start", nullptr, nullptr)) {
        g_variant_unref(started);
        ok = true;
      }
    }
  }
  return ok;
}

bool activate(GDBusConnection* bus, int32_t pid) {
  return pid > 0 && run(bus, "tovrin-activate", activation(pid));
}

bool placePalette(GDBusConnection* bus, int32_t pid) {
  return pid > 0 && run(bus, "tovrin-palette", palettePlacement(pid));
}

bool placePalette(int32_t pid) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) return false;
  const bool placed = placePalette(bus, pid);
  g_object_unref(bus);
  return placed;
}

}  // namespace tovrin::KWinScript
