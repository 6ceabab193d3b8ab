#pragma once

// "Click an element": the next left click anywhere on screen, taken by
// grabbing the pointer (with a crosshair) on a display connection of its
// own, so the click reaches no program. The owner watches fd().

#include <memory>
#include <optional>
#include <string>
#include <utility>

struct _XDisplay;

namespace tovrin {

class X11PointerPick {
 public:
  static std::unique_ptr<X11PointerPick> open(std::string& error);
  ~X11PointerPick();
  X11PointerPick(const X11PointerPick&) = delete;
  X11PointerPick& operator=(const X11PointerPick&) = delete;

  // False when another program holds the pointer.
  bool start();
  void cancel();
  [[nodiscard]] int fd() const;
  // After fd() is readable: the root position of the left click, once
  // (the grab is then over); Escape or a right click cancels.
  std::optional<std::pair<int, int>> clicked();
  [[nodiscard]] bool active() const { return active_; }
  // The pick ended without a click (cancelled by the user).
  [[nodiscard]] bool cancelled() const { return cancelled_; }

 private:
  explicit X11PointerPick(_XDisplay* display) : display_(display) {}
  _XDisplay* display_;
  unsigned long cursor_ = 0;
  bool active_ = false;
  bool cancelled_ = false;
};

}  // namespace tovrin
