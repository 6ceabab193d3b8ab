#pragma once

// The palette's keyboard and shell rules, free of any toolkit: which keys the
// panel takes from the text field, the hotkey presets and the stored choice,
// the settings keys, and the menu's first item.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "accessibility/platform.h"
#include "ui/palette_view_model.h"

namespace tovrin {

struct HotkeyPreset {
  int id = 0;
  std::string_view title;
  uint32_t keyCode = 49;   // space
  uint32_t modifiers = 0;  // Carbon modifier mask
};

const std::array<HotkeyPreset, 4>& hotkeyPresets();

// A chord's modifiers as Linux desktops name the keys (Option is Alt,
// Command is Super), in the order their notations write them. Inline: the
// platform layers that spell chords for their desktops read it too.
enum class HotkeyModifier { control, alt, super, shift };
inline std::vector<HotkeyModifier> hotkeyModifiers(uint32_t carbonModifiers) {
  // Carbon's masks: command 0x100, shift 0x200, option 0x800, control 0x1000.
  std::vector<HotkeyModifier> out;
  if (carbonModifiers & 0x1000) out.push_back(HotkeyModifier::control);
  if (carbonModifiers & 0x800) out.push_back(HotkeyModifier::alt);
  if (carbonModifiers & 0x100) out.push_back(HotkeyModifier::super);
  if (carbonModifiers & 0x200) out.push_back(HotkeyModifier::shift);
  return out;
}

namespace HotkeySettings {
// The stored preset; a missing or unknown value gives the first.
const HotkeyPreset& current(Defaults* defaults);
}  // namespace HotkeySettings

// The settings keys of the user-defaults store and their defaults.
namespace SettingsKeys {
inline constexpr std::string_view kName = "profile.name";
inline constexpr std::string_view kEmail = "profile.email";
inline constexpr std::string_view kPhone = "profile.phone";
inline constexpr std::string_view kHotkeyPreset = "hotkeyPreset";
}  // namespace SettingsKeys

// "Open Tovrin (⌥ Space)": the menu's first item for the current preset.
std::string openMenuTitle(Defaults* defaults);

// What the palette does with a key pressed while it is the key window.
enum class KeyRouting {
  passThrough,       // the text field gets it
  consumed,          // the palette handled it
  consumedAndClose,  // handled, and the palette closes
};

struct PaletteKey {
  uint16_t keyCode = 0;
  std::string characters;  // ignoring modifiers
};

KeyRouting handleKey(PaletteViewModel& vm, const PaletteKey& key);

// The hotkey toggles the palette: hide it when it shows, else show it.
enum class Toggle { show, hide };
Toggle toggle(bool paletteVisible);

}  // namespace tovrin
