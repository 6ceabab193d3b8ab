// Tovrin's GNOME keyboard shortcut, written into a settings backend of the
// test's own (in memory): the user's entries are never touched.

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/wayland/gnome/custom_shortcut.h"
#include "ui/palette_controls.h"

namespace tovrin::gnome {
namespace {

constexpr const char* kUserPath =
    "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/";

struct Backend {
  GSettingsBackend* backend = g_memory_settings_backend_new();
  ~Backend() { g_object_unref(backend); }

  std::vector<std::string> listed() const {
    GSettings* keys = g_settings_new_with_backend(kMediaKeysSchema, backend);
    gchar** list = g_settings_get_strv(keys, "custom-keybindings");
    std::vector<std::string> out;
    for (gchar** p = list; *p != nullptr; ++p)
      out.emplace_back(*p);
    g_strfreev(list);
    g_object_unref(keys);
    return out;
  }
  // An entry the user made in GNOME's Settings.
  void addUserEntry(const char* command) const {
    GSettings* entry =
        g_settings_new_with_backend_and_path(kCustomKeybindingSchema, backend, kUserPath);
    g_settings_set_string(entry, "name", "Mine");
    g_settings_set_string(entry, "command", command);
    g_settings_set_string(entry, "binding", "<Super>t");
    g_object_unref(entry);
    GSettings* keys = g_settings_new_with_backend(kMediaKeysSchema, backend);
    const gchar* list[] = {kUserPath, nullptr};
    g_settings_set_strv(keys, "custom-keybindings", list);
    g_object_unref(keys);
  }
  std::string userCommand() const {
    GSettings* entry =
        g_settings_new_with_backend_and_path(kCustomKeybindingSchema, backend, kUserPath);
    gchar* command = g_settings_get_string(entry, "command");
    std::string out = command;
    g_free(command);
    g_object_unref(entry);
    return out;
  }
};

TEST(GnomeShortcutTest, EachPresetBecomesGnomesNotationForTheChord) {
  const std::vector<std::string> expected = {"<Alt>space", "<Control>space", "<Super><Shift>space",
                                             "<Alt><Super>space"};
  for (const HotkeyPreset& preset : hotkeyPresets())
    EXPECT_EQ(gnomeBinding(preset.modifiers), expected.at(static_cast<size_t>(preset.id)));
}

TEST(GnomeShortcutTest, AddedBesideTheUsersOwnChangedInPlaceAndTakenOutAlone) {
  if (!CustomShortcuts::available())
    GTEST_SKIP() << "gnome-settings-daemon's schemas are not installed";
  Backend settings;
  settings.addUserEntry("gnome-terminal");
  CustomShortcuts shortcuts(settings.backend);
  EXPECT_FALSE(shortcuts.tovrinShortcut());

  ASSERT_EQ(shortcuts.install(hotkeyPresets()[0].modifiers, "tovrin toggle"), "");
  EXPECT_EQ(settings.listed(), (std::vector<std::string>{kUserPath, kTovrinKeybindingPath}));
  auto ours = shortcuts.tovrinShortcut();
  ASSERT_TRUE(ours);
  EXPECT_EQ(ours->binding, "<Alt>space");
  EXPECT_EQ(ours->command, "tovrin toggle");

  // Another preset: the same entry, listed once, with the new chord.
  ASSERT_EQ(shortcuts.install(hotkeyPresets()[1].modifiers, "tovrin toggle"), "");
  EXPECT_EQ(settings.listed().size(), 2U);
  EXPECT_EQ(shortcuts.tovrinShortcut()->binding, "<Control>space");

  ASSERT_EQ(shortcuts.remove(), "");
  EXPECT_EQ(settings.listed(), (std::vector<std::string>{kUserPath}));
  EXPECT_EQ(settings.userCommand(), "gnome-terminal");
  EXPECT_FALSE(shortcuts.tovrinShortcut());
}

TEST(GnomeShortcutTest, AnEntryTheUserMadeForTovrinCountsAndIsNeverRemoved) {
  if (!CustomShortcuts::available())
    GTEST_SKIP() << "gnome-settings-daemon's schemas are not installed";
  for (const char* command : {"tovrin toggle", "/usr/bin/tovrin toggle"}) {
    Backend settings;
    settings.addUserEntry(command);
    CustomShortcuts shortcuts(settings.backend);
    ASSERT_TRUE(shortcuts.tovrinShortcut()) << command;
    EXPECT_EQ(shortcuts.tovrinShortcut()->binding, "<Super>t");
    ASSERT_EQ(shortcuts.remove(), "");
    EXPECT_EQ(settings.listed(), (std::vector<std::string>{kUserPath}));
  }
  Backend other;
  other.addUserEntry("mytovrin toggle");
  EXPECT_FALSE(CustomShortcuts(other.backend).tovrinShortcut());
}

}  // namespace
}  // namespace tovrin::gnome
