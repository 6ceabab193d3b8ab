#include "platform/linux/wayland/gnome/custom_shortcut.h"

#include <gio/gio.h>

#include <array>
#include <memory>
#include <vector>

#include "ui/palette_controls.h"

namespace tovrin::gnome {
namespace {

struct Unref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using Settings = std::unique_ptr<GSettings, Unref>;

bool schemaInstalled(const char* id) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  if (source == nullptr) return false;
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, id, TRUE);
  if (schema == nullptr) return false;
  g_settings_schema_unref(schema);
  return true;
}

Settings open(GSettingsBackend* backend, const char* schema, const char* path = nullptr) {
  if (path != nullptr) {
    return Settings(backend ? g_settings_new_with_backend_and_path(schema, backend, path)
                            : g_settings_new_with_path(schema, path));
  }
  return Settings(backend ? g_settings_new_with_backend(schema, backend) : g_settings_new(schema));
}

std::vector<std::string> paths(GSettings* keys) {
  std::vector<std::string> out;
  gchar** list = g_settings_get_strv(keys, "custom-keybindings");
  for (gchar** p = list; p != nullptr && *p != nullptr; ++p)
    out.emplace_back(*p);
  g_strfreev(list);
  return out;
}

bool setPaths(GSettings* keys, const std::vector<std::string>& list) {
  std::vector<const gchar*> raw;
  raw.reserve(list.size() + 1);
  for (const std::string& p : list)
    raw.push_back(p.c_str());
  raw.push_back(nullptr);
  return g_settings_set_strv(keys, "custom-keybindings", raw.data()) != FALSE;
}

std::string text(GSettings* entry, const char* key) {
  gchar* value = g_settings_get_string(entry, key);
  std::string out = value ? value : "";
  g_free(value);
  return out;
}

// "tovrin toggle", "/usr/bin/tovrin toggle": what the entry runs is ours.
bool runsTovrinToggle(const std::string& command) {
  const std::string tail = "tovrin toggle";
  if (command.size() < tail.size() ||
      command.compare(command.size() - tail.size(), tail.size(), tail) != 0)
    return false;
  return command.size() == tail.size() || command[command.size() - tail.size() - 1] == '/';
}

}  // namespace

std::string gnomeBinding(uint32_t carbonModifiers) {
  std::string chord;
  for (HotkeyModifier m : hotkeyModifiers(carbonModifiers)) {
    static constexpr std::array<const char*, 4> kNames = {"<Control>", "<Alt>", "<Super>",
                                                          "<Shift>"};
    chord += kNames[static_cast<std::size_t>(m)];
  }
  return chord + "space";
}

bool CustomShortcuts::available() {
  return schemaInstalled(kMediaKeysSchema) && schemaInstalled(kCustomKeybindingSchema);
}

std::optional<CustomShortcut> CustomShortcuts::tovrinShortcut() const {
  if (!available()) return std::nullopt;
  Settings keys = open(backend_, kMediaKeysSchema);
  for (const std::string& path : paths(keys.get())) {
    Settings entry = open(backend_, kCustomKeybindingSchema, path.c_str());
    CustomShortcut shortcut{text(entry.get(), "name"), text(entry.get(), "command"),
                            text(entry.get(), "binding")};
    if (path == kTovrinKeybindingPath || runsTovrinToggle(shortcut.command)) return shortcut;
  }
  return std::nullopt;
}

std::string CustomShortcuts::install(uint32_t carbonModifiers, const std::string& command) const {
  if (!available())
    return "GNOME's keyboard settings are not installed (gnome-settings-daemon), so no shortcut "
           "can be added there";
  Settings keys = open(backend_, kMediaKeysSchema);
  // The entry's fields first: the daemon binds an entry as soon as it is
  // listed, and must never see it half written.
  Settings entry = open(backend_, kCustomKeybindingSchema, kTovrinKeybindingPath);
  const std::string binding = gnomeBinding(carbonModifiers);
  if (!g_settings_set_string(entry.get(), "name", "Tovrin") ||
      !g_settings_set_string(entry.get(), "command", command.c_str()) ||
      !g_settings_set_string(entry.get(), "binding", binding.c_str()))
    return "GNOME's keyboard settings could not be written";
  std::vector<std::string> list = paths(keys.get());
  bool listed = false;
  for (const std::string& p : list)
    listed = listed || p == kTovrinKeybindingPath;
  if (!listed) {
    list.emplace_back(kTovrinKeybindingPath);
    if (!setPaths(keys.get(), list)) return "GNOME's keyboard settings could not be written";
  }
  g_settings_sync();
  return {};
}

std::string CustomShortcuts::remove() const {
  if (!available()) return {};
  Settings keys = open(backend_, kMediaKeysSchema);
  std::vector<std::string> list = paths(keys.get());
  std::vector<std::string> kept;
  for (const std::string& p : list) {
    if (p != kTovrinKeybindingPath) kept.push_back(p);
  }
  if (kept.size() != list.size() && !setPaths(keys.get(), kept))
    return "GNOME's keyboard settings could not be written";
  Settings entry = open(backend_, kCustomKeybindingSchema, kTovrinKeybindingPath);
  for (const char* key : {"name", "command", "binding"})
    g_settings_reset(entry.get(), key);
  g_settings_sync();
  return {};
}

}  // namespace tovrin::gnome
