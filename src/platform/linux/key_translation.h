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

enum class Family { chromium, firefox, gnomeWeb };

// The family of a browser by its application id ("firefox-esr" → firefox,
// "org.gnome.Epiphany" → gnomeWeb).
Family familyOf(const std::string& applicationID);

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

// The code points of a UTF-8 string (a character may hold several).
std::vector<uint32_t> codePoints(const std::string& text);
// The keysym that types a code point: Latin-1 keysyms are the code points,
// the rest 0x01000000 + code point; line ends and tabs are their keys.
uint32_t keysymForCodePoint(uint32_t codePoint);

}  // namespace tovrin::Keys
