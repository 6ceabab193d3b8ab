#include "platform/linux/x11/x11_typist.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <memory>
#include <thread>

namespace tovrin::X11Typist {
namespace {

struct CloseDisplay {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, CloseDisplay>;

bool key(Display* d, KeySym sym, bool down) {
  const KeyCode code = XKeysymToKeycode(d, sym);
  if (code == 0) return false;
  XTestFakeKeyEvent(d, code, down ? True : False, CurrentTime);
  return true;
}

}  // namespace

bool press(const std::vector<std::string>& keysyms, std::chrono::milliseconds held) {
  DisplayPtr d(XOpenDisplay(nullptr));
  if (!d) return false;
  std::vector<KeySym> syms;
  for (const std::string& name : keysyms) {
    const KeySym sym = XStringToKeysym(name.c_str());
    if (sym == NoSymbol || XKeysymToKeycode(d.get(), sym) == 0) return false;
    syms.push_back(sym);
  }
  for (KeySym sym : syms)
    key(d.get(), sym, true);
  if (held.count() > 0) {
    XSync(d.get(), False);
    std::this_thread::sleep_for(held);
  }
  for (auto it = syms.rbegin(); it != syms.rend(); ++it)
    key(d.get(), *it, false);
  XSync(d.get(), False);
  return true;
}

bool type(const std::string& text, std::chrono::milliseconds pause) {
  DisplayPtr d(XOpenDisplay(nullptr));
  if (!d) return false;
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
    // Latin-1 keysyms are the characters' own codes.
    const auto sym = static_cast<KeySym>(static_cast<unsigned char>(c));
    const KeyCode code = XKeysymToKeycode(d.get(), sym);
    if (code == 0) return false;
    const bool shifted = XkbKeycodeToKeysym(d.get(), code, 0, 0) != sym &&
                         XkbKeycodeToKeysym(d.get(), code, 0, 1) == sym;
    if (shifted) key(d.get(), XK_Shift_L, true);
    XTestFakeKeyEvent(d.get(), code, True, CurrentTime);
    XTestFakeKeyEvent(d.get(), code, False, CurrentTime);
    if (shifted) key(d.get(), XK_Shift_L, false);
    XSync(d.get(), False);
    std::this_thread::sleep_for(pause);
  }
  return true;
}

}  // namespace tovrin::X11Typist
