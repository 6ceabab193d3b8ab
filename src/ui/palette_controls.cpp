#include "ui/palette_controls.h"

#include <charconv>

namespace tovrin {

const std::array<HotkeyPreset, 4>& hotkeyPresets() {
  static const std::array<HotkeyPreset, 4> presets = {{
      {0, "⌥ Space", 49, 2048},
      {1, "⌃ Space", 49, 4096},
      {2, "⌘⇧ Space", 49, 768},
      {3, "⌥⌘ Space", 49, 2304},
  }};
  return presets;
}

const HotkeyPreset& HotkeySettings::current(Defaults* defaults) {
  const int64_t stored =
      defaults ? defaults->integer(std::string(SettingsKeys::kHotkeyPreset)).value_or(0) : 0;
  for (const HotkeyPreset& preset : hotkeyPresets()) {
    if (preset.id == stored) return preset;
  }
  return hotkeyPresets().front();
}

std::string openMenuTitle(Defaults* defaults) {
  return "Open Tovrin (" + std::string(HotkeySettings::current(defaults).title) + ")";
}

KeyRouting handleKey(PaletteViewModel& vm, const PaletteKey& key) {
  constexpr uint16_t kDown = 125, kUp = 126, kEscape = 53;
  const bool choosing = std::holds_alternative<ChoiceSet>(vm.phase());
  if (key.keyCode == kDown || key.keyCode == kUp) {
    if (!choosing) return KeyRouting::passThrough;
    vm.move(key.keyCode == kDown ? 1 : -1);
    return KeyRouting::consumed;
  }
  if (key.keyCode == kEscape)
    return vm.escape() ? KeyRouting::consumed : KeyRouting::consumedAndClose;
  if (choosing && !key.characters.empty()) {
    int n = 0;
    const char* end = key.characters.data() + key.characters.size();
    auto [at, error] = std::from_chars(key.characters.data(), end, n);
    if (error == std::errc() && at == end && n >= 1) {
      vm.setSelected(n - 1);
      vm.pick(n - 1);  // a number beyond the options selects nothing runnable
      return KeyRouting::consumed;
    }
  }
  return KeyRouting::passThrough;
}

Toggle toggle(bool paletteVisible) {
  return paletteVisible ? Toggle::hide : Toggle::show;
}

}  // namespace tovrin
