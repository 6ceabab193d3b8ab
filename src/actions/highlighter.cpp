#include "actions/highlighter.h"

namespace tovrin {

Highlighter::Highlighter(Platform platform) : platform_(std::move(platform)) {}

void Highlighter::show(const Frame& f, double seconds) {
  if (!(f.width > 0 && f.width < 6000 && f.height > 0 && f.height < 6000)) return;
  uint64_t generation = 0;
  {
    std::lock_guard lock(state_->mutex);
    generation = ++state_->generation;
  }
  if (platform_.overlay) platform_.overlay->showOutline(f, seconds);
  if (!platform_.timers) return;
  // The timer holds everything weakly: the desktop keeps its timers, so a
  // strong hold on its overlay would keep the desktop alive forever, and a
  // highlighter gone by then hides nothing.
  std::weak_ptr<State> weak = state_;
  std::weak_ptr<Overlay> weakOverlay = platform_.overlay;
  platform_.timers->after(seconds, [weak, generation, weakOverlay] {
    auto state = weak.lock();
    if (!state) return;
    {
      std::lock_guard lock(state->mutex);
      if (state->generation != generation) return;
    }
    if (auto overlay = weakOverlay.lock()) overlay->hideOutline();
  });
}

void Highlighter::hide() {
  {
    std::lock_guard lock(state_->mutex);
    ++state_->generation;
  }
  if (platform_.overlay) platform_.overlay->hideOutline();
}

Frame Highlighter::windowFrame(const Frame& f, double primaryScreenHeight) {
  return Frame{f.x - 4, primaryScreenHeight - (f.y + f.height) - 4, f.width + 8, f.height + 8};
}

}  // namespace tovrin
