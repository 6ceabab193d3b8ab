#include "platform/linux/x11/x11_hotkey.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <atomic>
#include <mutex>

namespace tovrin {
namespace {

struct Chord {
  unsigned int modifiers;
  const char* title;
};

// The presets' chords: Option is Alt, Command is Super.
Chord chordOf(const HotkeyPreset& preset) {
  switch (preset.id) {
    case 1:
      return {ControlMask, "Ctrl+Space"};
    case 2:
      return {Mod4Mask | ShiftMask, "Super+Shift+Space"};
    case 3:
      return {Mod1Mask | Mod4Mask, "Alt+Super+Space"};
    default:
      return {Mod1Mask, "Alt+Space"};
  }
}

// Xlib's error handler is one for the whole process: while grabbing, a
// refusal on our connection is noted, anything else ignored as before.
std::mutex grabMutex;
_XDisplay* grabbing = nullptr;
std::atomic<bool> refused{false};

int noteRefusal(::Display* display, XErrorEvent* event) {
  if (display == grabbing && event->error_code == BadAccess) refused = true;
  return 0;
}

}  // namespace

std::string hotkeyTitle(const HotkeyPreset& preset) {
  return chordOf(preset).title;
}

std::unique_ptr<X11Hotkey> X11Hotkey::open(std::string& error) {
  ::Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    error = "the display cannot be opened";
    return nullptr;
  }
  // A held key then repeats its press without releases in between, so
  // the repeats can be told from new presses.
  Bool detectable = False;
  XkbSetDetectableAutoRepeat(display, True, &detectable);
  return std::unique_ptr<X11Hotkey>(new X11Hotkey(display, detectable == True));
}

X11Hotkey::~X11Hotkey() {
  release();
  XCloseDisplay(display_);
}

bool X11Hotkey::grabAll(unsigned int modifiers, bool grab) {
  std::lock_guard lock(grabMutex);
  grabbing = display_;
  refused = false;
  XErrorHandler previous = XSetErrorHandler(noteRefusal);
  Window root = DefaultRootWindow(display_);
  // Every state of Caps Lock and Num Lock (Mod2 on nearly every layout).
  for (unsigned int locks : {0U, static_cast<unsigned>(LockMask), static_cast<unsigned>(Mod2Mask),
                             static_cast<unsigned>(LockMask | Mod2Mask)}) {
    if (grab) {
      XGrabKey(display_, keycode_, modifiers | locks, root, False, GrabModeAsync, GrabModeAsync);
    } else {
      XUngrabKey(display_, keycode_, modifiers | locks, root);
    }
  }
  XSync(display_, False);
  XSetErrorHandler(previous);
  grabbing = nullptr;
  return !refused;
}

X11Hotkey::Grab X11Hotkey::grab(const HotkeyPreset& preset) {
  release();  // never two chords at once
  down_ = false;
  keycode_ = XKeysymToKeycode(display_, XK_space);
  if (keycode_ == 0) return Grab::failed;
  modifiers_ = chordOf(preset).modifiers;
  if (grabAll(modifiers_, true)) {
    held_ = true;
    return Grab::grabbed;
  }
  // Some of the lock combinations may have been had: let go of those too.
  grabAll(modifiers_, false);
  return Grab::taken;
}

void X11Hotkey::release() {
  if (!held_) return;
  grabAll(modifiers_, false);
  held_ = false;
}

int X11Hotkey::fd() const {
  return ConnectionNumber(display_);
}

int X11Hotkey::presses() {
  int count = 0;
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (!held_ || (event.type != KeyPress && event.type != KeyRelease) ||
        static_cast<int>(event.xkey.keycode) != keycode_)
      continue;
    const auto time = static_cast<uint32_t>(event.xkey.time);
    if (event.type == KeyRelease) {
      // Where auto-repeat cannot be told apart, a held key sends a release
      // and a press at the same moment: both are the key still held. (Only
      // there: keys posted by a program can be tapped twice in one moment.)
      if (!detectableRepeat_ && XEventsQueued(display_, QueuedAfterReading) > 0) {
        XEvent next;
        XPeekEvent(display_, &next);
        if (next.type == KeyPress && next.xkey.keycode == event.xkey.keycode &&
            static_cast<uint32_t>(next.xkey.time) == time) {
          XNextEvent(display_, &next);
          lastKeyTime_ = time;
          continue;
        }
      }
      down_ = false;
      lastKeyTime_ = time;
      continue;
    }
    // A chord held down repeats its press; only the first one toggles, or
    // the palette would flicker open and shut for as long as it is held. A
    // release lost on the way (the grab broken) must not swallow the next
    // real press, so a press long after the last key event counts anew.
    const bool repeat = down_ && time - lastKeyTime_ < kRepeatGapMs;
    down_ = true;
    lastKeyTime_ = time;
    if (!repeat) ++count;
  }
  return count;
}

}  // namespace tovrin
