#pragma once

// Synthetic input on an X11 desktop through XTest: macOS key events
// translated to the browser family's chords, any Unicode text typed by
// mapping a spare key code to the character for the moment it is pressed
// (as X input tools do), left-button clicks and the vertical wheel at
// global points.

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "accessibility/platform.h"
#include "platform/linux/key_translation.h"

struct _XDisplay;

namespace tovrin {

class X11Input final : public SyntheticInput {
 public:
  // `activePid` tells which process owns the active window: keys are
  // posted only while that is the target process.
  static std::shared_ptr<X11Input> open(std::function<std::optional<int32_t>()> activePid);
  ~X11Input() override;

  bool postKey(int32_t pid, const KeyEvent& event) override;
  bool postMouse(double x, double y, bool down) override;
  bool postScrollWheel(double x, double y, int32_t pixels) override;
  std::optional<std::string> sentChord(int32_t pid, uint16_t keyCode, uint64_t flags) override;

 private:
  X11Input(_XDisplay* display, std::function<std::optional<int32_t>()> activePid)
      : display_(display), activePid_(std::move(activePid)) {}
  bool typeCharacter(const std::string& character);
  void findSpareCodes();
  bool pressKeysym(unsigned long keysym, bool down);

  std::mutex mutex_;
  _XDisplay* display_;
  std::function<std::optional<int32_t>()> activePid_;
  std::vector<int> spares_;  // key codes with no symbols, lent in turn
  std::size_t nextSpare_ = 0;
};

}  // namespace tovrin
