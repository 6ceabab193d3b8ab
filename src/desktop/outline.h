#pragma once

// The outline drawn over an element: an always-on-top window that lets
// clicks through, shaped to a ring so it needs no compositor, on whichever
// screen holds the element. And timers that run on the interface thread.

#include <QWidget>
#include <memory>

#include "accessibility/platform.h"

namespace tovrin::desktop {

class OutlineWindow final : public QWidget {
 public:
  OutlineWindow();
  // Accessibility coordinates are the X screen's: top-left origin, pixels.
  void outline(const Frame& frame);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class QtOverlay final : public Overlay {
 public:
  std::vector<Frame> screens() override;
  void showOutline(const Frame& frame, double seconds) override;
  void hideOutline() override;
  [[nodiscard]] OutlineWindow* window() const { return window_.get(); }

 private:
  std::unique_ptr<OutlineWindow> window_;
};

class QtTimers final : public Timers {
 public:
  void after(double seconds, std::function<void()> task) override;
};

}  // namespace tovrin::desktop
