#include "platform/linux/x11/x11_input.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "platform/linux/process/process_info.h"

namespace tovrin {
namespace {

Keys::Family familyOf(int32_t pid) {
  return Keys::familyOf(ProcessInfo::identify(ProcessInfo::executableName(pid), "").applicationID);
}

}  // namespace

std::shared_ptr<X11Input> X11Input::open(std::function<std::optional<int32_t>()> activePid) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return nullptr;
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
    XCloseDisplay(display);
    return nullptr;
  }
  return std::shared_ptr<X11Input>(new X11Input(display, std::move(activePid)));
}

X11Input::~X11Input() {
  // Give the lent key codes back their emptiness.
  for (int code : spares_) {
    KeySym none[2] = {NoSymbol, NoSymbol};
    XChangeKeyboardMapping(display_, code, 2, none, 1);
  }
  XSync(display_, False);
  XCloseDisplay(display_);
}

void X11Input::findSpareCodes() {
  int minCode = 0, maxCode = 0, perCode = 0;
  XDisplayKeycodes(display_, &minCode, &maxCode);
  KeySym* map =
      XGetKeyboardMapping(display_, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
  if (!map) return;
  for (int k = maxCode; k >= minCode && spares_.size() < 8; --k) {
    bool empty = true;
    for (int j = 0; j < perCode; ++j) {
      if (map[(k - minCode) * perCode + j] != NoSymbol) empty = false;
    }
    if (empty) spares_.push_back(k);
  }
  XFree(map);
}

bool X11Input::pressKeysym(unsigned long keysym, bool down) {
  KeyCode code = XKeysymToKeycode(display_, keysym);
  if (code == 0) return false;
  XTestFakeKeyEvent(display_, code, down ? True : False, CurrentTime);
  return true;
}

bool X11Input::typeCharacter(const std::string& character) {
  for (uint32_t cp : Keys::codePoints(character)) {
    const KeySym keysym = Keys::keysymForCodePoint(cp);
    KeyCode code = XKeysymToKeycode(display_, keysym);
    bool shifted = false;
    if (code != 0) {
      // A key that types it only with Shift.
      shifted = XkbKeycodeToKeysym(display_, code, 0, 0) != keysym &&
                XkbKeycodeToKeysym(display_, code, 0, 1) == keysym;
    } else {
      // No key types it: lend it one of the key codes that have no
      // symbols. Browsers read the new mapping when its notice arrives,
      // after the remapping but maybe after the next one too, so the codes
      // take turns and each keeps its character until its turn comes again.
      if (spares_.empty()) findSpareCodes();
      if (spares_.empty()) return false;
      code = static_cast<KeyCode>(spares_[nextSpare_++ % spares_.size()]);
      KeySym both[2] = {keysym, keysym};
      XChangeKeyboardMapping(display_, code, 2, both, 1);
      XSync(display_, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (shifted) pressKeysym(XK_Shift_L, true);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (shifted) pressKeysym(XK_Shift_L, false);
    XSync(display_, False);
  }
  return true;
}

bool X11Input::postKey(int32_t pid, const KeyEvent& event) {
  std::lock_guard lock(mutex_);
  // Keys go to whatever has the focus, so they are sent only while the
  // target's window is the active one.
  if (!activePid_ || activePid_() != pid) return false;
  if (!event.text.empty()) {
    if (!event.down) return true;  // the character was typed on its key down
    return typeCharacter(event.text);
  }
  auto chord = Keys::translate(event.keyCode, event.flags, familyOf(pid));
  if (!chord) return false;
  if (event.down) {
    for (const std::string& m : chord->modifiers)
      pressKeysym(XStringToKeysym(m.c_str()), true);
    if (!pressKeysym(XStringToKeysym(chord->key.c_str()), true)) return false;
  } else {
    pressKeysym(XStringToKeysym(chord->key.c_str()), false);
    for (auto it = chord->modifiers.rbegin(); it != chord->modifiers.rend(); ++it) {
      pressKeysym(XStringToKeysym(it->c_str()), false);
    }
  }
  XSync(display_, False);
  return true;
}

std::optional<std::string> X11Input::sentChord(int32_t pid, uint16_t keyCode, uint64_t flags) {
  auto chord = Keys::translate(keyCode, flags, familyOf(pid));
  if (!chord) return std::nullopt;
  return Keys::describe(*chord);
}

bool X11Input::postMouse(double x, double y, bool down) {
  if (!std::isfinite(x) || !std::isfinite(y)) return false;
  std::lock_guard lock(mutex_);
  XTestFakeMotionEvent(display_, -1, static_cast<int>(std::lround(x)),
                       static_cast<int>(std::lround(y)), CurrentTime);
  XTestFakeButtonEvent(display_, 1, down ? True : False, CurrentTime);
  XSync(display_, False);
  return true;
}

bool X11Input::postScrollWheel(double x, double y, int32_t pixels) {
  if (!std::isfinite(x) || !std::isfinite(y) || pixels == 0) return false;
  std::lock_guard lock(mutex_);
  XTestFakeMotionEvent(display_, -1, static_cast<int>(std::lround(x)),
                       static_cast<int>(std::lround(y)), CurrentTime);
  // A wheel step scrolls about 50 pixels in both browsers; positive pixels
  // move the content down, which is button 4 (up).
  const unsigned button = pixels > 0 ? 4 : 5;
  const int steps = std::max(1, static_cast<int>(std::lround(std::abs(pixels) / 50.0)));
  for (int i = 0; i < steps; ++i) {
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
  }
  XSync(display_, False);
  return true;
}

}  // namespace tovrin
