#pragma once

// A global hotkey on X11: the chord is grabbed on the root window, for every
// combination of the lock modifiers (Caps Lock, Num Lock) so it works
// whatever their state. A grab another program already holds is reported,
// and then nothing of it stays grabbed. Events arrive on a display
// connection of its own; the owner watches fd() and calls presses().

#include <cstdint>
#include <memory>
#include <string>

#include "ui/palette_controls.h"

struct _XDisplay;

namespace tovrin {

// "Alt+Space" for the first preset: the chord in Linux notation.
std::string hotkeyTitle(const HotkeyPreset& preset);

class X11Hotkey {
 public:
  enum class Grab { grabbed, taken, failed };

  // Nothing, with `error` set, when the display cannot be opened.
  static std::unique_ptr<X11Hotkey> open(std::string& error);
  ~X11Hotkey();
  X11Hotkey(const X11Hotkey&) = delete;
  X11Hotkey& operator=(const X11Hotkey&) = delete;

  // Releases the chord grabbed before, then grabs the preset's.
  Grab grab(const HotkeyPreset& preset);
  void release();
  [[nodiscard]] bool holding() const { return held_; }

  // The connection's socket, to wait on.
  [[nodiscard]] int fd() const;
  // Handles what arrived; how many times the chord was pressed (a chord
  // held down counts once, however long it repeats).
  int presses();

 private:
  X11Hotkey(_XDisplay* display, bool detectableRepeat)
      : display_(display), detectableRepeat_(detectableRepeat) {}
  bool grabAll(unsigned int modifiers, bool grab);

  _XDisplay* display_;
  // The server repeats a held key as presses alone, without releases.
  bool detectableRepeat_;
  unsigned int modifiers_ = 0;
  int keycode_ = 0;
  bool held_ = false;
  // The chord's key is down: its repeats are not new presses.
  bool down_ = false;
  uint32_t lastKeyTime_ = 0;  // server time of its last event, in ms
  // Repeats come some tens of milliseconds apart, the first one at most
  // about a second after the press.
  static constexpr uint32_t kRepeatGapMs = 2000;
};

}  // namespace tovrin
