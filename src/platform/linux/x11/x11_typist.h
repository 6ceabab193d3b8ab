#pragma once

// A person at the keyboard of an X display, for the demo: chords and text
// pressed through XTest into whatever has the focus, as the user's own keys
// would arrive (the global hotkey included). Tovrin's commands never use
// it: they send keys only to a browser that is checked to be in front.

#include <chrono>
#include <string>
#include <vector>

namespace tovrin::X11Typist {

// Presses the keys named by their keysyms ("Control_L", "space") in order,
// holds them for `held`, and lets go of them in reverse; false when the
// display cannot be opened or a key is not on the keyboard.
bool press(const std::vector<std::string>& keysyms,
           std::chrono::milliseconds held = std::chrono::milliseconds(0));

// Types printable ASCII text a key at a time, `pause` apart (Shift where
// the keyboard needs it); false as for press.
bool type(const std::string& text, std::chrono::milliseconds pause);

}  // namespace tovrin::X11Typist
