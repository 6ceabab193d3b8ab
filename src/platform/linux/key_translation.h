#pragma once

// The flows speak in macOS key events (ANSI key codes with Command, Control,
// Option and Shift); Linux browsers want their own chords. This is the
// translation, per browser family, as pure functions.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "accessibility/platform.h"

namespace tovrin::Keys {

enum class Family { chromium, firefox };

// An X11 chord: keysym names as XStringToKeysym knows them ("Control_L",
// "a", "Left", "Prior"), modifiers first, the key last.
struct Chord {
  std::vector<std::string> modifiers;
  std::string key;
  friend bool operator==(const Chord&, const Chord&) = default;
};

// The chord for one macOS key event in this browser family; nothing for a
// key code Tovrin never sends (the event is then not posted). Events that
// carry text are typed, not translated.
std::optional<Chord> translate(uint16_t macKeyCode, uint64_t macFlags, Family family);

// How the chord reads in a trail: "Ctrl+3", "Alt+Left", "Return".
std::string describe(const Chord& chord);

}  // namespace tovrin::Keys
