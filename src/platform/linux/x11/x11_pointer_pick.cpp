#include "platform/linux/x11/x11_pointer_pick.h"

#include <X11/Xlib.h>
#include <X11/cursorfont.h>
#include <X11/keysym.h>

namespace tovrin {

std::unique_ptr<X11PointerPick> X11PointerPick::open(std::string& error) {
  ::Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    error = "the display cannot be opened";
    return nullptr;
  }
  return std::unique_ptr<X11PointerPick>(new X11PointerPick(display));
}

X11PointerPick::~X11PointerPick() {
  cancel();
  if (cursor_ != 0) XFreeCursor(display_, cursor_);
  XCloseDisplay(display_);
}

bool X11PointerPick::start() {
  if (active_) return true;
  if (cursor_ == 0) cursor_ = XCreateFontCursor(display_, XC_crosshair);
  Window root = DefaultRootWindow(display_);
  const int grabbed = XGrabPointer(display_, root, False, ButtonPressMask, GrabModeAsync,
                                   GrabModeAsync, None, cursor_, CurrentTime);
  if (grabbed != GrabSuccess) return false;
  // Escape gives up the pick.
  XGrabKeyboard(display_, root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
  XSync(display_, False);
  active_ = true;
  cancelled_ = false;
  return true;
}

void X11PointerPick::cancel() {
  if (!active_) return;
  XUngrabPointer(display_, CurrentTime);
  XUngrabKeyboard(display_, CurrentTime);
  XSync(display_, False);
  active_ = false;
}

int X11PointerPick::fd() const {
  return ConnectionNumber(display_);
}

std::optional<std::pair<int, int>> X11PointerPick::clicked() {
  std::optional<std::pair<int, int>> out;
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (!active_ || out) continue;
    if (event.type == ButtonPress && event.xbutton.button == Button1) {
      out = std::make_pair(event.xbutton.x_root, event.xbutton.y_root);
    } else if ((event.type == ButtonPress && event.xbutton.button == Button3) ||
               (event.type == KeyPress &&
                XLookupKeysym(&event.xkey, 0) == static_cast<KeySym>(XK_Escape))) {
      cancel();
      cancelled_ = true;
    }
  }
  if (out) cancel();
  return out;
}

}  // namespace tovrin
