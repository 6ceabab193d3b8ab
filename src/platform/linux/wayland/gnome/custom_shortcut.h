#pragma once

// GNOME before its GlobalShortcuts portal (43–47) lets no program take a
// key of its own; the user's keyboard shortcuts live in GSettings, where
// gnome-settings-daemon runs a command for each custom one. Tovrin adds its
// entry there ("tovrin toggle" on the preset's chord) only when the user
// asks, beside the user's own entries, and takes only its own out again.

#include <cstdint>
#include <optional>
#include <string>

typedef struct _GSettingsBackend GSettingsBackend;

namespace tovrin::gnome {

inline constexpr const char* kMediaKeysSchema = "org.gnome.settings-daemon.plugins.media-keys";
inline constexpr const char* kCustomKeybindingSchema =
    "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
// Tovrin's own entry; the user's are named by GNOME's Settings (custom0…).
inline constexpr const char* kTovrinKeybindingPath =
    "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/tovrin/";

struct CustomShortcut {
  std::string name;
  std::string command;
  std::string binding;  // GTK's notation: "<Alt>space"
};

// "<Alt>space" for Carbon's option mask: the chord as GNOME writes it.
std::string gnomeBinding(uint32_t carbonModifiers);

class CustomShortcuts {
 public:
  // The schemas come from gnome-settings-daemon; without them (another
  // desktop, or GNOME not installed) there is nowhere to add a shortcut.
  static bool available();

  // The user's settings; a backend of a test's own otherwise (not owned).
  explicit CustomShortcuts(GSettingsBackend* backend = nullptr) : backend_(backend) {}

  // The entry that runs `tovrin toggle`: Tovrin's own, or one the user made.
  [[nodiscard]] std::optional<CustomShortcut> tovrinShortcut() const;
  // Adds Tovrin's entry, or changes its chord and command; the problem in
  // words, or empty.
  [[nodiscard]] std::string install(uint32_t carbonModifiers, const std::string& command) const;
  // Takes Tovrin's own entry out of the list and clears it; the user's stay.
  [[nodiscard]] std::string remove() const;

 private:
  GSettingsBackend* backend_;
};

}  // namespace tovrin::gnome
