#pragma once

// Synthetic keys on a Wayland session. Wayland lets no client put keys into
// another's window, so each compositor has its own route (mutter's remote
// desktop, the RemoteDesktop portal, wlroots' virtual keyboard); what they
// share lives here: the browser's own chords, one key for each character,
// and the rule that keys are posted only while the browser's window is the
// active one. Clicks and the wheel at a point are not offered: window
// positions are not known on every compositor, and nothing is clicked
// blindly.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "accessibility/platform.h"

namespace tovrin {

// One compositor's way of pressing keys into the focused window. Keysyms
// are X11/xkb keysym values. Calls come from one thread at a time.
class KeyRoute {
 public:
  virtual ~KeyRoute() = default;
  // Presses and lets go of `key` with `modifiers` held.
  virtual bool chord(const std::vector<uint32_t>& modifiers, uint32_t key) = 0;
  // Types one user-perceived character (it may be several code points)
  // however the route can: a key of the keymap, a keymap of its own, or a
  // paste.
  virtual bool typeCharacter(const std::string& character) = 0;
  // The input of one command is over: let go of what it held (GNOME shows
  // an indicator while a remote-desktop session lives).
  virtual void finish() {}
  // What is missing for this route to work, in words for the user; empty
  // when it works.
  [[nodiscard]] virtual std::string problem() = 0;
};

// Presses `key` with `modifiers` held through `send(keysym, down)`, letting
// go in the reverse order; true when every event was sent.
bool pressChord(const std::vector<uint32_t>& modifiers, uint32_t key,
                const std::function<bool(uint32_t, bool)>& send);

// Whether the user's keyboard layout (GNOME's first input source, else the
// default layout) has a key for `keysym`, on its first two levels.
bool keymapTypes(uint32_t keysym);
// The keysym that types `character` on the user's layout: nothing for a
// character of several code points or one the layout lacks (it is pasted).
std::optional<uint32_t> layoutKeysym(const std::string& character);

class WaylandKeyboard final : public SyntheticInput {
 public:
  // `activePid` tells which process owns the active window; keys are posted
  // only while that is the target.
  WaylandKeyboard(std::unique_ptr<KeyRoute> route,
                  std::function<std::optional<int32_t>()> activePid);
  ~WaylandKeyboard() override;

  bool postKey(int32_t pid, const KeyEvent& event) override;
  bool postMouse(double x, double y, bool down) override;
  bool postScrollWheel(double x, double y, int32_t pixels) override;
  std::optional<std::string> sentChord(int32_t pid, uint16_t keyCode, uint64_t flags) override;
  [[nodiscard]] bool canPostAtPoints() const override { return false; }

  [[nodiscard]] KeyRoute& route() { return *route_; }

 private:
  void idleWatch();

  std::unique_ptr<KeyRoute> route_;
  std::function<std::optional<int32_t>()> activePid_;
  std::mutex mutex_;
  // The route is let go of once no key came for a moment: a command's keys
  // come close together, and nothing else says when a command is over.
  std::condition_variable wake_;
  std::optional<double> lastKey_;
  bool stopping_ = false;
  std::thread watcher_;
};

// The keysym of a name as xkb knows it ("Control_L", "Left", "a"); 0 if none.
uint32_t keysymFromName(const std::string& name);

}  // namespace tovrin
