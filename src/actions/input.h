#pragma once

// Synthetic keyboard input to the browser, and the saved profile values.
// Keys and typed text reach only the target browser: posting first makes
// sure it is the active application, and posts nothing when it cannot be.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "accessibility/browser.h"
#include "intent/intent.h"

namespace tovrin {

// macOS virtual key codes of an ANSI keyboard.
namespace KeyCode {
inline constexpr uint16_t kA = 0, kC = 8, kV = 9, kR = 15, kT = 17, kW = 13, kRightBracket = 30,
                          kLeftBracket = 33, kReturn = 36, kTab = 48, kDelete = 51, kEscape = 53,
                          kLeft = 123, kRight = 124, kDown = 125, kUp = 126, kPageUp = 116,
                          kPageDown = 121, kHome = 115, kEnd = 119;
// Digit key codes, indexed by the digit.
uint16_t digit(int d);
}  // namespace KeyCode

struct KeyStroke {
  uint16_t code = 0;
  uint64_t flags = KeyFlags::kNone;
};

// The key and modifiers of each KeyAction.
KeyStroke keyStroke(KeyAction key);

namespace Input {

// Activates the browser unless it is already the front application; false
// when it could not be made active.
bool activate(const BrowserTarget& target);

// A key down and up, with `flags` on both, to the browser process.
void postKey(const BrowserTarget& target, KeyStroke key);

// Types `text` character by character (line feeds become spaces), 3 ms apart,
// stopping early when `cancelled` says so.
void type(const BrowserTarget& target, std::string_view text,
          const std::function<bool()>& cancelled);

}  // namespace Input

namespace Profile {
// The saved value for a profile field, trimmed; empty when none is saved.
std::string value(const Platform& platform, ProfileField field);
std::string key(ProfileField field);  // "profile.name", "profile.email", "profile.phone"
}  // namespace Profile

}  // namespace tovrin
