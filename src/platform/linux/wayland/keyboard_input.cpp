#include "platform/linux/wayland/keyboard_input.h"

#include <xkbcommon/xkbcommon.h>

#include <chrono>

#include "platform/linux/key_translation.h"
#include "platform/linux/process/process_info.h"

namespace tovrin {
namespace {

constexpr double kIdleSeconds = 0.6;

double now() {
  return SystemClock().now();
}

Keys::Family familyOf(int32_t pid) {
  return Keys::familyOf(ProcessInfo::identify(ProcessInfo::executableName(pid), "").applicationID);
}

}  // namespace

uint32_t keysymFromName(const std::string& name) {
  return xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS);
}

WaylandKeyboard::WaylandKeyboard(std::unique_ptr<KeyRoute> route,
                                 std::function<std::optional<int32_t>()> activePid)
    : route_(std::move(route)), activePid_(std::move(activePid)) {
  watcher_ = std::thread([this] { idleWatch(); });
}

WaylandKeyboard::~WaylandKeyboard() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  watcher_.join();
  route_->finish();
}

void WaylandKeyboard::idleWatch() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (!lastKey_) {
      wake_.wait(lock);
      continue;
    }
    const double due = *lastKey_ + kIdleSeconds;
    if (now() < due) {
      wake_.wait_for(lock, std::chrono::duration<double>(due - now()));
      continue;
    }
    lastKey_.reset();
    route_->finish();
  }
}

bool WaylandKeyboard::postKey(int32_t pid, const KeyEvent& event) {
  std::lock_guard lock(mutex_);
  // A character or chord goes whole on its key's down: an up has nothing
  // left to post.
  if (!event.down) return true;
  // Keys go to whatever has the focus: only while the target's window is
  // the active one, checked just before each key.
  if (!activePid_ || activePid_() != pid) return false;
  bool ok = true;
  if (!event.text.empty()) {
    ok = route_->typeCharacter(event.text);
  } else {
    auto chord = Keys::translate(event.keyCode, event.flags, familyOf(pid));
    if (!chord) return false;
    std::vector<uint32_t> modifiers;
    for (const std::string& m : chord->modifiers)
      modifiers.push_back(keysymFromName(m));
    ok = route_->chord(modifiers, keysymFromName(chord->key));
  }
  lastKey_ = now();
  wake_.notify_all();
  return ok;
}

std::optional<std::string> WaylandKeyboard::sentChord(int32_t pid, uint16_t keyCode,
                                                      uint64_t flags) {
  auto chord = Keys::translate(keyCode, flags, familyOf(pid));
  if (!chord) return std::nullopt;
  return Keys::describe(*chord);
}

bool WaylandKeyboard::postMouse(double, double, bool) {
  return false;
}
bool WaylandKeyboard::postScrollWheel(double, double, int32_t) {
  return false;
}

}  // namespace tovrin
