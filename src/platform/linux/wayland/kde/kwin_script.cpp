#include "platform/linux/wayland/kde/kwin_script.h"

#include <cstdlib>
#include <fstream>

namespace tovrin::KWinScript {
namespace {

constexpr const char* kKWin = "org.kde.KWin";
constexpr const char* kScripting = "org.kde.kwin.Scripting";
constexpr const char* kPlugin = "tovrin-activate";

GVariant* call(GDBusConnection* bus, const char* path, const char* interfaceName,
               const char* method, GVariant* arguments, const GVariantType* reply) {
  return g_dbus_connection_call_sync(bus, kKWin, path, interfaceName, method, arguments, reply,
                                     G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr);
}

}  // namespace

std::string activation(int32_t pid) {
  const std::string id = std::to_string(pid);
  return "const windows = typeof workspace.windowList === 'function'\n"
         "    ? workspace.windowList() : workspace.clientList();\n"
         "for (const w of windows) {\n"
         "  if (w.pid === " +
         id +
         " && w.normalWindow) {\n"
         "    if ('activeWindow' in workspace) workspace.activeWindow = w;\n"
         "    else workspace.activeClient = w;\n"
         "    break;\n"
         "  }\n"
         "}\n";
}

bool activate(GDBusConnection* bus, int32_t pid) {
  if (!bus || pid <= 0) return false;
  // KWin reads the script from a file; the runtime folder is the user's own.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string path =
      std::string(runtime && *runtime ? runtime : "/tmp") + "/tovrin-activate.js";
  {
    std::ofstream out(path, std::ios::trunc);
    out << activation(pid);
    if (!out) return false;
  }
  // KWin reads and runs the script after start() returns, so it stays
  // loaded until the next activation unloads it: a script left loaded
  // would keep the name taken.
  if (GVariant* r = call(bus, "/Scripting", kScripting, "unloadScript",
                         g_variant_new("(s)", kPlugin), nullptr)) {
    g_variant_unref(r);
  }
  bool ok = false;
  if (GVariant* loaded =
          call(bus, "/Scripting", kScripting, "loadScript",
               g_variant_new("(ss)", path.c_str(), kPlugin), G_VARIANT_TYPE("(i)"))) {
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

}  // namespace tovrin::KWinScript
