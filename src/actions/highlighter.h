#pragma once

// The temporary outline drawn over the element Tovrin is about to act on or
// has found. One per desktop: a new outline replaces the previous one and
// restarts its timer.

#include <cstdint>
#include <memory>
#include <mutex>

#include "accessibility/platform.h"

namespace tovrin {

class Highlighter {
 public:
  explicit Highlighter(Platform platform);

  // Outlines a rectangle in accessibility coordinates for `seconds`. Frames
  // 0 or 6000 points and more in either direction are ignored, leaving any
  // current outline and its timer alone.
  void show(const Frame& axFrame, double seconds);
  // Hides the outline at once and cancels its timer.
  void hide();

  // Where the outline window goes on a desktop whose windows are placed from
  // the bottom left: the frame with a 4-point margin, flipped against the
  // primary screen's height.
  static Frame windowFrame(const Frame& axFrame, double primaryScreenHeight);

 private:
  struct State {
    std::mutex mutex;
    uint64_t generation = 0;  // a timer hides the outline only if no newer show came since
  };
  Platform platform_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace tovrin
